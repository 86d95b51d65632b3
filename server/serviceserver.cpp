#include "serviceserver.h"

#include "serviceconnection.h"

#include <QTcpSocket>

namespace mr::server {

ServiceServer::ServiceServer(Store& store, Presence& presence, StoreThreads threads,
                             QObject* parent)
    : QObject(parent), m_store(store), m_presence(presence), m_threads(threads) {
    connect(&m_server, &QTcpServer::newConnection, this, &ServiceServer::accept);
}

bool ServiceServer::listen(const QHostAddress& address, quint16 port) {
    return m_server.listen(address, port);
}

void ServiceServer::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_connections >= kMaxServiceConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        auto* connection =
            new ServiceConnection(socket, m_store, m_presence, m_threads, m_nextSession++, this);
        connect(connection, &ServiceConnection::finished, this, [this] { --m_connections; });
    }
}

}  // namespace mr::server
