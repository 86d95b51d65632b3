#pragma once

#include "net/ftpwire.h"

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>

namespace mr::test {

// A scripted peer: writes raw bytes and reads reply lines, spinning the event loop meanwhile.
class RawPeer {
public:
    RawPeer();
    // Takes over an accepted connection, for scripting the server side of a conversation.
    explicit RawPeer(QTcpSocket* accepted);
    ~RawPeer();
    bool connectTo(quint16 port);
    void send(const QByteArray& bytes);
    // The next line without its CR LF; "<timeout>" when none came.
    QByteArray line(int timeoutMs = 5000);
    // Sends one command line and returns the reply line.
    QByteArray ask(const QByteArray& command);
    // Reads the greeting, then logs in.
    bool login(const QByteArray& user = "alice", const QByteArray& pass = "secret");
    // True once the server has closed the connection.
    bool closedByServer(int timeoutMs = 5000);
    QTcpSocket& socket() { return *m_socket; }

private:
    QTcpSocket* m_socket;
    LineFramer m_framer{1 << 20};
};

// A listening data socket for PORT, collecting what one connection sends.
class DataSink {
public:
    DataSink();
    QByteArray portArgument() const;
    // Waits until the connection came and was closed by the sender.
    bool waitClosed(int timeoutMs = 5000);
    QTcpSocket* connection() const { return m_connection; }
    QByteArray received;

private:
    QTcpServer m_server;
    QTcpSocket* m_connection = nullptr;
    bool m_closed = false;
};

}  // namespace mr::test
