#pragma once

#include "limitedlistener.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace mr::server {

// Limits of the mail sink (RFC 5321 section 4.5.3.1 for the line lengths).
inline constexpr qsizetype kMaxSmtpCommandLine = 512;  // with its CRLF
inline constexpr qsizetype kMaxSmtpTextLine = 1000;    // with its CRLF
inline constexpr qsizetype kMaxMailBytes = 1024 * 1024;
inline constexpr int kMaxMailRecipients = 100;
inline constexpr int kMaxSmtpErrors = 10;
inline constexpr int kMaxSmtpConnections = 32;
inline constexpr int kMaxStoredMails = 10000;

struct ReceivedMail {
    QByteArray from;  // the reverse path without its brackets; empty for "<>"
    QList<QByteArray> recipients;
    QByteArray data;  // dot-unstuffed, CRLF line ends, without the final "."
};

// One SMTP dialogue as a pure state machine: bytes in, replies out. It knows HELO, EHLO,
// MAIL FROM, RCPT TO, DATA, RSET, NOOP and QUIT; an over-long line, an over-large mail or
// too many errors end the dialogue.
class SmtpSession {
public:
    // The id under which the mail was kept, or nothing when it could not be kept.
    using Deliver = std::function<std::optional<QString>(const ReceivedMail&)>;

    SmtpSession(const QByteArray& hostName, Deliver deliver);

    // "220 ..." to send when the connection opens.
    QByteArray greeting() const;
    // Takes what arrived and returns the replies to send. Once closed, input is ignored.
    QByteArray feed(QByteArrayView bytes);
    bool closed() const { return m_closed; }

private:
    enum class State { Command, Data };

    void line(const QByteArray& text);
    void command(const QByteArray& text);
    void dataLine(const QByteArray& text);
    void mailFrom(const QByteArray& argument);
    void rcptTo(const QByteArray& argument);
    void reply(const QByteArray& text);
    void error(const QByteArray& text);
    void close(const QByteArray& text);
    void resetTransaction();

    QByteArray m_hostName;
    Deliver m_deliver;
    QByteArray m_out;
    QByteArray m_line;
    State m_state = State::Command;
    bool m_greeted = false;
    bool m_inTransaction = false;
    bool m_closed = false;
    int m_errors = 0;
    ReceivedMail m_mail;
};

// Keeps each received mail as DIR/NNNN.eml, numbered on from the highest number present.
class MailDrop {
public:
    bool open(const QString& directory, QString* error);
    QString directory() const { return m_dir; }
    std::optional<QString> store(const ReceivedMail& mail);

private:
    QString m_dir;
    int m_next = 1;
    int m_stored = 0;
};

// The mail sink's port: an SMTP dialogue per connection, each mail handed to the drop.
class SmtpSink : public QObject {
    Q_OBJECT
public:
    explicit SmtpSink(MailDrop& drop, QObject* parent = nullptr);

    bool listen(const QHostAddress& address, quint16 port) {
        return m_listener.listen(address, port);
    }
    QString errorString() const { return m_listener.errorString(); }
    quint16 port() const { return m_listener.port(); }

signals:
    void mailStored(const QString& id);

private:
    MailDrop& m_drop;
    LimitedListener m_listener;
};

}  // namespace mr::server
