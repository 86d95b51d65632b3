#pragma once

#include "service/requestqueue.h"

#include <memory>

class QSocketNotifier;

namespace mr {

class THttpCompSync;

// The completion path: hands the finished requests of a connection manager to the main thread,
// one at a time and in completion order. The main thread's own event loop waits for the
// completion semaphore, so a finished request reaches its handler with one wake-up, without a
// thread of its own in between; while handlers run, further completions wait, even when a
// handler runs a nested event loop. Construct and destroy it on the main thread.
class TProcessingThread {
public:
    explicit TProcessingThread(const THttpCompSync& manager);
    explicit TProcessingThread(std::shared_ptr<RequestQueue> completions);
    ~TProcessingThread();
    TProcessingThread(const TProcessingThread&) = delete;
    TProcessingThread& operator=(const TProcessingThread&) = delete;

private:
    void handOver();

    std::shared_ptr<RequestQueue> m_completions;
    std::unique_ptr<QSocketNotifier> m_ready;
    // Cleared by the destructor: a handler that ends the completion path ends the hand-over.
    std::shared_ptr<bool> m_alive;
    bool m_handing = false;  // a handler runs
};

}  // namespace mr
