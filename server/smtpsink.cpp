#include "smtpsink.h"

#include <QDir>
#include <QSaveFile>
#include <QTcpSocket>
#include <QTimer>

namespace mr::server {

namespace {

constexpr qsizetype kMaxPathLength = 256;
constexpr int kIdleTimeoutMs = 60 * 1000;
constexpr int kSessionTimeoutMs = 10 * 60 * 1000;
constexpr qsizetype kReadChunk = 16 * 1024;
// A client that does not read its replies stops being read.
constexpr qsizetype kMaxPendingOutput = 64 * 1024;

bool startsWithNoCase(QByteArrayView text, QByteArrayView prefix) {
    return text.size() >= prefix.size() &&
           text.first(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
}

bool isPrintable(QByteArrayView text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) {
            return false;
        }
    }
    return true;
}

// "<path> PARAM..." -> path and the parameters; nothing when the brackets are wrong or the
// path holds blanks or is too long.
std::optional<std::pair<QByteArray, QList<QByteArray>>> splitPath(QByteArrayView argument) {
    const QByteArray text = argument.toByteArray().trimmed();
    if (!text.startsWith('<')) {
        return std::nullopt;
    }
    const qsizetype close = text.indexOf('>');
    if (close < 0) {
        return std::nullopt;
    }
    const QByteArray path = text.mid(1, close - 1);
    if (path.size() > kMaxPathLength || path.contains(' ') || path.contains('<')) {
        return std::nullopt;
    }
    const QByteArray rest = text.mid(close + 1);
    if (!rest.isEmpty() && !rest.startsWith(' ')) {
        return std::nullopt;
    }
    QList<QByteArray> parameters = rest.simplified().split(' ');
    parameters.removeAll(QByteArray());
    return std::make_pair(path, parameters);
}

}  // namespace

SmtpSession::SmtpSession(const QByteArray& hostName, Deliver deliver)
    : m_hostName(hostName), m_deliver(std::move(deliver)) {}

QByteArray SmtpSession::greeting() const {
    return "220 " + m_hostName + " ESMTP Moonrake mail sink\r\n";
}

QByteArray SmtpSession::feed(QByteArrayView bytes) {
    for (qsizetype i = 0; i < bytes.size() && !m_closed; ++i) {
        const char c = bytes.at(i);
        if (c == '\n') {
            if (m_line.endsWith('\r')) {
                m_line.chop(1);
            }
            line(m_line);
            m_line.clear();
            continue;
        }
        m_line.append(c);
        // The line so far plus its CRLF must fit.
        const qsizetype cap = m_state == State::Data ? kMaxSmtpTextLine : kMaxSmtpCommandLine;
        if (m_line.size() + (m_line.endsWith('\r') ? 1 : 2) > cap) {
            close(m_state == State::Data ? "552 5.3.4 Line too long" : "500 5.5.2 Line too long");
        }
    }
    return std::exchange(m_out, {});
}

void SmtpSession::line(const QByteArray& text) {
    if (m_state == State::Data) {
        dataLine(text);
    } else {
        command(text);
    }
}

void SmtpSession::command(const QByteArray& text) {
    if (!isPrintable(text)) {
        error("500 5.5.2 Syntax error");
        return;
    }
    const qsizetype blank = text.indexOf(' ');
    const QByteArray verb = (blank < 0 ? text : text.left(blank)).toUpper();
    const QByteArray argument = blank < 0 ? QByteArray() : text.mid(blank + 1).trimmed();

    if (verb == "HELO" || verb == "EHLO") {
        if (argument.isEmpty()) {
            error("501 5.5.4 Syntax: " + verb + " hostname");
            return;
        }
        m_greeted = true;
        resetTransaction();
        if (verb == "HELO") {
            reply("250 " + m_hostName);
        } else {
            reply("250-" + m_hostName + "\r\n250-SIZE " + QByteArray::number(kMaxMailBytes) +
                  "\r\n250 8BITMIME");
        }
    } else if (verb == "MAIL") {
        mailFrom(text.mid(4));
    } else if (verb == "RCPT") {
        rcptTo(text.mid(4));
    } else if (verb == "DATA") {
        if (!argument.isEmpty()) {
            error("501 5.5.4 DATA takes no argument");
        } else if (!m_inTransaction) {
            error("503 5.5.1 Need MAIL command");
        } else if (m_mail.recipients.isEmpty()) {
            error("554 5.5.1 No valid recipients");
        } else {
            m_state = State::Data;
            reply("354 End data with <CR><LF>.<CR><LF>");
        }
    } else if (verb == "RSET") {
        resetTransaction();
        reply("250 2.0.0 OK");
    } else if (verb == "NOOP") {
        reply("250 2.0.0 OK");
    } else if (verb == "QUIT") {
        close("221 2.0.0 Bye");
    } else if (verb == "VRFY" || verb == "EXPN" || verb == "HELP" || verb == "AUTH" ||
               verb == "STARTTLS" || verb == "ETRN" || verb == "TURN") {
        error("502 5.5.1 Command not implemented");
    } else {
        error("500 5.5.2 Command unrecognized");
    }
}

void SmtpSession::mailFrom(const QByteArray& argument) {
    if (!startsWithNoCase(argument, " FROM:")) {
        error("501 5.5.4 Syntax: MAIL FROM:<address>");
        return;
    }
    if (!m_greeted) {
        error("503 5.5.1 Send HELO or EHLO first");
        return;
    }
    if (m_inTransaction) {
        error("503 5.5.1 Nested MAIL command");
        return;
    }
    const auto parts = splitPath(QByteArrayView(argument).sliced(6));
    if (!parts) {
        error("501 5.1.7 Bad sender address syntax");
        return;
    }
    for (const QByteArray& parameter : parts->second) {
        const qsizetype equals = parameter.indexOf('=');
        const QByteArray name = (equals < 0 ? parameter : parameter.left(equals)).toUpper();
        const QByteArray value = equals < 0 ? QByteArray() : parameter.mid(equals + 1);
        if (name == "SIZE") {
            bool ok = false;
            const qlonglong size = value.size() <= 12 ? value.toLongLong(&ok) : -1;
            if (!ok || size < 0) {
                error("501 5.5.4 Bad SIZE parameter");
                return;
            }
            if (size > kMaxMailBytes) {
                error("552 5.3.4 Message size exceeds fixed limit");
                return;
            }
        } else if (name != "BODY" || (value.toUpper() != "7BIT" && value.toUpper() != "8BITMIME")) {
            error("555 5.5.4 Unsupported parameter");
            return;
        }
    }
    m_mail = {};
    m_mail.from = parts->first;
    m_inTransaction = true;
    reply("250 2.1.0 OK");
}

void SmtpSession::rcptTo(const QByteArray& argument) {
    if (!startsWithNoCase(argument, " TO:")) {
        error("501 5.5.4 Syntax: RCPT TO:<address>");
        return;
    }
    if (!m_inTransaction) {
        error("503 5.5.1 Need MAIL command");
        return;
    }
    const auto parts = splitPath(QByteArrayView(argument).sliced(4));
    if (!parts || !parts->first.contains('@') || parts->first.startsWith('@')) {
        error("501 5.1.3 Bad recipient address syntax");
        return;
    }
    if (!parts->second.isEmpty()) {
        error("555 5.5.4 Unsupported parameter");
        return;
    }
    if (m_mail.recipients.size() >= kMaxMailRecipients) {
        reply("452 4.5.3 Too many recipients");
        return;
    }
    m_mail.recipients.append(parts->first);
    reply("250 2.1.5 OK");
}

void SmtpSession::dataLine(const QByteArray& text) {
    if (text == ".") {
        m_state = State::Command;
        const std::optional<QString> id = m_deliver ? m_deliver(m_mail) : std::nullopt;
        resetTransaction();
        reply(id ? "250 2.0.0 OK queued as " + id->toLatin1()
                 : QByteArray("451 4.3.0 Could not store the message"));
        return;
    }
    const QByteArrayView content = text.startsWith('.') ? QByteArrayView(text).sliced(1) : text;
    if (m_mail.data.size() + content.size() + 2 > kMaxMailBytes) {
        close("552 5.3.4 Message size exceeds fixed limit");
        return;
    }
    m_mail.data.append(content);
    m_mail.data.append("\r\n");
}

void SmtpSession::reply(const QByteArray& text) {
    m_out.append(text);
    m_out.append("\r\n");
}

void SmtpSession::error(const QByteArray& text) {
    if (++m_errors >= kMaxSmtpErrors) {
        close("421 4.7.0 Too many errors, closing");
        return;
    }
    reply(text);
}

void SmtpSession::close(const QByteArray& text) {
    reply(text);
    m_closed = true;
    m_line.clear();
    resetTransaction();
}

void SmtpSession::resetTransaction() {
    m_inTransaction = false;
    m_mail = {};
}

bool MailDrop::open(const QString& directory, QString* error) {
    QDir dir(directory);
    if (!dir.mkpath(QStringLiteral("."))) {
        if (error) {
            *error = QStringLiteral("cannot create ") + directory;
        }
        return false;
    }
    m_dir = dir.absolutePath();
    m_next = 1;
    m_stored = 0;
    const QStringList names = dir.entryList({QStringLiteral("*.eml")}, QDir::Files);
    for (const QString& name : names) {
        bool ok = false;
        const int number = name.chopped(4).toInt(&ok);
        if (ok && number > 0) {
            ++m_stored;
            m_next = std::max(m_next, number + 1);
        }
    }
    return true;
}

std::optional<QString> MailDrop::store(const ReceivedMail& mail) {
    if (m_dir.isEmpty() || m_stored >= kMaxStoredMails || m_next <= 0) {
        return std::nullopt;
    }
    const QString id = QStringLiteral("%1").arg(m_next, 4, 10, QLatin1Char('0'));
    // Written whole or not at all, so a reader never sees half a mail.
    QSaveFile file(QDir(m_dir).filePath(id + QStringLiteral(".eml")));
    if (!file.open(QIODevice::WriteOnly)) {
        return std::nullopt;
    }
    QByteArray head = "Return-Path: <" + mail.from + ">\r\n";
    for (const QByteArray& to : mail.recipients) {
        head += "X-Original-To: <" + to + ">\r\n";
    }
    file.write(head);
    file.write(mail.data);
    if (!file.commit()) {
        return std::nullopt;
    }
    ++m_next;
    ++m_stored;
    return id;
}

namespace {

// One client of the sink: the session's replies go out as its input comes in.
class SmtpConnection : public QObject {
public:
    SmtpConnection(QTcpSocket* socket, SmtpSession::Deliver deliver, QObject* parent)
        : QObject(parent), m_socket(socket), m_session("moonrake", std::move(deliver)) {
        m_socket->setParent(this);
        m_socket->setReadBufferSize(kReadChunk * 4);
        m_idle.setSingleShot(true);
        m_lifetime.setSingleShot(true);
        connect(&m_idle, &QTimer::timeout, this, &SmtpConnection::timedOut);
        connect(&m_lifetime, &QTimer::timeout, this, &SmtpConnection::timedOut);
        connect(m_socket, &QTcpSocket::readyRead, this, &SmtpConnection::read);
        connect(m_socket, &QTcpSocket::bytesWritten, this, &SmtpConnection::read);
        connect(m_socket, &QTcpSocket::disconnected, this, &SmtpConnection::finish);
        m_idle.start(kIdleTimeoutMs);
        m_lifetime.start(kSessionTimeoutMs);
        m_socket->write(m_session.greeting());
    }

private:
    void read() {
        while (!m_session.closed() && m_socket->bytesToWrite() < kMaxPendingOutput) {
            const QByteArray chunk = m_socket->read(kReadChunk);
            if (chunk.isEmpty()) {
                break;
            }
            m_idle.start(kIdleTimeoutMs);
            m_socket->write(m_session.feed(chunk));
        }
        if (m_session.closed() && !m_closing) {
            m_closing = true;
            m_socket->disconnectFromHost();
        }
    }

    void timedOut() {
        if (!m_closing) {
            m_closing = true;
            m_socket->write("421 4.4.2 Timeout, closing\r\n");
            m_socket->disconnectFromHost();
        }
        // A peer that reads nothing does not keep the connection: it goes after one more idle
        // period at the latest.
        QTimer::singleShot(kIdleTimeoutMs, this, &SmtpConnection::finish);
    }

    void finish() {
        if (m_done) {
            return;
        }
        m_done = true;
        m_idle.stop();
        m_lifetime.stop();
        m_socket->abort();
        deleteLater();
    }

    QTcpSocket* m_socket;
    SmtpSession m_session;
    QTimer m_idle;
    QTimer m_lifetime;
    bool m_closing = false;
    bool m_done = false;
};

}  // namespace

SmtpSink::SmtpSink(MailDrop& drop, QObject* parent)
    : QObject(parent), m_drop(drop), m_listener(kMaxSmtpConnections, [this](QTcpSocket* socket) {
          auto deliver = [this](const ReceivedMail& mail) {
              const auto id = m_drop.store(mail);
              if (id) {
                  emit mailStored(*id);
              }
              return id;
          };
          return new SmtpConnection(socket, deliver, this);
      }) {}

}  // namespace mr::server
