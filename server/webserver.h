#pragma once

#include "store.h"
#include "webhandler.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

namespace mr::server {

inline constexpr int kMaxWebConnections = 128;

// The web port: one GET per connection, answered and closed.
class WebServer : public QObject {
    Q_OBJECT
public:
    WebServer(Store& store, QObject* parent = nullptr);

    bool listen(const QHostAddress& address, quint16 port);
    QString errorString() const { return m_server.errorString(); }
    quint16 port() const { return m_server.serverPort(); }

    // The message of the day names the endpoints by the address a client reached us at; only
    // the ports, the version and the message are set here.
    void setServicePort(quint16 port) { m_servicePort = port; }
    void setChatPort(quint16 port) { m_chatPort = port; }
    void setLatestVersion(const QString& version) { m_version = version; }
    void setMessage(const QByteArray& message) { m_message = message; }

    WebSite siteFor(const QHostAddress& local) const;

private:
    void accept();

    Store& m_store;
    QTcpServer m_server;
    quint16 m_servicePort = 0;
    quint16 m_chatPort = 0;
    QString m_version = QString::fromLatin1(kDefaultLatestVersion);
    QByteArray m_message = kDefaultMotd;
    int m_connections = 0;
};

// "HOST:PORT" with an IPv4-mapped address written as plain IPv4.
QString endpointText(const QHostAddress& address, quint16 port);

}  // namespace mr::server
