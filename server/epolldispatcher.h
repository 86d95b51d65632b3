#pragma once

#include <QAbstractEventDispatcher>

#include <sys/epoll.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

class QSocketNotifier;

namespace mr::server {

// An event dispatcher whose turn costs what is ready, not what is open: descriptors wait in one
// epoll set instead of being handed to poll() on every turn, so a service holding thousands of
// idle keep-alive connections answers the busy few at once. It keeps the behaviour of Qt's own
// dispatcher: level-triggered notifiers, timers that fire once a pass and are never re-entered,
// posted events and deferred deletes, nested loops.
class EpollDispatcher : public QAbstractEventDispatcher {
    Q_OBJECT
public:
    // Null, with the reason in error, when the kernel gives no epoll set or eventfd.
    static std::unique_ptr<EpollDispatcher> create(QString* error);
    ~EpollDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;

    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;

    using QAbstractEventDispatcher::registerTimer;
    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                       QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;

    void wakeUp() override;
    void interrupt() override;

private:
    using Clock = std::chrono::steady_clock;

    EpollDispatcher(int epollFd, int wakeFd);

    // One descriptor's notifiers by type (read, write, exception). A ticket names one
    // registration's right to the next activation, so that a batch of ready events never
    // reaches a notifier that was removed, replaced or already served since the batch was read.
    struct Watch {
        QSocketNotifier* notifiers[3] = {nullptr, nullptr, nullptr};
        std::uint64_t tickets[3] = {0, 0, 0};
        std::uint32_t generation = 0;  // of the descriptor's registration in the epoll set
        std::uint32_t events = 0;      // what the set watches for it; 0: not in the set
    };
    struct Pending {
        int fd;
        int type;
        std::uint64_t ticket;
    };
    struct Timer {
        QObject* object = nullptr;
        qint64 interval = 0;
        Qt::TimerType type = Qt::CoarseTimer;
        std::uint64_t serial = 0;
        std::uint64_t pass = 0;  // the last pass that fired it
        bool firing = false;     // its event is being delivered; a nested loop skips it
        std::multimap<Clock::time_point, int>::iterator due;
    };

    void updateWatch(int fd, Watch& watch);
    void collect(int ready, std::vector<Pending>& pending);
    int activateNotifiers(const std::vector<Pending>& pending);
    int activateTimers();
    int waitTimeout() const;
    bool drainWake();

    int m_epoll;
    int m_wake;
    std::atomic<bool> m_woken{false};
    std::atomic<bool> m_interrupted{false};

    std::vector<Watch> m_watches;  // by descriptor
    std::vector<epoll_event> m_ready;
    std::uint64_t m_nextTicket = 0;

    std::unordered_map<int, Timer> m_timers;
    std::multimap<Clock::time_point, int> m_schedule;  // equal times in the order they were set
    std::uint64_t m_nextSerial = 0;
    std::uint64_t m_pass = 0;
};

}  // namespace mr::server
