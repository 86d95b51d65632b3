#pragma once

#include "service/pollable.h"
#include "service/request.h"
#include "service/requestqueue.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace mr {

class BlockingSocket;
class TIdleQueue;

// The agent's connection manager: the keep-alive channel with its one worker, up to five
// one-shot workers, their queues, and the completion list that TProcessingThread empties.
// Lives on the main thread; Connect, Cancel and the destructor are called there.
class THttpCompSync : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxOneShotWorkers = 5;
    static constexpr int kMaxKeepAliveWorkers = 1;
    // Requests waiting in one queue at most; a request beyond that is refused.
    static constexpr qsizetype kQueueCapacity = 64;
    static constexpr int kDefaultTimeoutMs = 300000;
    static constexpr int kConnectSliceMs = 500;

    // idle: where the disconnected notification is deferred to; it must outlive the manager.
    explicit THttpCompSync(TIdleQueue* idle = nullptr, QObject* parent = nullptr);
    ~THttpCompSync() override;

    void setService(const QString& host, std::uint16_t port);
    QString host() const;
    std::uint16_t port() const;
    // Socket connects, reads and writes give up after this long.
    void setTimeout(int ms);
    // A reply growing beyond this many bytes is a transport failure.
    void setMaxReplyBytes(qsizetype bytes);

    // Opens the keep-alive channel unless it is open, pumping events while it waits. Raises
    // Connected with the outcome, except after Cancel, which makes it return false at once.
    bool Connect();
    // False when the channel is not up or the queue is full; the request is then not queued
    // and its handler is never called.
    bool Enqueue(const RequestPtr& request, TChannel channel);
    // From now on Connect returns false at once; a waiting Connect returns within a slice.
    void Cancel();
    bool cancelled() const { return m_cancel.load(); }
    // Ends the keep-alive channel without a sign-off (not a lost connection: no Disconnected),
    // waiting at most timeoutMs for its worker.
    void Close(int timeoutMs);
    // Waits at most timeoutMs for the keep-alive worker to end; true when it has.
    bool waitForKeepAliveWorker(int timeoutMs);

    bool connected() const { return m_connected.load(); }
    int oneShotWorkerCount() const;

    // Finished requests, in completion order; TProcessingThread hands them to the main thread.
    std::shared_ptr<RequestQueue> completions() const { return m_completions; }

signals:
    void Connected(bool success);
    // The keep-alive channel ended by failure; raised on the main thread.
    void Disconnected();
    // A worker's state changed; wakes a waiting Connect.
    void workerStateChanged();

private:
    void startKeepAliveWorkerLocked();
    void startOneShotWorkerLocked();
    void keepAliveWorker();
    void oneShotWorker();
    void channelEnd(bool failed);
    // Reads one reply into the request; false on a transport failure.
    bool readReply(BlockingSocket& socket, TRequest& request, bool keepAlive,
                   bool* trailingBytes = nullptr);
    void finish(const RequestPtr& request);
    void notifyStateChanged();

    TIdleQueue* m_idle;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QString m_host;
    std::uint16_t m_port = 0;
    std::atomic<int> m_timeoutMs{kDefaultTimeoutMs};
    std::atomic<qsizetype> m_maxReplyBytes;

    PollableEvent m_stop;
    RequestQueue m_keepAliveQueue{kQueueCapacity};
    RequestQueue m_oneShotQueue{kQueueCapacity};
    std::shared_ptr<RequestQueue> m_completions;

    std::thread m_keepAliveThread;
    int m_keepAliveThreadsAlive = 0;  // keep-alive threads that have not returned yet
    int m_keepAliveCount = 0;
    std::vector<std::thread> m_oneShotThreads;
    int m_oneShotCount = 0;
    std::uint16_t m_sequence = 0;
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_cancel{false};
    bool m_shutdown = false;
};

}  // namespace mr
