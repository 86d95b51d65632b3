#include "messaging/messenger.h"

#include "core/profile.h"
#include "core/userinfo.h"
#include "messaging/infoprotocol.h"

#include <QRegularExpression>
#include <QTcpSocket>

namespace mr {

QString MessageBodyFromText(const QString& plainText) {
    return MessageBodyFromLines(plainText.isEmpty() ? QStringList()
                                                    : plainText.split(QLatin1Char('\n')));
}

QStringList MessageLines(const QString& text) {
    static const QRegularExpression kBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = text.split(kBreak);
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

QString QuotedMessage(const QString& nickname, const QString& text) {
    QStringList lines{nickname + QStringLiteral(" wrote:")};
    for (const QString& line : MessageLines(text)) {
        lines.append(QLatin1Char('>') + line);
    }
    return lines.join(QLatin1Char('\n'));
}

MessageSender::MessageSender(MessengerContext context, QObject* parent)
    : QObject(parent), m_context(std::move(context)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { finish(Outcome::Offline); });
}

MessageSender::~MessageSender() {
    if (m_socket != nullptr) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void MessageSender::send(qint32 userId, const QString& body) {
    if (m_started) {
        return;
    }
    const quint16 infoPort = m_context.infoPort ? m_context.infoPort() : 0;
    m_line = BuildMessageText(UserInfo().id(), UserInfo().nickname(), infoPort, body);
    if (m_line.size() > kMaxMessageBytes) {
        // Nothing was started: a shorter message may be sent with this sender still.
        QMetaObject::invokeMethod(
            this, [this] { emit finished(Outcome::TooLong); }, Qt::QueuedConnection);
        return;
    }
    m_started = true;
    const bool placed =
        m_context.locate &&
        m_context.locate(this, userId,
                         [this](std::optional<UserLocation> location) { located(location); });
    if (!placed) {
        // Reported after send() has returned, as every other outcome is.
        QMetaObject::invokeMethod(
            this, [this] { finish(Outcome::Failed); }, Qt::QueuedConnection);
    }
}

void MessageSender::located(const std::optional<UserLocation>& location) {
    if (m_done) {
        return;
    }
    if (!location) {
        finish(Outcome::Failed);
        return;
    }
    if (location->address.isEmpty()) {
        finish(Outcome::Offline);
        return;
    }
    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::connected, this, &MessageSender::connected);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (m_written) {
            finish(Outcome::Delivered);
        }
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        // Refused, unreachable, or cut before the whole line went out.
        finish(Outcome::Offline);
    });
    m_timer.start(m_timeoutMs);
    m_socket->connectToHost(location->address, location->infoPort);
}

void MessageSender::connected() {
    if (m_done) {
        return;
    }
    m_socket->write(m_line);
    m_written = true;
    // The receiver takes the end of the connection as the end of the message.
    m_socket->disconnectFromHost();
}

void MessageSender::finish(Outcome outcome) {
    if (m_done) {
        return;
    }
    m_done = true;
    m_timer.stop();
    if (m_socket != nullptr) {
        m_socket->disconnect(this);
        if (outcome != Outcome::Delivered) {
            m_socket->abort();
        }
    }
    emit finished(outcome);
}

}  // namespace mr
