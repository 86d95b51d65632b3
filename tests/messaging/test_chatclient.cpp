#include "chatscript.h"

#include "core/hostinfo.h"
#include "core/profile.h"
#include "core/userinfo.h"
#include "messaging/chatclient.h"
#include "testutil.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace mr {
namespace {

using test::ScriptedChatServer;
using test::waitUntil;

QStringList names(const TChatChannel& node) {
    QStringList out;
    for (const auto& child : node.children()) {
        out.append(child->name);
    }
    return out;
}

QString text(const QString& s) {
    return s;
}
QString text(const QStringList& list) {
    return list.join(',');
}
QString text(bool b) {
    return b ? "true" : "false";
}
QString text(qint32 n) {
    return QString::number(n);
}

// Every emission of a signal, its arguments as texts.
template <class... Args>
std::shared_ptr<QList<QStringList>> record(TChatClient& client,
                                           void (TChatClient::*signal)(Args...)) {
    auto seen = std::make_shared<QList<QStringList>>();
    QObject::connect(&client, signal, [seen](const std::decay_t<Args>&... args) {
        QStringList texts;
        (texts.append(text(args)), ...);
        seen->append(texts);
    });
    return seen;
}

QStringList members(const TChatChannel& channel) {
    QStringList out;
    for (const TChatUser& u : channel.members) {
        out.append(u.nickname);
    }
    return out;
}

class ChatClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_profile.isValid());
        m_saved = activeProfile().directory();
        setActiveProfile(m_profile.path());
        UserInfo().setId(7);
        UserInfo().setNickname("me");
        UserInfo().setPassword("secret word");
    }
    void TearDown() override { setActiveProfile(m_saved); }

    // Connects to server and lets it welcome the client.
    void signOn(ScriptedChatServer& server) {
        m_client.Connect("127.0.0.1", server.port());
        ASSERT_TRUE(server.waitForLine("login 7 'secret word'"));
        server.sendLines({"121 'Welcome To Moonrake'"});
        ASSERT_TRUE(server.waitForLine("list"));
        ASSERT_TRUE(m_client.connected());
    }

    QTemporaryDir m_profile;
    QString m_saved;
    TChatClient m_client;
};

TEST(ChatTasks, MatchEndCodeFirstInRegistrationOrderAndPadParameters) {
    const auto tasks = TChatClient::defaultTasks();
    ASSERT_EQ(tasks.size(), 7u);
    struct Case {
        qint32 code;
        int task;
        int kind;
        int params;
    };
    for (const Case& c :
         {Case{121, 0, 2, 0}, Case{201, 1, 0, 3}, Case{202, 2, 0, 4}, Case{351, 3, 0, 5},
          Case{353, 3, 1, 5}, Case{366, 3, 2, 5}, Case{100, 4, 0, 4}, Case{321, 5, 0, 3},
          Case{322, 5, 1, 3}, Case{323, 5, 2, 3}, Case{204, 6, 0, 2}}) {
        int kind = -1;
        EXPECT_EQ(TChatClient::matchTask(tasks, c.code, &kind), c.task) << c.code;
        EXPECT_EQ(kind, c.kind) << c.code;
        EXPECT_EQ(tasks[static_cast<std::size_t>(c.task)].paramCount, c.params) << c.code;
    }
    // No task holds these; 0 only marks a code a task lacks.
    for (qint32 code : {0, 203, 999, -1}) {
        EXPECT_EQ(TChatClient::matchTask(tasks, code, nullptr), -1) << code;
    }
    // An end code wins over an earlier task's start code.
    std::vector<TChatTask> overlapping{{5, 0, 0, nullptr, 0}, {1, 2, 5, nullptr, 0}};
    int kind = -1;
    EXPECT_EQ(TChatClient::matchTask(overlapping, 5, &kind), 0);
    EXPECT_EQ(kind, 0);

    QList<QByteArray> tokens{"353", "@G", "c"};
    TChatClient::padTokens(tokens, 5);
    EXPECT_EQ(tokens, (QList<QByteArray>{"353", "@G", "c", "", "", ""}));
    tokens = {"353", "@G", "c", "a", "b", "c", "d"};
    TChatClient::padTokens(tokens, 5);
    EXPECT_EQ(tokens.size(), 7);
}

TEST_F(ChatClientTest, ScriptedServerBuildsTheTreeAndReportsTheChannels) {
    ScriptedChatServer server;
    signOn(server);
    auto complete = record(m_client, &TChatClient::listComplete);
    // A channel before any group has no group to go under.
    server.sendLines({"321 'List Start'", "322 orphan 1 x", "322 @Music 0 x",
                      "322 rock 5 'Rock talk'", "322 @Talk 2 ''", "322 news 1 y",
                      "323 'List End'"});
    ASSERT_TRUE(waitUntil([&] { return complete->size() == 1; }));
    TChannelTree& tree = m_client.tree();
    EXPECT_EQ(tree.root().name, "Moonrake Chat");
    EXPECT_EQ(names(tree.root()), (QStringList{"Music", "Talk"}));
    TChatChannel* rock = tree.find("@Music", "rock");
    ASSERT_TRUE(rock);
    EXPECT_EQ(tree.find("Music", "rock"), rock);
    EXPECT_EQ(rock->userCount, 5);
    EXPECT_EQ(rock->topic, "Rock talk");
    EXPECT_TRUE(rock->isChannel());
    EXPECT_TRUE(tree.find("Talk", "news"));
    EXPECT_FALSE(tree.find("Music", "news"));

    auto listed = record(m_client, &TChatClient::membersListed);
    auto joined = record(m_client, &TChatClient::memberJoined);
    auto left = record(m_client, &TChatClient::memberLeft);
    auto said = record(m_client, &TChatClient::messageReceived);
    server.sendLines({"351 @Music rock", "353 @Music rock ann bob 'c d'", "353 @Music rock",
                      "366 @Music rock", "351 @Talk news", "366 @Talk news"});
    ASSERT_TRUE(waitUntil([&] { return listed->size() == 2; }));
    EXPECT_EQ(listed->at(0).at(2), "ann,bob,c d");
    EXPECT_TRUE(listed->at(1).at(2).isEmpty());

    // Ignored codes change nothing, and the own join opens the window instead of a join line.
    server.sendLines({"203 @Music rock ann away", "999 x", "0 x", "201 @Music rock me",
                      "201 @Music rock eve", "202 @Music rock bob bye",
                      "100 @Music rock ann 'it''s fine'"});
    ASSERT_TRUE(waitUntil([&] { return said->size() == 1; }));
    EXPECT_EQ(server.count("list"), 1);
    ASSERT_EQ(joined->size(), 2);
    EXPECT_EQ(joined->at(0), (QStringList{"Music", "rock", "me", "true"}));
    EXPECT_EQ(joined->at(1), (QStringList{"Music", "rock", "eve", "false"}));
    EXPECT_EQ(left->at(0), (QStringList{"Music", "rock", "bob", "bye"}));
    EXPECT_EQ(said->at(0), (QStringList{"Music", "rock", "ann", "it's fine"}));
    EXPECT_EQ(members(*rock), (QStringList{"ann", "c d", "eve"}));

    // The server's own join counts as entered, so leaving sends PART; entering twice sends
    // JOIN once; leaving lowers the count.
    EXPECT_TRUE(rock->joined);
    EXPECT_FALSE(m_client.EnterChannel("Music", "rock", true));
    EXPECT_TRUE(m_client.EnterChannel("Music", "rock", false));
    EXPECT_TRUE(m_client.EnterChannel("Music", "rock", true));
    EXPECT_FALSE(m_client.EnterChannel("Music", "rock", true));
    m_client.SendChannelMessage("Music", "rock", "it's fine");
    ASSERT_TRUE(server.waitForLine("msg @Music rock 'it''s fine'"));
    EXPECT_EQ(server.received().mid(2, 2),
              (QList<QByteArray>{"PART @Music rock", "JOIN @Music rock"}));
    EXPECT_EQ(rock->userCount, 4);

    auto userId = record(m_client, &TChatClient::userIdReceived);
    m_client.RequestUserId("ann");
    ASSERT_TRUE(server.waitForLine("USERID ann"));
    server.sendLines({"204 ann 42"});
    ASSERT_TRUE(waitUntil([&] { return userId->size() == 1; }));
    EXPECT_EQ(userId->at(0), (QStringList{"ann", "42"}));
}

TEST_F(ChatClientTest, ADroppedConnectionIsReportedAndTheNextHostIsTried) {
    ScriptedChatServer first;
    ScriptedChatServer second;
    HostStore hosts(m_profile.filePath("hosts.ini"));
    const quint16 dead = test::deadPort();
    hosts.set(HostStore::Chat, QStringLiteral("127.0.0.1:%1,127.0.0.1:%2,127.0.0.1:%3")
                                   .arg(first.port())
                                   .arg(dead)
                                   .arg(second.port()));

    auto lost = record(m_client, &TChatClient::connectionLost);
    auto failed = record(m_client, &TChatClient::connectFailed);
    ASSERT_TRUE(m_client.ConnectNext(hosts));
    ASSERT_TRUE(first.waitForClient());
    first.sendLines({"121 'Welcome To Moonrake'"});
    ASSERT_TRUE(first.waitForLine("list"));
    first.drop();
    ASSERT_TRUE(waitUntil([&] { return lost->size() == 1; }));
    EXPECT_FALSE(m_client.connected());

    ASSERT_TRUE(m_client.ConnectNext(hosts));
    ASSERT_TRUE(waitUntil([&] { return failed->size() == 1; }));
    ASSERT_TRUE(m_client.ConnectNext(hosts));
    ASSERT_TRUE(second.waitForLine("login 7 'secret word'"));
    EXPECT_EQ(first.connections(), 1);

    HostStore none(m_profile.filePath("none.ini"));
    TChatClient idle;
    EXPECT_FALSE(idle.ConnectNext(none));
}

TEST_F(ChatClientTest, HostileLinesCloseTheConnection) {
    const QByteArray tooLong = "100 @G c n " + QByteArray(TChatClient::kMaxLineBytes, 'x') + "\r\n";
    const QByteArray endless(3 * TChatClient::kMaxLineBytes, 'y');
    const QByteArray binary("\x01\xff\x00 121\r\n", 9);
    for (const QByteArray& bytes : {binary, tooLong, endless}) {
        SCOPED_TRACE(bytes.left(12).toHex().toStdString());
        ScriptedChatServer server;
        signOn(server);
        auto lost = record(m_client, &TChatClient::connectionLost);
        auto said = record(m_client, &TChatClient::messageReceived);
        // Binary inside a parameter is only text to show.
        ASSERT_TRUE(server.send(QByteArray("100 @G c n \xff\x00!\r\n", 16)));
        ASSERT_TRUE(waitUntil([&] { return said->size() == 1; }));
        ASSERT_TRUE(server.send(bytes));
        ASSERT_TRUE(waitUntil([&] { return lost->size() == 1; }));
        EXPECT_TRUE(server.clientGone());
        EXPECT_FALSE(m_client.connected());
        EXPECT_EQ(said->size(), 1);
    }
}

}  // namespace
}  // namespace mr
