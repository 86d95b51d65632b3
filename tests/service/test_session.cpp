#include "fakeservice.h"
#include "fakewebserver.h"

#include "core/hostinfo.h"
#include "core/profile.h"
#include "core/record.h"
#include "core/userinfo.h"
#include "service/agent.h"
#include "service/idlequeue.h"
#include "service/processingthread.h"
#include "service/session.h"
#include "service/wire.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace mr;
using mr::test::FakeConnection;
using mr::test::FakeService;
using mr::test::FakeWebServer;
using mr::test::SeenRequest;
using mr::test::waitUntil;

namespace {

constexpr std::uint16_t kInfoPort = 1111;
constexpr std::uint16_t kFileServerPort = 2222;

// Accepts "L", then answers each further keep-alive request with a success end record until
// the client goes away.
void acceptAll(FakeConnection& c, int) {
    while (const auto r = c.readRequest()) {
        if (!c.send(wire::endRecord('T', true))) {
            return;
        }
    }
}

void rejectLogin(FakeConnection& c, int) {
    if (c.readRequest()) {
        c.send(wire::endRecord('E', true));
    }
    c.readRequest();
}

int countCode(const FakeService& fake, char code) {
    int n = 0;
    for (const SeenRequest& r : fake.requests()) {
        n += r.code() == code ? 1 : 0;
    }
    return n;
}

QString host(std::uint16_t port) {
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        setActiveProfile(m_dir.path());
        UserInfo().setId(7);
        UserInfo().setPassword(QStringLiteral("pw"));
        m_idle = std::make_unique<TIdleQueue>();
        m_agent = std::make_unique<TMRAgentHttp>(m_idle.get());
        m_agent->connection().setTimeout(5000);
        m_processing = std::make_unique<TProcessingThread>(m_agent->connection());
        m_session = std::make_unique<OnlineSession>(*m_agent, *m_idle);
        m_session->setPorts(kInfoPort, kFileServerPort);
        m_session->motd().setLauncher([](const QString&) { return false; });
        record();
    }

    void TearDown() override {
        m_session->SignOff();
        m_session.reset();
        m_processing.reset();
        m_agent.reset();
        m_idle.reset();
    }

    // The status task's steps, and the other visible effects, as short texts.
    void record() {
        OnlineSession* s = m_session.get();
        const auto key = s->statusKey();
        auto task = [this, key](quintptr k, const QString& e) {
            EXPECT_EQ(k, key);
            m_tasks << e;
        };
        auto add = [this](const QString& e) { m_events << e; };
        QObject::connect(s, &OnlineSession::ShowStatus,
                         [=](const QString& t, quintptr k) { task(k, "show:" + t); });
        QObject::connect(s, &OnlineSession::SetTaskText,
                         [=](quintptr k, const QString& t) { task(k, "text:" + t); });
        QObject::connect(s, &OnlineSession::EndTask,
                         [=](quintptr k, bool ok) { task(k, ok ? "end:ok" : "end:failed"); });
        QObject::connect(s, &OnlineSession::onlineIndicatorChanged,
                         [this](bool on) { m_indicator = on; });
        QObject::connect(s, &OnlineSession::connectEnabledChanged,
                         [this](bool on) { m_connectEnabled = on; });
        QObject::connect(s, &OnlineSession::onlineStatusCleared, [=] { add("cleared"); });
        QObject::connect(s, &OnlineSession::signedOn, [=] { add("signedOn"); });
        QObject::connect(s, &OnlineSession::messageOfTheDayReady, [=] { add("motd"); });
        QObject::connect(s, &OnlineSession::shareListSyncRequested, [this] { ++m_syncs; });
        QObject::connect(s, &OnlineSession::connectFinished,
                         [this](bool ok) { m_finished.push_back(ok); });
    }

    void setServiceHosts(const QStringList& hosts) {
        HostInfo().set(HostStore::Moonrake, hosts.join(QLatin1Char(',')));
    }

    bool waitFinished(size_t count = 1) {
        return waitUntil([&] { return m_finished.size() >= count; }, 10000);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<TIdleQueue> m_idle;
    std::unique_ptr<TMRAgentHttp> m_agent;
    std::unique_ptr<TProcessingThread> m_processing;
    std::unique_ptr<OnlineSession> m_session;
    QStringList m_events;
    QStringList m_tasks;
    std::optional<bool> m_indicator;
    std::optional<bool> m_connectEnabled;
    std::vector<bool> m_finished;
    int m_syncs = 0;
};

// No host answers: the timer retries from the first host, and when only the last one then
// accepts, one status task ends as "Connected!".
TEST_F(SessionTest, NoHostAnswersAndTheTimerStartsOverAtTheFirstHost) {
    const QString refused = host(mr::test::refusedPort());
    setServiceHosts({refused, refused, refused});

    m_session->Connect(ConnectOrigin::StartUp);
    ASSERT_TRUE(waitFinished());
    EXPECT_FALSE(m_finished.back());
    EXPECT_EQ(m_tasks, (QStringList{"show:Connecting to Moonrake Network", "text:Unable to connect",
                                    "end:failed"}));
    EXPECT_EQ(m_indicator, false);
    EXPECT_EQ(m_connectEnabled, true);  // the start-up call leaves the command usable
    EXPECT_TRUE(m_session->reconnectTimer().isActive());
    EXPECT_EQ(m_session->reconnectTimer().interval(), 60000);
    EXPECT_EQ(m_agent->hostIndex(), 3);

    // A command attempt that fails leaves the command disabled; only the timer retries.
    m_session->Connect(ConnectOrigin::Command);
    ASSERT_TRUE(waitFinished(2));
    EXPECT_FALSE(m_finished.back());
    EXPECT_EQ(m_connectEnabled, false);
    EXPECT_TRUE(m_session->reconnectTimer().isActive());

    FakeService first(rejectLogin);
    FakeService second(rejectLogin);
    FakeService last(acceptAll);
    setServiceHosts({host(first.port()), host(second.port()), host(last.port())});
    m_session->reconnectTimer().setInterval(10);
    ASSERT_TRUE(waitFinished(3));
    EXPECT_TRUE(m_finished.back());
    EXPECT_EQ(countCode(first, 'L'), 1);
    EXPECT_EQ(countCode(second, 'L'), 1);
    EXPECT_EQ(m_agent->hostIndex(), 2);
    EXPECT_FALSE(m_session->reconnectTimer().isActive());
    EXPECT_EQ(m_indicator, true);
    EXPECT_EQ(m_connectEnabled, false);
    EXPECT_TRUE(m_session->online());
    EXPECT_TRUE(m_events.contains("signedOn"));
    EXPECT_FALSE(m_events.contains("motd"));  // no web host, no message
    EXPECT_EQ(m_tasks.mid(6),
              (QStringList{"show:Connecting to Moonrake Network", "text:Connected!", "end:ok"}));

    // The sign-on announced both ports; no profile went out, "Refresh" being 0.
    const auto login = last.requests().front();
    ASSERT_EQ(login.code(), 'L');
    EXPECT_EQ(login.body.mid(3), PackRecord("IAWW", {7, "pw", kInfoPort, kFileServerPort}).bytes);
    EXPECT_EQ(countCode(last, '?'), 0);

    // The share-list synchronisation is asked for once, at idle time.
    ASSERT_TRUE(waitUntil([&] { return m_syncs == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(m_syncs, 1);
    EXPECT_EQ(m_idle->count(), 0);
}

TEST_F(SessionTest, ConnectPressedTwiceSignsOnOnce) {
    FakeService fake(acceptAll);
    setServiceHosts({host(fake.port())});
    // A second press while the first is still waiting inside the routine.
    QTimer::singleShot(0, m_session.get(), [this] { m_session->Connect(); });
    m_session->Connect();
    m_session->Connect();
    ASSERT_TRUE(waitFinished());
    ASSERT_TRUE(m_finished.back());
    // Online, Connect again must not open another channel or send another "L".
    m_session->Connect();
    m_session->Connect(ConnectOrigin::StartUp);
    QCoreApplication::processEvents();
    EXPECT_EQ(fake.accepted(), 1);
    EXPECT_EQ(countCode(fake, 'L'), 1);
    EXPECT_EQ(m_tasks.count("show:Connecting to Moonrake Network"), 1);
    EXPECT_EQ(m_finished.size(), 1u);
    EXPECT_EQ(m_connectEnabled, false);
}

// A profile changed offline goes out at the next sign-on; a new password in it replaces the
// one sign-on uses only once the service has accepted it; a refused one keeps "Refresh" set.
TEST_F(SessionTest, ProfileChangedOfflineIsSentAtTheNextSignOn) {
    FakeService fake([](FakeConnection& c, int) {
        while (const auto r = c.readRequest()) {
            const bool refuse = r->code() == '?' && r->body.contains("refused-pw");
            if (!c.send(wire::endRecord(refuse ? 'E' : 'T', true))) {
                return;
            }
        }
    });
    setServiceHosts({host(fake.port())});
    bool called = false;
    UserInfo().setPassword(QStringLiteral("new-pw"));
    EXPECT_FALSE(m_session->SendProfile(
        nullptr, [&](bool) { called = true; }, QStringLiteral("pw")));
    EXPECT_FALSE(called);
    EXPECT_EQ(UserInfo().refresh(), 1);
    EXPECT_EQ(UserInfo().password(), "pw");

    m_session->Connect(ConnectOrigin::StartUp);
    ASSERT_TRUE(waitFinished());
    ASSERT_TRUE(m_finished.back());
    ASSERT_TRUE(waitUntil([] { return UserInfo().refresh() == 0; }));
    EXPECT_EQ(countCode(fake, '?'), 1);

    // Refused: "Refresh" stays set and the known password is back, also when the window that
    // asked has gone.
    UserInfo().setRefresh(1);
    UserInfo().setPassword(QStringLiteral("refused-pw"));
    auto owner = std::make_unique<QObject>();
    ASSERT_TRUE(m_session->SendProfile(
        owner.get(), [&](bool) { called = true; }, QStringLiteral("pw")));
    owner.reset();
    ASSERT_TRUE(waitUntil([] { return UserInfo().password() == "pw"; }));
    EXPECT_FALSE(called);
    EXPECT_EQ(UserInfo().refresh(), 1);
}

// A lost connection goes offline and arms the timer, whose retry signs on again; signing
// off then sends "Q" and stops the retries.
TEST_F(SessionTest, LostConnectionRetriesUntilSignOff) {
    mr::test::Gate drop;
    FakeService fake([&](FakeConnection& c, int index) {
        if (index > 0) {
            acceptAll(c, index);
        } else if (c.readRequest() && c.send(wire::endRecord('T', true))) {
            drop.wait();
        }
    });
    setServiceHosts({host(fake.port())});
    m_session->Connect(ConnectOrigin::StartUp);
    ASSERT_TRUE(waitFinished());
    ASSERT_EQ(m_indicator, true);
    m_tasks.clear();

    drop.open();
    ASSERT_TRUE(waitUntil([&] { return m_events.contains("cleared"); }));
    EXPECT_EQ(m_tasks, (QStringList{"show:Disconnected from Moonrake!", "end:failed"}));
    EXPECT_EQ(m_indicator, false);
    EXPECT_EQ(m_connectEnabled, true);
    EXPECT_FALSE(m_session->online());
    ASSERT_TRUE(m_session->reconnectTimer().isActive());

    m_session->reconnectTimer().setInterval(10);
    ASSERT_TRUE(waitFinished(2));
    EXPECT_TRUE(m_finished.back());
    m_session->reconnectTimer().start();
    m_session->SignOff();
    EXPECT_TRUE(m_session->closing());
    EXPECT_FALSE(m_session->online());
    EXPECT_FALSE(m_session->reconnectTimer().isActive());
    ASSERT_TRUE(waitUntil([&] { return countCode(fake, 'Q') == 1; }));
}

TEST_F(SessionTest, ClosingDuringTheMessageFetchSkipsTheSignOn) {
    FakeService fake(acceptAll);
    setServiceHosts({host(fake.port())});
    FakeWebServer silent;
    silent.setSilent(true);
    HostInfo().set(HostStore::Http, host(silent.port()));
    QTimer::singleShot(100, m_session.get(), [this] { m_session->SignOff(); });

    QElapsedTimer clock;
    clock.start();
    m_session->Connect(ConnectOrigin::StartUp);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(silent.requests(), 1);
    EXPECT_FALSE(m_session->connecting());
    QCoreApplication::processEvents();
    EXPECT_EQ(fake.accepted(), 0);
    EXPECT_TRUE(m_finished.empty());
}

TEST_F(SessionTest, MessageOfTheDayRefreshesHostsBeforeTheSignOn) {
    FakeService fake(acceptAll);
    FakeWebServer web(("\n" + host(fake.port()) + "\n\n1.06\nHello <i>there</i>\n").toUtf8());
    HostInfo().set(HostStore::Http, host(web.port()));
    setServiceHosts({host(mr::test::refusedPort())});

    m_session->Connect(ConnectOrigin::StartUp);
    ASSERT_TRUE(waitFinished());
    EXPECT_TRUE(m_finished.back());
    EXPECT_EQ(m_agent->hostIndex(), 0);
    EXPECT_TRUE(m_events.contains("motd"));
    EXPECT_EQ(m_session->motd().message(), "Hello <i>there</i>");
}

}  // namespace
