#include "testutil.h"
#include "transfer/downloads.h"
#include "transfer/peerfixture.h"
#include "transfer/reqconnection.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace mr;
using namespace mr::test;

namespace {

using States = std::vector<std::pair<TTransferStatus, TTransferError>>;

// A user look-up that finds the owner at its peer server, or reports what it is told to.
TLocateUser locateAt(const PeerSide* owner, std::optional<TUserLocation> fixed = std::nullopt) {
    return
        [owner, fixed](QObject*, qint32, std::function<void(std::optional<TUserLocation>)> done) {
            if (fixed || !owner) {
                done(fixed);
                return true;
            }
            TUserLocation at;
            at.address = QStringLiteral("127.0.0.1");
            at.infoPort = 1;
            at.fileServerPort = owner->server->port();
            done(at);
            return true;
        };
}

}  // namespace

TEST(PeerEndToEnd, VerdictsAndUnreachableOwnersEndTheItemWithTheirError) {
    PeerSide owner(QStringLiteral("Olga"), 1);
    PeerSide down(QStringLiteral("Dora"), 2);
    owner.share(QStringLiteral("/locked.txt"), "x", QStringLiteral("pw"));
    TUserLocation offline;  // empty address: not signed on
    TUserLocation noServer;
    noServer.address = QStringLiteral("127.0.0.1");
    TUserLocation closed = noServer;
    closed.fileServerPort = 1;  // nobody listens there

    struct Case {
        TLocateUser locate;
        QString path;
        QString password;
        TTransferError error;
    };
    const Case cases[] = {
        {locateAt(&owner), QStringLiteral("/locked.txt"), {}, TTransferError::IncorrectPassword},
        {locateAt(&owner), QStringLiteral("/missing.txt"), {}, TTransferError::FileNotFound},
        {locateAt(nullptr, offline),
         QStringLiteral("/locked.txt"),
         {},
         TTransferError::UserOffline},
        {locateAt(nullptr, noServer),
         QStringLiteral("/locked.txt"),
         {},
         TTransferError::UserOffline},
        {locateAt(nullptr, closed), QStringLiteral("/locked.txt"), {}, TTransferError::UserOffline},
        {[](QObject*, qint32, auto) { return false; },
         QStringLiteral("/locked.txt"),
         {},
         TTransferError::UserOffline},
    };
    for (const Case& c : cases) {
        TMRWantedList wanted(1);
        TMRDownloads downloads(wanted, *down.server, c.locate, down.settings());
        const TMRQueItem& item = wanted.Add(1, QStringLiteral("Olga"), c.path, c.password);
        ASSERT_TRUE(waitUntil([&] { return item.Status == TTransferStatus::Error; }))
            << c.path.toStdString();
        EXPECT_EQ(item.Error, c.error) << c.path.toStdString();
    }
    EXPECT_EQ(owner.server->waitingList().count(), 0);
}

TEST(PeerEndToEnd, APasswordCheckReportsTheVerdictAndChangesNoItem) {
    PeerSide owner(QStringLiteral("Olga"), 1);
    PeerSide down(QStringLiteral("Dora"), 2);
    owner.share(QStringLiteral("/d/locked.txt"), "x", QStringLiteral("pw"));
    down.wanted.Add(1, QStringLiteral("Olga"), QStringLiteral("/d/locked.txt"), {});  // item 0
    for (const auto& [password, expected] :
         {std::pair{QStringLiteral("PW"), 0}, std::pair{QStringLiteral("nope"), 6}}) {
        int verdict = -2;
        auto* check = TMRReqConnection::checkPassword(1, QStringLiteral("/d/locked.txt"), password,
                                                      locateAt(&owner), down.settings(), nullptr);
        QObject::connect(check, &TMRReqConnection::passwordChecked, [&](int v) { verdict = v; });
        ASSERT_TRUE(waitUntil([&] { return verdict != -2; }));
        EXPECT_EQ(verdict, expected);
    }
    QString failure;
    auto* check = TMRReqConnection::checkPassword(1, QStringLiteral("/d/locked.txt"), {},
                                                  locateAt(nullptr, TUserLocation{}),
                                                  down.settings(), nullptr);
    QObject::connect(check, &TMRReqConnection::checkFailed, [&](const QString& t) { failure = t; });
    ASSERT_TRUE(waitUntil([&] { return !failure.isEmpty(); }));
    EXPECT_EQ(failure, QStringLiteral("User is offline"));
    EXPECT_EQ(down.wanted.at(0)->Status, TTransferStatus::LocalQueue);
    EXPECT_EQ(owner.server->waitingList().count(), 0);
}

TEST(PeerEndToEnd, AKickedUploadEndsTheDownloadInError) {
    PeerSide owner(QStringLiteral("Olga"), 1);
    PeerSide down(QStringLiteral("Dora"), 2);
    const QByteArray content = pattern(32 * 1024 * 1024, 3);
    owner.share(QStringLiteral("/big.bin"), content);
    TMRDownloads downloads(down.wanted, *down.server, locateAt(&owner), down.settings());
    const TMRQueItem& item =
        down.wanted.Add(1, QStringLiteral("Olga"), QStringLiteral("/big.bin"), {});
    ASSERT_TRUE(
        waitUntil([&] { return item.Transferred > 0 || item.Status == TTransferStatus::Error; }));
    ASSERT_EQ(owner.server->waitingList().count(), 1);
    const qint32 entry = owner.server->waitingList().at(0)->Id;
    owner.server->SetWaitingListItemState(entry, TTransferStatus::Error, TTransferError::Aborted);
    owner.server->AbortClientTransfer(entry);
    EXPECT_EQ(owner.server->uploadClientCount(), 0);
    ASSERT_TRUE(waitUntil([&] { return item.Status == TTransferStatus::Error; }));
    EXPECT_NE(item.Status, TTransferStatus::Completed);
    EXPECT_EQ(owner.server->waitingList().at(0)->Error, TTransferError::Aborted);
    EXPECT_LT(QFileInfo(down.downloadFile(QStringLiteral("big.bin"))).size(), content.size());
}
