#include "process.h"
#include "serverprocess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>

using namespace mr;
using test::runProgram;

namespace {

using mr::test::cli;

}  // namespace

TEST(Feedback, CliMailReachesTheServersMailSink) {
    QTemporaryDir data, profile;
    test::Server server({"--data", data.path(), "--smtp-port", "0"});
    ASSERT_TRUE(server.ready()) << server.readyLine().toStdString();
    ASSERT_NE(server.smtp().port, 0) << server.readyLine().toStdString();
    ASSERT_EQ(cli(profile.path(), {"set", "Host/Http", server.web().text()}).exitCode, 0);
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
    ASSERT_EQ(cli(profile.path(), {"get", "Host/Mail"}).out.trimmed(), server.smtp().text());
    r = cli(profile.path(), {"feedback", "Great program.\n.Thanks = from alice"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out,
              "Connected to server.\nSending feedback...\n"
              "Send completed. Thank you for your participation\n");

    const QStringList mails = QDir(data.filePath("mail")).entryList({"*.eml"}, QDir::Files);
    ASSERT_EQ(mails, QStringList{"0001.eml"});
    QFile mail(QDir(data.filePath("mail")).filePath(mails.first()));
    ASSERT_TRUE(mail.open(QIODevice::ReadOnly));
    const QByteArray text = mail.readAll();
    EXPECT_TRUE(text.contains("\r\nFrom: \"alice\" <feedback@[127.0.0.1]>\r\n"));
    EXPECT_TRUE(text.contains("\r\nSubject: FeedBack\r\n"));
    // Quoted-printable leaves this text readable but for the "=".
    EXPECT_TRUE(text.contains("\r\n\r\nGreat program.\r\n.Thanks =3D from alice\r\n"));

    EXPECT_EQ(cli(profile.path(), {"feedback", " "}).exitCode, 2);
    EXPECT_EQ(server.terminate(), 0);
}
