#include "process.h"

#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

namespace mr::test {

namespace {

void prepare(QProcess& p, const QString& program, const QStringList& args, const QStringList& env) {
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("QT_QPA_PLATFORM", "offscreen");
    e.remove("MOONRAKE_PROFILE");
    for (const QString& kv : env) {
        const qsizetype eq = kv.indexOf('=');
        e.insert(kv.left(eq), kv.mid(eq + 1));
    }
    p.setProcessEnvironment(e);
    p.setProgram(binDir() + "/" + program);
    p.setArguments(args);
}

}  // namespace

RunResult runProgram(const QString& program, const QStringList& args, int timeoutMs,
                     const QStringList& env) {
    QProcess p;
    prepare(p, program, args, env);
    p.start();
    RunResult r;
    if (!p.waitForStarted(timeoutMs))
        return r;
    if (!(r.finished = p.waitForFinished(timeoutMs))) {
        p.kill();
        p.waitForFinished();
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QProcess* startProgram(const QString& program, const QStringList& args, const QStringList& env) {
    auto* p = new QProcess;
    prepare(*p, program, args, env);
    p->start();
    return p;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

::testing::AssertionResult ended(const RunResult& r, int exitCode, const QString& out) {
    if (r.exitCode == exitCode && r.out == out)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit code " << r.exitCode << ", output\n"
                                         << r.out.toStdString() << "error output\n"
                                         << r.err.toStdString();
}

RunResult cli(const QString& profile, const QStringList& args, int timeoutMs) {
    return runProgram("moonrake-cli", QStringList{"--profile", profile} + args, timeoutMs);
}

Serving::Serving(const QString& profile, const QStringList& options)
    : m_process(
          startProgram("moonrake-cli", QStringList{"--profile", profile, "serve"} + options)) {
    QObject::connect(m_process.get(), &QProcess::readyReadStandardOutput,
                     [this] { m_out += QString::fromUtf8(m_process->readAllStandardOutput()); });
}

Serving::~Serving() {
    if (m_process->state() != QProcess::NotRunning)
        stop();  // and killed with the process object if that was not enough
}

bool Serving::ready() {
    return waitUntil([this] {
               return m_out.contains("Serving") || m_process->state() == QProcess::NotRunning;
           }) &&
           m_out.contains("Serving");
}

bool Serving::waitFor(const QString& text, int timeoutMs, int times) {
    return waitUntil([&] { return m_out.count(text) >= times; }, timeoutMs);
}

void Serving::kill() {
    m_process->kill();
    m_process->waitForFinished(10000);
}

int Serving::stop() {
    m_process->terminate();
    m_process->waitForFinished(10000);
    m_out += QString::fromUtf8(m_process->readAllStandardOutput());
    return m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
}

}  // namespace mr::test
