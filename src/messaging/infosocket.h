#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;
class QTimer;

namespace mr {

// The client's info socket: peers connect to it to deliver an instant message, to ask for a
// peer-to-peer chat, or to ping. A ping is answered and a chat request handed over as soon as
// they have arrived; a message is read until its sender closes the connection, so one that
// the network splits into several reads still arrives whole, or until nothing more has come
// for the settle time, for a sender that waits for us to close. Any other connection that is
// not handed over or answered is dropped after the idle time-out, so a silent or babbling
// peer cannot hold it for ever. When all places are taken the oldest held connection makes
// room, so a crowd of such peers cannot keep a prompt one out.
class InfoSocket : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultIdleTimeoutMs = 30000;
    static constexpr int kMessageSettleMs = 2000;
    static constexpr qint64 kDefaultMaxRequestSize = 64 * 1024;
    static constexpr int kDefaultMaxConnections = 128;

    explicit InfoSocket(QObject* parent = nullptr);
    ~InfoSocket() override;

    // Listens on a port the system chooses; false when that fails.
    bool open(const QHostAddress& address = QHostAddress::Any);
    void close();
    bool isOpen() const;
    // The info port; 0 while not listening.
    quint16 port() const;

    void setIdleTimeout(int ms);
    // A request that grows past this closes the connection.
    void setMaxRequestSize(qint64 bytes);
    // Connections currently held (not counting those handed over).
    int connectionCount() const;

signals:
    // A "MSG": address is the remote IP of the delivering connection as dotted text, port the
    // info port the sender declared.
    void messageReceived(qint32 userId, const QString& nickname, const QString& address,
                         quint16 port, const QString& text);
    // A "PTPCHAT". The receiver takes ownership of connection (it has no parent) and must
    // close and delete it (deleteLater) when done. With no receiver connected the connection
    // is closed instead.
    void chatRequested(QTcpSocket* connection, const QString& nickname, const QString& text);
    // A "MSG" or "PTPCHAT" that could not be read.
    void badRequest(const QString& why);

private:
    void acceptConnections();
    void readRequest(QTcpSocket* connection);
    // The sender has closed: what it sent is the whole request.
    void readFinished(QTcpSocket* connection);
    // Takes a message that has stopped growing, and drops anything else.
    void timedOut(QTcpSocket* connection);
    // Closes gracefully, letting an answer already written go out first.
    void finish(QTcpSocket* connection);
    void drop(QTcpSocket* connection);
    void release(QTcpSocket* connection);

    QTcpServer m_server;
    struct Held {
        QTimer* timer = nullptr;
        QByteArray received;
        QString address;         // taken at accept: closing clears it
        quint64 serial = 0;      // accept order
        QDeadlineTimer idleEnd;  // the idle time-out, counted from the accept
    };
    QHash<QTcpSocket*, Held> m_connections;
    int m_idleTimeoutMs = kDefaultIdleTimeoutMs;
    qint64 m_maxRequestSize = kDefaultMaxRequestSize;
    int m_maxConnections = kDefaultMaxConnections;
    quint64 m_accepted = 0;
};

}  // namespace mr
