#include "uitest.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

#include <gtest/gtest.h>

namespace mr {
namespace {

// True once the process catches both termination signals, read from its signal masks.
bool catchesTermination(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = status.readAll();
    const qsizetype at = text.indexOf("\nSigCgt:");
    if (at < 0)
        return false;
    const qulonglong mask = text.mid(at + 8, 17).trimmed().toULongLong(nullptr, 16);
    const qulonglong both = (1ULL << (SIGTERM - 1)) | (1ULL << (SIGINT - 1));
    return (mask & both) == both;
}

// With a nickname the frame is up, ended by a session logout; without one the registration
// wizard runs before it, ended by Ctrl+C.
TEST(TerminationSignals, DesktopProgramEndsCleanly) {
    const std::pair<const char*, int> cases[] = {{"[UserInfo]\nNickname=tester\n", SIGTERM},
                                                 {"", SIGINT}};
    for (const auto& [settingsText, signal] : cases) {
        QTemporaryDir profile;
        QFile settings(profile.filePath("settings.ini"));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write(settingsText);
        settings.close();

        QProcess program;
        program.start(test::binDir() + "/moonrake", {"--profile", profile.path(), "-min"});
        ASSERT_TRUE(program.waitForStarted(5000));
        ASSERT_TRUE(
            test::waitUntil([&] { return catchesTermination(program.processId()); }, 20000));
        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(20000)) << signal;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(program.exitCode(), 0) << signal;
    }
}

}  // namespace
}  // namespace mr
