#include "limitedlistener.h"

#include <QTcpSocket>

#include <algorithm>

namespace mr::server {

bool arrivedBeforeSignals(const QTcpSocket& socket) {
    return socket.bytesAvailable() > 0 || socket.state() != QAbstractSocket::ConnectedState;
}

LimitedListener::LimitedListener(int limit, Start start, Waiting waiting)
    : m_limit(limit), m_start(std::move(start)), m_waiting(std::move(waiting)) {
    // Many clients connecting at once (a network coming back) must not see their first
    // attempt dropped by a short accept queue.
    m_server.setListenBacklogSize(limit);
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { accept(); });
}

void LimitedListener::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_open.size() >= m_limit && !makeRoom()) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        QObject* served = m_start(socket);
        m_open.append(served);
        // The server is the context: once it is gone, so is the list.
        QObject::connect(served, &QObject::destroyed, &m_server,
                         [this](QObject* gone) { m_open.removeOne(gone); });
    }
}

bool LimitedListener::makeRoom() {
    if (!m_waiting) {
        return false;
    }
    const auto oldest = std::find_if(m_open.cbegin(), m_open.cend(), m_waiting);
    if (oldest == m_open.cend()) {
        return false;
    }
    // Its destruction takes it off the list.
    delete *oldest;
    return true;
}

}  // namespace mr::server
