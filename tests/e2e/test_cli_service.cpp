#include "process.h"
#include "serverprocess.h"

#include <gtest/gtest.h>

#include <memory>

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace mr;
using test::cli;

namespace {

// A profile whose host lists point at the server; a dead first service host exercises the
// rotation on every sign-on.
void pointAt(const QString& profile, const test::Server& server) {
    const QString hosts = "127.0.0.1:1," + server.service().text();
    ASSERT_EQ(cli(profile, {"set", "Host/Http", server.web().text()}).exitCode, 0);
    ASSERT_EQ(cli(profile, {"set", "Host/Moonrake", hosts}).exitCode, 0);
}

}  // namespace

TEST(CliService, RegisterSignOnLocateAndPingAgainstTheReferenceService) {
    QTemporaryDir data, alice, bob;
    test::Server server({"--data", data.path()});
    ASSERT_TRUE(server.ready()) << server.readyLine().toStdString();
    pointAt(alice.path(), server);
    pointAt(bob.path(), server);

    // Registration stores the account in the profile and prints the new id.
    auto r = cli(alice.path(), {"register", "alice", "p&ss=word 1"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_GT(r.out.trimmed().toInt(), 0);
    EXPECT_EQ(cli(alice.path(), {"get", "UserInfo/Nickname"}).out.trimmed(), "alice");

    EXPECT_TRUE(test::ended(cli(bob.path(), {"register", "ALICE", "x"}), 1,
                            "This username allready exists!\n"));
    r = cli(bob.path(), {"register", "bob", "secret"});
    ASSERT_EQ(r.exitCode, 0);
    const QString bobId = r.out.trimmed();

    // The id and the password with "&", "=" and a blank were stored intact: sign-on works.
    EXPECT_TRUE(test::ended(cli(alice.path(), {"signon"}), 0, "Connected!\n"));

    // Bob is found at the ports his running client announced, and only while it runs.
    {
        test::Serving serving(bob.path());
        ASSERT_TRUE(serving.ready()) << serving.err().toStdString();
        const auto ports =
            QRegularExpression("info port (\\d+), file server port (\\d+)").match(serving.out());
        ASSERT_TRUE(ports.hasMatch()) << serving.out().toStdString();
        // A one-shot command of bob's signs on and off again; his first connection stays.
        ASSERT_EQ(cli(bob.path(), {"signon"}).exitCode, 0);
        EXPECT_TRUE(test::ended(cli(alice.path(), {"locate", bobId}), 0,
                                "127.0.0.1 " + ports.captured(1) + ' ' + ports.captured(2) + '\n'));
        EXPECT_EQ(serving.stop(), 0);
    }
    EXPECT_TRUE(test::ended(cli(alice.path(), {"locate", bobId}), 0, " 0 0\n"));
    EXPECT_TRUE(test::ended(cli(alice.path(), {"ping", bobId}), 1, "User is offline\n"));
    EXPECT_EQ(cli(alice.path(), {"locate", "bob"}).exitCode, 2);

    // A wrong password fails cleanly.
    ASSERT_EQ(cli(alice.path(), {"set", "UserInfo/Password", "wrong"}).exitCode, 0);
    EXPECT_TRUE(test::ended(cli(alice.path(), {"signon"}), 1, "Unable to connect\n"));
    EXPECT_EQ(cli(alice.path(), {"locate", "1"}).exitCode, 1);
}

// `serve` says when the service drops it, once, and says nothing of its own sign-off.
TEST(CliService, ServeSaysWhenTheServiceDropsIt) {
    QTemporaryDir data, bob;
    auto server = std::make_unique<test::Server>(QStringList{"--data", data.path()});
    ASSERT_TRUE(server->ready()) << server->readyLine().toStdString();
    pointAt(bob.path(), *server);
    ASSERT_EQ(cli(bob.path(), {"register", "bob", "secret"}).exitCode, 0);
    test::Serving serving(bob.path());
    ASSERT_TRUE(serving.ready()) << serving.err().toStdString();
    server.reset();
    EXPECT_TRUE(serving.waitFor("Disconnected from Moonrake!", 30000))
        << serving.out().toStdString();
    EXPECT_EQ(serving.stop(), 0);
    EXPECT_EQ(serving.out().count("Disconnected from Moonrake!"), 1);
}

TEST(CliService, FeedbackMailReachesTheServersMailSink) {
    QTemporaryDir data, profile;
    test::Server server({"--data", data.path(), "--smtp-port", "0"});
    ASSERT_TRUE(server.ready()) << server.readyLine().toStdString();
    ASSERT_EQ(cli(profile.path(), {"set", "UserInfo/Nickname", "alice"}).exitCode, 0);
    ASSERT_EQ(cli(profile.path(), {"set", "Host/Mail", server.smtp().text()}).exitCode, 0);
    EXPECT_TRUE(
        test::ended(cli(profile.path(), {"feedback", "Great program.\n.Thanks = from alice"}), 0,
                    "Connected to server.\nSending feedback...\n"
                    "Send completed. Thank you for your participation\n"));
    // Quoted-printable leaves this text readable but for the "=".
    EXPECT_TRUE(test::readFile(data.filePath("mail/0001.eml"))
                    .contains("\r\n\r\nGreat program.\r\n.Thanks =3D from alice\r\n"));
    EXPECT_EQ(cli(profile.path(), {"feedback", " "}).exitCode, 2);
    EXPECT_EQ(server.terminate(), 0);
}
