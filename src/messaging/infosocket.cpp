#include "messaging/infosocket.h"

#include "messaging/infoprotocol.h"

#include <QMetaMethod>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace mr {

namespace {

// A dual-stack listener reports IPv4 peers as ::ffff:a.b.c.d; the address is shown dotted.
QString dottedAddress(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

}  // namespace

InfoSocket::InfoSocket(QObject* parent) : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &InfoSocket::acceptConnections);
}

InfoSocket::~InfoSocket() {
    // Held connections are children of this object and go with it; only the bookkeeping
    // signals must not fire into a half-destroyed object.
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it) {
        it.key()->disconnect(this);
    }
}

bool InfoSocket::open(const QHostAddress& address) {
    if (m_server.isListening()) {
        m_server.close();
    }
    return m_server.listen(address, 0);
}

void InfoSocket::close() {
    m_server.close();
}

bool InfoSocket::isOpen() const {
    return m_server.isListening();
}

quint16 InfoSocket::port() const {
    return m_server.isListening() ? m_server.serverPort() : 0;
}

void InfoSocket::setIdleTimeout(int ms) {
    m_idleTimeoutMs = ms;
}

void InfoSocket::setMaxRequestSize(qint64 bytes) {
    m_maxRequestSize = bytes;
}

int InfoSocket::connectionCount() const {
    return static_cast<int>(m_connections.size());
}

void InfoSocket::acceptConnections() {
    while (QTcpSocket* connection = m_server.nextPendingConnection()) {
        connection->setParent(this);
        if (m_connections.size() >= m_maxConnections) {
            const auto oldest =
                std::min_element(m_connections.cbegin(), m_connections.cend(),
                                 [](const Held& a, const Held& b) { return a.serial < b.serial; });
            drop(oldest.key());
        }
        // Qt stops reading from the system once the buffer holds one byte over the cap, so
        // an oversized request is detected without ever being held in full.
        connection->setReadBufferSize(m_maxRequestSize + 1);

        auto* timer = new QTimer(connection);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, connection] { timedOut(connection); });
        m_connections.insert(connection, {timer,
                                          {},
                                          dottedAddress(connection->peerAddress()),
                                          ++m_accepted,
                                          QDeadlineTimer(m_idleTimeoutMs)});

        connect(connection, &QTcpSocket::readyRead, this,
                [this, connection] { readRequest(connection); });
        connect(connection, &QTcpSocket::readChannelFinished, this,
                [this, connection] { readFinished(connection); });
        connect(connection, &QTcpSocket::disconnected, this, [this, connection] {
            readFinished(connection);
            release(connection);
        });
        connect(connection, &QTcpSocket::errorOccurred, this,
                [this, connection](QAbstractSocket::SocketError error) {
                    // A sender's close is the end of its message, not a failure.
                    if (error == QAbstractSocket::RemoteHostClosedError) {
                        readFinished(connection);
                    }
                    drop(connection);
                });
        timer->start(m_idleTimeoutMs);

        // Data may have arrived before the signals were connected.
        if (connection->bytesAvailable() > 0) {
            readRequest(connection);
        }
    }
}

void InfoSocket::readRequest(QTcpSocket* connection) {
    const auto held = m_connections.find(connection);
    if (held == m_connections.end()) {
        return;
    }
    if (held->received.size() + connection->bytesAvailable() > m_maxRequestSize) {
        drop(connection);
        return;
    }
    held->received += connection->readAll();
    // A ping and a chat request are answered while the peer waits; everything else is read
    // to its end.
    const InfoRequest request = ParseInfoRequest(held->received);
    switch (request.kind) {
        case InfoKind::Ping:
            held->received.clear();
            connection->write(kInfoPong);
            finish(connection);
            break;
        case InfoKind::ChatRequest: {
            static const QMetaMethod chatSignal =
                QMetaMethod::fromSignal(&InfoSocket::chatRequested);
            if (!isSignalConnected(chatSignal)) {
                held->received.clear();
                finish(connection);
                break;
            }
            delete m_connections.take(connection).timer;
            connection->disconnect(this);
            connection->setReadBufferSize(0);
            connection->setParent(nullptr);
            emit chatRequested(connection, request.nickname, request.text);
            break;
        }
        case InfoKind::Message:
            // A sender that waits for our close instead of closing has its message taken once
            // nothing more has come for a while, never later than the idle time-out.
            held->timer->start(static_cast<int>(
                std::min<qint64>(held->idleEnd.remainingTime(), kMessageSettleMs)));
            break;
        case InfoKind::Malformed:
        case InfoKind::Other:
            break;
    }
}

void InfoSocket::readFinished(QTcpSocket* connection) {
    const auto held = m_connections.find(connection);
    if (held == m_connections.end()) {
        return;
    }
    if (connection->bytesAvailable() > 0) {
        readRequest(connection);
    }
    const auto still = m_connections.find(connection);
    if (still == m_connections.end() || still->received.isEmpty()) {
        return;
    }
    const QByteArray data = std::exchange(still->received, {});
    const QString address = still->address;
    const InfoRequest request = ParseInfoRequest(data);
    if (request.kind == InfoKind::Message) {
        finish(connection);
        emit messageReceived(request.userId, request.nickname, address, request.port, request.text);
    } else if (request.kind == InfoKind::Malformed) {
        emit badRequest(request.error);
    }
}

void InfoSocket::timedOut(QTcpSocket* connection) {
    const auto held = m_connections.find(connection);
    if (held != m_connections.end() && ParseInfoRequest(held->received).kind == InfoKind::Message) {
        held->timer->start(m_idleTimeoutMs);  // guards the close
        readFinished(connection);
        return;
    }
    drop(connection);
}

void InfoSocket::finish(QTcpSocket* connection) {
    // The idle timer keeps guarding a peer that never lets the close complete.
    connection->disconnectFromHost();
    if (connection->state() == QAbstractSocket::UnconnectedState) {
        release(connection);
    }
}

void InfoSocket::drop(QTcpSocket* connection) {
    const auto held = m_connections.find(connection);
    if (held == m_connections.end()) {
        return;
    }
    // What a dropped connection brought is not a request: aborting must not deliver it.
    held->received.clear();
    connection->disconnect(this);
    connection->abort();
    release(connection);
}

void InfoSocket::release(QTcpSocket* connection) {
    const auto held = m_connections.find(connection);
    if (held == m_connections.end()) {
        return;
    }
    QTimer* timer = held->timer;
    m_connections.erase(held);
    timer->stop();
    connection->disconnect(this);
    connection->deleteLater();
}

}  // namespace mr
