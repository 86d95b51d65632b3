#include "messaging/infoprotocol.h"
#include "messaging/infosocket.h"

#include "testutil.h"

#include <gtest/gtest.h>
#include <QPointer>
#include <QTcpSocket>

#include <memory>
#include <vector>

namespace mr {
namespace {

using test::waitUntil;

void settle(int ms) {
    waitUntil([] { return false; }, ms);
}

// A peer connected to the info socket that records what comes back.
class Peer {
public:
    explicit Peer(quint16 port) {
        QObject::connect(&m_socket, &QTcpSocket::readyRead,
                         [this] { m_received += m_socket.readAll(); });
        QObject::connect(&m_socket, &QTcpSocket::disconnected, [this] { m_closed = true; });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool connected() {
        return waitUntil([this] { return m_socket.state() == QAbstractSocket::ConnectedState; },
                         5000);
    }
    bool send(const QByteArray& data) {
        if (!connected()) {
            return false;
        }
        m_socket.write(data);
        return m_socket.flush() || m_socket.bytesToWrite() == 0;
    }
    // The end of what this peer sends.
    void close() { m_socket.disconnectFromHost(); }
    bool waitClosed(int ms = 5000) {
        return waitUntil([this] { return m_closed; }, ms);
    }
    bool closed() const { return m_closed; }
    QByteArray received() const { return m_received; }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
    bool m_closed = false;
};

struct Message {
    qint32 userId;
    QString nickname;
    QString address;
    quint16 port;
    QString text;
};

class InfoSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_info.open());
        ASSERT_NE(m_info.port(), 0);
        QObject::connect(&m_info, &InfoSocket::messageReceived,
                         [this](qint32 id, const QString& nick, const QString& address,
                                quint16 port, const QString& text) {
                             m_messages.push_back({id, nick, address, port, text});
                         });
        QObject::connect(&m_info, &InfoSocket::badRequest,
                         [this](const QString& why) { m_errors.append(why); });
    }
    bool idle() {
        return waitUntil([this] { return m_info.connectionCount() == 0; }, 5000);
    }

    InfoSocket m_info;
    std::vector<Message> m_messages;
    QStringList m_errors;
};

TEST_F(InfoSocketTest, PingIsAnsweredWithExactlyPongAndClosed) {
    for (const QByteArray& ping : {QByteArray("PING!"), QByteArray("PING! and more")}) {
        Peer peer(m_info.port());
        ASSERT_TRUE(peer.send(ping));
        ASSERT_TRUE(peer.waitClosed());
        EXPECT_EQ(peer.received(), QByteArray("PONG!"));
    }
    EXPECT_TRUE(idle());
    EXPECT_TRUE(m_messages.empty());
    EXPECT_TRUE(m_errors.isEmpty());
}

TEST_F(InfoSocketTest, MessageIsReadUntilItsSenderClosesAndReportedWhole) {
    const QString body = MessageBodyFromLines({QStringLiteral(" hi *there*"), QString()});
    const QByteArray line = BuildMessageText(77, QStringLiteral("alice"), 4321, body);
    Peer peer(m_info.port());
    // The network may hand a message over in pieces; only the sender's close ends it.
    ASSERT_TRUE(peer.send(line.left(20)));
    settle(100);
    EXPECT_TRUE(m_messages.empty());
    ASSERT_TRUE(peer.send(line.mid(20)));
    peer.close();
    ASSERT_TRUE(waitUntil([this] { return !m_messages.empty(); }));
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].userId, 77);
    EXPECT_EQ(m_messages[0].nickname, QStringLiteral("alice"));
    EXPECT_EQ(m_messages[0].address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(m_messages[0].port, 4321);
    EXPECT_EQ(m_messages[0].text, body);
    EXPECT_TRUE(peer.received().isEmpty());

    // An empty message travels as "*" and arrives empty; a second one is a second report.
    Peer second(m_info.port());
    ASSERT_TRUE(second.send("MSG 77 alice 4321 *"));
    second.close();
    ASSERT_TRUE(waitUntil([this] { return m_messages.size() == 2; }));
    EXPECT_TRUE(m_messages[1].text.isEmpty());
    EXPECT_TRUE(idle());
}

TEST_F(InfoSocketTest, RequestsLeftOpenEndAtTheIdleTimeOutAMessageDelivered) {
    m_info.setIdleTimeout(600);
    Peer lower(m_info.port());
    Peer unfinished(m_info.port());
    Peer silent(m_info.port());
    Peer malformed(m_info.port());
    ASSERT_TRUE(lower.send("msg 1 bob 2 hi"));
    ASSERT_TRUE(unfinished.send("MSG 1 bob 2 hi"));
    ASSERT_TRUE(silent.connected());
    ASSERT_TRUE(malformed.send("MSG one bob 2 hi"));
    malformed.close();
    ASSERT_TRUE(waitUntil([this] { return !m_errors.isEmpty(); }));

    settle(200);
    EXPECT_FALSE(lower.closed());
    EXPECT_FALSE(unfinished.closed());
    EXPECT_FALSE(silent.closed());
    EXPECT_TRUE(lower.received().isEmpty());
    EXPECT_EQ(m_errors.size(), 1);

    // A message whose sender waits for our close is taken as it stands; the rest are dropped.
    EXPECT_TRUE(lower.waitClosed());
    EXPECT_TRUE(unfinished.waitClosed());
    EXPECT_TRUE(silent.waitClosed());
    EXPECT_TRUE(idle());
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, QStringLiteral("hi"));
}

TEST_F(InfoSocketTest, SilentPeersInEveryPlaceDoNotKeepAPingOut) {
    std::vector<std::unique_ptr<Peer>> silent;
    for (int i = 0; i <= InfoSocket::kDefaultMaxConnections; ++i) {
        silent.push_back(std::make_unique<Peer>(m_info.port()));
        ASSERT_TRUE(silent.back()->connected());
    }
    ASSERT_TRUE(waitUntil(
        [this] { return m_info.connectionCount() == InfoSocket::kDefaultMaxConnections; }));
    // The oldest made room for the last one, and the next oldest makes room for the ping.
    EXPECT_TRUE(silent[0]->waitClosed());
    Peer ping(m_info.port());
    ASSERT_TRUE(ping.send("PING!"));
    ASSERT_TRUE(ping.waitClosed());
    EXPECT_EQ(ping.received(), QByteArray("PONG!"));
    EXPECT_TRUE(silent[1]->waitClosed());
    EXPECT_FALSE(silent.back()->closed());
}

TEST_F(InfoSocketTest, OversizedRequestClosesTheConnectionAndTheSocketKeepsServing) {
    m_info.setMaxRequestSize(1024);
    // Unknown text is otherwise left open, so only the cap can close these.
    Peer big(m_info.port());
    ASSERT_TRUE(big.send(QByteArray(4096, 'a')));
    ASSERT_TRUE(big.waitClosed(3000));  // well before the 30 s idle time-out
    Peer bigMessage(m_info.port());
    ASSERT_TRUE(bigMessage.send("MSG 1 bob 2 " + QByteArray(4096, 'a')));
    ASSERT_TRUE(bigMessage.waitClosed(3000));
    EXPECT_TRUE(m_messages.empty());

    Peer ping(m_info.port());
    ASSERT_TRUE(ping.send("PING!"));
    ASSERT_TRUE(ping.waitClosed());
    EXPECT_EQ(ping.received(), QByteArray("PONG!"));
}

TEST_F(InfoSocketTest, ChatRequestHandsTheConnectionOver) {
    QPointer<QTcpSocket> handed;
    QString nickname;
    QString text;
    QObject::connect(&m_info, &InfoSocket::chatRequested,
                     [&](QTcpSocket* connection, const QString& nick, const QString& reason) {
                         handed = connection;
                         nickname = nick;
                         text = reason;
                     });
    m_info.setIdleTimeout(300);
    Peer peer(m_info.port());
    ASSERT_TRUE(
        peer.send(BuildChatRequestText(QStringLiteral("bob"), QStringLiteral("let's talk"))));
    ASSERT_TRUE(waitUntil([&] { return !handed.isNull(); }));
    EXPECT_EQ(nickname, QStringLiteral("bob"));
    EXPECT_EQ(text, QStringLiteral("let's talk"));
    EXPECT_EQ(handed->parent(), nullptr);
    EXPECT_EQ(m_info.connectionCount(), 0);

    // The receiver owns it now: the idle time-out no longer applies, and it still talks.
    settle(600);
    EXPECT_FALSE(peer.closed());
    handed->write("ACCEPT");
    ASSERT_TRUE(waitUntil([&] { return peer.received() == "ACCEPT"; }));
    delete handed.data();
    EXPECT_TRUE(peer.waitClosed());
}

TEST_F(InfoSocketTest, ChatRequestWithNoReceiverIsClosed) {
    Peer peer(m_info.port());
    ASSERT_TRUE(peer.send("PTPCHAT bob hi"));
    EXPECT_TRUE(peer.waitClosed());
    EXPECT_TRUE(idle());
}

}  // namespace
}  // namespace mr
