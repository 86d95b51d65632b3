#include "directory/pinger.h"

#include "messaging/infoprotocol.h"

#include <QTcpSocket>

namespace mr {

Pinger::Pinger(const QString& address, quint16 port, const QString& nickname, QObject* parent)
    : QObject(parent), m_address(address), m_port(port), m_nickname(nickname) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { complete(kTimeOut); });
}

Pinger::~Pinger() {
    if (m_socket != nullptr) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void Pinger::setTimeout(int ms) {
    m_timeoutMs = ms;
}

QString Pinger::nickname() const {
    return m_nickname;
}

void Pinger::start() {
    if (m_started) {
        return;
    }
    m_started = true;
    m_socket = new QTcpSocket(this);
    // A peer that streams instead of answering cannot make the pinger buffer it all.
    m_socket->setReadBufferSize(64);
    connect(m_socket, &QTcpSocket::connected, this, &Pinger::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &Pinger::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &Pinger::onClosed);
    connect(m_socket, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError) { onClosed(); });
    m_timer.start(m_timeoutMs);
    m_clock.start();
    m_socket->connectToHost(m_address, m_port);
}

QString Pinger::FormatElapsed(qint64 ms) {
    if (ms < 0) {
        ms = 0;
    }
    // Integer arithmetic keeps the digits exact: no binary rounding, no locale.
    QString text = QString::number(ms / 1000);
    const qint64 fraction = ms % 1000;
    if (fraction != 0) {
        QString digits = QString::number(fraction).rightJustified(3, QLatin1Char('0'));
        while (digits.endsWith(QLatin1Char('0'))) {
            digits.chop(1);
        }
        text += QLatin1Char('.') + digits;
    }
    return text;
}

void Pinger::onConnected() {
    if (!m_done) {
        m_socket->write(kInfoPing);
    }
}

void Pinger::onReadyRead() {
    if (m_done) {
        return;
    }
    m_received += m_socket->readAll();
    const QByteArray pong(kInfoPong);
    if (m_received == pong) {
        complete(FormatElapsed(m_clock.elapsed()));
    } else if (!pong.startsWith(m_received)) {
        complete(kBadAnswer);
    }
    // Otherwise the answer came split so far and is still a beginning of "PONG!".
}

void Pinger::onClosed() {
    if (m_done) {
        return;
    }
    // Half an answer followed by a close is still an answer, only a wrong one.
    complete(m_received.isEmpty() ? kCantConnect : kBadAnswer);
}

void Pinger::complete(const QString& result) {
    if (m_done) {
        return;
    }
    m_done = true;
    m_timer.stop();
    if (m_socket != nullptr) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    // Queued, so that a receiver deleting the pinger never pulls it from under a socket
    // handler that is still running.
    QMetaObject::invokeMethod(
        this, [this, result] { emit finished(m_nickname, result); }, Qt::QueuedConnection);
}

}  // namespace mr
