#include "transfer/queue.h"

#include <gtest/gtest.h>

#include <vector>

using namespace mr;

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
    TMRQueItem& add(const QString& path) { return queue.Add(7, QStringLiteral("bob"), path, {}); }

    TMRWantedList queue;
    std::vector<qint32> started;
};

}  // namespace

TEST(Queue, ItemsAreNumberedFromZeroAndStartInArrivalOrderUpToTheLimit) {
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
    EXPECT_EQ(q.queue.FindActive(QStringLiteral("BOB"), QStringLiteral("/F3")), 3);
    q.queue.SetStatus(3, TTransferStatus::Completed);
    EXPECT_EQ(q.queue.FindActive(QStringLiteral("bob"), QStringLiteral("/f3")), -1);
}

TEST(Queue, ALimitOfZeroOrLessStillStartsOneItemAtATime) {
    for (int limit : {0, -3, 1}) {
        StartingQueue q(limit);
        q.add(QStringLiteral("/a"));
        q.add(QStringLiteral("/b"));
        EXPECT_EQ(q.started, std::vector<qint32>{0}) << "limit " << limit;
        EXPECT_EQ(q.queue.activeCount(), 1);
    }
}

TEST(Queue, StatusChangesKeepTheActiveCountAndReportTheStateLeft) {
    TMRWaitingList queue(3);  // no starter: items stay where they are put
    const auto add = [&](const QString& path) {
        queue.Add(QStringLiteral("ann"), 1, QStringLiteral("ann"), 0, 10, path,
                  QStringLiteral("127.0.0.1"), 1000);
    };
    add(QStringLiteral("/x"));
    std::vector<std::pair<TTransferStatus, TTransferStatus>> changes;
    QObject::connect(&queue, &TMRQue::statusChanged,
                     [&](TMRQueItem* item, TTransferStatus previous) {
                         changes.emplace_back(previous, item->Status);
                     });

    // Local Queue straight to Error never counted as active.
    queue.SetStatus(0, TTransferStatus::Error, TTransferError::Banned);
    EXPECT_EQ(queue.activeCount(), 0);
    // The same status again is no change at all.
    queue.SetStatus(0, TTransferStatus::Error, TTransferError::Kicked);
    EXPECT_EQ(changes.size(), 1u);
    EXPECT_EQ(queue.find(0)->Error, TTransferError::Banned);

    add(QStringLiteral("/y"));
    queue.SetStatus(1, TTransferStatus::Negotiating);
    queue.SetStatus(1, TTransferStatus::Transfering);
    EXPECT_EQ(queue.activeCount(), 1);
    queue.SetStatus(1, TTransferStatus::Completed);
    EXPECT_EQ(queue.activeCount(), 0);
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[1],
              std::make_pair(TTransferStatus::LocalQueue, TTransferStatus::Negotiating));
    EXPECT_EQ(changes[3], std::make_pair(TTransferStatus::Transfering, TTransferStatus::Completed));

    // Unknown ids change nothing and read as "no such item".
    queue.SetStatus(42, TTransferStatus::Completed);
    EXPECT_EQ(queue.StatusOf(42), TMRQue::kNoSuchItem);
    EXPECT_EQ(queue.Transferred(42), -1);
}
