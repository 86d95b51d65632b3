#pragma once

#include "limitedlistener.h"
#include "presence.h"
#include "serviceconnection.h"
#include "store.h"
#include "storeworkers.h"

#include <QHostAddress>
#include <QObject>

namespace mr::server {

// Each signed-on member holds one connection for as long as he is present.
inline constexpr int kMaxServiceConnections = 4096;
// Requests being read, over all connections: sixteen share lists of the largest size at once.
inline constexpr qint64 kMaxRequestBytesHeld = 16 * wire::kMaxRequestBody;

// The service port: accepts client connections and hands each to a ServiceConnection.
class ServiceServer : public QObject {
    Q_OBJECT
public:
    ServiceServer(Store& store, Presence& presence, StoreThreads threads = {},
                  qint64 requestBytesHeld = kMaxRequestBytesHeld, QObject* parent = nullptr);

    bool listen(const QHostAddress& address, quint16 port) {
        return m_listener.listen(address, port);
    }
    QString errorString() const { return m_listener.errorString(); }
    quint16 port() const { return m_listener.port(); }

private:
    Store& m_store;
    Presence& m_presence;
    StoreThreads m_threads;
    std::shared_ptr<RequestBudget> m_budget;
    std::uint64_t m_nextSession = 1;
    LimitedListener m_listener;
};

}  // namespace mr::server
