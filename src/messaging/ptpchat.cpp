#include "messaging/ptpchat.h"

#include "core/fields.h"
#include "messaging/infoprotocol.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <utility>

namespace mr {

namespace {

// A dual-stack listener reports IPv4 peers as ::ffff:a.b.c.d.
QHostAddress plain(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

// An answer already written gets this long to leave before its connection is cut.
constexpr int kFlushTimeoutMs = 5000;

// Closes a connection once what was written has gone out, without its owner.
void closeWhenFlushed(QTcpSocket* connection) {
    connection->disconnect();
    connection->setParent(nullptr);
    QObject::connect(connection, &QTcpSocket::disconnected, connection, &QObject::deleteLater);
    QTimer::singleShot(kFlushTimeoutMs, connection, [connection] {
        connection->abort();
        connection->deleteLater();
    });
    connection->disconnectFromHost();
    if (connection->state() == QAbstractSocket::UnconnectedState) {
        connection->deleteLater();
    }
}

int g_openInvitations = 0;

}  // namespace

QByteArray BuildChatAcceptText(quint16 port) {
    return QByteArray(kChatAccept) + ' ' + QByteArray::number(port);
}

ChatAnswer ParseChatAnswer(const QByteArray& answer) {
    ChatAnswer result;
    if (answer == kChatDecline) {
        result.kind = ChatAnswer::Declined;
        return result;
    }
    if (!answer.startsWith(kChatAccept)) {
        return result;
    }
    result.kind = ChatAnswer::BadPort;
    const QByteArray digits = answer.mid(3, 10).trimmed();
    const auto port = ParseDecimal(digits, 1, 65535);
    if (port) {
        result.kind = ChatAnswer::Accepted;
        result.port = static_cast<quint16>(*port);
    }
    return result;
}

QByteArray EncodeChatKeys(const QString& typed) {
    QByteArray bytes;
    char16_t previous = 0;
    for (const QChar ch : typed) {
        const char16_t c = ch.unicode();
        if (std::exchange(previous, c) == u'\r' && c == u'\n') {
            continue;  // CR LF, as pasted text holds it, is one line break
        }
        if (c == u'\b') {
            bytes += kChatBackspace;
        } else if (c == u'\r' || c == u'\n' || c == u'\u2028' || c == u'\u2029') {
            bytes += kChatReturn;
        } else if (c == u'\t' || (c >= 0x20 && c != 0x7f && c <= 0xff)) {
            bytes += static_cast<char>(c);
        } else if (c > 0xff) {
            bytes += '?';
        }
    }
    return bytes;
}

QByteArray EncodeChatColor(int index) {
    QByteArray bytes(2, kChatColorChange);
    bytes[1] = static_cast<char>(index);
    return bytes;
}

namespace {

qsizetype lineLength(const ChatLine& line) {
    qsizetype length = 0;
    for (const ChatRun& run : line) {
        length += run.text.size();
    }
    return length;
}

}  // namespace

QList<ChatEdit> ChatPane::apply(const QByteArray& bytes) {
    QList<ChatEdit> edits;
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        if (m_colorPending) {
            m_colorPending = false;
            m_afterReturn = false;
            if (b < kChatColorCount) {
                m_color = b;
            }
            continue;
        }
        const bool afterReturn = std::exchange(m_afterReturn, b == kChatReturn);
        switch (b) {
            case kChatColorChange:
                m_colorPending = true;
                break;
            case kChatBackspace: {
                ChatLine& line = m_lines.last();
                if (!line.isEmpty()) {
                    line.last().text.chop(1);
                    if (line.last().text.isEmpty()) {
                        line.removeLast();
                    }
                    --m_lineChars;
                    --m_heldChars;
                } else if (m_lines.size() > 1) {
                    m_lines.removeLast();
                    m_lineChars = lineLength(m_lines.last());
                } else {
                    break;
                }
                edits.append({ChatEdit::Backspace, {}, m_color});
                break;
            }
            case '\n':
                if (afterReturn) {
                    break;  // the LF of a CR LF: the CR began the line already
                }
                [[fallthrough]];
            case kChatReturn:
                m_lines.append(ChatLine{});
                m_lineChars = 0;
                dropOldLines();
                edits.append({ChatEdit::NewLine, {}, m_color});
                break;
            default: {
                // Control characters show as nothing; only the tab is text.
                if ((b < 0x20 && b != '\t') || m_lineChars >= kMaxLineChars) {
                    break;
                }
                const QChar ch = QChar::fromLatin1(static_cast<char>(b));
                ChatLine& line = m_lines.last();
                if (line.isEmpty() || line.last().color != m_color) {
                    line.append({m_color, QString(ch)});
                } else {
                    line.last().text += ch;
                }
                ++m_lineChars;
                ++m_heldChars;
                dropOldLines();
                edits.append({ChatEdit::Append, ch, m_color});
                break;
            }
        }
    }
    return edits;
}

QString ChatPane::text() const {
    QStringList lines;
    for (const ChatLine& line : m_lines) {
        QString text;
        for (const ChatRun& run : line) {
            text += run.text;
        }
        lines.append(text);
    }
    return lines.join(QLatin1Char('\n'));
}

void ChatPane::clear() {
    m_lines = {ChatLine{}};
    m_lineChars = 0;
    m_heldChars = 0;
}

QList<ChatLine> ChatPane::takeFinishedLines() {
    QList<ChatLine> finished = m_lines.mid(0, m_lines.size() - 1);
    m_lines.remove(0, m_lines.size() - 1);
    m_heldChars = m_lineChars;
    return finished;
}

void ChatPane::dropOldLines() {
    while (m_lines.size() > 1 && (m_heldChars > kMaxHeldChars || m_lines.size() > kMaxLines)) {
        m_heldChars -= lineLength(m_lines.first());
        m_lines.removeFirst();
    }
}

PtpChat::PtpChat(QObject* parent) : QObject(parent) {
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Listening || m_state == State::Connecting) {
            end();
        }
    });
}

PtpChat::~PtpChat() {
    if (m_peer != nullptr) {
        m_peer->disconnect(this);
        m_peer->abort();
    }
}

quint16 PtpChat::listen(const QHostAddress& peer) {
    if (m_state != State::Idle) {
        return 0;
    }
    m_server = new QTcpServer(this);
    connect(m_server, &QTcpServer::newConnection, this, &PtpChat::acceptConnections);
    if (!m_server->listen(QHostAddress::Any, 0)) {
        delete m_server;
        m_server = nullptr;
        return 0;
    }
    m_expected = plain(peer);
    m_state = State::Listening;
    if (m_connectTimeoutMs > 0) {
        m_connectTimer.start(m_connectTimeoutMs);
    }
    return m_server->serverPort();
}

quint16 PtpChat::listeningPort() const {
    return m_server != nullptr && m_server->isListening() ? m_server->serverPort() : 0;
}

void PtpChat::connectTo(const QString& address, quint16 port) {
    if (m_state != State::Idle) {
        return;
    }
    m_state = State::Connecting;
    auto* socket = new QTcpSocket(this);
    m_peer = socket;
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        m_connectTimer.stop();
        adopt(socket);
    });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError) { end(); });
    if (m_connectTimeoutMs > 0) {
        m_connectTimer.start(m_connectTimeoutMs);
    }
    socket->connectToHost(address, port);
}

void PtpChat::acceptConnections() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        // One peer, and only the one the handshake was made with.
        if (m_state != State::Listening || plain(socket->peerAddress()) != m_expected) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_connectTimer.stop();
        m_peer = socket;
        m_server->close();
        connect(socket, &QTcpSocket::errorOccurred, this,
                [this](QAbstractSocket::SocketError) { end(); });
        adopt(socket);
    }
}

void PtpChat::adopt(QTcpSocket* socket) {
    m_state = State::Connected;
    // A peer that types faster than we show waits on the network, not in our memory.
    socket->setReadBufferSize(kReadBufferBytes);
    connect(socket, &QTcpSocket::readyRead, this, &PtpChat::readPeer);
    connect(socket, &QTcpSocket::disconnected, this, &PtpChat::end);
    emit connected();
    if (m_state == State::Connected && socket->bytesAvailable() > 0) {
        readPeer();
    }
}

void PtpChat::readPeer() {
    if (m_peer == nullptr) {
        return;
    }
    const QList<ChatEdit> edits = m_remote.apply(m_peer->readAll());
    if (!edits.isEmpty()) {
        emit received(edits);
    }
}

bool PtpChat::send(const QByteArray& bytes) {
    if (m_state != State::Connected || m_peer == nullptr) {
        return false;
    }
    return m_peer->write(bytes) == bytes.size();
}

void PtpChat::close() {
    if (m_peer != nullptr && m_state == State::Connected) {
        // What was typed last still goes out.
        m_peer->disconnect(this);
        closeWhenFlushed(m_peer);
        m_peer = nullptr;
    }
    end();
}

void PtpChat::end() {
    if (m_state == State::Disconnected) {
        return;
    }
    const bool wasIdle = m_state == State::Idle;
    m_state = State::Disconnected;
    m_connectTimer.stop();
    if (m_server != nullptr) {
        m_server->close();
    }
    if (m_peer != nullptr) {
        // Whatever arrived before the close is still shown.
        readPeer();
        m_peer->disconnect(this);
        m_peer->abort();
        m_peer->deleteLater();
        m_peer = nullptr;
    }
    if (!wasIdle) {
        emit disconnected();
    }
}

ChatRequest::ChatRequest(UserLocator locate, QObject* parent)
    : QObject(parent), m_locate(std::move(locate)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_asking) {
            answered();
        } else {
            finish(Outcome::Offline);
        }
    });
}

ChatRequest::~ChatRequest() {
    if (m_socket != nullptr) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void ChatRequest::request(qint32 userId, const QString& nickname, const QString& reason) {
    if (m_started) {
        return;
    }
    m_started = true;
    m_line = QString::fromUtf8(BuildChatRequestText(nickname, reason));
    emit stateChanged(QString::fromLatin1(kChatConnectingText));
    const bool placed =
        m_locate &&
        m_locate(this, userId, [this](std::optional<UserLocation> location) { located(location); });
    if (!placed) {
        QMetaObject::invokeMethod(
            this, [this] { finish(Outcome::Failed); }, Qt::QueuedConnection);
    }
}

void ChatRequest::located(const std::optional<UserLocation>& location) {
    if (m_done) {
        return;
    }
    if (!location) {
        finish(Outcome::Failed);
        return;
    }
    m_address = location->address;
    m_infoPort = location->infoPort;
    if (m_address.isEmpty()) {
        finish(Outcome::Offline);
        return;
    }
    m_socket = new QTcpSocket(this);
    // The answer never needs more than a few bytes; a peer that sends more is not answering.
    m_socket->setReadBufferSize(kMaxAnswerSize + 1);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_timer.stop();
        m_asking = true;
        emit stateChanged(QString::fromLatin1(kChatAskingText));
        m_socket->write(m_line.toUtf8());
    });
    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        m_answer += m_socket->read(kMaxAnswerSize + 1 - m_answer.size());
        if (m_answer.size() > kMaxAnswerSize) {
            answered();
        } else {
            m_timer.start(kAnswerSettleMs);
        }
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] { answered(); });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // The invitee closing after his answer is how an answer ends.
        if (m_asking && error == QAbstractSocket::RemoteHostClosedError) {
            answered();
        } else {
            finish(Outcome::Offline);
        }
    });
    m_timer.start(m_connectTimeoutMs);
    m_socket->connectToHost(m_address, m_infoPort);
}

void ChatRequest::answered() {
    if (m_done || !m_asking) {
        return;
    }
    if (m_socket->bytesAvailable() > 0 && m_answer.size() <= kMaxAnswerSize) {
        m_answer += m_socket->read(kMaxAnswerSize + 1 - m_answer.size());
    }
    const ChatAnswer answer = ParseChatAnswer(m_answer);
    switch (answer.kind) {
        case ChatAnswer::Accepted:
            m_port = answer.port;
            finish(Outcome::Accepted);
            break;
        case ChatAnswer::Declined:
            finish(Outcome::Declined);
            break;
        case ChatAnswer::BadPort:
            finish(Outcome::BadPort);
            break;
        case ChatAnswer::Other:
            finish(Outcome::NoAnswer);
            break;
    }
}

void ChatRequest::finish(Outcome outcome) {
    if (m_done) {
        return;
    }
    m_done = true;
    m_timer.stop();
    if (m_socket != nullptr) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    emit finished(outcome);
}

QString ChatRequest::outcomeText(Outcome outcome) {
    switch (outcome) {
        case Outcome::Declined:
            return QString::fromLatin1(kChatDeclinedText);
        case Outcome::BadPort:
            return QString::fromLatin1(kChatBadPortText);
        case Outcome::Offline:
            return QString::fromLatin1(kChatOfflineText);
        case Outcome::Failed:
            return QString::fromLatin1(kChatErrorText);
        case Outcome::Accepted:
        case Outcome::NoAnswer:
            break;
    }
    return {};
}

ChatInvitation::ChatInvitation(QTcpSocket* connection, const QString& nickname,
                               const QString& reason, QObject* parent)
    : QObject(parent),
      m_connection(connection),
      m_nickname(nickname),
      m_reason(reason),
      m_arrived(QTime::currentTime()),
      m_peerAddress(plain(connection->peerAddress())) {
    ++g_openInvitations;
    connection->setParent(this);
    // Only one line belongs to the handshake; more is neither kept nor answered.
    connection->setReadBufferSize(4096);
    connect(connection, &QTcpSocket::readyRead, this, [connection] { connection->readAll(); });
    connect(connection, &QTcpSocket::disconnected, this, &ChatInvitation::close);
    connect(connection, &QTcpSocket::errorOccurred, this, &ChatInvitation::close);
    connection->readAll();
}

ChatInvitation::~ChatInvitation() {
    close();
}

bool ChatInvitation::isOpen() const {
    return m_connection != nullptr && m_connection->state() == QAbstractSocket::ConnectedState;
}

bool ChatInvitation::accept(quint16 port) {
    return answer(BuildChatAcceptText(port));
}

bool ChatInvitation::reject() {
    return answer(kChatDecline);
}

bool ChatInvitation::answer(const QByteArray& text) {
    if (!isOpen()) {
        close();
        return false;
    }
    m_connection->write(text);
    QTcpSocket* connection = std::exchange(m_connection, nullptr);
    --g_openInvitations;
    closeWhenFlushed(connection);
    return true;
}

void ChatInvitation::close() {
    if (m_connection == nullptr) {
        return;
    }
    QTcpSocket* connection = std::exchange(m_connection, nullptr);
    --g_openInvitations;
    connection->disconnect(this);
    connection->abort();
    connection->deleteLater();
}

int ChatInvitation::openCount() {
    return g_openInvitations;
}

}  // namespace mr
