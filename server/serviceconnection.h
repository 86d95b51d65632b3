#pragma once

#include "service/wire.h"
#include "servicehandler.h"
#include "storeworkers.h"

#include <QObject>
#include <QTimer>

#include <memory>

class QTcpSocket;

namespace mr::server {

// The bytes of requests still arriving, over all connections of one service port, and the most
// they may come to: one client may send a large share list, but many together must not take the
// machine's memory.
struct RequestBudget {
    explicit RequestBudget(qint64 limit) : limit(limit) {}
    const qint64 limit;
    qint64 held = 0;
};

// One client connection to the service port: reads framed requests one at a time, answers
// each (those that need the store alone on the store's threads, when there are some), and keeps
// the member signed on over it present for as long as it lasts.
class ServiceConnection : public QObject {
    Q_OBJECT
public:
    ServiceConnection(QTcpSocket* socket, Store& store, Presence& presence, StoreThreads threads,
                      std::shared_ptr<RequestBudget> budget, std::uint64_t id,
                      QObject* parent = nullptr);
    ~ServiceConnection() override;

    // Nobody signed on over it and no request of it is being answered.
    bool waitingForRequest() const { return m_session.userId == 0 && !m_waiting; }

private:
    void pump();
    void schedulePump();
    void answer();
    void send(const Reply& reply, bool keepAlive);
    void drop();
    void closed();
    // Counts what the request being read holds now; false when that passes the budget.
    bool hold(qint64 bytes);

    QTcpSocket* m_socket;
    Store& m_store;
    Presence& m_presence;
    StoreThreads m_threads;
    std::shared_ptr<RequestBudget> m_budget;
    qint64 m_held = 0;
    Session m_session;
    wire::RequestReader m_reader;
    QByteArray m_input;  // read from the socket, not yet taken by the reader
    qsizetype m_inputPos = 0;
    QTimer m_timer;
    bool m_pumpScheduled = false;
    bool m_waiting = false;  // for a store thread's reply; the next request waits too
    bool m_closing = false;
    bool m_finished = false;
};

}  // namespace mr::server
