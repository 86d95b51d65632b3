#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace mr::test {

struct RunResult {
    int exitCode = -1;
    bool finished = false;
    QString out;
    QString err;
};

// Runs one of the built programs to its end (or the timeout) with the given environment
// additions.
RunResult runProgram(const QString& program, const QStringList& args, int timeoutMs = 30000,
                     const QStringList& env = {});

// Starts a built program and leaves it running; the caller owns the process.
QProcess* startProgram(const QString& program, const QStringList& args,
                       const QStringList& env = {});

// Writes a file, creating its folder; false when it could not be written whole.
bool writeFile(const QString& path, const QByteArray& bytes);

// Runs moonrake-cli on a profile: moonrake-cli --profile PROFILE ARGS...
RunResult cli(const QString& profile, const QStringList& args, int timeoutMs = 30000);

}  // namespace mr::test
