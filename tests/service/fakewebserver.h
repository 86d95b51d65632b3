#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdint>

namespace mr::test {

// A web server on 127.0.0.1 on the main thread: it answers every GET with one fixed status and
// body, or stays silent, and counts the requests it read.
class FakeWebServer : public QObject {
public:
    explicit FakeWebServer(QByteArray body = {}, QByteArray status = "200 OK")
        : m_body(std::move(body)), m_status(std::move(status)) {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, this, [this, s] { readFrom(s); });
            }
        });
    }
    std::uint16_t port() const { return m_server.serverPort(); }
    void setBody(const QByteArray& body) { m_body = body; }
    void setSilent(bool silent) { m_silent = silent; }
    int requests() const { return m_requests; }
    QByteArray lastRequestLine() const { return m_lastLine; }

private:
    void readFrom(QTcpSocket* s) {
        QByteArray& head = m_heads[s];
        head += s->readAll();
        if (!head.contains("\r\n\r\n")) {
            return;
        }
        ++m_requests;
        m_lastLine = head.left(head.indexOf("\r\n"));
        head.clear();
        if (m_silent) {
            return;
        }
        s->write("HTTP/1.1 " + m_status + "\r\nContent-Length: " +
                 QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n" + m_body);
        s->disconnectFromHost();
    }

    QTcpServer m_server;
    QByteArray m_body;
    QByteArray m_status;
    bool m_silent = false;
    int m_requests = 0;
    QByteArray m_lastLine;
    QHash<QTcpSocket*, QByteArray> m_heads;
};

}  // namespace mr::test
