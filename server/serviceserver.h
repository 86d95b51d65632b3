#pragma once

#include "presence.h"
#include "store.h"
#include "storeworkers.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

namespace mr::server {

// Connections beyond this are refused, so that a flood cannot exhaust memory or descriptors.
inline constexpr int kMaxServiceConnections = 512;

// The service port: accepts client connections and hands each to a ServiceConnection.
class ServiceServer : public QObject {
    Q_OBJECT
public:
    ServiceServer(Store& store, Presence& presence, StoreThreads threads = {},
                  QObject* parent = nullptr);

    bool listen(const QHostAddress& address, quint16 port);
    QString errorString() const { return m_server.errorString(); }
    quint16 port() const { return m_server.serverPort(); }
    int connectionCount() const { return m_connections; }

private:
    void accept();

    Store& m_store;
    Presence& m_presence;
    StoreThreads m_threads;
    QTcpServer m_server;
    int m_connections = 0;
    std::uint64_t m_nextSession = 1;
};

}  // namespace mr::server
