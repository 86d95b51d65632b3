#include "net/ftpserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <unistd.h>

#include <cerrno>
#include <exception>

namespace mr {

namespace {

// A peer that sends commands but never reads the replies must not grow our buffers forever.
constexpr qint64 kMaxPendingReplyBytes = 1 << 20;
// Received data is read and written to the file in pieces of this size at most.
constexpr qint64 kDataReadBuffer = 1 << 20;
// What the data socket reads by itself before it says data is there, at most. It is copied once
// more on its way to the file; the rest waits in the kernel and goes straight into our buffer.
constexpr qint64 kDataSocketBuffer = 64 << 10;
// Received data read in one turn of the event loop at most, so that a fast sender cannot keep
// the other sessions waiting.
constexpr qint64 kDataTurn = 8 << 20;

quint32 ipv4Of(const QHostAddress& address) {
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? v4 : 0;
}

}  // namespace

FtpCommandError::FtpCommandError(const QString& message)
    : std::runtime_error(message.toStdString()) {}

QString FtpCommandError::message() const {
    return QString::fromStdString(what());
}

FtpCtrlSession::FtpCtrlSession(QTcpSocket* control, QObject* parent)
    : QObject(parent), m_control(control) {
    control->setParent(this);
}

FtpCtrlSession::~FtpCtrlSession() = default;

QString FtpCtrlSession::peerAddress() const {
    const QHostAddress address = m_control->peerAddress();
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

TFtpServer::TFtpServer(QObject* parent) : QObject(parent), m_listener(new QTcpServer(this)) {
    connect(m_listener, &QTcpServer::newConnection, this, &TFtpServer::onNewConnection);
}

TFtpServer::~TFtpServer() {
    // Sessions are children; their sockets must not call back into a half-destroyed server.
    for (FtpCtrlSession* s : m_sessions) {
        s->m_control->disconnect(this);
        if (s->m_data) {
            s->m_data->disconnect(this);
        }
    }
}

bool TFtpServer::start(const QHostAddress& address, quint16 port) {
    return m_listener->listen(address, port);
}

void TFtpServer::stop() {
    m_listener->close();
    const auto sessions = m_sessions;
    for (FtpCtrlSession* s : sessions) {
        closeSession(s);
    }
}

quint16 TFtpServer::port() const {
    return m_listener->serverPort();
}

void TFtpServer::clearCommands() {
    m_commands.clear();
}

void TFtpServer::addCommand(const QByteArray& keyword, Handler handler, bool loginRequired) {
    if (commandCount() >= kMaxCommands) {
        throw FtpCommandError(QStringLiteral("Too many command"));
    }
    m_commands.push_back({keyword.toUpper(), std::move(handler), loginRequired});
}

void TFtpServer::onNewConnection() {
    while (QTcpSocket* socket = m_listener->nextPendingConnection()) {
        if (m_maxClients > 0 && sessionCount() >= m_maxClients) {
            socket->write("421 Too many users connected.\r\n");
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            continue;
        }
        auto* s = new FtpCtrlSession(socket, this);
        s->m_idle = new QTimer(s);
        s->m_idle->setSingleShot(true);
        connect(s->m_idle, &QTimer::timeout, this, [this, s] { closeSession(s); });
        connect(socket, &QTcpSocket::readyRead, this, [this, s] { onControlReadyRead(s); });
        connect(socket, &QTcpSocket::disconnected, this, [this, s] { closeSession(s); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, s](QAbstractSocket::SocketError) {
            if (s->m_control->state() == QAbstractSocket::UnconnectedState) {
                closeSession(s);
            }
        });
        m_sessions.push_back(s);
        touch(*s);
        writeLine(*s, QStringLiteral("220 ICS FTP Server ready."));
    }
}

void TFtpServer::touch(FtpCtrlSession& s) {
    if (s.m_idle && m_idleTimeoutMs > 0) {
        s.m_idle->start(m_idleTimeoutMs);
    }
}

void TFtpServer::onControlReadyRead(FtpCtrlSession* s) {
    if (s->m_closing || s->m_quit) {
        s->m_control->readAll();
        return;
    }
    touch(*s);
    if (!s->m_framer.feed(s->m_control->readAll())) {
        closeSession(s);
        return;
    }
    while (!s->m_closing && !s->m_quit) {
        std::optional<QByteArray> line = s->m_framer.next();
        if (!line) {
            break;
        }
        try {
            handleLine(*s, *line);
        } catch (const std::exception& e) {
            // Whatever the command set off must not reach the event loop: this session ends.
            qWarning("peer session ended: %s", e.what());
            closeSession(s);
            return;
        }
    }
    if (s->m_framer.overflowed()) {
        closeSession(s);
    }
}

void TFtpServer::handleLine(FtpCtrlSession& s, const QByteArray& line) {
    const FtpCommandLine cmd = SplitCommandLine(line);
    QString answer;
    auto it = std::find_if(m_commands.begin(), m_commands.end(),
                           [&](const Command& c) { return c.keyword == cmd.keyword; });
    if (it == m_commands.end()) {
        answer =
            QStringLiteral("500 '%1': command not understood.").arg(QString::fromUtf8(cmd.keyword));
    } else if (it->loginRequired && s.State != FtpSessionState::Ready) {
        answer = QStringLiteral("530 Please login with USER and PASS.");
    } else {
        try {
            it->handler(s, cmd.params, answer);
        } catch (const FtpCommandError& e) {
            answer = QStringLiteral("501 ") + e.message();
        } catch (const std::exception& e) {
            // A peer always gets an answer; the program goes on.
            qWarning("peer command %s failed: %s", cmd.keyword.constData(), e.what());
            answer = QStringLiteral("501 Request failed.");
        }
    }
    if (s.m_closing) {
        return;
    }
    writeLine(s, answer);
    if (s.m_closing) {
        return;
    }
    TriggerAnswerSent(s, answer);
    if (s.m_quit && !s.m_closing) {
        s.m_control->disconnectFromHost();
    }
}

void TFtpServer::writeLine(FtpCtrlSession& s, const QString& answer) {
    if (s.m_closing) {
        return;
    }
    s.m_control->write(answer.toUtf8() + "\r\n");
    if (s.m_control->bytesToWrite() > kMaxPendingReplyBytes) {
        closeSession(&s);
    }
}

void TFtpServer::closeSession(FtpCtrlSession* s) {
    if (s->m_closing) {
        return;
    }
    // A push cut short by the control connection is a failed push.
    if (hasData(*s)) {
        finishData(*s, SocketErrorNumber(QAbstractSocket::RemoteHostClosedError), false);
    }
    s->m_closing = true;
    m_sessions.erase(std::remove(m_sessions.begin(), m_sessions.end(), s), m_sessions.end());
    s->m_idle->stop();
    s->m_control->disconnect(this);
    if (s->m_control->state() != QAbstractSocket::UnconnectedState) {
        s->m_control->abort();
    }
    if (s->m_passive) {
        s->m_passive->close();
    }
    emit sessionClosed(s);
    s->deleteLater();
}

bool TFtpServer::hasData(const FtpCtrlSession& s) const {
    return s.m_dataMode != FtpDataMode::None;
}

void TFtpServer::CommandPORT(FtpCtrlSession& s, const QByteArray& params, QString& answer) {
    s.CmdType = FtpCmdType::PORT;
    const std::optional<FtpEndpoint> endpoint = ParsePortArgument(params);
    // Data goes only back to the peer itself: a PORT naming a third host would make us attack it.
    if (!endpoint || endpoint->port == 0 || endpoint->ipv4 != ipv4Of(s.m_control->peerAddress())) {
        answer = QStringLiteral("501 Invalid PORT command.");
        return;
    }
    s.DataAddress = endpoint->ipv4;
    s.DataPort = endpoint->port;
    s.Passive = false;
    answer = QStringLiteral("200 Port command successful.");
}

void TFtpServer::CommandUSER(FtpCtrlSession& s, const QByteArray& params, QString& answer) {
    s.CmdType = FtpCmdType::USER;
    s.UserName = QString::fromUtf8(params).trimmed();
    s.State = FtpSessionState::WaitPassword;
    answer = QStringLiteral("331 Password required for %1.").arg(s.UserName);
}

void TFtpServer::CommandPASS(FtpCtrlSession& s, const QByteArray& params, QString& answer) {
    s.CmdType = FtpCmdType::PASS;
    if (s.State != FtpSessionState::WaitPassword) {
        answer = QStringLiteral("503 Login with USER first.");
        return;
    }
    s.PassWord = QString::fromUtf8(params).trimmed();
    s.State = FtpSessionState::Ready;
    answer = QStringLiteral("230 User %1 logged in.").arg(s.UserName);
}

void TFtpServer::CommandQUIT(FtpCtrlSession& s, const QByteArray&, QString& answer) {
    s.CmdType = FtpCmdType::QUIT;
    s.m_quit = true;
    answer = QStringLiteral("221 Goodbye.");
}

void TFtpServer::CommandABOR(FtpCtrlSession& s, const QByteArray&, QString& answer) {
    s.CmdType = FtpCmdType::ABOR;
    abortData(s, QStringLiteral("ABORT requested by client"));
    answer = QStringLiteral("225 ABOR command successful.");
}

void TFtpServer::CommandNOOP(FtpCtrlSession& s, const QByteArray& params, QString& answer) {
    s.CmdType = FtpCmdType::NOOP;
    answer = QStringLiteral("200 Ok. Parameter was '%1'.").arg(QString::fromUtf8(params));
}

void TFtpServer::CommandTYPE(FtpCtrlSession& s, const QByteArray& params, QString& answer) {
    s.CmdType = FtpCmdType::TYPE;
    const QString type = QString::fromUtf8(params).trimmed();
    const QString upper = type.toUpper();
    if (upper == QLatin1String("A") || upper == QLatin1String("I") ||
        upper == QLatin1String("A N") || upper == QLatin1String("L 8")) {
        answer = QStringLiteral("200 Type set to %1.").arg(type);
    } else {
        answer = QStringLiteral("500 'TYPE %1': command not understood.").arg(type);
    }
}

void TFtpServer::CommandPASV(FtpCtrlSession& s, const QByteArray&, QString& answer) {
    s.CmdType = FtpCmdType::None;
    if (s.m_passive) {
        s.m_passive->close();
        s.m_passive->deleteLater();
        s.m_passive = nullptr;
    }
    auto* listener = new QTcpServer(&s);
    if (!listener->listen(QHostAddress(QStringLiteral("0.0.0.0")), 0)) {
        delete listener;
        answer = QStringLiteral("425 Can't open passive connection.");
        return;
    }
    s.m_passive = listener;
    FtpCtrlSession* sp = &s;
    connect(listener, &QTcpServer::newConnection, this, [this, sp, listener] {
        if (sp->m_passive != listener || sp->m_closing) {
            return;
        }
        // Only the peer of the control connection may connect; a waiting command takes it now.
        if (sp->m_dataMode != FtpDataMode::None && !sp->m_data) {
            QTcpSocket* socket = listener->nextPendingConnection();
            if (socket && ipv4Of(socket->peerAddress()) == ipv4Of(sp->m_control->peerAddress())) {
                attachData(*sp, socket);
                onDataConnected(sp);
            } else if (socket) {
                socket->abort();
                socket->deleteLater();
            }
        }
    });
    s.Passive = true;
    FtpEndpoint endpoint;
    endpoint.port = listener->serverPort();
    const quint32 peer = ipv4Of(s.m_control->peerAddress());
    endpoint.ipv4 = peer == 0x7F000001 ? peer : ipv4Of(s.m_control->localAddress());
    answer = QString::fromLatin1(FormatPassiveReply(endpoint));
}

void TFtpServer::CommandPUTBR(FtpCtrlSession& s, const QByteArray& params, QString& answer) {
    s.CmdType = FtpCmdType::PUTBR;
    s.FileName = PathParameter(params);
    s.Aborting = false;
    s.StoreFailed = FtpCtrlSession::StoreFailure::None;
    s.TransferError = QStringLiteral("Transfer Ok");
    if (hasData(s) || (!s.Passive && s.DataPort == 0) || !TriggerValidatePut(s)) {
        answer = QStringLiteral("500 Cannot APPE.");
        return;
    }
    const QFileInfo target(s.FilePath);
    s.RestartPos = target.exists() ? target.size() : 0;
    openDataConnection(s, FtpDataMode::Receive);
    answer = QStringLiteral("150 APPE supported.  Ready to append file \"%1\" at offset %2.")
                 .arg(QString::fromUtf8(params))
                 .arg(s.RestartPos);
}

void TFtpServer::startSendStream(FtpCtrlSession& s) {
    s.Aborting = false;
    s.TransferError = QStringLiteral("Transfer Ok");
    if (!openDataConnection(s, FtpDataMode::Send)) {
        s.TransferError = QStringLiteral("Can't open data connection");
        // The 150 reply goes out first; the failure follows it.
        QTimer::singleShot(0, this, [this, sp = QPointer<FtpCtrlSession>(&s)] {
            if (sp && !sp->m_closing) {
                writeLine(*sp, QStringLiteral("426 Connection closed; %1.").arg(sp->TransferError));
            }
        });
    }
}

bool TFtpServer::openDataConnection(FtpCtrlSession& s, FtpDataMode mode) {
    s.m_dataMode = mode;
    s.m_dataConnected = false;
    if (s.Passive && s.m_passive) {
        QTcpSocket* socket = s.m_passive->nextPendingConnection();
        if (socket) {
            if (ipv4Of(socket->peerAddress()) != ipv4Of(s.m_control->peerAddress())) {
                socket->abort();
                socket->deleteLater();
                return true;  // keep waiting for the right peer
            }
            attachData(s, socket);
            // Report the connection after the command's reply has gone out.
            QTimer::singleShot(0, this, [this, sp = QPointer<FtpCtrlSession>(&s), socket] {
                if (sp && sp->m_data == socket) {
                    onDataConnected(sp);
                }
            });
        }
        return true;
    }
    if (s.DataPort == 0) {
        s.m_dataMode = FtpDataMode::None;
        return false;
    }
    auto* socket = new QTcpSocket(&s);
    attachData(s, socket);
    socket->connectToHost(QHostAddress(s.DataAddress), s.DataPort);
    return true;
}

void TFtpServer::attachData(FtpCtrlSession& s, QTcpSocket* socket) {
    socket->setParent(&s);
    socket->setReadBufferSize(kDataSocketBuffer);
    s.m_data = socket;
    FtpCtrlSession* sp = &s;
    connect(socket, &QTcpSocket::connected, this, [this, sp] { onDataConnected(sp); });
    connect(socket, &QTcpSocket::readyRead, this, [this, sp] { onDataReadyRead(sp); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, sp](qint64) { touch(*sp); });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, sp](QAbstractSocket::SocketError e) { onDataError(sp, static_cast<int>(e)); });
    connect(socket, &QTcpSocket::disconnected, this,
            [this, sp] { onDataError(sp, QAbstractSocket::RemoteHostClosedError); });
}

void TFtpServer::onDataConnected(FtpCtrlSession* s) {
    if (!s->m_data || s->m_dataConnected) {
        return;
    }
    s->m_dataConnected = true;
    touch(*s);
    if (s->m_dataMode == FtpDataMode::Receive) {
        StorSessionConnected(*s, 0);
        if (s->m_data) {
            storeAvailable(*s);
        }
    } else if (s->m_dataMode == FtpDataMode::Send) {
        s->m_data->write(s->DataStream);
        s->m_data->disconnectFromHost();
    }
}

void TFtpServer::onDataReadyRead(FtpCtrlSession* s) {
    if (!s->m_data) {
        return;
    }
    touch(*s);
    if (s->m_dataMode == FtpDataMode::Receive) {
        storeAvailable(*s);
    } else {
        s->m_data->readAll();
    }
}

void TFtpServer::onDataBytesWritten(FtpCtrlSession* s) {
    touch(*s);
}

void TFtpServer::storeAvailable(FtpCtrlSession& s) {
    if (!s.m_data || !s.m_dataConnected || s.Aborting) {
        return;
    }
    if (s.m_data->bytesAvailable() <= 0) {
        return;
    }
    if (!s.m_file) {
        const QFileInfo target(s.FilePath);
        QDir().mkpath(target.absolutePath());
        auto file = std::make_unique<QFile>(s.FilePath);
        // ReadWrite opens without truncating: a resumed file keeps what it holds.
        if (!file->open(QIODevice::ReadWrite) || !file->seek(s.RestartPos)) {
            failStore(s, FtpCtrlSession::StoreFailure::CannotWrite);
            return;
        }
        s.m_file = std::move(file);
    }
    // What the socket already holds is copied out into one buffer that lives as long as the
    // server (the socket then reuses its own, where handing its bytes out whole would have it
    // allocate afresh each read); what still waits in the kernel is read straight into that
    // buffer, a turn's worth at most. An end or error is left for the socket to find.
    if (m_received.isEmpty()) {
        m_received.resize(kDataReadBuffer);
    }
    const auto store = [&](qint64 n) {
        if (const qint64 room = StoreRoom(s); room >= 0 && n > room) {
            failStore(s, FtpCtrlSession::StoreFailure::TooLong);
            return false;
        }
        if (s.m_file->write(m_received.constData(), n) != n) {
            failStore(s, FtpCtrlSession::StoreFailure::CannotWrite);
            return false;
        }
        StoredData(s, n);
        return s.m_data && !s.Aborting;
    };
    const qint64 held = s.m_data->read(m_received.data(), m_received.size());
    if (held <= 0 || !store(held)) {
        return;
    }
    const int descriptor = static_cast<int>(s.m_data->socketDescriptor());
    for (qint64 turn = 0; descriptor >= 0 && turn < kDataTurn;) {
        const ssize_t n = ::read(descriptor, m_received.data(), m_received.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || !store(n)) {
            return;
        }
        turn += n;
    }
}

void TFtpServer::onDataError(FtpCtrlSession* s, int error) {
    if (!s->m_data) {
        return;
    }
    if (error == QAbstractSocket::RemoteHostClosedError) {
        if (s->m_dataMode == FtpDataMode::Receive) {
            storeAvailable(*s);
            if (!s->m_data) {
                return;
            }
            // The system may report a sender's reset as a close: only the file tells them apart.
            if (s->m_file) {
                s->m_file->flush();
            }
            finishData(
                *s, StoredWhole(*s) ? 0 : SocketErrorNumber(QAbstractSocket::RemoteHostClosedError),
                true);
        } else {
            const bool complete = s->m_data->bytesToWrite() == 0;
            if (!complete) {
                s->TransferError = s->m_data->errorString();
            }
            finishData(*s, complete ? 0 : SocketErrorNumber(error), true);
        }
        return;
    }
    if (s->m_dataMode == FtpDataMode::Receive && !s->m_dataConnected) {
        StorSessionConnected(*s, SocketErrorNumber(error));
    }
    if (s->m_data) {
        s->TransferError = s->m_data->errorString();
        finishData(*s, SocketErrorNumber(error), true);
    }
}

void TFtpServer::abortData(FtpCtrlSession& s, const QString& reason) {
    if (!hasData(s)) {
        return;
    }
    s.Aborting = true;
    s.TransferError = reason;
    finishData(s, 0, true);
}

void TFtpServer::failStore(FtpCtrlSession& s, FtpCtrlSession::StoreFailure why) {
    s.StoreFailed = why;
    abortData(s, why == FtpCtrlSession::StoreFailure::TooLong
                     ? QStringLiteral("more bytes than the file announced")
                     : QStringLiteral("Cannot write file"));
}

void TFtpServer::finishData(FtpCtrlSession& s, int error, bool sendReply) {
    const FtpDataMode mode = s.m_dataMode;
    if (mode == FtpDataMode::None) {
        return;
    }
    s.m_dataMode = FtpDataMode::None;
    s.m_dataConnected = false;
    if (QTcpSocket* socket = s.m_data) {
        s.m_data = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    if (s.m_file) {
        s.m_file->close();
        s.m_file.reset();
    }
    if (s.m_passive) {
        s.m_passive->close();
        s.m_passive->deleteLater();
        s.m_passive = nullptr;
        s.Passive = false;
    }
    // The reply goes out before the transfer is reported ended: whoever acts on the end (a
    // program that exits once its download is complete) must not cut it off.
    if (sendReply && !s.m_closing) {
        if (s.Aborting) {
            writeLine(s, QStringLiteral("426 Connection closed; %1.").arg(s.TransferError));
        } else if (error != 0) {
            writeLine(s, mode == FtpDataMode::Receive
                             ? QStringLiteral("426 Connection closed; transfer aborted. Error #%1")
                                   .arg(error)
                             : QStringLiteral("426 Connection closed; %1.").arg(s.TransferError));
        } else {
            writeLine(s, mode == FtpDataMode::Receive ? QStringLiteral("226 File received ok")
                                                      : QStringLiteral("226 File sent ok"));
        }
        if (!s.m_closing) {
            s.m_control->flush();
        }
    }
    if (mode == FtpDataMode::Receive) {
        StorSessionClosed(s, s.Aborting ? 0 : error);
    }
}

void TFtpServer::TriggerAnswerSent(FtpCtrlSession&, const QString&) {}

bool TFtpServer::TriggerValidatePut(FtpCtrlSession&) {
    return false;
}

void TFtpServer::StorSessionConnected(FtpCtrlSession&, int) {}

bool TFtpServer::StoredWhole(FtpCtrlSession&) {
    return true;
}

void TFtpServer::StorSessionClosed(FtpCtrlSession&, int) {}

void TFtpServer::StoredData(FtpCtrlSession&, qint64) {}

qint64 TFtpServer::StoreRoom(FtpCtrlSession&) {
    return -1;
}

}  // namespace mr
