#pragma once

#include <QHostAddress>
#include <QString>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

namespace mr::server {

// A listening port that serves at most `limit` connections at once, so that a flood cannot
// exhaust memory or descriptors: a connection beyond it is dropped as it arrives.
class LimitedListener {
public:
    // Takes an accepted socket and returns the object serving it; its destruction frees the
    // place.
    using Start = std::function<QObject*(QTcpSocket*)>;

    LimitedListener(int limit, Start start);

    bool listen(const QHostAddress& address, quint16 port) {
        return m_server.listen(address, port);
    }
    QString errorString() const { return m_server.errorString(); }
    quint16 port() const { return m_server.serverPort(); }

private:
    void accept();

    QTcpServer m_server;
    int m_limit;
    int m_open = 0;
    Start m_start;
};

}  // namespace mr::server
