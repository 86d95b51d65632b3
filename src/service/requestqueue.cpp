#include "service/requestqueue.h"

namespace mr {

RequestQueue::RequestQueue(qsizetype capacity) : m_capacity(capacity) {}

bool RequestQueue::push(RequestPtr request) {
    {
        std::lock_guard lock(m_mutex);
        if (m_capacity > 0 && static_cast<qsizetype>(m_items.size()) >= m_capacity) {
            return false;
        }
        m_items.push_back(std::move(request));
    }
    m_semaphore.release();
    return true;
}

RequestPtr RequestQueue::tryTake() {
    if (!m_semaphore.tryAcquire()) {
        return nullptr;
    }
    std::lock_guard lock(m_mutex);
    if (m_items.empty()) {
        return nullptr;
    }
    RequestPtr request = std::move(m_items.front());
    m_items.pop_front();
    return request;
}

std::vector<RequestPtr> RequestQueue::takeAll() {
    std::vector<RequestPtr> all;
    while (RequestPtr request = tryTake()) {
        all.push_back(std::move(request));
    }
    return all;
}

qsizetype RequestQueue::size() const {
    std::lock_guard lock(m_mutex);
    return static_cast<qsizetype>(m_items.size());
}

}  // namespace mr
