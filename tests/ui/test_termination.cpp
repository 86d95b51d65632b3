#include "core/terminationsignals.h"
#include "uitest.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <csignal>

#include <gtest/gtest.h>

namespace mr {
namespace {

TEST(TerminationSignals, SigtermAndSigintArriveInTheEventLoop) {
    TerminationSignals watcher;
    ASSERT_TRUE(watcher.installed());
    QSignalSpy spy(&watcher, &TerminationSignals::terminationRequested);
    ::raise(SIGTERM);
    ASSERT_TRUE(spy.wait(2000));
    EXPECT_EQ(spy.at(0).at(0).toInt(), SIGTERM);
    ::raise(SIGINT);
    ASSERT_TRUE(spy.wait(2000));
    EXPECT_EQ(spy.at(1).at(0).toInt(), SIGINT);
}

// True once the process catches SIGTERM, read from its signal masks.
bool catchesSigterm(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            bool ok = false;
            const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
            return ok && (mask & (1ULL << (SIGTERM - 1)));
        }
    }
    return false;
}

// With a nickname the frame is up; without one the registration wizard runs before it.
TEST(TerminationSignals, DesktopProgramEndsCleanlyOnSigterm) {
    for (const char* settingsText : {"[UserInfo]\nNickname=tester\n", ""}) {
        QTemporaryDir profile;
        ASSERT_TRUE(profile.isValid());
        QFile settings(profile.filePath("settings.ini"));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write(settingsText);
        settings.close();

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.start(test::binDir() + "/moonrake", {"--profile", profile.path(), "-min"});
        ASSERT_TRUE(program.waitForStarted(5000));
        ASSERT_TRUE(test::waitUntil([&] { return catchesSigterm(program.processId()); }, 20000));
        program.terminate();
        ASSERT_TRUE(program.waitForFinished(20000)) << settingsText;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << settingsText;
        EXPECT_EQ(program.exitCode(), 0) << settingsText;
    }
}

}  // namespace
}  // namespace mr
