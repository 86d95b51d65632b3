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
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <thread>

using namespace mr;
using namespace mr::test;

namespace {

// Accepts "L"; acceptAll answers every request with a success end.
bool acceptLogin(FakeConnection& c) {
    const auto login = c.readRequest();
    return login && login->code() == 'L' && c.send(wire::endRecord('T', true));
}

void acceptAll(FakeConnection& c, int) {
    while (c.readRequest() && c.send(wire::endRecord('T', true))) {
    }
}

void rejectLogin(FakeConnection& c, int) {
    if (c.readRequest()) {
        c.send(wire::endRecord('E', true));
    }
    c.readRequest();
}

struct Outcome {
    bool called = false;
    bool failed = false;
    char kind = 0;
    QByteArray data;
    bool onMainThread = false;
    bool operator==(const Outcome&) const = default;
};

// The client's side: the idle queue, the agent with a 5 s time-out, and the thread that hands
// replies to the main thread.
struct AgentStack {
    AgentStack() { agent.connection().setTimeout(5000); }
    TIdleQueue idle;
    TMRAgentHttp agent{&idle};
    TProcessingThread processing{agent.connection()};
};

// A fresh profile of user 7 with the password "pw"; the stack once a test starts it.
class AgentTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        setActiveProfile(m_dir.path());
        UserInfo().setId(7);
        UserInfo().setPassword(QStringLiteral("pw"));
        UserInfo().setBDate(36526.5);
        UserInfo().setSex(QStringLiteral("Female"));
    }

    static void setServiceHosts(const QStringList& hosts) {
        HostInfo().set(HostStore::Moonrake, hosts.join(u','));
    }

    TMRAgentHttp& start(std::uint16_t port) {
        m_stack.reset();
        m_disconnects = 0;
        setServiceHosts({QStringLiteral("127.0.0.1:%1").arg(port)});
        m_stack = std::make_unique<AgentStack>();
        QObject::connect(&m_stack->agent, &TMRAgentHttp::OnDisconnect, [this] {
            ++m_disconnects;
            m_disconnectOnMain = QThread::currentThread() == qApp->thread();
        });
        return m_stack->agent;
    }

    bool signOn() {
        std::optional<bool> ok;
        const auto c = QObject::connect(&m_stack->agent, &TMRAgentHttp::OnLogin,
                                        [&ok](bool success) { ok = success; });
        m_stack->agent.ServiceLogin(1111, 2222);
        const bool answered = waitUntil([&] { return ok.has_value(); });
        QObject::disconnect(c);
        return answered && *ok;
    }

    static RequestHandler into(Outcome& o) {
        return [&o](TRequest& r) {
            o = {true, r.failed(), r.replyKind(), r.replyData(),
                 QThread::currentThread() == qApp->thread()};
        };
    }

    QTemporaryDir m_dir;
    std::unique_ptr<AgentStack> m_stack;
    int m_disconnects = 0;
    bool m_disconnectOnMain = false;
};

// The completion path hands finished requests over from any thread, in completion order and
// one at a time: a handler's nested event loop runs no other handler, and a handler that ends
// the path leaves the rest unhandled.
TEST(CompletionPath, HandlersRunInOrderOneAtATimeUntilThePathEnds) {
    auto completions = std::make_shared<RequestQueue>();
    auto path = std::make_unique<TProcessingThread>(completions);
    QObject owner;
    std::vector<char> order;
    bool nestedRanAnother = false;
    const auto push = [&](char code, RequestHandler handler) {
        completions->push(std::make_shared<TRequest>(code, QByteArray(), QString(), false, &owner,
                                                     std::move(handler)));
    };
    const auto record = [&](TRequest& r) { order.push_back(r.code()); };
    push('a', [&](TRequest& r) {
        record(r);
        std::thread([&] { push('b', record); }).join();
        const std::size_t before = order.size();
        waitUntil([] { return false; }, 100);  // a nested loop with 'b' ready to be handed over
        nestedRanAnother = order.size() != before;
    });
    EXPECT_TRUE(waitUntil([&] { return order.size() == 2; }));
    EXPECT_FALSE(nestedRanAnother);
    EXPECT_EQ(order, (std::vector<char>{'a', 'b'}));

    push('c', [&](TRequest& r) {
        record(r);
        path.reset();
    });
    push('d', record);
    EXPECT_TRUE(waitUntil([&] { return !path; }));
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(order, (std::vector<char>{'a', 'b', 'c'}));
}

// One keep-alive conversation: framing, sequence numbers, replies put together from records,
// a reply for a window that has gone, and a sign-off after which numbering starts again.
TEST_F(AgentTest, KeepAliveChannelCarriesTheSignedOnRequests) {
    const std::map<char, QByteArray> replies{
        {'?', wire::replyRecord('P', "ok")},
        {'C', wire::replyRecord('C', QByteArray(10, 'a')) +
                  wire::replyRecord('C', QByteArray(20, 'b')) + wire::endRecord('T', true)},
        {'A', wire::endRecord('E', true)},  // single-record answered by an error end
        {'D', wire::endRecord('T', true)}};
    FakeService fake([&](FakeConnection& c, int) {
        for (auto r = acceptLogin(c) ? c.readRequest() : std::nullopt;
             r && replies.contains(r->code()) && c.send(replies.at(r->code()));
             r = c.readRequest()) {
        }
    });
    TMRAgentHttp& agent = start(fake.port());
    ASSERT_TRUE(signOn());

    Outcome profile, error, multi;
    auto window = std::make_unique<QObject>();
    bool windowHandlerCalled = false;
    ASSERT_TRUE(agent.SendProfile(nullptr, into(profile)));
    ASSERT_TRUE(agent.AddContact(nullptr, into(error), QStringLiteral("bob")));
    ASSERT_TRUE(agent.RemoveContact(
        window.get(), [&](TRequest&) { windowHandlerCalled = true; }, 5));
    window.reset();  // before its reply can be handled on this thread
    ASSERT_TRUE(agent.PollContacts(nullptr, into(multi)));
    ASSERT_TRUE(waitUntil([&] { return multi.called; }));
    EXPECT_EQ(profile, (Outcome{true, false, 'P', "ok", true}));
    EXPECT_EQ(error, (Outcome{true, true, 'E', {}, true}));
    EXPECT_FALSE(windowHandlerCalled);
    // An error end leaves the channel in step.
    EXPECT_EQ(multi, (Outcome{true, false, 'T', QByteArray(10, 'a') + QByteArray(20, 'b'), true}));

    agent.ServiceLogout();
    EXPECT_FALSE(agent.connection().connected());
    ASSERT_TRUE(signOn());        // a new keep-alive channel numbers from 1 again
    EXPECT_EQ(m_disconnects, 0);  // a sign-off is no lost connection

    const auto seen = fake.requests();
    ASSERT_EQ(seen.size(), 7u);
    const QByteArray head = "POST /mrPing/mrpingserver.dll\r\nConnection: Keep-Alive\r\n";
    const QByteArray login = PackRecord("IAWW", {7, "pw", 1111, 2222}).bytes;
    EXPECT_EQ(seen[0].raw, head + "Content-Length: " + QByteArray::number(login.size() + 3) +
                               "\r\n\r\n" + hex("4C 0100") + login);
    // The profile from the settings; the sex goes as its first letter.
    EXPECT_EQ(seen[1].body,
              hex("3F 0200") +
                  PackRecord("AAAAABDAAAAB", {"", "", "", "", "pw", 0, 36526.5, "F", "", "", "", 0})
                      .bytes);
    EXPECT_EQ(seen[2].body, hex("41 0300 626F6200"));
    EXPECT_EQ(seen[5].raw, head + "Content-Length: 3\r\n\r\n" + hex("51 0600"));
    EXPECT_TRUE(seen[6].body.startsWith(hex("4C 0100")));
}

// A record too short for its header, a reply beyond the cap and silence past the time-out
// each end the channel: the request and the one queued behind it fail, and the loss is
// reported on the main thread.
TEST_F(AgentTest, AHostileOrSilentServiceEndsTheChannel) {
    const QByteArray beyondCap = wire::replyRecord('C', QByteArray(60, 'a')) +
                                 wire::replyRecord('C', QByteArray(60, 'b')) +
                                 wire::endRecord('T', true);
    for (const QByteArray& reply : {hex("0200 43 0000"), beyondCap, QByteArray()}) {
        SCOPED_TRACE(reply.size());
        Gate bothQueued;
        FakeService fake([&](FakeConnection& c, int) {
            if (acceptLogin(c) && c.readRequest() && bothQueued.wait()) {
                c.send(reply);
                c.peerClosed();
            }
        });
        TMRAgentHttp& agent = start(fake.port());
        agent.connection().setMaxReplyBytes(100);
        ASSERT_TRUE(signOn());
        agent.connection().setTimeout(300);
        Outcome first, queued;
        ASSERT_TRUE(agent.PollContacts(nullptr, into(first)));
        ASSERT_TRUE(agent.SendProfile(nullptr, into(queued)));
        bothQueued.open();
        ASSERT_TRUE(waitUntil([&] { return first.called && queued.called && m_disconnects == 1; }));
        EXPECT_TRUE(first.failed);
        EXPECT_LE(first.data.size(), 100);
        EXPECT_TRUE(queued.failed);
        EXPECT_TRUE(m_disconnectOnMain);
        EXPECT_FALSE(agent.online());
        EXPECT_FALSE(agent.SendProfile(nullptr, into(queued)));
    }
}

// A slow keep-alive reply holds up no one-shot; six one-shots at once are served by five
// workers, the sixth waiting for a free one.
TEST_F(AgentTest, OneShotsRunOnFiveWorkersBesideASlowKeepAliveReply) {
    Gate release;
    Gate oneShotsDone;
    std::atomic<int> closedByClient{0};
    std::atomic<int> inFlight{0};
    std::atomic<int> maxInFlight{0};
    FakeService fake([&](FakeConnection& c, int) {
        const auto first = c.readRequest();
        if (first && first->keepAlive) {
            c.send(wire::endRecord('T', true));
            if (c.readRequest() && oneShotsDone.wait()) {
                c.send(wire::replyRecord('P', "late"));
            }
            c.readRequest();
        } else if (first) {
            const int now = ++inFlight;
            for (int was = maxInFlight;
                 now > was && !maxInFlight.compare_exchange_weak(was, now);) {
            }
            release.wait();
            --inFlight;
            c.send(wire::replyRecord('H', PackRecord("AWW", {"", 0, 0}).bytes));
            closedByClient += c.peerClosed();
        }
    });
    TMRAgentHttp& agent = start(fake.port());
    ASSERT_TRUE(signOn());
    std::vector<char> order;
    ASSERT_TRUE(agent.SendProfile(nullptr, [&](TRequest& r) { order.push_back(r.code()); }));
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(agent.LocateUser(
            nullptr,
            [&](TRequest& r) {
                order.push_back(r.failed() ? '!' : r.code());
                if (order.size() == 6) {
                    oneShotsDone.open();
                }
            },
            i));
    }
    ASSERT_TRUE(waitUntil([&] { return fake.count('H') == 5; }));
    EXPECT_EQ(agent.connection().oneShotWorkerCount(), 5);
    release.open();
    ASSERT_TRUE(waitUntil([&] { return order.size() == 7; }));
    EXPECT_EQ(order, (std::vector<char>{'H', 'H', 'H', 'H', 'H', 'H', '?'}));
    EXPECT_EQ(maxInFlight, 5);
    EXPECT_TRUE(waitUntil([&] { return closedByClient == 6; }));
}

// The online session over a started stack; the status task's steps and the other visible
// effects are recorded as short texts.
class SessionTest : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        m_stack = std::make_unique<AgentStack>();
        m_session = std::make_unique<OnlineSession>(m_stack->agent, m_stack->idle);
        OnlineSession* s = m_session.get();
        s->setPorts(1111, 2222);
        s->motd().setLauncher([](const QString&) { return false; });
        auto task = [this, key = s->statusKey()](quintptr k, const QString& e) {
            EXPECT_EQ(k, key);
            m_tasks << e;
        };
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
        QObject::connect(s, &OnlineSession::onlineStatusCleared, [this] { m_events << "cleared"; });
        QObject::connect(s, &OnlineSession::signedOn, [this] { m_events << "signedOn"; });
        QObject::connect(s, &OnlineSession::messageOfTheDayReady, [this] { m_events << "motd"; });
        QObject::connect(s, &OnlineSession::shareListSyncRequested, [this] { ++m_syncs; });
        QObject::connect(s, &OnlineSession::connectFinished,
                         [this](bool ok) { m_finished.push_back(ok); });
    }

    void TearDown() override { m_session->SignOff(); }

    bool waitFinished(size_t count = 1) {
        return waitUntil([&] { return m_finished.size() >= count; }, 10000);
    }

    std::unique_ptr<OnlineSession> m_session;
    QStringList m_events;
    QStringList m_tasks;
    std::optional<bool> m_indicator;
    std::optional<bool> m_connectEnabled;
    std::vector<bool> m_finished;
    int m_syncs = 0;
};

// No host answers: the timer retries from the first host, and when only the last one then
// accepts, one status task ends as "Connected!". A lost connection goes offline and arms the
// timer again, whose retry signs on again; signing off then sends "Q" and stops the retries.
TEST_F(SessionTest, TheTimerRetriesFromTheFirstHostUntilSignOff) {
    const QString refused = QStringLiteral("127.0.0.1:%1").arg(test::deadPort());
    setServiceHosts({refused, refused, refused});

    m_session->Connect(ConnectOrigin::StartUp);
    ASSERT_TRUE(waitFinished());
    EXPECT_FALSE(m_finished.back());
    EXPECT_EQ(m_tasks, (QStringList{"show:Connecting to Moonrake Network", "text:Unable to connect",
                                    "end:failed"}));
    EXPECT_EQ(m_indicator, false);
    EXPECT_EQ(m_connectEnabled, true);  // the start-up call leaves the command usable
    EXPECT_TRUE(m_session->reconnectTimer().isActive());

    // A command attempt that fails leaves the command disabled; only the timer retries.
    m_session->Connect(ConnectOrigin::Command);
    ASSERT_TRUE(waitFinished(2));
    EXPECT_FALSE(m_finished.back());
    EXPECT_EQ(m_connectEnabled, false);
    EXPECT_TRUE(m_session->reconnectTimer().isActive());

    Gate drop;
    FakeService first(rejectLogin);
    FakeService second(rejectLogin);
    FakeService last([&](FakeConnection& c, int index) {
        if (index > 0) {
            acceptAll(c, index);
        } else if (c.readRequest() && c.send(wire::endRecord('T', true))) {
            drop.wait();
        }
    });
    setServiceHosts({first.host(), second.host(), last.host()});
    m_session->reconnectTimer().setInterval(10);
    ASSERT_TRUE(waitFinished(3));
    EXPECT_TRUE(m_finished.back());
    EXPECT_EQ(first.count('L'), 1);
    EXPECT_EQ(second.count('L'), 1);
    EXPECT_EQ(m_stack->agent.hostIndex(), 2);
    EXPECT_FALSE(m_session->reconnectTimer().isActive());
    EXPECT_EQ(m_indicator, true);
    EXPECT_EQ(m_connectEnabled, false);
    EXPECT_TRUE(m_session->online());
    EXPECT_EQ(m_events, QStringList{"signedOn"});  // no web host, no message
    EXPECT_EQ(m_tasks.mid(6),
              (QStringList{"show:Connecting to Moonrake Network", "text:Connected!", "end:ok"}));
    EXPECT_EQ(last.count('?'), 0);  // no profile went out, "Refresh" being 0

    // The share-list synchronisation is asked for once, at idle time.
    ASSERT_TRUE(waitUntil([&] { return m_syncs == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(m_syncs, 1);
    EXPECT_EQ(m_stack->idle.count(), 0);

    m_tasks.clear();
    m_session->reconnectTimer().setInterval(60000);
    drop.open();
    ASSERT_TRUE(waitUntil([&] { return m_events.contains("cleared"); }));
    EXPECT_EQ(m_tasks, (QStringList{"show:Disconnected from Moonrake!", "end:failed"}));
    EXPECT_EQ(m_indicator, false);
    EXPECT_EQ(m_connectEnabled, true);
    EXPECT_FALSE(m_session->online());
    ASSERT_TRUE(m_session->reconnectTimer().isActive());

    m_session->reconnectTimer().setInterval(10);
    ASSERT_TRUE(waitFinished(4));
    EXPECT_TRUE(m_finished.back());
    m_session->reconnectTimer().start();
    m_session->SignOff();
    EXPECT_TRUE(m_session->closing());
    EXPECT_FALSE(m_session->online());
    EXPECT_FALSE(m_session->reconnectTimer().isActive());
    ASSERT_TRUE(waitUntil([&] { return last.count('Q') == 1; }));
}

// A profile changed offline goes out at the next sign-on, made at the host the message of the
// day names; a second press while the first waits inside the routine, and presses once online,
// sign on nobody again. A new password replaces the one sign-on uses only once the service has
// accepted it; a refused one keeps "Refresh" set.
TEST_F(SessionTest, ConnectPressedTwiceSendsTheProfileChangedOfflineOnce) {
    FakeService fake([](FakeConnection& c, int) {
        while (const auto r = c.readRequest()) {
            const bool refuse = r->code() == '?' && r->body.contains("refused-pw");
            if (!c.send(wire::endRecord(refuse ? 'E' : 'T', true))) {
                return;
            }
        }
    });
    FakeWebServer web(("\n" + fake.host() + "\n\n1.06\nHello <i>there</i>\n").toUtf8());
    HostInfo().set(HostStore::Http, web.host());
    setServiceHosts({QStringLiteral("127.0.0.1:%1").arg(test::deadPort())});
    bool called = false;
    UserInfo().setPassword(QStringLiteral("new-pw"));
    EXPECT_FALSE(m_session->SendProfile(
        nullptr, [&](bool) { called = true; }, QStringLiteral("pw")));
    EXPECT_EQ(UserInfo().refresh(), 1);
    EXPECT_EQ(UserInfo().password(), "pw");

    QTimer::singleShot(0, m_session.get(), [this] { m_session->Connect(); });
    m_session->Connect();
    m_session->Connect();
    ASSERT_TRUE(waitFinished());
    ASSERT_TRUE(m_finished.back());
    EXPECT_EQ(m_stack->agent.hostIndex(), 0);
    EXPECT_TRUE(m_events.contains("motd"));
    EXPECT_EQ(m_session->motd().message(), "Hello <i>there</i>");
    ASSERT_TRUE(waitUntil([] { return UserInfo().refresh() == 0; }));
    EXPECT_EQ(fake.count('?'), 1);

    m_session->Connect();
    m_session->Connect(ConnectOrigin::StartUp);
    QCoreApplication::processEvents();
    EXPECT_EQ(fake.accepted(), 1);
    EXPECT_EQ(fake.count('L'), 1);
    EXPECT_EQ(m_tasks.count("show:Connecting to Moonrake Network"), 1);
    EXPECT_EQ(m_finished.size(), 1u);
    EXPECT_EQ(m_connectEnabled, false);

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

TEST_F(SessionTest, ClosingDuringTheMessageFetchSkipsTheSignOn) {
    FakeService fake(acceptAll);
    setServiceHosts({fake.host()});
    FakeWebServer silent;
    silent.silent = true;
    HostInfo().set(HostStore::Http, silent.host());
    QTimer::singleShot(100, m_session.get(), [this] { m_session->SignOff(); });

    QElapsedTimer clock;
    clock.start();
    m_session->Connect(ConnectOrigin::StartUp);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(silent.requests, 1);
    EXPECT_FALSE(m_session->connecting());
    QCoreApplication::processEvents();
    EXPECT_EQ(fake.accepted(), 0);
    EXPECT_TRUE(m_finished.empty());
}

}  // namespace
