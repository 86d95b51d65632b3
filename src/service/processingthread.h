#pragma once

#include "service/pollable.h"
#include "service/requestqueue.h"

#include <QObject>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace mr {

class THttpCompSync;

// Hands the finished requests of a connection manager to the main thread and waits there
// until their handlers have run, so handlers run one at a time and in completion order.
// Construct and destroy it on the main thread.
class TProcessingThread {
public:
    explicit TProcessingThread(const THttpCompSync& manager);
    explicit TProcessingThread(std::shared_ptr<RequestQueue> completions);
    ~TProcessingThread();
    TProcessingThread(const TProcessingThread&) = delete;
    TProcessingThread& operator=(const TProcessingThread&) = delete;

private:
    void run();

    std::shared_ptr<RequestQueue> m_completions;
    QObject m_mainThread;  // receives the hand-overs
    PollableEvent m_stop;
    std::mutex m_mutex;
    std::condition_variable m_handedOver;
    bool m_done = false;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace mr
