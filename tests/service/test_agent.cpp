#include "fakeservice.h"

#include "core/hostinfo.h"
#include "core/profile.h"
#include "core/record.h"
#include "core/userinfo.h"
#include "service/agent.h"
#include "service/headlesssession.h"
#include "service/idlequeue.h"
#include "service/processingthread.h"
#include "service/wire.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace mr;
using mr::test::FakeConnection;
using mr::test::FakeService;
using mr::test::Gate;
using mr::test::SeenRequest;
using mr::test::waitUntil;

namespace {

const QByteArray kPing = "/mrPing/mrpingserver.dll";

QByteArray bytes(int n, char c) {
    return QByteArray(n, c);
}

// Answers "L" with success, as every keep-alive script starts.
bool acceptLogin(FakeConnection& c) {
    const auto login = c.readRequest();
    return login && login->code() == 'L' && c.send(wire::endRecord('T', true));
}

// Answers each keep-alive request from a table of replies by request code.
void answerByCode(FakeConnection& c, const std::map<char, QByteArray>& replies) {
    if (!acceptLogin(c)) {
        return;
    }
    while (const auto r = c.readRequest()) {
        const auto it = replies.find(r->code());
        if (it == replies.end() || !c.send(it->second)) {
            return;
        }
    }
}

struct Outcome {
    bool called = false;
    bool failed = false;
    char kind = 0;
    QByteArray data;
    bool onMainThread = false;
};

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

    void TearDown() override {
        m_processing.reset();
        m_agent.reset();
        m_idle.reset();
    }

    void start(std::initializer_list<std::uint16_t> ports) {
        QStringList hosts;
        for (const auto p : ports) {
            hosts << QStringLiteral("127.0.0.1:%1").arg(p);
        }
        HostInfo().set(THostInfo::Moonrake, hosts.join(QLatin1Char(',')));
        m_idle = std::make_unique<TIdleQueue>();
        m_agent = std::make_unique<TMRAgentHttp>(m_idle.get());
        m_agent->connection().setTimeout(5000);
        m_processing = std::make_unique<TProcessingThread>(m_agent->connection());
        QObject::connect(m_agent.get(), &TMRAgentHttp::OnLogin,
                         [this](bool ok) { m_logins.push_back(ok); });
        QObject::connect(m_agent.get(), &TMRAgentHttp::OnDisconnect, [this] {
            ++m_disconnects;
            m_disconnectOnMain = QThread::currentThread() == qApp->thread();
        });
    }

    bool signOn() {
        const size_t before = m_logins.size();
        m_agent->ServiceLogin(1111, 2222);
        return waitUntil([&] { return m_logins.size() > before; }) && m_logins.back();
    }

    TRequestHandler into(Outcome& o) {
        return [&o](TRequest& r) {
            o.called = true;
            o.failed = r.failed();
            o.kind = r.replyKind();
            o.data = r.replyData();
            o.onMainThread = QThread::currentThread() == qApp->thread();
        };
    }

    QTemporaryDir m_dir;
    std::unique_ptr<TIdleQueue> m_idle;
    std::unique_ptr<TMRAgentHttp> m_agent;
    std::unique_ptr<TProcessingThread> m_processing;
    std::vector<bool> m_logins;
    int m_disconnects = 0;
    bool m_disconnectOnMain = false;
};

TEST_F(AgentTest, KeepAliveFramingAndSequenceNumbers) {
    FakeService fake([](FakeConnection& c, int) {
        if (!acceptLogin(c)) {
            return;
        }
        if (c.readRequest()) {
            c.send(wire::replyRecord('P', "ok"));
        }
        c.readRequest();  // "Q", or the end of the second channel
        c.peerClosed();
    });
    start({fake.port()});
    ASSERT_TRUE(signOn());
    EXPECT_TRUE(m_agent->online());
    EXPECT_FALSE(m_agent->connecting());

    Outcome profile;
    ASSERT_TRUE(m_agent->SendProfile(nullptr, into(profile)));
    ASSERT_TRUE(waitUntil([&] { return profile.called; }));
    EXPECT_FALSE(profile.failed);
    EXPECT_EQ(profile.data, "ok");
    EXPECT_TRUE(profile.onMainThread);

    m_agent->ServiceLogout();
    EXPECT_FALSE(m_agent->online());
    EXPECT_FALSE(m_agent->connection().connected());
    ASSERT_TRUE(signOn());  // a new keep-alive channel numbers from 1 again

    const auto seen = fake.requests();
    ASSERT_EQ(seen.size(), 4u);
    const QByteArray login = PackRecord("IAWW", {7, "pw", 1111, 2222}).bytes;
    EXPECT_EQ(seen[0].raw,
              "POST /mrPing/mrpingserver.dll\r\nConnection: Keep-Alive\r\n"
              "Content-Length: " +
                  QByteArray::number(login.size() + 3) + "\r\n\r\nL\x01" + QByteArray(1, '\0') +
                  login);
    EXPECT_EQ(seen[1].code(), '?');
    EXPECT_EQ(seen[1].sequence(), 2);
    EXPECT_EQ(seen[1].body.mid(3), TMRAgentHttp::profilePayload(UserInfo()));
    EXPECT_EQ(seen[2].raw, QByteArray("POST /mrPing/mrpingserver.dll\r\nConnection: Keep-Alive\r\n"
                                      "Content-Length: 3\r\n\r\nQ\x03\x00",
                                      79));
    EXPECT_EQ(seen[3].code(), 'L');
    EXPECT_EQ(seen[3].sequence(), 1);
    EXPECT_EQ(m_disconnects, 0);  // a sign-off is no lost connection
}

TEST_F(AgentTest, ProfilePayloadTakesTheSettings) {
    UserInfo().setFirstName(QStringLiteral("Ann"));
    UserInfo().setConnection(8);
    UserInfo().setShowInfo(1);
    QByteArray first, last, email, country, password, sex, message, languages, homepage;
    std::uint8_t connection = 0, showInfo = 0;
    double bdate = 0;
    const auto unpack = [&](const QByteArray& payload) {
        return UnpackRecord(payload, "AAAAABDAAAAB",
                            {&first, &last, &email, &country, &password, &connection, &bdate, &sex,
                             &message, &languages, &homepage, &showInfo});
    };
    const QByteArray payload = TMRAgentHttp::profilePayload(UserInfo());
    const auto r = unpack(payload);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.consumed, payload.size());
    EXPECT_EQ(first, "Ann");
    EXPECT_EQ(password, "pw");
    EXPECT_EQ(connection, 8);
    EXPECT_EQ(bdate, 36526.5);
    EXPECT_EQ(sex, "F");
    EXPECT_EQ(showInfo, 1);

    UserInfo().setSex(QStringLiteral("  "));
    unpack(TMRAgentHttp::profilePayload(UserInfo()));
    EXPECT_EQ(sex, "");
}

TEST_F(AgentTest, RepliesAreAssembledFromRecords) {
    FakeService fake([](FakeConnection& c, int) {
        answerByCode(
            c, {
                   // multi-record: 10 + 20 bytes, then the end
                   {'C', wire::replyRecord('C', bytes(10, 'a')) +
                             wire::replyRecord('C', bytes(20, 'b')) + wire::endRecord('T', true)},
                   // single-record answered by an error end
                   {'A', wire::endRecord('E', true)},
                   // data, then an error end: the data stays
                   {'D', wire::replyRecord('D', bytes(5, 'd')) + wire::endRecord('E', true)},
                   // an end record carrying bytes anyway
                   {'?', wire::replyRecord('P', "x")},
               });
    });
    start({fake.port()});
    ASSERT_TRUE(signOn());

    Outcome multi, errorFirst, errorMid, after;
    ASSERT_TRUE(m_agent->PollContacts(nullptr, into(multi)));
    ASSERT_TRUE(m_agent->AddContact(nullptr, into(errorFirst), QStringLiteral("bob")));
    ASSERT_TRUE(m_agent->RemoveContact(nullptr, into(errorMid), 12));
    ASSERT_TRUE(m_agent->SendProfile(nullptr, into(after)));
    ASSERT_TRUE(waitUntil([&] { return after.called; }));

    ASSERT_TRUE(multi.called && errorFirst.called && errorMid.called);
    EXPECT_FALSE(multi.failed);
    EXPECT_EQ(multi.kind, 'T');
    EXPECT_EQ(multi.data, bytes(10, 'a') + bytes(20, 'b'));
    EXPECT_TRUE(errorFirst.failed);
    EXPECT_EQ(errorFirst.kind, 'E');
    EXPECT_TRUE(errorFirst.data.isEmpty());
    EXPECT_TRUE(errorMid.failed);
    EXPECT_EQ(errorMid.data, bytes(5, 'd'));
    EXPECT_FALSE(after.failed);  // an error end leaves the channel in step
    EXPECT_EQ(after.data, "x");
    EXPECT_TRUE(m_agent->online());
    EXPECT_EQ(fake.requests().at(2).body, QByteArray("A\x03\x00"
                                                     "bob\x00",
                                                     7));
}

TEST_F(AgentTest, EndRecordWithPayloadIsSkipped) {
    FakeService fake([](FakeConnection& c, int) {
        answerByCode(c, {{'C', wire::replyRecord('C', "abc") + wire::replyRecord('T', "junk") +
                                   QByteArray(1, '\0')},
                         {'?', wire::replyRecord('P', "ok")}});
    });
    start({fake.port()});
    ASSERT_TRUE(signOn());
    Outcome contacts, profile;
    ASSERT_TRUE(m_agent->PollContacts(nullptr, into(contacts)));
    ASSERT_TRUE(m_agent->SendProfile(nullptr, into(profile)));
    ASSERT_TRUE(waitUntil([&] { return profile.called; }));
    EXPECT_FALSE(contacts.failed);
    EXPECT_EQ(contacts.data, "abc");
    EXPECT_EQ(profile.data, "ok");
}

TEST_F(AgentTest, BrokenRecordLengthEndsTheChannel) {
    Gate bothQueued;
    FakeService fake([&](FakeConnection& c, int) {
        if (acceptLogin(c) && c.readRequest() && bothQueued.wait()) {
            c.send(
                QByteArray("\x02\x00"
                           "C\x00\x00",
                           5));
            c.peerClosed();
        }
    });
    start({fake.port()});
    ASSERT_TRUE(signOn());
    Outcome broken, queued;
    ASSERT_TRUE(m_agent->PollContacts(nullptr, into(broken)));
    ASSERT_TRUE(m_agent->SendProfile(nullptr, into(queued)));
    bothQueued.open();
    ASSERT_TRUE(waitUntil([&] { return broken.called && queued.called && m_disconnects == 1; }));
    EXPECT_TRUE(broken.failed);
    EXPECT_TRUE(queued.failed);
    EXPECT_TRUE(m_disconnectOnMain);
    EXPECT_FALSE(m_agent->online());
    Outcome late;
    EXPECT_FALSE(m_agent->SendProfile(nullptr, into(late)));
}

TEST_F(AgentTest, ReplyBeyondTheCapFails) {
    FakeService fake([](FakeConnection& c, int) {
        answerByCode(
            c, {{'C', wire::replyRecord('C', bytes(60, 'a')) +
                          wire::replyRecord('C', bytes(60, 'b')) + wire::endRecord('T', true)}});
    });
    start({fake.port()});
    m_agent->connection().setMaxReplyBytes(100);
    ASSERT_TRUE(signOn());
    Outcome big;
    ASSERT_TRUE(m_agent->PollContacts(nullptr, into(big)));
    ASSERT_TRUE(waitUntil([&] { return big.called; }));
    EXPECT_TRUE(big.failed);
    EXPECT_LE(big.data.size(), 100);
}

TEST_F(AgentTest, ConnectionLostWhileIdleRaisesOnDisconnect) {
    FakeService fake([](FakeConnection& c, int) { acceptLogin(c); });
    start({fake.port()});
    ASSERT_TRUE(signOn());
    ASSERT_TRUE(waitUntil([&] { return m_disconnects == 1; }));
    EXPECT_TRUE(m_disconnectOnMain);
    EXPECT_FALSE(m_agent->online());
    EXPECT_FALSE(m_agent->connection().connected());
}

TEST_F(AgentTest, ServiceSilentPastTheTimeoutFailsTheRequest) {
    FakeService fake([](FakeConnection& c, int) {
        if (acceptLogin(c)) {
            c.readRequest();
            c.peerClosed();
        }
    });
    start({fake.port()});
    m_agent->connection().setTimeout(300);
    ASSERT_TRUE(signOn());
    Outcome silent;
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(m_agent->SendProfile(nullptr, into(silent)));
    ASSERT_TRUE(waitUntil([&] { return silent.called && m_disconnects == 1; }));
    EXPECT_TRUE(silent.failed);
    EXPECT_LT(timer.elapsed(), 3000);
}

TEST_F(AgentTest, SlowKeepAliveReplyDoesNotHoldUpOneShots) {
    Gate oneShotDone;
    FakeService fake([&](FakeConnection& c, int) {
        const auto first = c.readRequest();
        if (!first) {
            return;
        }
        if (!first->keepAlive) {
            c.send(wire::replyRecord('H', PackRecord("AWW", {"10.0.0.5", 3001, 3002}).bytes));
            c.peerClosed();
            return;
        }
        c.send(wire::endRecord('T', true));
        if (c.readRequest() && oneShotDone.wait()) {
            c.send(wire::replyRecord('P', "late"));
        }
        c.readRequest();
    });
    start({fake.port()});
    ASSERT_TRUE(signOn());
    std::vector<char> order;
    Outcome locate;
    ASSERT_TRUE(m_agent->SendProfile(nullptr, [&](TRequest& r) { order.push_back(r.code()); }));
    ASSERT_TRUE(m_agent->LocateUser(
        nullptr,
        [&](TRequest& r) {
            order.push_back(r.code());
            locate.data = r.replyData();
            oneShotDone.open();
        },
        42));
    ASSERT_TRUE(waitUntil([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<char>{'H', '?'}));
    const auto where = TUserLocation::parse(locate.data);
    ASSERT_TRUE(where);
    EXPECT_EQ(where->address, "10.0.0.5");
    EXPECT_EQ(where->infoPort, 3001);
    EXPECT_EQ(where->fileServerPort, 3002);
}

TEST_F(AgentTest, SixOneShotsAreServedByFiveWorkers) {
    Gate release;
    std::atomic<int> closedByClient{0};
    std::atomic<int> inFlight{0};
    std::atomic<int> maxInFlight{0};
    FakeService fake([&](FakeConnection& c, int) {
        const auto first = c.readRequest();
        if (!first) {
            return;
        }
        if (first->keepAlive) {
            c.send(wire::endRecord('T', true));
            c.readRequest();
            return;
        }
        const int now = ++inFlight;
        for (int seen = maxInFlight; now > seen && !maxInFlight.compare_exchange_weak(seen, now);) {
        }
        release.wait();
        --inFlight;
        c.send(wire::replyRecord('H', PackRecord("AWW", {"", 0, 0}).bytes));
        if (c.peerClosed()) {
            ++closedByClient;
        }
    });
    start({fake.port()});
    ASSERT_TRUE(signOn());
    int done = 0;
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(m_agent->LocateUser(
            nullptr, [&](TRequest& r) { done += !r.failed(); }, i));
    }
    const auto oneShots = [&] {
        int n = 0;
        for (const SeenRequest& r : fake.requests()) {
            n += r.code() == 'H';
        }
        return n;
    };
    ASSERT_TRUE(waitUntil([&] { return oneShots() == 5; }));
    EXPECT_EQ(m_agent->connection().oneShotWorkerCount(), 5);
    EXPECT_EQ(oneShots(), 5);  // the sixth waits for a free worker
    release.open();
    ASSERT_TRUE(waitUntil([&] { return done == 6; }));
    EXPECT_EQ(maxInFlight, 5);
    EXPECT_TRUE(waitUntil([&] { return closedByClient == 6; }));
    for (const SeenRequest& r : fake.requests()) {
        if (r.code() == 'H') {
            EXPECT_FALSE(r.raw.contains("Connection:"));
            EXPECT_TRUE(r.raw.startsWith("POST " + kPing + "\r\nContent-Length: 7\r\n\r\nH"));
        }
    }
}

TEST_F(AgentTest, ReplyForAGoneOwnerCallsNoHandler) {
    Gate ownerGone;
    FakeService fake([&](FakeConnection& c, int) {
        if (!acceptLogin(c) || !c.readRequest() || !ownerGone.wait()) {
            return;
        }
        c.send(wire::replyRecord('A', PackRecord("I", {99}).bytes));
        if (c.readRequest()) {
            c.send(wire::endRecord('T', true));
        }
        c.readRequest();
    });
    start({fake.port()});
    ASSERT_TRUE(signOn());
    auto* window = new QObject;
    bool windowHandlerCalled = false;
    Outcome later;
    ASSERT_TRUE(m_agent->AddContact(
        window, [&](TRequest&) { windowHandlerCalled = true; }, QStringLiteral("bob")));
    ASSERT_TRUE(m_agent->PollContacts(nullptr, into(later)));
    delete window;
    ownerGone.open();
    ASSERT_TRUE(waitUntil([&] { return later.called; }));
    EXPECT_FALSE(windowHandlerCalled);
}

TEST_F(AgentTest, RefusedRequestIsReportedAndNeverCompletes) {
    start({mr::test::refusedPort()});
    QObject owner;
    bool called = false;
    EXPECT_FALSE(m_agent->LocateUser(
        &owner, [&](TRequest&) { called = true; }, 1));
    EXPECT_FALSE(m_agent->SendProfile(&owner, [&](TRequest&) { called = true; }));
    EXPECT_TRUE(owner.children().isEmpty());
    EXPECT_FALSE(signOn());
    EXPECT_FALSE(called);
    EXPECT_FALSE(m_agent->connecting());
    EXPECT_EQ(m_disconnects, 0);  // a refused connection is no lost one
}

// A listener whose backlog is full, so a new connection attempt hangs.
class StuckListener {
public:
    StuckListener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_fd, 0);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        for (int i = 0; i < 8 && !stuck; ++i) {
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            m_clients.push_back(c);
            ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            pollfd p{c, POLLOUT, 0};
            stuck = ::poll(&p, 1, 200) == 0;
        }
    }
    ~StuckListener() {
        for (const int c : m_clients) {
            ::close(c);
        }
        ::close(m_fd);
    }
    std::uint16_t port = 0;
    bool stuck = false;

private:
    int m_fd = -1;
    std::vector<int> m_clients;
};

TEST_F(AgentTest, CancelEndsAWaitingConnect) {
    StuckListener listener;
    if (!listener.stuck) {
        GTEST_SKIP() << "the loopback listener accepted every connection";
    }
    start({listener.port});
    THttpCompSync& connection = m_agent->connection();
    connection.setService(QStringLiteral("127.0.0.1"), listener.port);
    QTimer::singleShot(100, [&] { connection.Cancel(); });
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(connection.Connect());
    EXPECT_LT(timer.elapsed(), 100 + 500);
    timer.restart();
    EXPECT_FALSE(connection.Connect());  // cancelled for the rest of the run
    EXPECT_LT(timer.elapsed(), 50);
}

TEST_F(AgentTest, SignOnTriesEachHostInTurn) {
    FakeService rejecting([](FakeConnection& c, int) {
        if (c.readRequest()) {
            c.send(wire::endRecord('E', true));
        }
        c.readRequest();
    });
    FakeService accepting([](FakeConnection& c, int) {
        const auto first = c.readRequest();
        if (first && first->keepAlive) {
            c.send(wire::endRecord('T', true));
            c.readRequest();
        } else if (first) {
            c.send(wire::replyRecord('H', PackRecord("AWW", {"127.0.0.9", 1, 2}).bytes));
        }
    });
    start({mr::test::refusedPort(), rejecting.port(), accepting.port()});
    {
        THeadlessSession session;
        session.setStepTimeout(5000);
        ASSERT_TRUE(session.signOn(0, 0));
        EXPECT_EQ(session.agent().hostIndex(), 2);
        const auto where = session.locate(5);
        ASSERT_TRUE(where);
        EXPECT_EQ(where->address, "127.0.0.9");
        session.signOff();
        EXPECT_FALSE(session.agent().online());
    }
    EXPECT_EQ(rejecting.requests().size(), 1u);
    // After the last host the index wraps to the first one.
    m_agent->AdvanceHost();
    m_agent->AdvanceHost();
    m_agent->AdvanceHost();
    EXPECT_FALSE(signOn());
    EXPECT_EQ(m_agent->hostIndex(), 0);
}

TEST(IdleQueue, RunsDeferredCallsOnTheMainThread) {
    TIdleQueue idle;
    int once = 0, repeated = 0;
    bool onMain = false;
    std::thread worker([&] {
        idle.Add(nullptr, [&](bool& done) {
            ++once;
            onMain = QThread::currentThread() == qApp->thread();
            done = true;
        });
    });
    worker.join();
    std::uint64_t id = 0;
    id = idle.Add(nullptr, [&](bool&) {
        if (++repeated == 3) {
            idle.Remove(id);  // a call may take itself out
        }
    });
    auto context = std::make_unique<QObject>();
    bool orphanRan = false;
    idle.Add(context.get(), [&](bool&) { orphanRan = true; });
    context.reset();
    for (int i = 0; i < 3; ++i) {
        QTimer::singleShot(0, [] {});  // each event gives the loop one more idle moment
        ASSERT_TRUE(waitUntil([&] { return repeated > i; }));
    }
    EXPECT_TRUE(waitUntil([&] { return idle.count() == 0; }));
    EXPECT_EQ(once, 1);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(repeated, 3);
    EXPECT_FALSE(orphanRan);
}

}  // namespace
