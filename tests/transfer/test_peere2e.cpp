#include "testutil.h"
#include "transfer/downloads.h"
#include "transfer/peerfixture.h"
#include "transfer/reqconnection.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace mr;
using namespace mr::test;

namespace {

// A user look-up that finds each owner at its peer server, or reports what it is told to.
UserLocator locateAt(std::vector<const PeerSide*> owners,
                     std::optional<UserLocation> fixed = std::nullopt) {
    return [owners, fixed](QObject*, qint32 id,
                           std::function<void(std::optional<UserLocation>)> done) {
        UserLocation at{QStringLiteral("127.0.0.1"), 1, 0};
        for (const PeerSide* owner : owners) {
            if (owner->id == id)
                at.fileServerPort = owner->server->port();
        }
        done(fixed ? fixed : std::optional<UserLocation>(at));
        return true;
    };
}

bool ended(const TMRQueItem& item) {
    return item.Status == TTransferStatus::Completed || item.Status == TTransferStatus::Error;
}

}  // namespace

TEST(PeerEndToEnd, AnOwnerWhoseFileServerCannotBeReachedIsOffline) {
    PeerSide down(QStringLiteral("Dora"), 2);
    // No file server announced, nobody listening on the one announced, no answer to the look-up.
    const UserLocator locators[] = {locateAt({}), locateAt({}, UserLocation{"127.0.0.1", 1, 1}),
                                    [](QObject*, qint32, auto) { return false; }};
    for (const UserLocator& locate : locators) {
        TMRWantedList wanted(1);
        DownloadStarter downloads(wanted, *down.server, locate, down.settings());
        const TMRQueItem& item =
            wanted.Add(1, QStringLiteral("Olga"), QStringLiteral("/a.txt"), {});
        ASSERT_TRUE(waitUntil([&] { return item.Status == TTransferStatus::Error; }));
        EXPECT_EQ(item.Error, TTransferError::UserOffline);
    }
}

TEST(PeerEndToEnd, APasswordCheckReportsTheVerdictAndChangesNoItem) {
    PeerSide owner(QStringLiteral("Olga"), 1);
    PeerSide down(QStringLiteral("Dora"), 2);
    owner.share(QStringLiteral("/d/locked.txt"), "x", QStringLiteral("pw"));
    down.wanted.Add(1, QStringLiteral("Olga"), QStringLiteral("/d/locked.txt"), {});
    const auto check = [&](const QString& password, const UserLocator& locate) {
        QString outcome;
        auto* c = TMRReqConnection::checkPassword(1, QStringLiteral("/d/locked.txt"), password,
                                                  locate, down.settings(), nullptr);
        QObject::connect(c, &TMRReqConnection::passwordChecked,
                         [&](int v) { outcome = QString::number(v); });
        QObject::connect(c, &TMRReqConnection::checkFailed, [&](const QString& t) { outcome = t; });
        EXPECT_TRUE(waitUntil([&] { return !outcome.isEmpty(); }));
        return outcome;
    };
    EXPECT_EQ(check(QStringLiteral("PW"), locateAt({&owner})), "0");
    EXPECT_EQ(check(QStringLiteral("nope"), locateAt({&owner})), "6");
    EXPECT_EQ(check({}, locateAt({}, UserLocation{})), "User is offline");
    EXPECT_EQ(down.wanted.at(0)->Status, TTransferStatus::LocalQueue);
    EXPECT_EQ(owner.server->waitingList().count(), 0);
}

TEST(PeerEndToEnd, AKickedUploadEndsTheDownloadAbortedEveryTime) {
    PeerSide owner(QStringLiteral("Olga"), 1);
    PeerSide down(QStringLiteral("Dora"), 2);
    const QByteArray content = pattern(32 * 1024 * 1024, 3);
    owner.share(QStringLiteral("/big.bin"), content);
    DownloadStarter downloads(down.wanted, *down.server, locateAt({&owner}), down.settings());
    // The end of the data must never overtake the abort: that would read as a broken push.
    for (int round = 0; round < 3; ++round) {
        QFile::remove(down.downloadFile(QStringLiteral("big.bin")));
        const TMRQueItem& item =
            down.wanted.Add(1, QStringLiteral("Olga"), QStringLiteral("/big.bin"), {});
        ASSERT_TRUE(waitUntil([&] { return item.Transferred > 0 || ended(item); }));
        ASSERT_EQ(owner.server->waitingList().count(), round + 1);
        const TMRQueItem& entry = *owner.server->waitingList().at(round);
        owner.server->SetWaitingListItemState(entry.Id, TTransferStatus::Error,
                                              TTransferError::Aborted);
        owner.server->AbortClientTransfer(entry.Id);
        EXPECT_EQ(owner.server->uploadClientCount(), 0);
        ASSERT_TRUE(waitUntil([&] { return ended(item); }));
        EXPECT_EQ(item.Status, TTransferStatus::Error);
        EXPECT_EQ(item.Error, TTransferError::Aborted) << "round " << round;
        EXPECT_EQ(entry.Error, TTransferError::Aborted);
        EXPECT_LT(QFileInfo(down.downloadFile(QStringLiteral("big.bin"))).size(), content.size());
    }
}

TEST(PeerEndToEnd, ARefusedPushEndsItsDownloadAndTheNextOneStarts) {
    PeerSide owner(QStringLiteral("Olga"), 1);
    PeerSide down(QStringLiteral("Dora"), 2, 1);  // one download slot
    const QByteArray notes = pattern(100000, 4);
    owner.share(QStringLiteral("/in/a\\b.txt"), "x");  // no such name in a download folder
    owner.share(QStringLiteral("/in/12:30 notes.txt"), notes);
    DownloadStarter downloads(down.wanted, *down.server, locateAt({&owner}), down.settings());
    const TMRQueItem& refused =
        down.wanted.Add(1, QStringLiteral("Olga"), QStringLiteral("/in/a\\b.txt"), {});
    const TMRQueItem& next =
        down.wanted.Add(1, QStringLiteral("Olga"), QStringLiteral("/in/12:30 notes.txt"), {});
    ASSERT_TRUE(waitUntil([&] { return ended(next); }));
    EXPECT_EQ(refused.Status, TTransferStatus::Error);
    EXPECT_EQ(refused.Error, TTransferError::CannotSave);
    EXPECT_EQ(next.Status, TTransferStatus::Completed);
    EXPECT_TRUE(down.downloaded(QStringLiteral("12:30 notes.txt")) == notes);
}

TEST(PeerEndToEnd, SameNamedFilesOfTwoOwnersArriveSideBySide) {
    PeerSide olga(QStringLiteral("Olga"), 1);
    PeerSide bert(QStringLiteral("Bert"), 3);
    PeerSide down(QStringLiteral("Dora"), 2);
    const QByteArray fromOlga = pattern(3 * 1024 * 1024, 6);
    const QByteArray fromBert = pattern(2 * 1024 * 1024, 7);
    olga.share(QStringLiteral("/a.bin"), fromOlga);
    bert.share(QStringLiteral("/music/a.bin"), fromBert);
    DownloadStarter downloads(down.wanted, *down.server, locateAt({&olga, &bert}), down.settings());
    const TMRQueItem& first =
        down.wanted.Add(1, QStringLiteral("Olga"), QStringLiteral("/a.bin"), {});
    const TMRQueItem& second =
        down.wanted.Add(3, QStringLiteral("Bert"), QStringLiteral("/music/a.bin"), {});
    ASSERT_TRUE(waitUntil([&] { return ended(first) && ended(second); }));
    EXPECT_EQ(first.Status, TTransferStatus::Completed);
    EXPECT_EQ(second.Status, TTransferStatus::Completed);
    EXPECT_TRUE(down.downloaded(QStringLiteral("a.bin")) == fromOlga);
    EXPECT_TRUE(down.downloaded(QStringLiteral("a (2).bin")) == fromBert);
}
