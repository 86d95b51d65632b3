#include "serviceserver.h"

#include "serviceconnection.h"

#include <QTcpSocket>

namespace mr::server {

ServiceServer::ServiceServer(Store& store, Presence& presence, StoreThreads threads,
                             qint64 requestBytesHeld, QObject* parent)
    : QObject(parent),
      m_store(store),
      m_presence(presence),
      m_threads(threads),
      m_budget(std::make_shared<RequestBudget>(requestBytesHeld)),
      m_listener(
          kMaxServiceConnections,
          [this](QTcpSocket* socket) {
              return new ServiceConnection(socket, m_store, m_presence, m_threads, m_budget,
                                           m_nextSession++, this);
          },
          [](const QObject* served) {
              return static_cast<const ServiceConnection*>(served)->waitingForRequest();
          }) {}

}  // namespace mr::server
