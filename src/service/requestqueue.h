#pragma once

#include "service/pollable.h"
#include "service/request.h"

#include <deque>
#include <mutex>
#include <vector>

namespace mr {

// A thread-safe list of requests counted by a semaphore that poll() can wait for. The lock
// is held only while one item is added or taken.
class RequestQueue {
public:
    // capacity 0: no limit.
    explicit RequestQueue(qsizetype capacity = 0);

    // False when the queue is full.
    bool push(RequestPtr request);
    // The first request, when one is counted; never blocks.
    RequestPtr tryTake();
    std::vector<RequestPtr> takeAll();
    qsizetype size() const;
    // Readable while a request is counted.
    int fd() const { return m_semaphore.fd(); }

private:
    const qsizetype m_capacity;
    mutable std::mutex m_mutex;
    std::deque<RequestPtr> m_items;
    PollableSemaphore m_semaphore;
};

}  // namespace mr
