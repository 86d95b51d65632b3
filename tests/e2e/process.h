#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>

namespace mr::test {

struct RunResult {
    int exitCode = -1;
    bool finished = false;
    QString out;
    QString err;
};

// Runs a built program to its end (or the time-out), its environment extended by env.
RunResult runProgram(const QString& program, const QStringList& args, int timeoutMs = 30000,
                     const QStringList& env = {});

// Starts a built program and leaves it running; the caller owns the process.
QProcess* startProgram(const QString& program, const QStringList& args,
                       const QStringList& env = {});

// Writes a file, creating its folder; false when it could not be written whole.
bool writeFile(const QString& path, const QByteArray& bytes);
// A file's bytes; empty when it cannot be read.
QByteArray readFile(const QString& path);

// The run ended with that code and printed exactly that; a failure shows its error output too.
::testing::AssertionResult ended(const RunResult& r, int exitCode, const QString& out);

RunResult cli(const QString& profile, const QStringList& args, int timeoutMs = 30000);

// A `moonrake-cli serve` kept running for the test; its output is collected as it comes.
class Serving {
public:
    explicit Serving(const QString& profile, const QStringList& options = {});
    ~Serving();
    // Waits for its "Serving" line; false when it ended instead.
    bool ready();
    // Until the output holds the text that many times.
    bool waitFor(const QString& text, int timeoutMs, int times = 1);
    // Writes to its standard input.
    void type(const QByteArray& bytes) { m_process->write(bytes); }
    // Ends the program as a user would (Ctrl+C); its exit code.
    int stop();
    // SIGKILL, as a crash or a power cut would end it.
    void kill();
    QString out() const { return m_out; }
    QString err() const { return QString::fromUtf8(m_process->readAllStandardError()); }

private:
    std::unique_ptr<QProcess> m_process;
    QString m_out;
};

}  // namespace mr::test
