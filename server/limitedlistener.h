#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

namespace mr::server {

// A listening port that serves at most `limit` connections at once, so that a flood cannot
// exhaust memory or descriptors. When the port is full, the oldest connection that is still
// waiting for its request makes room for the new one, so that clients that trickle bytes or
// send nothing cannot lock well-behaved ones out; with none waiting the new one is dropped.
class LimitedListener {
public:
    // Takes an accepted socket and returns the object serving it; its destruction frees the
    // place.
    using Start = std::function<QObject*(QTcpSocket*)>;
    // Whether the object serving a connection still waits for its request, so that ending it
    // loses nothing it was given.
    using Waiting = std::function<bool(const QObject*)>;

    LimitedListener(int limit, Start start, Waiting waiting = {});

    bool listen(const QHostAddress& address, quint16 port) {
        return m_server.listen(address, port);
    }
    QString errorString() const { return m_server.errorString(); }
    quint16 port() const { return m_server.serverPort(); }

private:
    void accept();
    bool makeRoom();

    QTcpServer m_server;
    int m_limit;
    QList<QObject*> m_open;  // oldest first
    Start m_start;
    Waiting m_waiting;
};

// Whether bytes, or the peer's close, reached an accepted socket before the object serving it
// connected its signals. Only then must that object look at the socket once by itself;
// otherwise the socket's signals bring its first request, without a turn of the event loop
// spent looking for it.
bool arrivedBeforeSignals(const QTcpSocket& socket);

}  // namespace mr::server
