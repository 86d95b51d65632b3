#include "net/ftpserver.h"
#include "net/rawpeer.h"
#include "testutil.h"

#include <gtest/gtest.h>

using namespace mr;
using mr::test::RawPeer;

namespace {

// The standard commands only, as a peer server registers them.
class PlainServer : public TFtpServer {
public:
    PlainServer() {
        using namespace std::placeholders;
        auto b = [this](void (TFtpServer::*h)(FtpCtrlSession&, const QByteArray&, QString&)) {
            return Handler(std::bind(h, static_cast<TFtpServer*>(this), _1, _2, _3));
        };
        clearCommands();
        addCommand("PORT", b(&TFtpServer::CommandPORT), true);
        addCommand("USER", b(&TFtpServer::CommandUSER), false);
        addCommand("PASS", b(&TFtpServer::CommandPASS), false);
        addCommand("QUIT", b(&TFtpServer::CommandQUIT), false);
        addCommand("ABOR", b(&TFtpServer::CommandABOR), false);
        addCommand("NOOP", b(&TFtpServer::CommandNOOP), false);
        addCommand("TYPE", b(&TFtpServer::CommandTYPE), true);
        addCommand("PASV", b(&TFtpServer::CommandPASV), true);
        addCommand("PUTBR", b(&TFtpServer::CommandPUTBR), true);
        addCommand(
            "FAIL",
            [](FtpCtrlSession&, const QByteArray&, QString&) {
                throw FtpCommandError(QStringLiteral("it broke"));
            },
            false);
        start(QHostAddress::LocalHost);
    }
};

}  // namespace

TEST(FtpServer, TheCommandTableHoldsThirtyTwoEntries) {
    TFtpServer server;
    for (int i = 0; i < TFtpServer::kMaxCommands; ++i) {
        server.addCommand("C" + QByteArray::number(i), {}, false);
    }
    try {
        server.addCommand("LAST", {}, false);
        FAIL() << "a 33rd command was accepted";
    } catch (const FtpCommandError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Too many command"));
    }
    server.clearCommands();
    EXPECT_EQ(server.commandCount(), 0);
}

TEST(FtpServer, LoginAndTheStandardRepliesAreByteExact) {
    PlainServer server;
    RawPeer peer;
    ASSERT_TRUE(peer.connectTo(server.port()));
    EXPECT_EQ(peer.line(), "220 ICS FTP Server ready.");
    // Guarded commands before the login; the session state does not move.
    EXPECT_EQ(peer.ask("TYPE I"), "530 Please login with USER and PASS.");
    EXPECT_EQ(peer.ask("PORT 127,0,0,1,4,1"), "530 Please login with USER and PASS.");
    EXPECT_EQ(peer.ask("PASS x"), "503 Login with USER first.");
    EXPECT_EQ(peer.ask("NOOP  hi "), "200 Ok. Parameter was ' hi '.");
    EXPECT_EQ(peer.ask("ABOR"), "225 ABOR command successful.");
    EXPECT_EQ(peer.ask("RETR /x"), "500 'RETR': command not understood.");
    EXPECT_EQ(peer.ask("stor /x"), "500 'STOR': command not understood.");
    EXPECT_EQ(peer.ask("FAIL"), "501 it broke");
    EXPECT_EQ(peer.ask(""), "500 '': command not understood.");
    EXPECT_EQ(peer.ask(" \tuser  bob "), "331 Password required for bob.");
    EXPECT_EQ(peer.ask("PASS  pw "), "230 User bob logged in.");
    EXPECT_EQ(peer.ask("TYPE I"), "200 Type set to I.");
    EXPECT_EQ(peer.ask("TYPE Q"), "500 'TYPE Q': command not understood.");
    EXPECT_EQ(peer.ask("PORT 127,0,0,1,4,1"), "200 Port command successful.");
    EXPECT_EQ(peer.ask("PORT 127,0,0,1,4"), "501 Invalid PORT command.");
    // Data goes back to the peer only, never to a third host.
    EXPECT_EQ(peer.ask("PORT 10,1,2,3,4,1"), "501 Invalid PORT command.");
    const QByteArray pasv = peer.ask("PASV");
    EXPECT_TRUE(pasv.startsWith("227 Entering Passive Mode (127,0,0,1,")) << pasv.constData();
    EXPECT_TRUE(pasv.endsWith(").")) << pasv.constData();
    // The base server stores nothing: every push is refused.
    EXPECT_EQ(peer.ask("PUTBR /a/b"), "500 Cannot APPE.");
    EXPECT_EQ(peer.ask("QUIT"), "221 Goodbye.");
    EXPECT_TRUE(peer.closedByServer());
    EXPECT_TRUE(mr::test::waitUntil([&] { return server.sessionCount() == 0; }));
}

TEST(FtpServer, FramingAcceptsSplitAndBatchedLines) {
    PlainServer server;
    RawPeer peer;
    ASSERT_TRUE(peer.connectTo(server.port()));
    peer.line();
    peer.send("NO");
    peer.send("OP 1\r");
    peer.send("\nNOOP 2\nNOOP 3\r\n");
    EXPECT_EQ(peer.line(), "200 Ok. Parameter was '1'.");
    EXPECT_EQ(peer.line(), "200 Ok. Parameter was '2'.");
    EXPECT_EQ(peer.line(), "200 Ok. Parameter was '3'.");
}

TEST(FtpServer, AnOverlongLineClosesThatSessionOnly) {
    PlainServer server;
    RawPeer bad, good;
    ASSERT_TRUE(bad.connectTo(server.port()));
    ASSERT_TRUE(good.connectTo(server.port()));
    bad.line();
    good.line();
    bad.send(QByteArray(5000, 'A'));
    EXPECT_TRUE(bad.closedByServer());
    EXPECT_EQ(good.ask("NOOP"), "200 Ok. Parameter was ''.");
}

TEST(FtpServer, SilentSessionsTimeOut) {
    PlainServer server;
    server.setIdleTimeout(200);
    RawPeer peer;
    ASSERT_TRUE(peer.connectTo(server.port()));
    EXPECT_EQ(peer.line(), "220 ICS FTP Server ready.");
    EXPECT_TRUE(peer.closedByServer(3000));
}

TEST(FtpServer, AClientLimitTurnsTheExcessAway) {
    PlainServer server;
    server.setMaxClients(1);
    RawPeer first, second;
    ASSERT_TRUE(first.connectTo(server.port()));
    EXPECT_EQ(first.line(), "220 ICS FTP Server ready.");
    ASSERT_TRUE(second.connectTo(server.port()));
    EXPECT_EQ(second.line(), "421 Too many users connected.");
    EXPECT_TRUE(second.closedByServer());
}
