#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QTcpSocket;

namespace mr {

// One ping of a peer's info socket: connect, write "PING!", and time the "PONG!".
// finished() is emitted exactly once, after the call that caused it has returned, so a
// receiver may deleteLater() the pinger from its slot.
class Pinger : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 3000;

    static inline const QString kBadAnswer = QStringLiteral("Bad Answer!");
    static inline const QString kCantConnect = QStringLiteral("Can't Connect");
    static inline const QString kTimeOut = QStringLiteral("Time Out");

    Pinger(const QString& address, quint16 port, const QString& nickname,
           QObject* parent = nullptr);
    ~Pinger() override;

    void setTimeout(int ms);
    QString nickname() const;
    // Starts the exchange; a second call does nothing.
    void start();

    // Elapsed milliseconds as seconds with "." as separator and no trailing zeros:
    // 31 gives "0.031", 1500 gives "1.5", 2000 gives "2".
    static QString FormatElapsed(qint64 ms);

signals:
    void finished(const QString& nickname, const QString& result);

private:
    void onConnected();
    void onReadyRead();
    void onClosed();
    void complete(const QString& result);

    QString m_address;
    quint16 m_port;
    QString m_nickname;
    QTcpSocket* m_socket = nullptr;
    QTimer m_timer;
    QElapsedTimer m_clock;
    QByteArray m_received;
    int m_timeoutMs = kDefaultTimeoutMs;
    bool m_started = false;
    bool m_done = false;
};

}  // namespace mr
