#include "core/userinfo.h"
#include "transfer/queue.h"
#include "ui/transferform.h"
#include "uitest.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

using namespace mr;

namespace {

using Col = Tfrm_transfer::Column;

QString cell(const QTableWidget* list, int row, int column) {
    const QTableWidgetItem* item = list->item(row, column);
    return item ? item->text() : QStringLiteral("<missing>");
}

QStringList rowTexts(const QTableWidget* list, int row) {
    QStringList texts;
    for (int column = 0; column < Tfrm_transfer::ColumnCount; ++column) {
        texts << cell(list, row, column);
    }
    return texts;
}

QStringList columnTexts(const QTableWidget* list, int column) {
    QStringList texts;
    for (int row = 0; row < list->rowCount(); ++row) {
        texts << cell(list, row, column);
    }
    return texts;
}

// Row i and queue item i must describe the same transfer.
void expectRowsFollow(const TMRQue& queue, const QTableWidget* list) {
    ASSERT_EQ(list->rowCount(), queue.count());
    for (int i = 0; i < queue.count(); ++i) {
        const TMRQueItem& item = *queue.at(i);
        EXPECT_EQ(cell(list, i, Col::ColFilename), item.Path.section('/', -1)) << "row " << i;
        EXPECT_EQ(cell(list, i, Col::ColUserName), item.UserName) << "row " << i;
    }
}

// Two queues with no peer connections behind them: items move only when a test moves them.
class TransferWindow : public ::testing::Test {
protected:
    std::unique_ptr<Tfrm_transfer> open() {
        TransferActions actions;
        actions.abortDownload = [this](qint32 id) { m_abortedDownloads << id; };
        actions.abortUpload = [this](qint32 id) { m_abortedUploads << id; };
        actions.setUserStatus = [this](const QString& name, int status) {
            m_userStatus << qMakePair(name, status);
        };
        auto form = std::make_unique<Tfrm_transfer>(m_downloads, m_uploads, std::move(actions));
        form->setClock([this] { return m_now; });
        return form;
    }

    qint32 download(const QString& user, const QString& path, TTransferStatus status,
                    TTransferError error = TTransferError::None) {
        const qint32 id = m_downloads.Add(7, user, path, QString()).Id;
        m_downloads.SetStatus(id, status, error);
        return id;
    }

    qint32 upload(const QString& user, const QString& path, TTransferStatus status,
                  TTransferError error = TTransferError::None) {
        const qint32 id = m_uploads.Add(user, 9, "login", 0, 1000, path, "127.0.0.1", 4000).Id;
        m_uploads.SetStatus(id, status, error);
        return id;
    }

    TMRWantedList m_downloads{20};
    TMRWaitingList m_uploads{20};
    qint64 m_now = 0;
    QList<qint32> m_abortedDownloads;
    QList<qint32> m_abortedUploads;
    QList<QPair<QString, int>> m_userStatus;
};

}  // namespace

TEST(TransferRates, RateAndTimeLeftTexts) {
    struct Case {
        qint64 done, size, ms;
        const char* cps;
        const char* estimated;
    };
    const Case cases[] = {
        {1000, 1000 + 3661000, 1000, "1.00", "01:01:01"},
        // Nothing moved yet, or no time passed: no rate rather than a division by 0.
        {0, 5000, 3000, "0.00", "00:00:00"},
        {100, 5000, 0, "0.00", "00:00:00"},
        // One byte in a month of a terabyte file: capped, not an overflowed conversion.
        {1, 1000000000000, 2592000000, "0.00", "99:59:59"},
    };
    for (const Case& c : cases) {
        const RateText text = rateTexts(c.done, c.size, c.ms);
        EXPECT_EQ(text.cps, c.cps) << c.done;
        EXPECT_EQ(text.estimated, c.estimated) << c.done;
    }
    EXPECT_EQ(percentageText(1, 3), "33%");
    EXPECT_EQ(percentageText(15, 10), "100%");
    EXPECT_EQ(percentageText(5, 0), "");
}

TEST_F(TransferWindow, RowsFollowQueueItems) {
    const qint32 early = m_downloads.Add(7, "alice", "/music/song.mp3", QString()).Id;
    const qint32 running = upload("carol", "/docs/report.txt", TTransferStatus::Transfering);
    m_uploads.SetTransferred(100, running);
    auto form = open();
    QTableWidget* manual = form->lvwManual();
    QTableWidget* automatic = form->lvwAutomatic();

    // Items already queued get rows that show where they stand.
    EXPECT_EQ(rowTexts(manual, 0), QStringList({"song.mp3", "alice", "Download", "---", "---",
                                                "Queued", "---", "---", "---"}));
    EXPECT_EQ(rowTexts(automatic, 0), QStringList({"report.txt", "carol", "Upload", "1000", "100",
                                                   "Transfering", "0", "---", "---"}));

    const qint32 later = m_downloads.Add(8, "bob", "/video/clip.avi", QString()).Id;
    EXPECT_EQ(cell(manual, 1, Col::ColFilename), "clip.avi");
    m_downloads.SetStatus(later, TTransferStatus::Error, TTransferError::UserOffline);
    EXPECT_EQ(cell(manual, 1, Col::ColStatus), "User is offline");
    m_downloads.SetStatus(early, TTransferStatus::Error);
    EXPECT_EQ(cell(manual, 0, Col::ColStatus), "Error");

    m_downloads.SetSize(early, 4000);
    m_downloads.SetTransferred(1234, early);
    EXPECT_EQ(cell(manual, 0, Col::ColFileSize), "4000");
    EXPECT_EQ(cell(manual, 0, Col::ColProgress), "1234");
    EXPECT_EQ(cell(manual, 0, Col::ColPercentage), "0");
    EXPECT_EQ(cell(manual, 1, Col::ColProgress), "---");

    // Removing an item from the middle keeps every later row on its own item.
    const qint32 last = m_downloads.Add(9, "dave", "/c.txt", QString()).Id;
    m_downloads.Remove(later);
    expectRowsFollow(m_downloads, manual);
    m_downloads.SetStatus(last, TTransferStatus::RemotelyQueued);
    EXPECT_EQ(columnTexts(manual, Col::ColStatus), QStringList({"Error", "Remotely Queued"}));
    EXPECT_EQ(automatic->rowCount(), 1);
}

TEST_F(TransferWindow, RateTimerSkipsRowsWithoutCountsAndKeepsRunning) {
    auto form = open();
    QTimer* timer = form->cpsTimer();

    // Switched to Transfering before its first progress report.
    download("alice", "/early.bin", TTransferStatus::Transfering);
    const qint32 moving = download("bob", "/moving.bin", TTransferStatus::Transfering);
    m_downloads.SetSize(moving, 6000000);
    m_downloads.SetTransferred(2000000, moving);
    const qint32 waiting = download("carl", "/waiting.bin", TTransferStatus::RemotelyQueued);
    m_downloads.SetSize(waiting, 6000000);
    m_downloads.SetTransferred(0, waiting);
    const qint32 resumed = upload("dora", "/resumed.bin", TTransferStatus::Resuming);
    m_uploads.SetSize(resumed, 6000000);
    m_uploads.SetTransferred(2000000, resumed);

    m_now = 4000;
    form->CpsTimerTimer();
    QTableWidget* manual = form->lvwManual();
    EXPECT_EQ(cell(manual, 0, Col::ColCps), "---");
    EXPECT_EQ(cell(manual, 0, Col::ColEstimated), "---");
    EXPECT_EQ(cell(manual, 1, Col::ColCps), "500.00");
    EXPECT_EQ(cell(manual, 1, Col::ColEstimated), "00:00:08");
    EXPECT_EQ(cell(manual, 2, Col::ColCps), "---");
    EXPECT_EQ(cell(form->lvwAutomatic(), 0, Col::ColCps), "500.00");
    EXPECT_EQ(cell(form->lvwAutomatic(), 0, Col::ColEstimated), "00:00:08");
    EXPECT_TRUE(timer->isActive());

    // Once the first report is in, the skipped row is rated on the next tick.
    m_downloads.SetSize(0, 3000);
    m_downloads.SetTransferred(1000, 0);
    m_now = 5000;
    form->CpsTimerTimer();
    EXPECT_EQ(cell(manual, 0, Col::ColCps), "0.20");
    EXPECT_EQ(cell(manual, 0, Col::ColEstimated), "00:00:10");
    EXPECT_TRUE(timer->isActive());
}

TEST_F(TransferWindow, ClearCompletedRemovesOnlyEndedTransfers) {
    auto form = open();
    for (const TTransferStatus status :
         {TTransferStatus::Completed, TTransferStatus::LocalQueue, TTransferStatus::Negotiating,
          TTransferStatus::RemotelyQueued, TTransferStatus::Error, TTransferStatus::Transfering,
          TTransferStatus::Resuming}) {
        download("alice", QString("/d%1.bin").arg(m_downloads.count()), status,
                 TTransferError::Aborted);
    }
    m_downloads.SetStatus(1, TTransferStatus::Negotiating);
    m_downloads.SetStatus(1, TTransferStatus::LocalQueue);
    upload("bob", "/u0.bin", TTransferStatus::LocalQueue);
    upload("bob", "/u1.bin", TTransferStatus::Error, TTransferError::Kicked);
    upload("bob", "/u2.bin", TTransferStatus::Transfering);
    upload("bob", "/u3.bin", TTransferStatus::Completed);

    form->actClearComplete()->trigger();
    EXPECT_EQ(
        columnTexts(form->lvwManual(), Col::ColStatus),
        QStringList({"Local Queue", "Negotiating", "Remotely Queued", "Transfering", "Resuming"}));
    expectRowsFollow(m_downloads, form->lvwManual());
    EXPECT_EQ(columnTexts(form->lvwAutomatic(), Col::ColStatus),
              QStringList({"Queued", "Transfering"}));
    expectRowsFollow(m_uploads, form->lvwAutomatic());
    EXPECT_TRUE(form->actClearComplete()->isEnabled());
}

TEST_F(TransferWindow, BanEndsEveryRunningUploadOfThatUser) {
    auto form = open();
    const qint32 first = upload("bob", "/a.bin", TTransferStatus::Transfering);
    upload("alice", "/b.bin", TTransferStatus::Transfering);
    upload("bob", "/c.bin", TTransferStatus::Completed);
    const qint32 second = upload("bob", "/d.bin", TTransferStatus::Resuming);

    form->lvwAutomatic()->selectRow(3);
    ASSERT_TRUE(form->actBan()->isEnabled());
    form->actBan()->trigger();

    EXPECT_EQ(m_userStatus, (QList<QPair<QString, int>>{{"bob", 2}}));
    EXPECT_EQ(m_abortedUploads, QList<qint32>({first, second}));
    EXPECT_EQ(columnTexts(form->lvwAutomatic(), Col::ColStatus),
              QStringList({"Banned", "Transfering", "Completed", "Banned"}));
    expectRowsFollow(m_uploads, form->lvwAutomatic());
    EXPECT_FALSE(form->actBan()->isEnabled());
    // The freed slots must not matter: nothing of bob's is left to start.
    EXPECT_EQ(m_uploads.activeCount(), 1);

    // Selecting a banned row again offers no second ban.
    form->lvwAutomatic()->selectRow(0);
    EXPECT_FALSE(form->actBan()->isEnabled());
    EXPECT_TRUE(form->actPMessage()->isEnabled());
}

TEST_F(TransferWindow, ActionsFollowTheSelectedRowsStatus) {
    auto form = open();
    QTableWidget* manual = form->lvwManual();
    QTableWidget* automatic = form->lvwAutomatic();
    EXPECT_FALSE(form->actAbort()->isEnabled());
    EXPECT_FALSE(form->actPMessage()->isEnabled());

    // Row texts: "Queued", "Local Queue", then every status once.
    download("alice", "/q.bin", TTransferStatus::LocalQueue);
    const qint32 requeued = download("alice", "/lq.bin", TTransferStatus::Negotiating);
    m_downloads.SetStatus(requeued, TTransferStatus::LocalQueue);
    download("alice", "/n.bin", TTransferStatus::Negotiating);
    download("alice", "/r.bin", TTransferStatus::RemotelyQueued);
    const qint32 transfering = download("alice", "/t.bin", TTransferStatus::Transfering);
    download("alice", "/s.bin", TTransferStatus::Resuming);
    download("alice", "/c.bin", TTransferStatus::Completed);
    download("alice", "/e.bin", TTransferStatus::Error, TTransferError::FileNotFound);
    const QList<bool> abortable = {true, true, true, true, true, true, false, false};
    ASSERT_EQ(manual->rowCount(), abortable.size());
    for (int row = 0; row < manual->rowCount(); ++row) {
        manual->selectRow(row);
        EXPECT_EQ(form->actAbort()->isEnabled(), abortable[row])
            << cell(manual, row, 5).toStdString();
        EXPECT_FALSE(form->actKick()->isEnabled());
        EXPECT_FALSE(form->actBan()->isEnabled());
    }

    // A running download that ends under the selection can no longer be aborted.
    manual->selectRow(4);
    ASSERT_TRUE(form->actAbort()->isEnabled());
    form->actAbort()->trigger();
    EXPECT_EQ(m_abortedDownloads, QList<qint32>({transfering}));
    EXPECT_EQ(cell(manual, 4, Col::ColStatus), "Aborted");
    EXPECT_FALSE(form->actAbort()->isEnabled());
    manual->selectRow(5);
    EXPECT_TRUE(form->actAbort()->isEnabled());
    m_downloads.SetStatus(5, TTransferStatus::Completed);
    EXPECT_FALSE(form->actAbort()->isEnabled());

    // A download whose owner was away shows its next attempt, and Abort ends the retries.
    m_downloads.setRetryPolicy([] { return TMRWantedList::RetryPolicy{600000, 0}; });
    const qint32 away = download("alice", "/w.bin", TTransferStatus::Negotiating);
    m_downloads.SetStatus(away, TTransferStatus::Error, TTransferError::UserOffline);
    manual->selectRow(8);
    EXPECT_TRUE(cell(manual, 8, Col::ColStatus).startsWith("User is offline, next attempt at "));
    ASSERT_TRUE(form->actAbort()->isEnabled());
    form->actAbort()->trigger();
    EXPECT_EQ(cell(manual, 8, Col::ColStatus), "Aborted");
    EXPECT_EQ(m_downloads.find(away)->RetryAt, 0);

    // A completed download that arrived opens, and so does its folder.
    test::ScopedProfile profile;
    QTemporaryDir downloads;
    UserInfo().setDownloadPath(downloads.path());
    QFile arrived(downloads.filePath("c.bin"));
    ASSERT_TRUE(arrived.open(QIODevice::WriteOnly));
    arrived.close();
    QList<QUrl> opened;
    form->setOpener([&opened](const QUrl& url) {
        opened << url;
        return true;
    });
    manual->selectRow(7);  // failed: nothing to open
    EXPECT_FALSE(form->actOpen()->isEnabled());
    manual->selectRow(6);
    ASSERT_TRUE(form->actOpen()->isEnabled());
    manual->itemDoubleClicked(manual->item(6, 0));
    form->actOpenFolder()->trigger();
    EXPECT_EQ(opened, QList<QUrl>({QUrl::fromLocalFile(downloads.filePath("c.bin")),
                                   QUrl::fromLocalFile(QDir(downloads.path()).absolutePath())}));

    // The user actions name the selected row's user.
    QSignalSpy messages(form.get(), &Tfrm_transfer::personalMessageRequested);
    form->actPMessage()->trigger();
    ASSERT_EQ(messages.count(), 1);
    EXPECT_EQ(messages.at(0).at(0).toInt(), 7);
    EXPECT_EQ(messages.at(0).at(1).toString(), "alice");

    // Moving to the other list swaps the download actions for the upload ones.
    const qint32 queued = upload("bob", "/u.bin", TTransferStatus::LocalQueue);
    upload("bob", "/n.bin", TTransferStatus::Negotiating);
    automatic->selectRow(0);
    EXPECT_FALSE(form->actAbort()->isEnabled());
    EXPECT_TRUE(form->actKick()->isEnabled());
    EXPECT_TRUE(form->actBan()->isEnabled());
    automatic->selectRow(1);
    EXPECT_FALSE(form->actKick()->isEnabled());
    automatic->selectRow(0);
    form->actKick()->trigger();
    EXPECT_EQ(m_abortedUploads, QList<qint32>({queued}));
    EXPECT_EQ(cell(automatic, 0, Col::ColStatus), "Aborted");
    EXPECT_FALSE(form->actKick()->isEnabled());
    EXPECT_EQ(m_abortedDownloads.size(), 1);
}
