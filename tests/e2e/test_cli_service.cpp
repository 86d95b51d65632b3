#include "process.h"
#include "serverprocess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

using namespace mr;
using test::cli;

namespace {

// A profile whose host lists point at the server; a dead first service host exercises the
// rotation on every sign-on.
void pointAt(const QString& profile, const test::Server& server) {
    ASSERT_EQ(cli(profile, {"set", "Host/Http", server.web().text()}).exitCode, 0);
    ASSERT_EQ(
        cli(profile, {"set", "Host/Moonrake", "127.0.0.1:1," + server.service().text()}).exitCode,
        0);
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
    const int aliceId = r.out.trimmed().toInt();
    EXPECT_GT(aliceId, 0);
    EXPECT_EQ(cli(alice.path(), {"get", "UserInfo/ID"}).out.trimmed().toInt(), aliceId);
    EXPECT_EQ(cli(alice.path(), {"get", "UserInfo/Nickname"}).out.trimmed(), "alice");
    EXPECT_EQ(cli(alice.path(), {"get", "UserInfo/Password"}).out.trimmed(), "p&ss=word 1");

    EXPECT_TRUE(test::ended(cli(bob.path(), {"register", "ALICE", "x"}), 1,
                            "This username allready exists!\n"));
    r = cli(bob.path(), {"register", "bob", "secret"});
    ASSERT_EQ(r.exitCode, 0);
    const QString bobId = r.out.trimmed();

    // The password with "&", "=" and a blank arrived intact: sign-on works with it.
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
        r = cli(alice.path(), {"ping", bobId});
        EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
        bool seconds = false;
        const double answer = r.out.trimmed().toDouble(&seconds);
        EXPECT_TRUE(seconds && answer >= 0 && answer < 3) << r.out.toStdString();
        EXPECT_EQ(serving.stop(), 0);
    }
    EXPECT_TRUE(test::ended(cli(alice.path(), {"locate", bobId}), 0, " 0 0\n"));
    EXPECT_TRUE(test::ended(cli(alice.path(), {"ping", bobId}), 1, "User is offline\n"));
    EXPECT_EQ(cli(alice.path(), {"locate", "bob"}).exitCode, 2);

    // A wrong password, and hosts of which none answers, fail cleanly.
    ASSERT_EQ(cli(alice.path(), {"set", "UserInfo/Password", "wrong"}).exitCode, 0);
    EXPECT_TRUE(test::ended(cli(alice.path(), {"signon"}), 1, "Unable to connect\n"));
    // With no web host either, nothing refreshes the dead service list.
    ASSERT_EQ(cli(bob.path(), {"set", "Host/Moonrake", "127.0.0.1:1"}).exitCode, 0);
    ASSERT_EQ(cli(bob.path(), {"set", "Host/Http", "127.0.0.1:1"}).exitCode, 0);
    EXPECT_TRUE(test::ended(cli(bob.path(), {"signon"}), 1, "Unable to connect\n"));
    EXPECT_EQ(cli(bob.path(), {"locate", "1"}).exitCode, 1);
}

TEST(CliService, FeedbackMailReachesTheServersMailSink) {
    QTemporaryDir data, profile;
    test::Server server({"--data", data.path(), "--smtp-port", "0"});
    ASSERT_TRUE(server.ready()) << server.readyLine().toStdString();
    ASSERT_NE(server.smtp().port, 0) << server.readyLine().toStdString();
    ASSERT_EQ(cli(profile.path(), {"set", "UserInfo/Nickname", "alice"}).exitCode, 0);

    quint16 deadPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        deadPort = probe.serverPort();
    }
    ASSERT_EQ(cli(profile.path(), {"set", "Host/Mail", "127.0.0.1:" + QString::number(deadPort)})
                  .exitCode,
              0);
    auto r = cli(profile.path(), {"feedback", "nobody listens"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith("Error while connecting to server!")) << r.err.toStdString();

    ASSERT_EQ(cli(profile.path(), {"set", "Host/Mail", server.smtp().text()}).exitCode, 0);
    EXPECT_TRUE(
        test::ended(cli(profile.path(), {"feedback", "Great program.\n.Thanks = from alice"}), 0,
                    "Connected to server.\nSending feedback...\n"
                    "Send completed. Thank you for your participation\n"));

    const QDir mail(data.filePath("mail"));
    ASSERT_EQ(mail.entryList({"*.eml"}, QDir::Files), QStringList{"0001.eml"});
    const QByteArray text = test::readFile(mail.filePath("0001.eml"));
    EXPECT_TRUE(text.contains("\r\nFrom: \"alice\" <feedback@[127.0.0.1]>\r\n"));
    EXPECT_TRUE(text.contains("\r\nSubject: FeedBack\r\n"));
    // Quoted-printable leaves this text readable but for the "=".
    EXPECT_TRUE(text.contains("\r\n\r\nGreat program.\r\n.Thanks =3D from alice\r\n"));

    EXPECT_EQ(cli(profile.path(), {"feedback", " "}).exitCode, 2);
    EXPECT_EQ(server.terminate(), 0);
}
