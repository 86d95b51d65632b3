#include "net/ftpclient.h"

#include <QFile>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>

#include <sys/socket.h>

namespace mr {

namespace {

// The push hands the socket at most this much a turn of the event loop, reading the file in
// chunks of kChunk: a large file never sits in memory.
constexpr qint64 kSendWindow = 4 << 20;
constexpr qint64 kChunk = 1 << 20;
constexpr int kTimedOut = 10060;
constexpr int kLocalFailure = 1;
// How long an aborted push waits for the receiver to drop the data connection.
constexpr int kAbortGraceMs = 5000;

quint32 ipv4Of(const QHostAddress& address) {
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? v4 : 0;
}

}  // namespace

TFtpClient::TFtpClient(QObject* parent)
    : QObject(parent), m_control(new QTcpSocket(this)), m_timer(new QTimer(this)) {
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (busy()) {
            closeNow();
            fail(kTimedOut);
        }
    });
    connect(m_control, &QTcpSocket::connected, this, &TFtpClient::onConnected);
    connect(m_control, &QTcpSocket::readyRead, this, &TFtpClient::onReadyRead);
    connect(m_control, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError e) { onSocketError(static_cast<int>(e)); });
    connect(m_control, &QTcpSocket::disconnected, this,
            [this] { onSocketError(QAbstractSocket::RemoteHostClosedError); });
}

TFtpClient::~TFtpClient() {
    m_control->disconnect(this);
    if (m_data) {
        m_data->disconnect(this);
    }
}

bool TFtpClient::connected() const {
    return m_control->state() == QAbstractSocket::ConnectedState;
}

bool TFtpClient::begin(FtpRequest request) {
    if (busy()) {
        return false;
    }
    m_request = request;
    touch();
    return true;
}

void TFtpClient::touch() {
    if (m_timeoutMs > 0) {
        m_timer->start(m_timeoutMs);
    }
}

void TFtpClient::finish(int error) {
    const FtpRequest request = m_request;
    if (request == FtpRequest::None) {
        return;
    }
    m_request = FtpRequest::None;
    m_step = Step::Idle;
    m_timer->stop();
    if (request == FtpRequest::PutByRequest) {
        if (m_data) {
            m_data->disconnect(this);
            if (error != 0) {
                m_data->abort();
            }
            m_data->deleteLater();
            m_data = nullptr;
        }
        releasePush();
    }
    emit requestDone(request, error);
}

void TFtpClient::releasePush() {
    if (m_dataListener) {
        m_dataListener->close();
        m_dataListener->deleteLater();
        m_dataListener = nullptr;
    }
    m_file.reset();
    m_chunk.reset();
}

void TFtpClient::fail(int error) {
    finish(error == 0 ? kLocalFailure : error);
}

void TFtpClient::sendLine(const QByteArray& line, Step step) {
    m_step = step;
    m_control->write(line + "\r\n");
}

bool TFtpClient::OpenAsync() {
    if (!begin(FtpRequest::Open)) {
        return false;
    }
    bool ok = false;
    const quint16 port = Port.trimmed().toUShort(&ok);
    m_closedReported = false;
    m_step = Step::Connecting;
    if (!ok || port == 0 || HostName.isEmpty()) {
        QTimer::singleShot(0, this,
                           [this] { fail(SocketErrorNumber(QAbstractSocket::HostNotFoundError)); });
        return true;
    }
    m_framer = LineFramer();
    m_control->connectToHost(HostName, port);
    return true;
}

bool TFtpClient::QuitAsync() {
    if (!begin(FtpRequest::Quit)) {
        return false;
    }
    if (!connected()) {
        QTimer::singleShot(0, this, [this] { finish(0); });
        return true;
    }
    sendLine("QUIT", Step::Quit);
    return true;
}

bool TFtpClient::CustomAsync(const QByteArray& line, int low, int high) {
    if (!begin(FtpRequest::Custom)) {
        return false;
    }
    m_low = low;
    m_high = high;
    sendLine(line, Step::Custom);
    return true;
}

bool TFtpClient::PutByRequestAsync() {
    if (!begin(FtpRequest::PutByRequest)) {
        return false;
    }
    m_putAccepted = false;
    m_fileDone = false;
    m_sent = 0;
    m_chunkAt = m_chunkEnd = 0;
    auto file = std::make_unique<QFile>(LocalFileName);
    const quint32 local = ipv4Of(m_control->localAddress());
    auto* listener = new QTcpServer(this);
    if (LocalFileName.isEmpty() || !file->open(QIODevice::ReadOnly) ||
        (RestartOffset > 0 && !file->seek(RestartOffset)) || local == 0 ||
        !listener->listen(QHostAddress(local), 0)) {
        delete listener;
        QTimer::singleShot(0, this, [this] { fail(kLocalFailure); });
        return true;
    }
    m_file = std::move(file);
    m_dataListener = listener;
    connect(listener, &QTcpServer::newConnection, this, &TFtpClient::onDataAccepted);
    FtpEndpoint endpoint;
    endpoint.ipv4 = local;
    endpoint.port = listener->serverPort();
    sendLine("PORT " + FormatPortArgument(endpoint), Step::Port);
    return true;
}

void TFtpClient::abortRaw(const QByteArray& bytes) {
    m_request = FtpRequest::None;
    m_step = Step::Idle;
    m_timer->stop();
    releasePush();
    m_putAccepted = false;
    if (!connected()) {
        endAbort();
        return;
    }
    m_control->write(bytes);
    m_control->flush();
    if (!m_data) {
        endAbort();
        return;
    }
    // The receiver must read the abort before the data ends, or it takes the end for a broken
    // transfer: the data connection stays until the receiver drops it, or the grace runs out.
    m_data->disconnect(this);
    connect(m_data, &QTcpSocket::disconnected, this, &TFtpClient::endAbort);
    connect(m_data, &QTcpSocket::errorOccurred, this, &TFtpClient::endAbort);
    QTimer::singleShot(kAbortGraceMs, this, &TFtpClient::endAbort);
}

void TFtpClient::endAbort() {
    if (m_data) {
        m_data->disconnect(this);
        m_data->abort();
        m_data->deleteLater();
        m_data = nullptr;
    }
    m_control->disconnectFromHost();
}

void TFtpClient::closeNow() {
    if (m_data) {
        m_data->abort();
    }
    m_control->abort();
}

void TFtpClient::onConnected() {
    touch();
    m_step = Step::Greeting;
}

void TFtpClient::onReadyRead() {
    touch();
    if (!m_framer.feed(m_control->readAll())) {
        closeNow();
        fail(kLocalFailure);
        return;
    }
    while (std::optional<QByteArray> line = m_framer.next()) {
        m_lastResponse = *line;
        emit response(*line);
        // "nnn-" opens a multi-line reply; only its last line counts.
        if (line->size() > 3 && line->at(3) == '-' && LeadingNumber(*line)) {
            continue;
        }
        onReply(*line, LeadingNumber(*line).value_or(-1));
    }
    if (m_framer.overflowed()) {
        closeNow();
        fail(kLocalFailure);
    }
}

void TFtpClient::onReply(const QByteArray&, int code) {
    switch (m_step) {
        case Step::Greeting:
            if (code == 220) {
                sendLine("USER " + UserName.toUtf8(), Step::User);
            } else {
                fail(code);
            }
            break;
        case Step::User:
            if (code == 230) {
                finish(0);
            } else if (code == 331) {
                sendLine("PASS " + PassWord.toUtf8(), Step::Pass);
            } else {
                fail(code);
            }
            break;
        case Step::Pass:
            code == 230 ? finish(0) : fail(code);
            break;
        case Step::Custom:
            code >= m_low&& code <= m_high ? finish(0) : fail(code);
            break;
        case Step::Port:
            if (code == 200) {
                sendLine("PUTBR " + HostFileName.toUtf8(), Step::Putbr);
            } else {
                fail(code);
            }
            break;
        case Step::Putbr:
            if (code == 150) {
                m_putAccepted = true;
                m_step = Step::Sending;
                pump();
            } else {
                fail(code);
            }
            break;
        case Step::Sending:
        case Step::PutResult:
            // The receiver decides: "226" once it has all we sent, "426" when it broke off.
            if (code == 226 && m_fileDone) {
                finish(0);
            } else {
                fail(code == 226 ? kLocalFailure : code);
            }
            break;
        case Step::Quit:
            finish(code == 221 ? 0 : code);
            m_control->disconnectFromHost();
            break;
        case Step::Idle:
        case Step::Connecting:
            break;
    }
}

void TFtpClient::onDataAccepted() {
    while (QTcpSocket* socket =
               m_dataListener ? m_dataListener->nextPendingConnection() : nullptr) {
        // One data connection, and only from the server we talk to.
        if (m_data || ipv4Of(socket->peerAddress()) != ipv4Of(m_control->peerAddress())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_data = socket;
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
        m_dataListener->close();
        watchDirect();
        pump();
    }
}

void TFtpClient::watchDirect() {
    // The file goes from one chunk of our own straight into the socket's descriptor; this
    // notifier says when the socket takes more. The socket's own buffer stays empty, so the
    // socket closes as soon as it is told to.
    auto* ready = new QSocketNotifier(m_data->socketDescriptor(), QSocketNotifier::Write, m_data);
    ready->setEnabled(false);
    const auto off = [ready] { ready->setEnabled(false); };
    connect(m_data, &QIODevice::aboutToClose, ready, off);
    connect(m_data, &QAbstractSocket::disconnected, ready, off);
    connect(ready, &QSocketNotifier::activated, this, [this] {
        touch();
        pump();
    });
    m_direct = ready;
}

void TFtpClient::pump() {
    if (!m_putAccepted || !m_data || m_fileDone || !m_file || !m_direct) {
        return;
    }
    const int socket = static_cast<int>(m_data->socketDescriptor());
    if (!m_chunk) {
        m_chunk = std::make_unique<char[]>(kChunk);
    }
    qint64 moved = 0;
    while (moved < kSendWindow) {
        if (m_chunkAt == m_chunkEnd) {
            const qint64 n = m_file->read(m_chunk.get(), kChunk);
            if (n < 0) {
                m_direct->setEnabled(false);
                m_data->abort();
                fail(kLocalFailure);
                return;
            }
            if (n == 0) {
                m_direct->setEnabled(false);
                emit progress(RestartOffset + m_sent);
                m_fileDone = true;
                m_step = Step::PutResult;
                m_data->disconnectFromHost();
                return;
            }
            m_chunkAt = 0;
            m_chunkEnd = n;
        }
        const ssize_t n = ::send(socket, m_chunk.get() + m_chunkAt,
                                 static_cast<size_t>(m_chunkEnd - m_chunkAt), MSG_NOSIGNAL);
        if (n > 0) {
            m_chunkAt += n;
            m_sent += n;
            moved += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            // The receiver is gone: its verdict on the control connection, or the timeout,
            // ends the push.
            m_direct->setEnabled(false);
            return;
        }
    }
    m_direct->setEnabled(true);
    if (moved > 0) {
        emit progress(RestartOffset + m_sent);
    }
}

void TFtpClient::onSocketError(int error) {
    if (m_control->state() == QAbstractSocket::ConnectedState &&
        error != QAbstractSocket::RemoteHostClosedError) {
        return;  // a passing error on a live connection; its reply decides
    }
    const bool orderly = error == QAbstractSocket::RemoteHostClosedError &&
                         (m_request == FtpRequest::None || m_request == FtpRequest::Quit);
    const int number = orderly ? 0 : SocketErrorNumber(error);
    if (busy()) {
        m_request == FtpRequest::Quit ? finish(0) : fail(number);
    }
    if (!m_closedReported && m_control->state() != QAbstractSocket::ConnectedState) {
        m_closedReported = true;
        emit sessionClosed(number);
    }
}

}  // namespace mr
