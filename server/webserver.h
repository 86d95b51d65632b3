#pragma once

#include "limitedlistener.h"
#include "store.h"
#include "webhandler.h"

#include <QHostAddress>
#include <QObject>

namespace mr::server {

inline constexpr int kMaxWebConnections = 128;

// The web port: one GET per connection, answered and closed.
class WebServer : public QObject {
    Q_OBJECT
public:
    WebServer(Store& store, QObject* parent = nullptr);

    bool listen(const QHostAddress& address, quint16 port) {
        return m_listener.listen(address, port);
    }
    QString errorString() const { return m_listener.errorString(); }
    quint16 port() const { return m_listener.port(); }

    // The host the message of the day names the endpoints by; when empty, the host a request
    // came in on is announced instead.
    void setPublicHost(const QString& host) { m_publicHost = host; }
    void setServicePort(quint16 port) { m_servicePort = port; }
    void setChatPort(quint16 port) { m_chatPort = port; }
    void setLatestVersion(const QString& version) { m_version = version; }
    void setMessage(const QByteArray& message) { m_message = message; }

    // What a request that reached us at the local address, with that Host header, is told.
    WebSite siteFor(const QHostAddress& local, QByteArrayView hostHeader = {}) const;

private:
    Store& m_store;
    QString m_publicHost;
    quint16 m_servicePort = 0;
    quint16 m_chatPort = 0;
    QString m_version = QString::fromLatin1(kVersionNumber);
    QByteArray m_message = kDefaultMotd;
    LimitedListener m_listener;
};

// "HOST:PORT" with an IPv4-mapped address written as plain IPv4.
QString endpointText(const QHostAddress& address, quint16 port);

// Clients split a host list entry at its first colon, so only a name or an IPv4 address can be
// announced: letters, digits, "-", "." and "_".
bool isAnnounceableHost(QStringView host);
// The address as an announceable host; empty for an IPv6 or a wildcard address.
QString announceableHost(const QHostAddress& address);

}  // namespace mr::server
