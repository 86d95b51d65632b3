#include "serverprocess.h"

#include "process.h"

#include <QDeadlineTimer>

namespace mr::test {

Endpoint endpoint(const QString& text) {
    const qsizetype colon = text.lastIndexOf(u':');
    return {text.left(colon), static_cast<quint16>(text.mid(colon + 1).toUInt())};
}

Server::Server(const QStringList& args) {
    m_process.reset(startProgram("moonrake-server", args));
    QDeadlineTimer deadline(kServerTimeoutMs);
    while (!m_process->canReadLine() && !deadline.hasExpired() &&
           m_process->state() != QProcess::NotRunning)
        m_process->waitForReadyRead(100);
    m_ready = QString::fromUtf8(m_process->readLine()).trimmed();
    for (const QString& part : m_ready.split(u' ')) {
        if (part.startsWith("service="))
            m_service = endpoint(part.mid(8));
        else if (part.startsWith("web="))
            m_web = endpoint(part.mid(4));
        else if (part.startsWith("smtp="))
            m_smtp = endpoint(part.mid(5));
        else if (part.startsWith("chat="))
            m_chat = endpoint(part.mid(5));
    }
}

Server::~Server() {
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(kServerTimeoutMs);
    }
}

int Server::terminate() {
    m_process->terminate();
    const bool clean = m_process->waitForFinished(kServerTimeoutMs) &&
                       m_process->exitStatus() == QProcess::NormalExit;
    return clean ? m_process->exitCode() : -1;
}

void Server::kill() {
    m_process->kill();
    m_process->waitForFinished(kServerTimeoutMs);
}

int registerUser(const QString& profile, const Server& server, const QString& nick) {
    if (cli(profile, {"set", "Host/Http", server.web().text()}).exitCode != 0 ||
        cli(profile, {"set", "Host/Moonrake", server.service().text()}).exitCode != 0)
        return 0;
    const RunResult r = cli(profile, {"register", nick, "pw " + nick});
    return r.exitCode == 0 ? r.out.trimmed().toInt() : 0;
}

TwoMembers::TwoMembers(const QStringList& serverArgs)
    : server(QStringList{"--data", data.path()} + serverArgs),
      aliceId(server.ready() ? registerUser(alice, server, "alice") : 0),
      bobId(server.ready() ? registerUser(bob, server, "bob") : 0) {}

::testing::AssertionResult TwoMembers::up() const {
    if (!server.ready())
        return ::testing::AssertionFailure() << "no server: " << server.readyLine().toStdString();
    if (aliceId <= 0 || bobId <= 0)
        return ::testing::AssertionFailure() << "registered ids " << aliceId << ", " << bobId;
    return ::testing::AssertionSuccess();
}

}  // namespace mr::test
