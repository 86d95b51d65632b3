#include "net/rawpeer.h"

#include "testutil.h"

namespace mr::test {

RawPeer::RawPeer() : m_socket(new QTcpSocket) {}

RawPeer::RawPeer(QTcpSocket* accepted) : m_socket(accepted) {
    m_socket->setParent(nullptr);
}

RawPeer::~RawPeer() {
    delete m_socket;
}

bool RawPeer::connectTo(quint16 port) {
    bool connected = false;
    // A server may answer and hang up before we look: the signal, not the state, tells.
    const auto c = QObject::connect(m_socket, &QTcpSocket::connected, [&] { connected = true; });
    m_socket->connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    const bool ok = waitUntil([&] { return connected; }, 5000);
    QObject::disconnect(c);
    return ok;
}

void RawPeer::send(const QByteArray& bytes) {
    m_socket->write(bytes);
    m_socket->flush();
}

QByteArray RawPeer::line(int timeoutMs) {
    std::optional<QByteArray> next;
    waitUntil(
        [&] {
            m_framer.feed(m_socket->readAll());
            next = m_framer.next();
            return next.has_value();
        },
        timeoutMs);
    return next.value_or("<timeout>");
}

QByteArray RawPeer::ask(const QByteArray& command) {
    send(command + "\r\n");
    return line();
}

bool RawPeer::login(const QByteArray& user, const QByteArray& pass) {
    return line() == "220 ICS FTP Server ready." && ask("USER " + user).startsWith("331") &&
           ask("PASS " + pass).startsWith("230");
}

bool RawPeer::closedByServer(int timeoutMs) {
    return waitUntil(
        [&] {
            m_socket->readAll();
            return m_socket->state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
}

DataSink::DataSink() {
    m_server.listen(QHostAddress(QHostAddress::LocalHost), 0);
    QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
        m_connection = m_server.nextPendingConnection();
        QObject::connect(m_connection, &QTcpSocket::readyRead,
                         [this] { received += m_connection->readAll(); });
        QObject::connect(m_connection, &QTcpSocket::disconnected, [this] {
            received += m_connection->readAll();
            m_closed = true;
        });
    });
}

QByteArray DataSink::portArgument() const {
    FtpEndpoint endpoint;
    endpoint.ipv4 = QHostAddress(QHostAddress::LocalHost).toIPv4Address();
    endpoint.port = m_server.serverPort();
    return FormatPortArgument(endpoint);
}

bool DataSink::waitClosed(int timeoutMs) {
    return waitUntil([&] { return m_closed; }, timeoutMs);
}

}  // namespace mr::test
