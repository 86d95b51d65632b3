#include "testutil.h"
#include "transfer/queue.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimer>

#include <map>
#include <vector>

using namespace mr;
namespace test = mr::test;

namespace {

// A download queue whose starter records what it was asked to start and, like the real one,
// moves the item to Negotiating at once.
struct StartingQueue {
    explicit StartingQueue(int limit) : queue(limit) {
        queue.setNotify([this](TMRQueItem& item) {
            started.push_back(item.Id);
            queue.SetStatus(item.Id, TTransferStatus::Negotiating);
        });
    }
    TMRQueItem& add(const QString& path) { return queue.Add(7, "bob", path, {}); }

    TMRWantedList queue;
    std::vector<qint32> started;
};

}  // namespace

TEST(Queue, ItemsAreNumberedFromZeroAndStartInArrivalOrderUpToTheLimit) {
    for (int limit : {0, -3}) {  // still one at a time
        StartingQueue q(limit);
        q.add("/a");
        q.add("/b");
        EXPECT_EQ(q.started, std::vector<qint32>{0}) << "limit " << limit;
    }
    StartingQueue q(2);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(q.add(QStringLiteral("/f%1").arg(i)).Id, i);
    }
    EXPECT_EQ(q.started, (std::vector<qint32>{0, 1}));
    EXPECT_EQ(q.queue.FirstWaiting(), 2);

    // A failure frees its slot at once; a completion does too.
    q.queue.SetStatus(1, TTransferStatus::Error, TTransferError::FileNotFound);
    EXPECT_EQ(q.started, (std::vector<qint32>{0, 1, 2}));
    q.queue.SetStatus(0, TTransferStatus::Completed);
    EXPECT_EQ(q.started, (std::vector<qint32>{0, 1, 2, 3}));
    EXPECT_EQ(q.queue.activeCount(), 2);
    EXPECT_EQ(q.queue.FirstWaiting(), 4);

    // So does removing an active item.
    std::vector<int> removed;
    QObject::connect(&q.queue, &TMRQue::itemRemoved,
                     [&](int position, qint32) { removed.push_back(position); });
    q.queue.Remove(2);
    EXPECT_EQ(removed, std::vector<int>{2});
    EXPECT_EQ(q.started, (std::vector<qint32>{0, 1, 2, 3, 4}));
    EXPECT_EQ(q.queue.IndexOf(3), 2);
    EXPECT_EQ(q.queue.activeCount(), 2);
    EXPECT_EQ(q.queue.FirstWaiting(), -1);
    // A file is queued once while its item is active, without regard to case.
    EXPECT_EQ(q.queue.FindActive("BOB", "/F3"), 3);
    q.queue.SetStatus(3, TTransferStatus::Completed);
    EXPECT_EQ(q.queue.FindActive("bob", "/f3"), -1);
}

TEST(Queue, StatusChangesKeepTheActiveCount) {
    TMRWaitingList queue(3);  // no starter: items stay where they are put
    for (const char* path : {"/x", "/y"})
        queue.Add("ann", 1, "ann", 0, 10, path, "127.0.0.1", 1000);
    // Local Queue straight to Error never counted as active; the same status again is no change.
    queue.SetStatus(0, TTransferStatus::Error, TTransferError::Banned);
    EXPECT_EQ(queue.activeCount(), 0);
    queue.SetStatus(0, TTransferStatus::Error, TTransferError::Kicked);
    EXPECT_EQ(queue.find(0)->Error, TTransferError::Banned);

    queue.SetStatus(1, TTransferStatus::Negotiating);
    queue.SetStatus(1, TTransferStatus::Transfering);
    EXPECT_EQ(queue.activeCount(), 1);
    queue.SetStatus(1, TTransferStatus::Completed);
    EXPECT_EQ(queue.activeCount(), 0);

    // Unknown ids change nothing and read as "no such item".
    queue.SetStatus(42, TTransferStatus::Completed);
    EXPECT_EQ(queue.StatusOf(42), TMRQue::kNoSuchItem);
    EXPECT_EQ(queue.Transferred(42), -1);
}

TEST(Queue, ADownloadTheOwnerFailedIsTriedAgainAfterLongerWaitsUntilAborted) {
    TMRWantedList::RetryPolicy policy{20, 30};
    TMRWantedList queue(2);
    queue.setRetryPolicy([&policy] { return policy; });
    // The owner of /a answers the third attempt, of /c the second, of /b never.
    std::map<qint32, int> attempts;
    const std::map<qint32, int> answeredAt{{0, 3}, {1, 0}, {2, 2}};
    std::vector<std::pair<qint64, qint64>> waitsOfA;  // each wait, as bounds
    const auto now = [] { return QDateTime::currentMSecsSinceEpoch(); };
    queue.setNotify([&](TMRQueItem& item) {
        const qint32 id = item.Id;
        queue.SetStatus(id, TTransferStatus::Negotiating);
        QTimer::singleShot(0, &queue, [&, id] {
            if (++attempts[id] == answeredAt.at(id)) {
                queue.SetStatus(id, TTransferStatus::Completed);
                return;
            }
            const qint64 before = now();
            queue.SetStatus(id, TTransferStatus::Error,
                            id == 1 ? TTransferError::Error : TTransferError::UserOffline);
            if (id == 0) {
                waitsOfA.emplace_back(queue.find(id)->RetryAt - now(),
                                      queue.find(id)->RetryAt - before);
            }
        });
    });
    for (const char* path : {"/a", "/b"}) {
        queue.Add(7, "bob", path, {});
    }
    ASSERT_TRUE(test::waitUntil([&] { return queue.StatusOf(0) == 0; }));
    // 20 ms, then 40 held to the limit of 30.
    ASSERT_EQ(waitsOfA.size(), 2u);
    EXPECT_TRUE(waitsOfA[0].first <= 20 && waitsOfA[0].second >= 20);
    EXPECT_TRUE(waitsOfA[1].first <= 30 && waitsOfA[1].second >= 30);

    const TMRQueItem& b = *queue.find(1);
    ASSERT_TRUE(test::waitUntil([&] { return b.RetryAt > 0; }));
    const int triesOfB = attempts[1];
    queue.Abort(1);
    EXPECT_EQ(b.Error, TTransferError::Aborted);
    // A download whose next attempt comes after the one /b would have had: /b is not started.
    policy = {200, 0};
    queue.Add(7, "bob", "/c", {});
    ASSERT_TRUE(test::waitUntil([&] { return queue.StatusOf(2) == 0; }));
    EXPECT_EQ(attempts[1], triesOfB);
    EXPECT_EQ(statusText(b.Status, b.Error), "Aborted");
}
