#include "core/record.h"
#include "process.h"
#include "serverprocess.h"
#include "service/wire.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>

using namespace mr;
using test::runProgram;

namespace {

using mr::test::cli;

// A profile whose host lists point at the server; a dead first service host exercises the
// rotation on every sign-on.
void pointAt(const QString& profile, const test::Server& server) {
    ASSERT_EQ(cli(profile, {"set", "Host/Http", server.web().text()}).exitCode, 0);
    ASSERT_EQ(
        cli(profile, {"set", "Host/Moonrake", "127.0.0.1:1," + server.service().text()}).exitCode,
        0);
}

// Signs a user on over a keep-alive connection of our own, as another client would.
std::unique_ptr<QTcpSocket> signOnRaw(const test::Endpoint& service, int id, const char* password,
                                      int infoPort, int serverPort) {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(service.host, service.port);
    if (!socket->waitForConnected(test::kServerTimeoutMs)) {
        return nullptr;
    }
    const QByteArray payload = PackRecord("IAWW", {id, password, infoPort, serverPort}).bytes;
    socket->write(wire::frameRequest(wire::kPingPath, wire::requestBody('L', 1, payload), true));
    wire::ReplyReader reply(true, true);
    while (reply.bytesWanted() > 0) {
        if (socket->bytesAvailable() == 0 && !socket->waitForReadyRead(test::kServerTimeoutMs)) {
            break;
        }
        socket->read(reply.feed(socket->peek(reply.bytesWanted())));
    }
    return reply.complete() && !reply.errorEnd() ? std::move(socket) : nullptr;
}

}  // namespace

TEST(CliService, RegisterSignOnAndLocateAgainstTheReferenceService) {
    QTemporaryDir data, alice, bob;
    test::Server server({"--data", data.path()});
    ASSERT_TRUE(server.ready()) << server.readyLine().toStdString();
    pointAt(alice.path(), server);
    pointAt(bob.path(), server);

    // Registration stores the account in the profile and prints the new id.
    auto r = cli(alice.path(), {"register", "alice", "p&ss=word 1"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const int aliceId = r.out.trimmed().toInt();
    EXPECT_GT(aliceId, 0);
    EXPECT_EQ(cli(alice.path(), {"get", "UserInfo/ID"}).out.trimmed().toInt(), aliceId);
    EXPECT_EQ(cli(alice.path(), {"get", "UserInfo/Nickname"}).out.trimmed(), "alice");
    EXPECT_EQ(cli(alice.path(), {"get", "UserInfo/Password"}).out.trimmed(), "p&ss=word 1");

    r = cli(bob.path(), {"register", "ALICE", "x"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.trimmed(), "This username allready exists!");
    r = cli(bob.path(), {"register", "bob", "secret"});
    ASSERT_EQ(r.exitCode, 0);
    const int bobId = r.out.trimmed().toInt();

    // The password with "&", "=" and a blank arrived intact: sign-on works with it.
    r = cli(alice.path(), {"signon"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed(), "Connected!");

    // Bob is present only while his keep-alive connection lasts.
    {
        auto bobSession = signOnRaw(server.service(), bobId, "secret", 4111, 4222);
        ASSERT_TRUE(bobSession);
        // A one-shot command of bob's signs on and off again; his first connection stays.
        ASSERT_EQ(cli(bob.path(), {"signon"}).exitCode, 0);
        r = cli(alice.path(), {"locate", QString::number(bobId)});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.out.trimmed(), "127.0.0.1 4111 4222");
    }
    r = cli(alice.path(), {"locate", QString::number(bobId)});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, " 0 0\n");
    EXPECT_EQ(cli(alice.path(), {"locate", "bob"}).exitCode, 2);
}

TEST(CliService, SignOnFailsCleanly) {
    QTemporaryDir data, profile;
    test::Server server({"--data", data.path()});
    ASSERT_TRUE(server.ready());
    pointAt(profile.path(), server);
    ASSERT_EQ(cli(profile.path(), {"register", "carol", "right"}).exitCode, 0);

    ASSERT_EQ(cli(profile.path(), {"set", "UserInfo/Password", "wrong"}).exitCode, 0);
    auto r = cli(profile.path(), {"signon"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.trimmed(), "Unable to connect");

    // With no web host either, nothing refreshes the dead service list.
    ASSERT_EQ(cli(profile.path(), {"set", "UserInfo/Password", "right"}).exitCode, 0);
    ASSERT_EQ(cli(profile.path(), {"set", "Host/Moonrake", "127.0.0.1:1"}).exitCode, 0);
    ASSERT_EQ(cli(profile.path(), {"set", "Host/Http", "127.0.0.1:1"}).exitCode, 0);
    r = cli(profile.path(), {"signon"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.trimmed(), "Unable to connect");
    EXPECT_EQ(cli(profile.path(), {"locate", "1"}).exitCode, 1);
}
