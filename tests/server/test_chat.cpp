#include "chatserver.h"
#include "serverfixture.h"
#include "testutil.h"

#include <QTcpSocket>

#include <memory>
#include <optional>

using namespace mr::server;

namespace {

using Socket = std::unique_ptr<QTcpSocket>;
using Lines = QList<QByteArray>;

class Chat : public mr::test::ServerFixture {
protected:
    void start(ChatLimits limits = {}) {
        QString error;
        const auto groups = parseChatGroups(
            "# test groups\n"
            "@Music 'All about music'\n"
            "rock 'Rock talk'\n"
            "jazz\n"
            "\n"
            "@Games\n",
            &error);
        ASSERT_TRUE(groups) << error.toStdString();
        m_chat.emplace(m_store, *groups, limits);
        ASSERT_TRUE(m_chat->listen(QHostAddress::LocalHost, 0));
    }

    Socket connect() {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QHostAddress::LocalHost, m_chat->port());
        EXPECT_TRUE(
            mr::test::waitUntil([&] { return s->state() == QAbstractSocket::ConnectedState; }));
        return s;
    }

    // A new member logged in, his welcome read.
    Socket member(const QString& nick, int* id = nullptr) {
        const int user = newAccount(nick, "pw " + nick);
        if (id) {
            *id = user;
        }
        Socket s = connect();
        send(*s, "login " + QByteArray::number(user) + " 'pw " + nick.toUtf8() + "'");
        EXPECT_EQ(next(*s), "121 'Welcome To Moonrake'");
        return s;
    }

    static void send(QTcpSocket& s, const QByteArray& line) { s.write(line + "\r\n"); }

    // The next line without its CR LF; empty when none came.
    static QByteArray next(QTcpSocket& s) {
        if (!mr::test::waitUntil([&] { return s.canReadLine(); })) {
            return {};
        }
        const QByteArray line = s.readLine();
        EXPECT_TRUE(line.endsWith("\r\n")) << line.constData();
        return line.chopped(2);
    }

    static Lines lines(QTcpSocket& s, int count) {
        Lines got;
        while (got.size() < count) {
            got.append(next(s));
        }
        return got;
    }

    // What came before the peer closed the connection.
    static Lines linesUntilClosed(QTcpSocket& s) {
        EXPECT_TRUE(
            mr::test::waitUntil([&] { return s.state() == QAbstractSocket::UnconnectedState; }));
        Lines got;
        while (s.canReadLine()) {
            got.append(s.readLine().chopped(2));
        }
        return got;
    }

    std::optional<ChatServer> m_chat;
};

TEST_F(Chat, GroupsFileParsesAndRejectsWhatItCannotServe) {
    QString error;
    const auto groups = parseChatGroups("@Music 'All about music'\r\nrock 'it''s rock'\n", &error);
    ASSERT_TRUE(groups);
    ASSERT_EQ(groups->size(), 1);
    EXPECT_EQ(groups->first().topic, "All about music");
    EXPECT_EQ(groups->first().channels.first().topic, "it's rock");

    for (const QByteArray& bad :
         {QByteArray("rock\n"), QByteArray("@A\nrock x y\n"), QByteArray("@A\nrock\nrock\n"),
          QByteArray("@A\n@@x\n"), QByteArray("@A\n@A\n"), QByteArray("@A\nabc\x01\n")}) {
        EXPECT_FALSE(parseChatGroups(bad, &error)) << bad.constData();
    }
    EXPECT_FALSE(parseChatGroups("@A\none\ntwo\n", &error, {.channels = 1}));
    EXPECT_EQ(error, "line 3: more than 1 channels");
}

TEST_F(Chat, LoginIsCheckedAndTheListingGivesEachGroupThenItsChannels) {
    start();
    const int id = newAccount("carol", "secret");
    Socket wrong = connect();
    send(*wrong, "login " + QByteArray::number(id) + " nope");
    EXPECT_EQ(linesUntilClosed(*wrong), Lines{"464 'Wrong ID or password'"});
    Socket early = connect();
    send(*early, "list");
    EXPECT_EQ(linesUntilClosed(*early), Lines{"451 'Log in first'"});

    Socket alice = member("alice");
    send(*alice, "JOIN @Music rock");
    lines(*alice, 4);
    send(*alice, "list");
    EXPECT_EQ(lines(*alice, 6),
              (Lines{"321 'List Start'", "322 @Music 1 'All about music'", "322 rock 1 'Rock talk'",
                     "322 jazz 0 ''", "322 @Games 0 ''", "323 'List End'"}));
}

TEST_F(Chat, JoinTalkPartDropAndUserId) {
    start();
    int aliceId = 0;
    Socket alice = member("alice", &aliceId);
    Socket bob = member("bob");
    send(*alice, "JOIN @Music rock");
    EXPECT_EQ(lines(*alice, 4), (Lines{"201 @Music rock alice", "351 @Music rock",
                                       "353 @Music rock alice", "366 @Music rock"}));
    send(*bob, "JOIN Music rock");  // the "@" may be left out
    EXPECT_EQ(lines(*bob, 4), (Lines{"201 @Music rock bob", "351 @Music rock",
                                     "353 @Music rock alice bob", "366 @Music rock"}));
    EXPECT_EQ(next(*alice), "201 @Music rock bob");

    // Everybody gets the message, the sender too.
    send(*bob, "msg @Music rock 'it''s fine'");
    EXPECT_EQ(next(*bob), "100 @Music rock bob 'it''s fine'");
    EXPECT_EQ(next(*alice), "100 @Music rock bob 'it''s fine'");
    send(*alice, "msg @Music jazz hello");
    EXPECT_EQ(next(*alice), "442 @Music jazz 'Not in that channel'");

    // Leaving is told to the others only.
    send(*bob, "PART @Music rock");
    EXPECT_EQ(next(*alice), "202 @Music rock bob Left");
    send(*bob, "USERID ALICE");
    EXPECT_EQ(next(*bob), "204 alice " + QByteArray::number(aliceId));
    send(*bob, "USERID nobody");
    EXPECT_EQ(next(*bob), "401 nobody 'No such member'");

    send(*bob, "JOIN @Music rock");
    lines(*bob, 4);
    EXPECT_EQ(next(*alice), "201 @Music rock bob");
    alice->abort();
    EXPECT_EQ(next(*bob), "202 @Music rock alice 'Connection closed'");

    // A second login takes over from the first, which a broken connection may have left.
    int carolId = 0;
    Socket carol = member("carol", &carolId);
    send(*carol, "JOIN @Music rock");
    lines(*carol, 4);
    EXPECT_EQ(next(*bob), "201 @Music rock carol");
    Socket again = connect();
    send(*again, "login " + QByteArray::number(carolId) + " 'pw carol'");
    EXPECT_EQ(next(*again), "121 'Welcome To Moonrake'");
    EXPECT_EQ(linesUntilClosed(*carol), Lines{"464 'Logged in from elsewhere'"});
    EXPECT_EQ(next(*bob), "202 @Music rock carol 'Connection closed'");
}

TEST_F(Chat, AChannelIsMadeOnItsFirstJoinAndGoesWithItsLastMember) {
    start({.membersPerChannel = 1});
    Socket alice = member("alice");
    Socket bob = member("bob");
    send(*alice, "JOIN @Games 'Board games'");
    EXPECT_EQ(lines(*alice, 4),
              (Lines{"201 @Games 'Board games' alice", "351 @Games 'Board games'",
                     "353 @Games 'Board games' alice", "366 @Games 'Board games'"}));
    send(*bob, "list");
    EXPECT_EQ(lines(*bob, 7).mid(4, 2), (Lines{"322 @Games 1 ''", "322 'Board games' 1 ''"}));
    send(*bob, "JOIN @Games 'Board games'");
    EXPECT_EQ(next(*bob), "471 @Games 'Board games' 'Channel is full'");
    send(*bob, "JOIN @Nowhere x");
    EXPECT_EQ(next(*bob), "403 @Nowhere 'No such group'");
    send(*bob, "JOIN @Games @x");
    EXPECT_EQ(next(*bob), "479 'Bad channel name'");

    send(*alice, "PART @Games 'Board games'");
    send(*alice, "PART @Music rock");  // a starting channel stays, even empty
    EXPECT_EQ(next(*alice), "442 @Music rock 'Not in that channel'");
    send(*bob, "list");
    EXPECT_EQ(lines(*bob, 6).mid(4, 2), (Lines{"322 @Games 0 ''", "323 'List End'"}));
}

TEST_F(Chat, HostileLinesAreAnsweredAndFloodsAreHeldBack) {
    // Lines after the burst wait far longer than the test lasts.
    start({.lineBurst = 4, .linesPerSecond = 0.001});
    Socket alice = member("alice");
    Socket bob = member("bob");
    send(*alice, "JOIN @Music rock");
    lines(*alice, 4);
    send(*bob, "JOIN @Music rock");
    lines(*bob, 4);
    next(*alice);

    // Binary is answered, not fatal; one line of Bob's burst is left.
    bob->write(QByteArray("\x00\xff\x01\r\n", 5));
    EXPECT_EQ(next(*bob), "400 'Control characters are not allowed'");
    for (int i = 0; i < 50; ++i) {
        send(*bob, "msg @Music rock flood" + QByteArray::number(i));
    }
    ASSERT_TRUE(bob->waitForBytesWritten(5000));

    // A line too long is answered and skipped to its end; what follows it is read.
    Socket mallory = member("mallory");
    mallory->write(QByteArray(40000, 'x') + "\r\nlist\r\n");
    EXPECT_EQ(next(*mallory), "417 'Line too long'");
    EXPECT_TRUE(next(*mallory).startsWith("321 "));

    // An unbalanced quote still makes a message.
    send(*alice, "msg @Music rock 'it''");
    int floods = 0;
    for (QByteArray line = next(*alice); line != "100 @Music rock alice 'it'''";
         line = next(*alice)) {
        ASSERT_TRUE(line.startsWith("100 @Music rock bob flood")) << line.constData();
        ++floods;
    }
    EXPECT_LE(floods, 1);
}

}  // namespace
