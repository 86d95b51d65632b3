#include "catalogtest.h"
#include "fakeservice.h"

#include "catalog/localmrtree.h"
#include "catalog/logicaltree.h"
#include "catalog/remotemrtree.h"
#include "catalog/shareupdate.h"
#include "core/hostinfo.h"
#include "core/profile.h"
#include "core/record.h"
#include "core/userinfo.h"
#include "db/database.h"
#include "service/agent.h"
#include "service/idlequeue.h"
#include "service/processingthread.h"
#include "service/wire.h"
#include "testutil.h"

#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>

using namespace mr;
using mr::test::FakeConnection;
using mr::test::FakeService;
using mr::test::Gate;

namespace {

// The login record of user 42 with password "pw".
const QByteArray kLogin = mr::test::hex("4C 2A000000 707700");

// How the fake service answers the n-th share request (counted from 0).
using Policy = std::function<bool(const QByteArray& payload, int n)>;

class SyncTest : public mr::test::CatalogTest {
protected:
    void SetUp() override {
        CatalogTest::SetUp();
        ASSERT_TRUE(m_profile.isValid());
        setActiveProfile(m_profile.path());
        UserInfo().setId(42);
        UserInfo().setPassword("pw");
    }

    void TearDown() override {
        m_dropKeepAlive.open();
        // The service's handlers run policies that may still look at the agent: they end
        // before it goes.
        m_fake.reset();
        m_processing.reset();
        m_agent.reset();
        m_idle.reset();
        CatalogTest::TearDown();
    }

    // Starts the fake service and signs on to it.
    void start(Policy policy) {
        m_policy = std::move(policy);
        m_fake = std::make_unique<FakeService>([this](FakeConnection& c, int) {
            const auto first = c.readRequest();
            if (!first)
                return;
            if (first->keepAlive) {
                if (c.send(wire::endRecord('T', true)))
                    m_dropKeepAlive.wait(30000);
                return;
            }
            int n = 0;
            {
                std::lock_guard lock(m_mutex);
                n = static_cast<int>(m_payloads.size());
                m_payloads.push_back(first->body.mid(3));
            }
            const bool ok = m_policy(first->body.mid(3), n);
            // A share list's answer is one record; a folder listing's, records and an end.
            c.send(!ok                    ? wire::endRecord('E', false)
                   : first->code() == 'F' ? wire::endRecord('T', false)
                                          : wire::replyRecord('R', PackRecord("II", {0, 0}).bytes));
            c.peerClosed();
            ++m_answered;
        });
        HostInfo().set(HostStore::Moonrake, QString("127.0.0.1:%1").arg(m_fake->port()));
        m_idle = std::make_unique<TIdleQueue>();
        m_agent = std::make_unique<TMRAgentHttp>(m_idle.get());
        m_agent->connection().setTimeout(5000);
        m_processing = std::make_unique<TProcessingThread>(m_agent->connection());
        std::optional<bool> login;
        QObject::connect(m_agent.get(), &TMRAgentHttp::OnLogin, [&](bool ok) { login = ok; });
        m_agent->ServiceLogin(1, 2);
        ASSERT_TRUE(mr::test::waitUntil([&] { return login.has_value(); }));
        ASSERT_TRUE(*login);
        m_tree = std::make_unique<TLocalMRTree>(nullptr, m_agent.get());
    }

    // Runs until every reply the service has given so far has been handled on this thread:
    // completions are handed over in order, so a later request's handler runs after them.
    void drainCompletions() {
        bool done = false;
        ASSERT_TRUE(m_agent->UpdateShareList(nullptr, [&](TRequest&) { done = true; }, {}));
        ASSERT_TRUE(mr::test::waitUntil([&] { return done; }));
    }

    std::vector<QByteArray> payloads() {
        std::lock_guard lock(m_mutex);
        return m_payloads;
    }

    // n rows named f<first>, f<first + 1>, ... of that size under the parent.
    void addFiles(int n, int parentId, int first = 0) {
        rawExec("files.dat",
                QString::asprintf("with recursive n(i) as (select %d union all select i + 1 from n "
                                  "where i < %d) insert into files (ParentId, Name, FileSize, "
                                  "FileDate, Action) select %d, 'f' || i, i, 45000.5, 'A' from n",
                                  first, first + n - 1, parentId));
    }

    QTemporaryDir m_profile;
    Gate m_dropKeepAlive;
    Policy m_policy;
    std::mutex m_mutex;
    std::vector<QByteArray> m_payloads;
    std::atomic<int> m_answered{0};
    std::unique_ptr<FakeService> m_fake;
    std::unique_ptr<TIdleQueue> m_idle;
    std::unique_ptr<TMRAgentHttp> m_agent;
    std::unique_ptr<TProcessingThread> m_processing;
    std::unique_ptr<TLocalMRTree> m_tree;
};

// A run's counts: removals sent/accepted, additions sent/accepted/failed.
std::string counts(const SyncResult& r) {
    return QString::asprintf("R %d/%d A %d/%d/%d", r.removalsSent, r.removalsAccepted,
                             r.additionsSent, r.additionsAccepted, r.additionsFailed)
        .toStdString();
}

const Policy acceptAll = [](const QByteArray&, int) { return true; };

QByteArray addition(qint32 size, const char* folder, const QString& name,
                    const char* description = " ", int flag = 0) {
    return PackRecord("BIDWBAAA", {int{'A'}, size, 45000.5, 0, flag, folder, name, description})
        .bytes;
}

}  // namespace

TEST(ShareRecords, AFileBelowTwoFoldersKeepsTheInnerSlashAndSendsOnlyItsPasswordFlag) {
    TFileItem item("Song", "/Music/Live/");
    item.size = 3;
    item.date = 1.0;
    item.password = "secret";
    EXPECT_EQ(additionRecord(item),
              mr::test::hex("41 03000000 000000000000F03F 0000 01 4D757369632F4C69766500 "
                            "536F6E6700 2000"));
}

TEST_F(SyncTest, AdditionsGoOutInBatchesOfAHundred) {
    start(acceptAll);
    const int music = addRow("Music", -1, true, {.password = "x"});
    addRow("f0", music, false, {.description = "first file", .fileSize = 0});
    addFiles(248, music, 1);
    test::RecordingView view;
    m_tree->setProgressView(&view);
    const SyncResult r = m_tree->UpdateServer();
    EXPECT_EQ(view.captions, QStringList{"Please Wait: Updating Server"});
    EXPECT_TRUE(r.complete());
    EXPECT_EQ(counts(r), "R 0/0 A 250/250/0");
    EXPECT_EQ(countAction(""), 250);

    std::vector<QByteArray> expected(3, kLogin);
    // The top-level folder: empty folder field, the password only as the flag.
    expected[0] += mr::test::hex("41 FFFFFFFF 0000000010F9E540 0000 01 00 4D7573696300 2000");
    for (int i = 0; i < 249; ++i) {
        expected[(i + 1) / 100] +=
            addition(i, "Music", QStringLiteral("f%1").arg(i), i == 0 ? "first file" : " ");
    }
    // The batches may arrive in any order on their own connections.
    auto seen = payloads();
    std::sort(seen.begin(), seen.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected);
    // With nothing pending a run shows nothing and sends nothing.
    EXPECT_FALSE(m_tree->UpdateServer().ran);
    EXPECT_EQ(view.captions.size(), 1);
    EXPECT_EQ(payloads().size(), 3u);
}

TEST_F(SyncTest, RemovalsFirstAndAFailedRemovalIsSentAgain) {
    std::atomic<int> removalAttempts{0};
    start([&](const QByteArray& payload, int) {
        if (payload.mid(kLogin.size(), 1) == "R")
            return ++removalAttempts > 1;
        return true;
    });
    const int music = addRow("Music", -1, true, {.action = ""});
    addRow("Song", music, false, {.action = "D"});
    addRow("Old", -1, true, {.action = "D"});  // added and removed before it was ever sent
    addRow("New", -1, false);
    const SyncResult r = m_tree->UpdateServer();
    EXPECT_TRUE(r.complete());
    EXPECT_EQ(counts(r), "R 2/2 A 1/1/0");
    const auto seen = payloads();
    ASSERT_EQ(seen.size(), 3u);
    const QByteArray removal = kLogin + mr::test::hex("52 4D757369632F536F6E6700 52 4F6C6400");
    EXPECT_EQ(seen[0], removal);
    EXPECT_EQ(seen[1], removal);
    EXPECT_EQ(seen[2].mid(kLogin.size(), 1), "A");
    EXPECT_EQ(catalog().size(), 2u);
    EXPECT_EQ(countAction(""), 2);
}

TEST_F(SyncTest, AFailedBatchKeepsItsRowsPending) {
    start([](const QByteArray& payload, int) {
        // The batch that starts with f0 fails.
        return !payload.contains(addition(0, "", "f0"));
    });
    addFiles(150, -1);
    const SyncResult r = m_tree->UpdateServer();
    EXPECT_FALSE(r.complete());
    EXPECT_EQ(counts(r), "R 0/0 A 150/50/100");
    for (const auto& row : catalog()) {
        const int n = row.name.mid(1).toInt();
        EXPECT_EQ(row.action, n < 100 ? "A" : "") << row.name.toStdString();
    }

    // The next run sends exactly the rows left.
    m_policy = acceptAll;
    EXPECT_EQ(counts(m_tree->UpdateServer()), "R 0/0 A 100/100/0");
    EXPECT_EQ(countAction("A"), 0);
}

TEST_F(SyncTest, GoingOfflineStopsTheRunWithEveryFlagKept) {
    start([this](const QByteArray&, int) {
        m_dropKeepAlive.open();
        for (int i = 0; i < 6000 && m_agent->online(); ++i)
            QThread::msleep(5);
        return false;
    });
    addRow("Gone", -1, false, {.action = "D"});
    addFiles(5, -1);
    const SyncResult r = m_tree->UpdateServer();
    EXPECT_TRUE(r.wentOffline);
    EXPECT_EQ(counts(r), "R 1/0 A 0/0/0");
    EXPECT_EQ(payloads().size(), 1u);
    EXPECT_EQ(countAction("D"), 1);
    EXPECT_EQ(countAction("A"), 5);
}

TEST_F(SyncTest, ACompletionMeetingADatabaseErrorStillCountsTheReply) {
    const QString dataDir = this->dataDir();
    start([dataDir](const QByteArray&, int) {
        db::Database::disconnect(QString::fromLatin1(db::kDatabaseName));
        return true;
    });
    addFiles(50, -1);
    const SyncResult r = m_tree->UpdateServer();
    db::Database::connect(QString::fromLatin1(db::kDatabaseName), dataDir);
    EXPECT_EQ(counts(r), "R 0/0 A 50/0/50");
    EXPECT_EQ(countAction("A"), 50);
}

TEST_F(SyncTest, LateRepliesTouchOnlyTheRowsTheyCarriedWhileStillPending) {
    Gate release;
    start([&](const QByteArray&, int n) { return n > 1 || release.wait(30000); });
    addRow("Gone", -1, false, {.action = "D"});
    const int music = addRow("Music", -1, true);
    addRow("Song", music, false);

    // The removal goes out and its reply is held; Cancel.
    test::CancellingView view([this] { return payloads().size() == 1; });
    m_tree->setProgressView(&view);
    EXPECT_TRUE(m_tree->UpdateServer().cancelled);
    // Meanwhile the user removes another entry.
    addRow("Later", -1, false, {.action = "D"});
    release.open();
    ASSERT_TRUE(mr::test::waitUntil([&] { return m_answered == 1; }));
    drainCompletions();
    // The late reply took the row it carried, not the one removed after it went out.
    EXPECT_EQ(find("Gone"), nullptr);
    ASSERT_NE(find("Later"), nullptr);
    EXPECT_EQ(find("Later")->action, "D");

    // Now the additions go out and their reply is held; Cancel, then remove the folder.
    Gate releaseAdditions;
    m_policy = [&](const QByteArray& payload, int) {
        return payload.mid(kLogin.size(), 1) != "A" || releaseAdditions.wait(30000);
    };
    test::CancellingView additions([this] { return payloads().size() == 4; });
    m_tree->setProgressView(&additions);
    m_tree->UpdateServer();
    TFileItem folder("Music", "/");
    folder.size = -1;
    m_tree->setProgressView(nullptr);
    ASSERT_EQ(m_tree->RemoveShare(folder), RemoveOutcome::Removed);
    releaseAdditions.open();
    ASSERT_TRUE(mr::test::waitUntil([&] { return m_answered == 4; }));
    drainCompletions();
    ASSERT_NE(find("Music"), nullptr);
    EXPECT_EQ(find("Music")->action, "D");

    // Its removal reaches the service at the next run.
    m_policy = acceptAll;
    EXPECT_EQ(counts(m_tree->UpdateServer()), "R 1/1 A 0/0/0");
    EXPECT_EQ(payloads().back(), kLogin + mr::test::hex("52 4D7573696300"));
    EXPECT_TRUE(catalog().empty());
}

TEST_F(SyncTest, APasswordClearedIsPublishedAgainWithoutItsFlag) {
    start(acceptAll);
    addRow("Song", -1, false, {.action = "", .password = "pw"});
    // The same password again changes nothing.
    ASSERT_TRUE(m_tree->SetPassword("/Song", "pw"));
    EXPECT_EQ(find("Song")->action, "");
    ASSERT_TRUE(m_tree->SetPassword("/Song", ""));
    EXPECT_EQ(m_tree->UpdateServer().additionsAccepted, 1);
    // The flag byte of an addition record: after 'A', size, date and the reserved word.
    EXPECT_EQ(payloads().back().at(kLogin.size() + 15), 0);
}

// A listing the service answers with an error is told from an empty folder.
TEST_F(SyncTest, AFailedListingIsNotAnEmptyFolder) {
    start([](const QByteArray&, int n) { return n > 0; });
    for (const bool fails : {true, false}) {
        TLogicalTree logical;
        TRemoteMRTree tree(nullptr, m_agent.get(), QString(), 7, &logical);
        logical.setGetItems([&tree](TFileNode* node) { tree.NodeGetItems(node); });
        bool failed = false;
        EXPECT_EQ(tree.WaitForFolder("/", 5000, &failed) == nullptr, fails);
        EXPECT_EQ(failed, fails);
    }
}
