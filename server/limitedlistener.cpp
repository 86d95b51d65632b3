#include "limitedlistener.h"

#include <QTcpSocket>

namespace mr::server {

LimitedListener::LimitedListener(int limit, Start start)
    : m_limit(limit), m_start(std::move(start)) {
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { accept(); });
}

void LimitedListener::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_open >= m_limit) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_open;
        // The server is the context: once it is gone, so is the count.
        QObject::connect(m_start(socket), &QObject::destroyed, &m_server, [this] { --m_open; });
    }
}

}  // namespace mr::server
