#include "testutil.h"
#include "transfer/downloads.h"
#include "transfer/peerfixture.h"
#include "transfer/reqconnection.h"

#include <gtest/gtest.h>

using namespace mr;
using namespace mr::test;

namespace {

// A user look-up that finds each owner at its peer server, or reports what it is told to.
UserLocator locateAt(std::vector<const PeerSide*> owners,
                     std::optional<UserLocation> fixed = std::nullopt) {
    return [owners, fixed](QObject*, qint32 id,
                           std::function<void(std::optional<UserLocation>)> done) {
        UserLocation at{"127.0.0.1", 1, 0};
        for (const PeerSide* owner : owners) {
            if (owner->id == id)
                at.fileServerPort = owner->server->port();
        }
        done(fixed ? fixed : std::optional<UserLocation>(at));
        return true;
    };
}

}  // namespace

TEST(PeerEndToEnd, APasswordCheckReportsTheVerdictAndChangesNoItem) {
    PeerSide owner("Olga", 1);
    PeerSide down("Dora", 2);
    owner.share("/d/locked.txt", "x", "pw");
    down.wanted.Add(1, "Olga", "/d/locked.txt", {});
    const auto check = [&](const QString& password, const UserLocator& locate) {
        QString outcome;
        auto* c = TMRReqConnection::checkPassword(1, "/d/locked.txt", password, locate,
                                                  down.settings(), nullptr);
        QObject::connect(c, &TMRReqConnection::passwordChecked,
                         [&](int v) { outcome = QString::number(v); });
        QObject::connect(c, &TMRReqConnection::checkFailed, [&](const QString& t) { outcome = t; });
        EXPECT_TRUE(waitUntil([&] { return !outcome.isEmpty(); }));
        return outcome;
    };
    EXPECT_EQ(check("PW", locateAt({&owner})), "0");
    EXPECT_EQ(check("nope", locateAt({&owner})), "6");
    // An owner without an address, and one whose file server does not answer, are offline.
    for (const UserLocation& at : {UserLocation{}, UserLocation{"127.0.0.1", 1, 1}})
        EXPECT_EQ(check({}, locateAt({}, at)), "User is offline");
    EXPECT_EQ(down.wanted.at(0)->Status, TTransferStatus::LocalQueue);
    EXPECT_EQ(owner.server->waitingList().count(), 0);
}

TEST(PeerEndToEnd, ARefusedPushEndsItsDownloadAndTheNextOneStarts) {
    PeerSide owner("Olga", 1);
    PeerSide down("Dora", 2, 1);  // one download slot
    const QByteArray notes = pattern(100000, 4);
    owner.share("/in/a\\b.txt", "x");  // no such name in a download folder
    owner.share("/in/12:30 notes.txt", notes);
    DownloadStarter downloads(down.wanted, *down.server, locateAt({&owner}), down.settings());
    const TMRQueItem& refused = down.wanted.Add(1, "Olga", "/in/a\\b.txt", {});
    const TMRQueItem& next = down.wanted.Add(1, "Olga", "/in/12:30 notes.txt", {});
    EXPECT_TRUE(waitUntil([&] { return next.Status == TTransferStatus::Completed; }));
    EXPECT_EQ(refused.Error, TTransferError::CannotSave);
    EXPECT_TRUE(down.downloaded("12:30 notes.txt") == notes);
}

TEST(PeerEndToEnd, SameNamedFilesOfTwoOwnersArriveSideBySide) {
    PeerSide olga("Olga", 1);
    PeerSide bert("Bert", 3);
    PeerSide down("Dora", 2);
    const QByteArray fromOlga = pattern(3 * 1024 * 1024, 6);
    const QByteArray fromBert = pattern(2 * 1024 * 1024, 7);
    olga.share("/a.bin", fromOlga);
    bert.share("/music/a.bin", fromBert);
    DownloadStarter downloads(down.wanted, *down.server, locateAt({&olga, &bert}), down.settings());
    const TMRQueItem& first = down.wanted.Add(1, "Olga", "/a.bin", {});
    const TMRQueItem& second = down.wanted.Add(3, "Bert", "/music/a.bin", {});
    EXPECT_TRUE(waitUntil([&] {
        return first.Status == TTransferStatus::Completed &&
               second.Status == TTransferStatus::Completed;
    }));
    EXPECT_TRUE(down.downloaded("a.bin") == fromOlga);
    EXPECT_TRUE(down.downloaded("a (2).bin") == fromBert);
}
