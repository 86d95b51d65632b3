#include "process.h"
#include "serverprocess.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include "core/profile.h"
#include "messaging/chatclient.h"

#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <memory>

using namespace mr;
using test::cli;

// Alice and Bob on the reference service's chat: the listing, and a line said in a channel
// that Bob listens to, with Alice's join and leave around it.
TEST(Channels, ListSayAndListenThroughTheChatServer) {
    test::TwoMembers m({"--chat-port", "0"});
    ASSERT_TRUE(m.up());
    ASSERT_TRUE(m.server.readyLine().contains("chat=")) << m.server.readyLine().toStdString();

    // The first group and its first channel, as the listing gives them.
    const test::RunResult listing = cli(m.alice, {"channels"});
    ASSERT_EQ(listing.exitCode, 0) << listing.err.toStdString();
    QString group;
    QString channel;
    for (const QString& line : listing.out.split('\n', Qt::SkipEmptyParts)) {
        if (!line.startsWith(' ') && group.isEmpty()) {
            group = line;
        } else if (line.startsWith("  ") && !group.isEmpty() && channel.isEmpty()) {
            channel = line.trimmed().section('\t', 0, 0);
        }
    }
    ASSERT_FALSE(channel.isEmpty()) << listing.out.toStdString();

    std::unique_ptr<QProcess> listening(
        test::startProgram("moonrake-cli", {"--profile", m.bob, "listen", '@' + group, channel}));
    QString heard;
    const QString said = "<alice> it's me";
    const QString where = group + '.' + channel;
    const QString story =
        "alice has joined " + where + '\n' + said + "\nalice has left " + where + '\n';
    // Bob may not be in the channel yet when Alice first comes, or may come while she is there;
    // she comes and speaks again until he has seen one whole visit.
    for (int attempt = 0; attempt < 10 && !heard.contains(story); ++attempt) {
        ASSERT_EQ(cli(m.alice, {"say", '@' + group, channel, "it's me"}).exitCode, 0);
        test::waitUntil(
            [&] {
                heard += QString::fromUtf8(listening->readAllStandardOutput());
                return heard.contains(story);
            },
            2000);
    }
    EXPECT_TRUE(heard.contains(story)) << heard.toStdString();

    // Alice's own client in the same channel finds Bob in its member list and asks the server
    // who he is, as the channel window's Private Chat does before the chat request.
    setActiveProfile(m.alice);
    TChatClient client;
    bool welcomed = false;
    QStringList members;
    QString identifiedNick;
    qint32 identifiedId = 0;
    QObject::connect(&client, &TChatClient::welcomed, [&] { welcomed = true; });
    QObject::connect(&client, &TChatClient::membersListed,
                     [&](const QString&, const QString&, const QStringList& m) { members = m; });
    QObject::connect(&client, &TChatClient::userIdReceived, [&](const QString& nick, qint32 id) {
        identifiedNick = nick;
        identifiedId = id;
    });
    client.Connect(m.server.chat().host, m.server.chat().port);
    ASSERT_TRUE(test::waitUntil([&] { return welcomed; }));
    client.JoinChannel(group, channel);
    ASSERT_TRUE(test::waitUntil([&] { return !members.isEmpty(); }));
    EXPECT_TRUE(members.contains("bob")) << members.join(' ').toStdString();
    client.RequestUserId("bob");
    ASSERT_TRUE(test::waitUntil([&] { return identifiedId != 0; }));
    EXPECT_EQ(identifiedNick, "bob");
    EXPECT_EQ(identifiedId, m.bobId);
    client.Disconnect();

    ::kill(static_cast<pid_t>(listening->processId()), SIGINT);
    ASSERT_TRUE(listening->waitForFinished(15000));
    EXPECT_EQ(listening->exitCode(), 0) << listening->readAllStandardError().toStdString();

    // Nobody answers on a port where no chat server listens.
    ASSERT_EQ(cli(m.alice, {"set", "Host/Http", "127.0.0.1:1"}).exitCode, 0);
    ASSERT_EQ(cli(m.alice, {"set", "Host/Chat", "127.0.0.1:1"}).exitCode, 0);
    EXPECT_TRUE(test::ended(cli(m.alice, {"channels"}), 1, ""));
}
