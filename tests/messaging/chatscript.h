#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace mr::test {

// A chat server that says only what the test tells it, and keeps every line it receives.
class ScriptedChatServer : public QObject {
public:
    ScriptedChatServer();

    quint16 port() const { return m_server.serverPort(); }
    int connections() const { return m_connections; }
    const QList<QByteArray>& received() const { return m_received; }
    // The lines received that start with word.
    int count(const QByteArray& word) const;

    // To the client connected last; false when there is none.
    bool send(const QByteArray& bytes);
    bool sendLines(const QList<QByteArray>& lines);
    bool waitForClient();
    bool waitForLine(const QByteArray& line);
    // Closes the connection to the client connected last.
    void drop();
    bool clientGone();

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_pending;
    QList<QByteArray> m_received;
    int m_connections = 0;
};

}  // namespace mr::test
