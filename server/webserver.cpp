#include "webserver.h"

#include "httprequest.h"

#include <QTcpSocket>
#include <QTimer>

namespace mr::server {

namespace {

// The whole exchange, request and reply, must be over within this.
constexpr int kWebTimeoutMs = 15000;
constexpr qsizetype kReadChunk = 16 * 1024;

// One web client: reads a request head, answers once, closes.
class WebConnection : public QObject {
public:
    WebConnection(QTcpSocket* socket, Store& store, const WebServer& server, QObject* parent)
        : QObject(parent), m_socket(socket), m_store(store), m_server(server) {
        m_socket->setParent(this);
        m_socket->setReadBufferSize(kMaxHttpHead);
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &WebConnection::finish);
        connect(m_socket, &QTcpSocket::readyRead, this, &WebConnection::read);
        connect(m_socket, &QTcpSocket::disconnected, this, &WebConnection::finish);
        m_timer.start(kWebTimeoutMs);
        QMetaObject::invokeMethod(this, &WebConnection::read, Qt::QueuedConnection);
    }

private:
    void read() {
        while (!m_answered) {
            const QByteArray chunk = m_socket->read(kReadChunk);
            if (chunk.isEmpty()) {
                break;
            }
            m_parser.feed(chunk);
            if (m_parser.status() == HttpRequestParser::Status::Broken) {
                respond({400, "Bad Request\n"});
            } else if (m_parser.status() == HttpRequestParser::Status::Ready) {
                const WebSite site = m_server.siteFor(m_socket->localAddress());
                respond(handleWebRequest(m_store, site, m_parser.method(), m_parser.target()));
            }
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState && !m_answered) {
            finish();
        }
    }

    void respond(const HttpResponse& response) {
        m_answered = true;
        m_socket->write(encodeResponse(response));
        m_socket->disconnectFromHost();
    }

    void finish() {
        if (m_done) {
            return;
        }
        m_done = true;
        m_timer.stop();
        m_socket->abort();
        deleteLater();
    }

    QTcpSocket* m_socket;
    Store& m_store;
    const WebServer& m_server;
    HttpRequestParser m_parser;
    QTimer m_timer;
    bool m_answered = false;
    bool m_done = false;
};

}  // namespace

QString endpointText(const QHostAddress& address, quint16 port) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    const QString host = isV4 ? QHostAddress(v4).toString() : address.toString();
    return host + u':' + QString::number(port);
}

WebServer::WebServer(Store& store, QObject* parent) : QObject(parent), m_store(store) {
    connect(&m_server, &QTcpServer::newConnection, this, &WebServer::accept);
}

bool WebServer::listen(const QHostAddress& address, quint16 port) {
    return m_server.listen(address, port);
}

WebSite WebServer::siteFor(const QHostAddress& local) const {
    WebSite site;
    site.chatEndpoint = m_chatPort ? endpointText(local, m_chatPort) : QString();
    site.serviceEndpoint = endpointText(local, m_servicePort);
    site.webEndpoint = endpointText(local, port());
    site.latestVersion = m_version;
    site.message = m_message;
    return site;
}

void WebServer::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_connections >= kMaxWebConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        auto* connection = new WebConnection(socket, m_store, *this, this);
        connect(connection, &QObject::destroyed, this, [this] { --m_connections; });
    }
}

}  // namespace mr::server
