#include "process.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <csignal>

#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

using namespace mr::test;

TEST(CliStartup, FirstStartInstallsAndAMissingTableIsRefusedUntilInitRestoresIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("update.exe"), {}));
    ASSERT_EQ(cli(dir.path(), {"check"}).exitCode, 0);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("update.exe")));
    QByteArray catalog = readFile(dir.filePath("data/files.dat"));
    ASSERT_FALSE(catalog.isEmpty());

    for (const char* missing : {"contacts.dat", "files.dat", "credits.dat"}) {
        const QString table = dir.filePath(QString("data/") + missing);
        ASSERT_TRUE(QFile::remove(table));
        const auto r = cli(dir.path(), {"check"});
        EXPECT_EQ(r.exitCode, 1) << missing;
        EXPECT_EQ(r.err.trimmed(), "Data files are missing! Please re-install") << missing;
        // Damage is reported, never repaired behind the user's back.
        EXPECT_FALSE(QFileInfo::exists(table)) << missing;
        // init adds what is missing and never touches what is there.
        ASSERT_EQ(cli(dir.path(), {"init"}).exitCode, 0);
        EXPECT_TRUE(QFileInfo::exists(table)) << missing;
        const QByteArray now = readFile(dir.filePath("data/files.dat"));
        EXPECT_TRUE(QString(missing) == "files.dat" || now == catalog) << missing;
        catalog = now;
    }
}

TEST(CliStartup, UsageSettingsAndTheirRefusals) {
    EXPECT_EQ(runProgram("moonrake-cli", {"--profile"}).exitCode, 2);
    QTemporaryDir dir;
    EXPECT_EQ(cli(dir.path(), {"get", "UserInfo/MaxDownloads"}).out.trimmed(), "0");
    EXPECT_EQ(cli(dir.path(), {"set", "UserInfo/DownloadPath", "/home/u/Downloads"}).exitCode, 0);
    const QString hosts = "127.0.0.1:7000,10.0.0.1:7001";
    EXPECT_EQ(cli(dir.path(), {"set", "host/moonrake", hosts}).exitCode, 0);
    EXPECT_EQ(cli(dir.path(), {"get", "userinfo/downloadpath"}).out.trimmed(), "/home/u/Downloads");
    const QString ini = QString::fromUtf8(readFile(dir.filePath("settings.ini")));
    EXPECT_TRUE(ini.contains("[UserInfo]") && ini.contains("DownloadPath=/home/u/Downloads") &&
                ini.contains("[Host]"))
        << ini.toStdString();

    // Usage errors, bad numbers and unknown names: 2; a host list without a host: 1.
    const std::pair<QStringList, int> refused[] = {{{}, 2},
                                                   {{"frobnicate"}, 2},
                                                   {{"init", "extra"}, 2},
                                                   {{"set", "UserInfo/MaxDownloads", "many"}, 2},
                                                   {{"set", "UserInfo/Colour", "red"}, 2},
                                                   {{"set", "Host/Moonrake", " "}, 1},
                                                   // "-h" as a message's text is no help
                                                   {{"msg", "2", "-h"}, 1}};
    for (const auto& [args, code] : refused)
        EXPECT_EQ(cli(dir.path(), args).exitCode, code) << args.join(' ').toStdString();
    // A profile that cannot hold its settings file: a failure, not a silent success.
    EXPECT_EQ(cli(dir.filePath("settings.ini"), {"set", "UserInfo/ID", "3"}).exitCode, 1);
    EXPECT_EQ(cli(dir.path(), {"get", "Host/Moonrake"}).out.trimmed(), hosts);
}

TEST(DesktopStartup, SecondCopyOnTheSameProfileEndsSilently) {
    QTemporaryDir dir;
    std::unique_ptr<QProcess> first(startProgram("moonrake", {"--profile", dir.path()}));
    // The first copy owns the profile once its lock file is there.
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(dir.filePath("moonrake.lock")); }));

    const auto second = runProgram("moonrake", {"--profile", dir.path()}, 15000);
    EXPECT_TRUE(ended(second, 0, ""));
    EXPECT_EQ(first->state(), QProcess::Running);

    first->kill();
    first->waitForFinished();
}

TEST(Startup, AProfileThatCannotBeLockedIsAnErrorInBothPrograms) {
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("file"), {}));
    // A profile below a plain file can be neither created nor locked.
    const QString profile = dir.filePath("file/profile");
    const auto cliRun = cli(profile, {"check"});
    EXPECT_EQ(cliRun.exitCode, 1);
    EXPECT_TRUE(cliRun.err.startsWith("Cannot use the profile " + profile))
        << cliRun.err.toStdString();
    const auto desktop = runProgram("moonrake", {"--profile", profile}, 15000);
    EXPECT_EQ(desktop.exitCode, 1);
    EXPECT_TRUE(desktop.err.contains("Cannot use the profile " + profile))
        << desktop.err.toStdString();
}

// A service that takes the connection and never answers: Ctrl+C still ends a command that is
// signing on, at once rather than when the sign-on gives up.
TEST(CliStartup, AnInterruptEndsASignOnThatWaits) {
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    QTemporaryDir dir;
    ASSERT_EQ(cli(dir.path(),
                  {"set", "Host/Moonrake", QStringLiteral("127.0.0.1:%1").arg(silent.serverPort())})
                  .exitCode,
              0);
    for (const QStringList& command : {QStringList{"serve"}, QStringList{"get", "2", "/a/b"}}) {
        std::unique_ptr<QProcess> p(
            startProgram("moonrake-cli", QStringList{"--profile", dir.path()} + command));
        ASSERT_TRUE(waitUntil([&] { return silent.hasPendingConnections(); }));
        silent.nextPendingConnection();  // kept open, and never answered
        ::kill(static_cast<pid_t>(p->processId()), SIGINT);
        EXPECT_TRUE(p->waitForFinished(20000)) << command.join(' ').toStdString();
        EXPECT_EQ(p->exitCode(), 1);
    }
}
