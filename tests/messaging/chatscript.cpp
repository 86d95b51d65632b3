#include "chatscript.h"

#include "testutil.h"

namespace mr::test {

ScriptedChatServer::ScriptedChatServer() {
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* s = m_server.nextPendingConnection()) {
            ++m_connections;
            m_client = s;
            m_pending.clear();
            connect(s, &QTcpSocket::readyRead, this, [this, s] {
                m_pending += s->readAll();
                qsizetype end;
                while ((end = m_pending.indexOf("\r\n")) >= 0) {
                    m_received.append(m_pending.left(end));
                    m_pending.remove(0, end + 2);
                }
            });
        }
    });
}

int ScriptedChatServer::count(const QByteArray& word) const {
    int n = 0;
    for (const QByteArray& line : m_received) {
        n += line.startsWith(word + ' ') || line == word ? 1 : 0;
    }
    return n;
}

bool ScriptedChatServer::send(const QByteArray& bytes) {
    if (!m_client) {
        return false;
    }
    m_client->write(bytes);
    return true;
}

bool ScriptedChatServer::sendLines(const QList<QByteArray>& lines) {
    QByteArray bytes;
    for (const QByteArray& line : lines) {
        bytes += line + "\r\n";
    }
    return send(bytes);
}

bool ScriptedChatServer::waitForClient() {
    return waitUntil(
        [this] { return m_client && m_client->state() == QTcpSocket::ConnectedState; });
}

bool ScriptedChatServer::waitForLine(const QByteArray& line) {
    return waitUntil([this, line] { return m_received.contains(line); });
}

void ScriptedChatServer::drop() {
    if (m_client) {
        m_client->disconnectFromHost();
    }
}

bool ScriptedChatServer::clientGone() {
    return waitUntil(
        [this] { return !m_client || m_client->state() == QTcpSocket::UnconnectedState; });
}

}  // namespace mr::test
