#pragma once

#include "service/wire.h"
#include "servicehandler.h"

#include <QObject>
#include <QTimer>

class QTcpSocket;

namespace mr::server {

class SearchPool;

// One client connection to the service port: reads framed requests one at a time, answers
// each (a file search through the search pool, when there is one), and keeps the member signed
// on over it present for as long as it lasts.
class ServiceConnection : public QObject {
    Q_OBJECT
public:
    ServiceConnection(QTcpSocket* socket, Store& store, Presence& presence, SearchPool* searches,
                      std::uint64_t id, QObject* parent = nullptr);
    ~ServiceConnection() override;

signals:
    void finished();

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
    SearchPool* m_searches;
    Session m_session;
    wire::RequestReader m_reader;
    QByteArray m_input;  // read from the socket, not yet taken by the reader
    qsizetype m_inputPos = 0;
    QTimer m_timer;
    bool m_pumpScheduled = false;
    bool m_searching = false;  // the next request waits for the search's reply
    bool m_closing = false;
    bool m_finished = false;
};

}  // namespace mr::server
