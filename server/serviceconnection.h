#pragma once

#include "service/wire.h"
#include "servicehandler.h"
#include "storeworkers.h"

#include <QObject>
#include <QTimer>

class QTcpSocket;

namespace mr::server {

// One client connection to the service port: reads framed requests one at a time, answers
// each (those that need the store alone on the store's threads, when there are some), and keeps
// the member signed on over it present for as long as it lasts.
class ServiceConnection : public QObject {
    Q_OBJECT
public:
    ServiceConnection(QTcpSocket* socket, Store& store, Presence& presence, StoreThreads threads,
                      std::uint64_t id, QObject* parent = nullptr);
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

    QTcpSocket* m_socket;
    Store& m_store;
    Presence& m_presence;
    StoreThreads m_threads;
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
