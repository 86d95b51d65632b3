#include "service/httpcompsync.h"

#include "service/blockingsocket.h"
#include "service/idlequeue.h"
#include "service/wire.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace mr {

namespace {

using Result = BlockingSocket::Result;

QString describe(Result r, const BlockingSocket& socket) {
    switch (r) {
        case Result::Timeout:
            return QStringLiteral("timed out");
        case Result::Closed:
            return QStringLiteral("connection closed");
        case Result::Stopped:
            return QStringLiteral("channel stopped");
        case Result::Error:
        case Result::Ok:
            break;
    }
    return socket.errorText();
}

}  // namespace

THttpCompSync::THttpCompSync(TIdleQueue* idle, QObject* parent)
    : QObject(parent),
      m_idle(idle),
      m_maxReplyBytes(wire::kMaxReplyBytes),
      m_completions(std::make_shared<RequestQueue>()) {}

THttpCompSync::~THttpCompSync() {
    std::thread keepAlive;
    std::vector<std::thread> oneShots;
    {
        std::lock_guard lock(m_mutex);
        m_shutdown = true;
        m_cancel = true;
        m_stop.set();
        keepAlive = std::move(m_keepAliveThread);
        oneShots.swap(m_oneShotThreads);
    }
    if (keepAlive.joinable()) {
        keepAlive.join();
    }
    for (auto& t : oneShots) {
        t.join();
    }
    for (RequestQueue* queue : {&m_keepAliveQueue, &m_oneShotQueue}) {
        for (const RequestPtr& request : queue->takeAll()) {
            request->discard();
        }
    }
}

void THttpCompSync::setService(const QString& host, std::uint16_t port) {
    std::lock_guard lock(m_mutex);
    m_host = host;
    m_port = port;
}

QString THttpCompSync::host() const {
    std::lock_guard lock(m_mutex);
    return m_host;
}

std::uint16_t THttpCompSync::port() const {
    std::lock_guard lock(m_mutex);
    return m_port;
}

void THttpCompSync::setTimeout(int ms) {
    m_timeoutMs = ms;
}

void THttpCompSync::setMaxReplyBytes(qsizetype bytes) {
    m_maxReplyBytes = bytes;
}

int THttpCompSync::oneShotWorkerCount() const {
    std::lock_guard lock(m_mutex);
    return m_oneShotCount;
}

void THttpCompSync::notifyStateChanged() {
    QMetaObject::invokeMethod(
        this, [this] { emit workerStateChanged(); }, Qt::QueuedConnection);
}

void THttpCompSync::startKeepAliveWorkerLocked() {
    // A previous worker has passed its clean-up once the count is 0; what is left of it ends
    // on its own, so its handle is parked with the one-shot handles and joined with them.
    if (m_keepAliveThread.joinable()) {
        m_oneShotThreads.push_back(std::move(m_keepAliveThread));
    }
    ++m_keepAliveCount;
    ++m_keepAliveThreadsAlive;
    m_keepAliveThread = std::thread([this] { keepAliveWorker(); });
}

void THttpCompSync::startOneShotWorkerLocked() {
    ++m_oneShotCount;
    m_oneShotThreads.emplace_back([this] { oneShotWorker(); });
}

bool THttpCompSync::Connect() {
    if (m_cancel) {
        return false;
    }
    QEventLoop loop;
    connect(this, &THttpCompSync::workerStateChanged, &loop, &QEventLoop::quit);
    QTimer slice;
    slice.setSingleShot(true);
    slice.setInterval(kConnectSliceMs);
    connect(&slice, &QTimer::timeout, &loop, &QEventLoop::quit);
    bool startedOwn = false;
    for (;;) {
        if (m_cancel) {
            return false;
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_connected) {
                break;
            }
            if (m_keepAliveCount == 0) {
                if (startedOwn) {
                    break;  // the worker ended without a connection
                }
                startKeepAliveWorkerLocked();
                startedOwn = true;
            }
        }
        slice.start();
        loop.exec();
    }
    const bool up = m_connected;
    emit Connected(up);
    return up;
}

bool THttpCompSync::Enqueue(const RequestPtr& request, TChannel channel) {
    std::lock_guard lock(m_mutex);
    RequestQueue& queue = channel == TChannel::KeepAlive ? m_keepAliveQueue : m_oneShotQueue;
    if (!m_connected || queue.size() >= kQueueCapacity) {
        return false;
    }
    ++m_sequence;
    request->setSequence(m_sequence);
    if (channel == TChannel::KeepAlive && m_keepAliveCount < kMaxKeepAliveWorkers) {
        startKeepAliveWorkerLocked();
    } else if (channel == TChannel::OneShot && m_oneShotCount < kMaxOneShotWorkers) {
        startOneShotWorkerLocked();
    }
    return queue.push(request);
}

void THttpCompSync::Cancel() {
    m_cancel = true;
    notifyStateChanged();
}

bool THttpCompSync::waitForKeepAliveWorker(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return m_keepAliveThreadsAlive == 0; });
}

void THttpCompSync::finish(const RequestPtr& request) {
    m_completions->push(request);
}

bool THttpCompSync::readReply(BlockingSocket& socket, TRequest& request, bool keepAlive,
                              bool* trailingBytes) {
    wire::ReplyReader reader(request.multiRecord(), keepAlive, m_maxReplyBytes);
    const int timeout = m_timeoutMs;
    Result r = socket.waitReadable(timeout);
    if (r != Result::Ok) {
        request.fail((keepAlive ? QStringLiteral("real bad: ") : QStringLiteral("Bad: ")) +
                     describe(r, socket));
        return false;
    }
    char buffer[16384];
    while (reader.bytesWanted() > 0) {
        qsizetype got = 0;
        r = socket.readSome(buffer, sizeof buffer, got, timeout);
        if (r != Result::Ok) {
            request.setReply(reader.kind(), reader.data(), true);
            request.fail((reader.kind() == 0 ? QStringLiteral("Failed to read header: ")
                                             : QStringLiteral("Failed to read buffer: ")) +
                         describe(r, socket));
            return false;
        }
        const qsizetype used = reader.feed(QByteArrayView(buffer, got));
        if (used < got && trailingBytes) {
            *trailingBytes = true;
        }
    }
    if (reader.broken()) {
        request.setReply(reader.kind(), reader.data(), true);
        request.fail(reader.error());
        return false;
    }
    request.setReply(reader.kind(), reader.data(), reader.errorEnd());
    return true;
}

void THttpCompSync::keepAliveWorker() {
    const QString host = this->host();
    const std::uint16_t port = this->port();
    BlockingSocket socket(m_stop.fd());
    bool failed = true;
    bool wasConnected = false;
    if (socket.connectTo(host, port, m_timeoutMs) == Result::Ok) {
        {
            std::lock_guard lock(m_mutex);
            m_connected = true;
        }
        wasConnected = true;
        notifyStateChanged();
        failed = false;
        bool serving = true;
        while (serving) {
            switch (socket.waitIdle(m_keepAliveQueue.fd())) {
                case BlockingSocket::Wake::Stopped:
                    serving = false;
                    break;
                case BlockingSocket::Wake::Readable:
                case BlockingSocket::Wake::Error:
                    // The service closed the channel, or sent bytes nobody asked for.
                    failed = true;
                    serving = false;
                    break;
                case BlockingSocket::Wake::Other: {
                    const RequestPtr request = m_keepAliveQueue.tryTake();
                    if (!request) {
                        break;
                    }
                    const QByteArray frame =
                        wire::frameRequest(request->path().toUtf8(), request->body(), true);
                    const Result w = socket.writeAll(frame, m_timeoutMs);
                    if (w != Result::Ok) {
                        if (request->code() != 'Q') {
                            request->fail(QStringLiteral("real bad: ") + describe(w, socket));
                            finish(request);
                        }
                        failed = true;
                        serving = false;
                        break;
                    }
                    if (request->code() == 'Q') {
                        m_stop.set();
                        serving = false;
                        break;
                    }
                    bool trailing = false;
                    const bool ok = readReply(socket, *request, true, &trailing);
                    finish(request);
                    if (!ok || trailing) {
                        failed = true;
                        serving = false;
                    }
                    break;
                }
            }
        }
    }
    // A request cut short by Close() or the program's exit is no lost connection.
    if (failed && m_stop.isSet()) {
        failed = false;
    }
    if (failed) {
        m_stop.set();
    }
    channelEnd(failed && wasConnected);
    socket.close();
    {
        std::lock_guard lock(m_mutex);
        --m_keepAliveThreadsAlive;
    }
    m_changed.notify_all();
    notifyStateChanged();
}

void THttpCompSync::oneShotWorker() {
    // Each idle worker waits in its own epoll set, in which the queue is an exclusive entry: a
    // request wakes one idle worker, not all of them, and no worker has to wake another to
    // take its place at the queue. The stop event wakes them all. Without a set (no descriptor
    // left for one) the worker still serves, waiting in poll() beside the others.
    int set = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event queued{};
    queued.events = EPOLLIN | EPOLLEXCLUSIVE;
    queued.data.fd = m_oneShotQueue.fd();
    epoll_event stop{};
    stop.events = EPOLLIN;
    stop.data.fd = m_stop.fd();
    if (set >= 0 && (::epoll_ctl(set, EPOLL_CTL_ADD, queued.data.fd, &queued) != 0 ||
                     ::epoll_ctl(set, EPOLL_CTL_ADD, stop.data.fd, &stop) != 0)) {
        ::close(set);
        set = -1;
    }
    // True when a request may wait, false once the worker is to stop.
    const auto waitForWork = [&] {
        for (;;) {
            bool stopped = false;
            int n = 0;
            if (set >= 0) {
                epoll_event events[2];
                n = ::epoll_wait(set, events, 2, -1);
                stopped = std::any_of(events, events + std::max(n, 0), [&](const epoll_event& e) {
                    return e.data.fd == stop.data.fd;
                });
            } else {
                pollfd fds[2] = {{queued.data.fd, POLLIN, 0}, {stop.data.fd, POLLIN, 0}};
                n = ::poll(fds, 2, -1);
                stopped = n > 0 && (fds[1].revents & POLLIN);
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return n >= 0 && !stopped;
        }
    };
    while (m_connected) {
        if (!waitForWork()) {
            break;
        }
        RequestPtr request = m_oneShotQueue.tryTake();
        if (!request) {
            continue;
        }
        BlockingSocket socket(m_stop.fd());
        const Result c = socket.connectTo(host(), port(), m_timeoutMs);
        if (c != Result::Ok) {
            request->fail(QStringLiteral("Bad: ") + describe(c, socket));
        } else {
            const Result w = socket.writeAll(
                wire::frameRequest(request->path().toUtf8(), request->body(), false), m_timeoutMs);
            if (w != Result::Ok) {
                request->fail(QStringLiteral("Bad: ") + describe(w, socket));
            } else {
                readReply(socket, *request, false);
            }
        }
        socket.close();
        finish(request);
    }
    if (set >= 0) {
        ::close(set);
    }
}

void THttpCompSync::channelEnd(bool lost) {
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_mutex);
        m_connected = false;
        workers.swap(m_oneShotThreads);
    }
    for (auto& t : workers) {
        t.join();
    }
    for (RequestQueue* queue : {&m_keepAliveQueue, &m_oneShotQueue}) {
        for (const RequestPtr& request : queue->takeAll()) {
            request->fail(QStringLiteral("the keep-alive channel ended"));
            finish(request);
        }
    }
    bool notify = false;
    {
        std::lock_guard lock(m_mutex);
        m_keepAliveCount = 0;
        m_oneShotCount = 0;
        m_sequence = 0;
        if (!m_shutdown) {
            m_stop.reset();
        }
        notify = lost && !m_shutdown;
    }
    m_changed.notify_all();
    if (!notify) {
        return;
    }
    // The notice travels behind the failed requests on the completion list, so the main thread
    // hears of the lost channel only after their handlers have run.
    auto notice =
        std::make_shared<TRequest>(0, QByteArray(), QString(), false, nullptr, RequestHandler());
    notice->fail(QStringLiteral("the keep-alive channel was lost"));
    QPointer<THttpCompSync> self(this);
    notice->setNotice([self] {
        if (!self) {
            return;
        }
        if (self->m_idle) {
            self->m_idle->Add(self, [self](bool& done) {
                done = true;
                if (self) {
                    emit self->Disconnected();
                }
            });
        } else {
            emit self->Disconnected();
        }
    });
    finish(notice);
}

void THttpCompSync::Close(int timeoutMs) {
    if (!m_connected) {
        return;
    }
    m_stop.set();
    waitForKeepAliveWorker(timeoutMs);
}

}  // namespace mr
