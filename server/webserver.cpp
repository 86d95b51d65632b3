#include "webserver.h"

#include "httprequest.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

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
        if (arrivedBeforeSignals(*m_socket)) {
            QMetaObject::invokeMethod(this, &WebConnection::read, Qt::QueuedConnection);
        }
    }

    bool answered() const { return m_answered; }

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
                const WebSite site =
                    m_server.siteFor(m_socket->localAddress(), m_parser.header("host"));
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

// The host of a "HOST" or "HOST:PORT" header value; empty for anything else.
QString hostOfHeader(QByteArrayView value) {
    const qsizetype colon = value.indexOf(':');
    const QByteArrayView port = colon < 0 ? QByteArrayView() : value.sliced(colon + 1);
    if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return {};
    }
    return QString::fromLatin1(colon < 0 ? value : value.first(colon));
}

}  // namespace

QString endpointText(const QHostAddress& address, quint16 port) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    const QString host = isV4 ? QHostAddress(v4).toString() : address.toString();
    return host + u':' + QString::number(port);
}

bool isAnnounceableHost(QStringView host) {
    constexpr qsizetype kMaxHostName = 253;
    if (host.isEmpty() || host.size() > kMaxHostName || host == u"0.0.0.0") {
        return false;
    }
    return std::all_of(host.begin(), host.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'-' || c == u'.' || c == u'_';
    });
}

QString announceableHost(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    const QString host = isV4 ? QHostAddress(v4).toString() : QString();
    return isAnnounceableHost(host) ? host : QString();
}

WebServer::WebServer(Store& store, QObject* parent)
    : QObject(parent),
      m_store(store),
      m_listener(
          kMaxWebConnections,
          [this](QTcpSocket* socket) { return new WebConnection(socket, m_store, *this, this); },
          [](const QObject* served) {
              return !static_cast<const WebConnection*>(served)->answered();
          }) {}

WebSite WebServer::siteFor(const QHostAddress& local, QByteArrayView hostHeader) const {
    // The name a client asked for is one he can reach us by; the local address may be private.
    const QString asked = hostOfHeader(hostHeader);
    QString host = m_publicHost;
    if (host.isEmpty()) {
        host = isAnnounceableHost(asked) ? asked : announceableHost(local);
    }
    // No host at all leaves the lines empty, and clients keep the lists they have.
    auto endpoint = [&host](quint16 port) {
        return host.isEmpty() || port == 0 ? QString() : host + u':' + QString::number(port);
    };
    WebSite site;
    site.chatEndpoint = endpoint(m_chatPort);
    site.serviceEndpoint = endpoint(m_servicePort);
    site.webEndpoint = endpoint(port());
    site.latestVersion = m_version;
    site.message = m_message;
    return site;
}

}  // namespace mr::server
