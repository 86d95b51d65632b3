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
    if (!p.waitForStarted(timeoutMs)) {
        return r;
    }
    r.finished = p.waitForFinished(timeoutMs);
    if (!r.finished) {
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

RunResult cli(const QString& profile, const QStringList& args, int timeoutMs) {
    return runProgram("moonrake-cli", QStringList{"--profile", profile} + args, timeoutMs);
}

}  // namespace mr::test
