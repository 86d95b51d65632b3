#pragma once

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>

namespace mr::test {

// A web server on 127.0.0.1 on the main thread: it answers every GET with one fixed status and
// body, or stays silent, and counts the requests it read.
struct FakeWebServer : QTcpServer {
    explicit FakeWebServer(QByteArray body = {}, QByteArray status = "200 OK")
        : body(std::move(body)), status(std::move(status)) {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, [this, s] {
                    if (!s->peek(s->bytesAvailable()).contains("\r\n\r\n")) {
                        return;
                    }
                    const QByteArray head = s->readAll();
                    ++requests;
                    lastRequestLine = head.left(head.indexOf("\r\n"));
                    if (!silent) {
                        s->write("HTTP/1.1 " + this->status +
                                 "\r\nContent-Length: " + QByteArray::number(this->body.size()) +
                                 "\r\nConnection: close\r\n\r\n" + this->body);
                        s->disconnectFromHost();
                    }
                });
            }
        });
    }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(serverPort()); }

    QByteArray body;
    QByteArray status;
    bool silent = false;
    int requests = 0;
    QByteArray lastRequestLine;
};

}  // namespace mr::test
