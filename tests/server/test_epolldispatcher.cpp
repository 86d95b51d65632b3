#include "epolldispatcher.h"

#include <QEventLoop>
#include <QPointer>
#include <QSemaphore>
#include <QSocketNotifier>
#include <QThread>
#include <QTimerEvent>

#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

using namespace mr::server;

namespace {

// Runs body on a thread of its own whose loop is an EpollDispatcher.
void onEpollThread(const std::function<void(EpollDispatcher*)>& body,
                   const std::function<void(EpollDispatcher*)>& fromOutside = {}) {
    QString error;
    auto owned = EpollDispatcher::create(&error);
    ASSERT_TRUE(owned) << error.toStdString();
    EpollDispatcher* dispatcher = owned.get();
    std::unique_ptr<QThread> thread(QThread::create([&] { body(dispatcher); }));
    thread->setEventDispatcher(owned.release());
    thread->start();
    if (fromOutside) {
        fromOutside(dispatcher);
    }
    if (!thread->wait(60000)) {
        (void)thread.release();  // hung: leak it rather than destroy a running thread
        FAIL() << "the loop never returned";
    }
}

struct Pair {
    int fds[2] = {-1, -1};
    Pair() { ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds); }
    ~Pair() { closeBoth(); }
    void closeBoth() {
        for (int& fd : fds) {
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
        }
    }
};

class TimerLog : public QObject {
public:
    std::function<void(int)> onTimer;

protected:
    void timerEvent(QTimerEvent* event) override { onTimer(event->timerId()); }
};

}  // namespace

// Two descriptors ready in one batch: the first served removes the other's notifier, closes
// its descriptor and opens a new one under the same number, which is not ready. The rest of
// the batch must reach neither the gone notifier nor the new one.
TEST(EpollDispatcher, BatchNeverReachesRemovedOrReusedNotifiers) {
    onEpollThread([](EpollDispatcher* dispatcher) {
        Pair pairs[2];
        std::unique_ptr<QSocketNotifier> notifiers[2];
        std::unique_ptr<QSocketNotifier> reused;
        std::unique_ptr<Pair> fresh;
        int served[2] = {0, 0};
        int reusedServed = 0;
        bool reusedNumber = false;
        for (int i = 0; i < 2; ++i) {
            ASSERT_GE(pairs[i].fds[0], 0);
            ASSERT_EQ(::write(pairs[i].fds[1], "x", 1), 1);
            notifiers[i] =
                std::make_unique<QSocketNotifier>(pairs[i].fds[0], QSocketNotifier::Read);
            QObject::connect(notifiers[i].get(), &QSocketNotifier::activated, [&, i] {
                ++served[i];
                if (fresh) {
                    return;
                }
                Pair& other = pairs[1 - i];
                const int number = other.fds[0];
                notifiers[1 - i].reset();
                other.closeBoth();
                fresh = std::make_unique<Pair>();
                reusedNumber = fresh->fds[0] == number || fresh->fds[1] == number;
                const int fd = fresh->fds[0] == number ? fresh->fds[0] : fresh->fds[1];
                reused = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
                QObject::connect(reused.get(), &QSocketNotifier::activated,
                                 [&] { ++reusedServed; });
            });
        }
        // Level-triggered: the byte left unread keeps the survivor ready turn after turn.
        for (int turn = 0; turn < 3; ++turn) {
            dispatcher->processEvents(QEventLoop::AllEvents);
        }
        EXPECT_TRUE(reusedNumber);
        EXPECT_EQ(reusedServed, 0);
        EXPECT_EQ(served[0] + served[1], 3);
        EXPECT_TRUE(served[0] == 0 || served[1] == 0);
        // Excluded notifiers wait, then are served.
        dispatcher->processEvents(QEventLoop::ExcludeSocketNotifiers);
        EXPECT_EQ(served[0] + served[1], 3);
        dispatcher->processEvents(QEventLoop::AllEvents);
        EXPECT_EQ(served[0] + served[1], 4);
    });
}

TEST(EpollDispatcher, TimersPostedEventsNestedLoopsAndWakeUps) {
    QSemaphore blocked;
    QObject* quitter = nullptr;
    QEventLoop* quitLoop = nullptr;
    onEpollThread(
        [&](EpollDispatcher* dispatcher) {
            TimerLog log;
            QList<int> fired;
            log.onTimer = [&](int id) {
                fired.append(id);
                log.killTimer(id);
            };
            // In order of when they are due, not of when they were set.
            const int late = log.startTimer(30);
            const int early = log.startTimer(10);
            const int middle = log.startTimer(20);
            while (fired.size() < 3) {
                dispatcher->processEvents(QEventLoop::WaitForMoreEvents);
            }
            EXPECT_EQ(fired, QList<int>({early, middle, late}));

            // Zero-interval timers fire once a pass, even when one of those due is killed
            // first; the one whose handler runs a nested loop is not re-entered by it, while
            // the other keeps firing there.
            TimerLog zeros;
            int outerCount = 0, innerCount = 0, outerDuringNested = -1;
            QEventLoop nested;
            const int outer = zeros.startTimer(0);
            const int inner = zeros.startTimer(0);
            const int killed = zeros.startTimer(0);
            zeros.onTimer = [&](int id) {
                if (id == inner) {
                    if (++innerCount == 5 && nested.isRunning()) {
                        nested.quit();
                    }
                } else if (id == killed) {
                    ADD_FAILURE() << "a killed timer fired";
                } else if (++outerCount == 1) {
                    zeros.killTimer(killed);
                } else if (outerCount == 2) {
                    nested.exec();
                    outerDuringNested = outerCount;
                }
            };
            dispatcher->processEvents(QEventLoop::AllEvents);
            EXPECT_EQ(outerCount, 1);
            EXPECT_EQ(innerCount, 1);
            dispatcher->processEvents(QEventLoop::AllEvents);
            EXPECT_EQ(outerDuringNested, 2);
            EXPECT_GE(innerCount, 5);
            zeros.killTimer(outer);
            zeros.killTimer(inner);
            EXPECT_EQ(dispatcher->remainingTime(outer), -1);

            // Posted events and deferred deletes reach a loop, and a post from another
            // thread ends its blocking wait (it comes once the loop is about to block).
            QPointer<QObject> doomed(new QObject);
            doomed->deleteLater();
            bool posted = false;
            QMetaObject::invokeMethod(
                &log, [&] { posted = true; }, Qt::QueuedConnection);
            QEventLoop loop;
            quitter = &log;
            quitLoop = &loop;
            QObject::connect(dispatcher, &EpollDispatcher::aboutToBlock, &log,
                             [&] { blocked.release(); });
            loop.exec();
            EXPECT_TRUE(posted);
            EXPECT_TRUE(doomed.isNull());
        },
        [&](EpollDispatcher*) {
            ASSERT_TRUE(blocked.tryAcquire(1, 60000));
            QMetaObject::invokeMethod(
                quitter, [&] { quitLoop->quit(); }, Qt::QueuedConnection);
        });
}
