#include "process.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

using mr::test::cli;
using mr::test::readFile;
using mr::test::runProgram;

TEST(CliStartup, UsageAndExitCodes) {
    EXPECT_EQ(runProgram("moonrake-cli", {"--help"}).exitCode, 0);
    QTemporaryDir dir;
    EXPECT_EQ(cli(dir.path(), {}).exitCode, 2);
    EXPECT_EQ(cli(dir.path(), {"frobnicate"}).exitCode, 2);
    EXPECT_EQ(cli(dir.path(), {"init", "extra"}).exitCode, 2);
    EXPECT_EQ(runProgram("moonrake-cli", {"--profile"}).exitCode, 2);
}

TEST(CliStartup, FirstStartInstallsAndAMissingTableIsRefusedUntilInitRestoresIt) {
    QTemporaryDir dir;
    QFile leftover(dir.filePath("update.exe"));
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.close();
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
        if (QString(missing) != "files.dat") {
            EXPECT_EQ(readFile(dir.filePath("data/files.dat")), catalog) << missing;
        }
        catalog = readFile(dir.filePath("data/files.dat"));
    }
}

TEST(CliStartup, SetAndGetSettings) {
    QTemporaryDir dir;
    EXPECT_EQ(cli(dir.path(), {"get", "UserInfo/MaxDownloads"}).out.trimmed(), "0");
    EXPECT_EQ(cli(dir.path(), {"set", "UserInfo/DownloadPath", "/home/u/Downloads"}).exitCode, 0);
    EXPECT_EQ(cli(dir.path(), {"set", "host/moonrake", "127.0.0.1:7000,10.0.0.1:7001"}).exitCode,
              0);
    EXPECT_EQ(cli(dir.path(), {"get", "userinfo/downloadpath"}).out.trimmed(), "/home/u/Downloads");
    EXPECT_EQ(cli(dir.path(), {"get", "Host/Moonrake"}).out.trimmed(),
              "127.0.0.1:7000,10.0.0.1:7001");
    const QString ini = QString::fromUtf8(readFile(dir.filePath("settings.ini")));
    EXPECT_TRUE(ini.contains("[UserInfo]"));
    EXPECT_TRUE(ini.contains("DownloadPath=/home/u/Downloads"));
    EXPECT_TRUE(ini.contains("[Host]"));

    EXPECT_EQ(cli(dir.path(), {"set", "UserInfo/MaxDownloads", "many"}).exitCode, 2);
    EXPECT_EQ(cli(dir.path(), {"set", "UserInfo/Colour", "red"}).exitCode, 2);
    EXPECT_EQ(cli(dir.path(), {"set", "Host/Moonrake", " "}).exitCode, 1);
    EXPECT_EQ(cli(dir.path(), {"get", "Host/Moonrake"}).out.trimmed(),
              "127.0.0.1:7000,10.0.0.1:7001");
}

TEST(DesktopStartup, SecondCopyOnTheSameProfileEndsSilently) {
    QTemporaryDir dir;
    std::unique_ptr<QProcess> first(mr::test::startProgram("moonrake", {"--profile", dir.path()}));
    ASSERT_TRUE(first->waitForStarted());
    // The first copy owns the profile once its lock file is there.
    for (int i = 0; i < 200 && !QFileInfo::exists(dir.filePath("moonrake.lock")); ++i) {
        QThread::msleep(50);
    }
    ASSERT_TRUE(QFileInfo::exists(dir.filePath("moonrake.lock")));

    const auto second = runProgram("moonrake", {"--profile", dir.path()}, 15000);
    EXPECT_TRUE(second.finished);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_TRUE(second.out.isEmpty());
    EXPECT_EQ(first->state(), QProcess::Running);

    first->terminate();
    if (!first->waitForFinished(10000)) {
        first->kill();
        first->waitForFinished();
    }
}

TEST(Startup, AProfileThatCannotBeLockedIsAnErrorInBothPrograms) {
    QTemporaryDir dir;
    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // A profile below a plain file can be neither created nor locked.
    const QString profile = dir.filePath("file/profile");
    const auto cliRun = cli(profile, {"check"});
    EXPECT_EQ(cliRun.exitCode, 1);
    EXPECT_TRUE(cliRun.err.startsWith("Cannot use the profile " + profile))
        << cliRun.err.toStdString();
    const auto desktop = runProgram("moonrake", {"--profile", profile}, 15000);
    EXPECT_TRUE(desktop.finished);
    EXPECT_EQ(desktop.exitCode, 1);
    EXPECT_TRUE(desktop.err.contains("Cannot use the profile " + profile))
        << desktop.err.toStdString();
}
