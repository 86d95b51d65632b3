#include "fakeservice.h"

#include "core/hostinfo.h"
#include "core/profile.h"
#include "core/record.h"
#include "core/userinfo.h"
#include "service/agent.h"
#include "service/idlequeue.h"
#include "service/processingthread.h"
#include "service/wire.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
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

    void TearDown() override { stop(); }

    void stop() {
        m_processing.reset();
        m_agent.reset();
        m_idle.reset();
        m_logins.clear();
        m_disconnects = 0;
    }

    void start(std::uint16_t port) {
        stop();
        HostInfo().set(HostStore::Moonrake, QStringLiteral("127.0.0.1:%1").arg(port));
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

    RequestHandler into(Outcome& o) {
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

// One keep-alive conversation: framing, sequence numbers, replies put together from records,
// a reply for a window that has gone, and a sign-off after which numbering starts again.
TEST_F(AgentTest, KeepAliveChannelCarriesTheSignedOnRequests) {
    FakeService fake([](FakeConnection& c, int) {
        answerByCode(c, {
                            {'?', wire::replyRecord('P', "ok")},
                            // multi-record: 10 + 20 bytes, then the end
                            {'C', wire::replyRecord('C', QByteArray(10, 'a')) +
                                      wire::replyRecord('C', QByteArray(20, 'b')) +
                                      wire::endRecord('T', true)},
                            // single-record answered by an error end
                            {'A', wire::endRecord('E', true)},
                            {'D', wire::endRecord('T', true)},
                        });
    });
    start(fake.port());
    ASSERT_TRUE(signOn());
    EXPECT_TRUE(m_agent->online());
    EXPECT_FALSE(m_agent->connecting());

    Outcome profile, error, multi;
    auto* window = new QObject;
    bool windowHandlerCalled = false;
    ASSERT_TRUE(m_agent->SendProfile(nullptr, into(profile)));
    ASSERT_TRUE(m_agent->AddContact(nullptr, into(error), QStringLiteral("bob")));
    ASSERT_TRUE(m_agent->RemoveContact(
        window, [&](TRequest&) { windowHandlerCalled = true; }, 5));
    delete window;  // before its reply can be handled on this thread
    ASSERT_TRUE(m_agent->PollContacts(nullptr, into(multi)));
    ASSERT_TRUE(waitUntil([&] { return multi.called; }));
    EXPECT_FALSE(profile.failed);
    EXPECT_EQ(profile.data, "ok");
    EXPECT_TRUE(profile.onMainThread);
    EXPECT_TRUE(error.failed);
    EXPECT_EQ(error.kind, 'E');
    EXPECT_TRUE(error.data.isEmpty());
    EXPECT_FALSE(windowHandlerCalled);
    EXPECT_FALSE(multi.failed);  // an error end leaves the channel in step
    EXPECT_EQ(multi.kind, 'T');
    EXPECT_EQ(multi.data, QByteArray(10, 'a') + QByteArray(20, 'b'));

    m_agent->ServiceLogout();
    EXPECT_FALSE(m_agent->online());
    EXPECT_FALSE(m_agent->connection().connected());
    ASSERT_TRUE(signOn());        // a new keep-alive channel numbers from 1 again
    EXPECT_EQ(m_disconnects, 0);  // a sign-off is no lost connection

    const auto seen = fake.requests();
    ASSERT_EQ(seen.size(), 7u);
    const QByteArray login = PackRecord("IAWW", {7, "pw", 1111, 2222}).bytes;
    EXPECT_EQ(seen[0].raw,
              "POST /mrPing/mrpingserver.dll\r\nConnection: Keep-Alive\r\n"
              "Content-Length: " +
                  QByteArray::number(login.size() + 3) + "\r\n\r\nL\x01" + QByteArray(1, '\0') +
                  login);
    EXPECT_EQ(seen[1].sequence(), 2);
    // The profile from the settings; the sex goes as its first letter.
    EXPECT_EQ(
        seen[1].body.mid(3),
        PackRecord("AAAAABDAAAAB", {"", "", "", "", "pw", 0, 36526.5, "F", "", "", "", 0}).bytes);
    EXPECT_EQ(seen[2].body, QByteArray("A\x03\x00"
                                       "bob\x00",
                                       7));
    EXPECT_EQ(seen[5].raw, QByteArray("POST /mrPing/mrpingserver.dll\r\nConnection: Keep-Alive\r\n"
                                      "Content-Length: 3\r\n\r\nQ\x06\x00",
                                      79));
    EXPECT_EQ(seen[6].code(), 'L');
    EXPECT_EQ(seen[6].sequence(), 1);

    // A sex that is blank once trimmed goes as an empty text.
    UserInfo().setSex(QStringLiteral("  "));
    UserInfo().setShowInfo(1);
    EXPECT_EQ(
        TMRAgentHttp::profilePayload(UserInfo()),
        PackRecord("AAAAABDAAAAB", {"", "", "", "", "pw", 0, 36526.5, "", "", "", "", 1}).bytes);
}

// A record too short for its header, a reply beyond the cap and silence past the time-out
// each end the channel: the request and the one queued behind it fail, and the loss is
// reported on the main thread.
TEST_F(AgentTest, AHostileOrSilentServiceEndsTheChannel) {
    const QByteArray shortRecord(
        "\x02\x00"
        "C\x00\x00",
        5);
    const QByteArray beyondCap = wire::replyRecord('C', QByteArray(60, 'a')) +
                                 wire::replyRecord('C', QByteArray(60, 'b')) +
                                 wire::endRecord('T', true);
    for (const QByteArray& reply : {shortRecord, beyondCap, QByteArray()}) {
        SCOPED_TRACE(reply.size());
        Gate bothQueued;
        FakeService fake([&](FakeConnection& c, int) {
            if (acceptLogin(c) && c.readRequest() && bothQueued.wait()) {
                c.send(reply);
                c.peerClosed();
            }
        });
        start(fake.port());
        m_agent->connection().setMaxReplyBytes(100);
        ASSERT_TRUE(signOn());
        m_agent->connection().setTimeout(300);
        Outcome first, queued;
        ASSERT_TRUE(m_agent->PollContacts(nullptr, into(first)));
        ASSERT_TRUE(m_agent->SendProfile(nullptr, into(queued)));
        bothQueued.open();
        ASSERT_TRUE(waitUntil([&] { return first.called && queued.called && m_disconnects == 1; }));
        EXPECT_TRUE(first.failed);
        EXPECT_LE(first.data.size(), 100);
        EXPECT_TRUE(queued.failed);
        EXPECT_TRUE(m_disconnectOnMain);
        EXPECT_FALSE(m_agent->online());
        Outcome late;
        EXPECT_FALSE(m_agent->SendProfile(nullptr, into(late)));
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
        if (!first) {
            return;
        }
        if (first->keepAlive) {
            c.send(wire::endRecord('T', true));
            if (c.readRequest() && oneShotsDone.wait()) {
                c.send(wire::replyRecord('P', "late"));
            }
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
    start(fake.port());
    ASSERT_TRUE(signOn());
    std::vector<char> order;
    ASSERT_TRUE(m_agent->SendProfile(nullptr, [&](TRequest& r) { order.push_back(r.code()); }));
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(m_agent->LocateUser(
            nullptr,
            [&](TRequest& r) {
                order.push_back(r.failed() ? '!' : r.code());
                if (order.size() == 6) {
                    oneShotsDone.open();
                }
            },
            i));
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
    release.open();
    ASSERT_TRUE(waitUntil([&] { return order.size() == 7; }));
    EXPECT_EQ(order, (std::vector<char>{'H', 'H', 'H', 'H', 'H', 'H', '?'}));
    EXPECT_EQ(maxInFlight, 5);
    EXPECT_TRUE(waitUntil([&] { return closedByClient == 6; }));
    for (const SeenRequest& r : fake.requests()) {
        if (r.code() == 'H') {
            EXPECT_TRUE(r.raw.startsWith("POST " + kPing + "\r\nContent-Length: 7\r\n\r\nH"));
        }
    }
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
    start(listener.port);
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

}  // namespace
