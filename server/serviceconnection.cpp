#include "serviceconnection.h"

#include "limitedlistener.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>

namespace mr::server {

namespace {

constexpr qsizetype kReadChunk = 64 * 1024;
// What Qt may buffer from the network before TCP pushes back on the client.
constexpr qint64 kSocketReadBuffer = 256 * 1024;
// Requests wait while this much of the replies is still unsent to a client that does not read.
constexpr qint64 kMaxUnsent = 1024 * 1024;
// A request must arrive whole, and a connection nobody signed on over must be used, within this.
constexpr int kRequestTimeoutMs = 60000;

QString addressText(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

}  // namespace

ServiceConnection::ServiceConnection(QTcpSocket* socket, Store& store, Presence& presence,
                                     StoreThreads threads, std::shared_ptr<RequestBudget> budget,
                                     std::uint64_t id, QObject* parent)
    : QObject(parent),
      m_socket(socket),
      m_store(store),
      m_presence(presence),
      m_threads(threads),
      m_budget(std::move(budget)) {
    m_socket->setParent(this);
    m_socket->setReadBufferSize(kSocketReadBuffer);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Dead peers of idle signed-on connections are found by the system's keep-alive probes.
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    m_session.id = id;
    m_session.peerAddress = addressText(m_socket->peerAddress());

    m_timer.setSingleShot(true);
    m_timer.setInterval(kRequestTimeoutMs);
    connect(&m_timer, &QTimer::timeout, this, &ServiceConnection::drop);
    connect(m_socket, &QTcpSocket::readyRead, this, &ServiceConnection::pump);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &ServiceConnection::pump);
    connect(m_socket, &QTcpSocket::disconnected, this, &ServiceConnection::closed);
    m_timer.start();
    if (arrivedBeforeSignals(*m_socket)) {
        schedulePump();
    }
}

ServiceConnection::~ServiceConnection() {
    hold(0);
    endSession(m_presence, m_session);
}

bool ServiceConnection::hold(qint64 bytes) {
    m_budget->held += bytes - m_held;
    m_held = bytes;
    return m_budget->held <= m_budget->limit;
}

void ServiceConnection::schedulePump() {
    if (m_pumpScheduled) {
        return;
    }
    m_pumpScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_pumpScheduled = false;
            if (m_socket->state() != QAbstractSocket::ConnectedState && !m_closing) {
                closed();
                return;
            }
            pump();
        },
        Qt::QueuedConnection);
}

void ServiceConnection::pump() {
    while (!m_closing && !m_pumpScheduled && !m_waiting) {
        if (m_socket->bytesToWrite() > kMaxUnsent) {
            return;  // bytesWritten brings us back
        }
        if (m_inputPos >= m_input.size()) {
            m_input = m_socket->read(kReadChunk);
            m_inputPos = 0;
            if (m_input.isEmpty()) {
                return;
            }
            if (!m_timer.isActive()) {
                m_timer.start();
            }
        }
        m_inputPos += m_reader.feed(QByteArrayView(m_input).sliced(m_inputPos));
        if (!hold(m_reader.body().size())) {
            drop();
            return;
        }
        switch (m_reader.status()) {
            case wire::RequestReader::Status::Broken:
                drop();
                return;
            case wire::RequestReader::Status::Ready:
                answer();
                // One request per turn of the event loop, so one busy client cannot starve
                // the others.
                if (!m_closing) {
                    schedulePump();
                }
                return;
            case wire::RequestReader::Status::NeedMore:
                break;
        }
    }
}

void ServiceConnection::answer() {
    const ServiceRequest request{m_reader.path(), m_reader.keepAlive(), m_reader.body()};
    m_reader.reset();
    hold(0);
    if (const auto work = storeRequest(request)) {
        const bool read = work->kind == StoreRequest::Kind::Read;
        if (StoreWorkers* workers = read ? m_threads.readers : m_threads.writer) {
            StoreWorkers::Work job;
            if (read) {
                job = [work = *work, present = m_presence.snapshot()](Store& store) {
                    return readStore(store, present, work);
                };
            } else {
                job = [payload = work->payload](Store& store) {
                    return changeCatalog(store, payload);
                };
            }
            m_waiting = true;
            m_timer.stop();
            StoreWorkers::Done done = [self = QPointer(this),
                                       keepAlive = request.keepAlive](const Reply& reply) {
                if (self && !self->m_closing) {
                    self->m_waiting = false;
                    self->send(reply, keepAlive);
                    if (!self->m_closing) {
                        self->schedulePump();
                    }
                }
            };
            if (!read) {
                // The store and presence outlive the writer, whose replies end with it: a
                // change counts for its owner even when this connection has gone meanwhile.
                done = [answer = std::move(done), store = &m_store, presence = &m_presence,
                        change = work->payload](const Reply& reply) {
                    if (reply.kind != Reply::Kind::Error) {
                        catalogChanged(*store, *presence, change);
                    }
                    answer(reply);
                };
            }
            workers->submit(std::move(job), std::move(done));
            return;
        }
    }
    send(handleRequest(m_store, m_presence, m_session, request), request.keepAlive);
}

void ServiceConnection::send(const Reply& reply, bool keepAlive) {
    const QByteArray bytes = encodeReply(reply, keepAlive);
    if (!bytes.isEmpty()) {
        m_socket->write(bytes);
    }
    if (reply.closeAfter || !keepAlive) {
        // The reply is flushed first; the timer ends a client that never reads it.
        m_closing = true;
        m_timer.start();
        m_socket->disconnectFromHost();
        return;
    }
    if (m_session.userId != 0) {
        m_timer.stop();
    } else {
        m_timer.start();
    }
}

void ServiceConnection::drop() {
    m_closing = true;
    m_socket->abort();
    closed();
}

void ServiceConnection::closed() {
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_closing = true;
    m_timer.stop();
    endSession(m_presence, m_session);
    deleteLater();
}

}  // namespace mr::server
