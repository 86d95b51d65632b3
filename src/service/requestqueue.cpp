#include "service/requestqueue.h"

namespace mr {

TRequestQueue::TRequestQueue(qsizetype capacity) : m_capacity(capacity) {}

bool TRequestQueue::push(TRequestPtr request) {
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

TRequestPtr TRequestQueue::tryTake() {
    if (!m_semaphore.tryAcquire()) {
        return nullptr;
    }
    std::lock_guard lock(m_mutex);
    if (m_items.empty()) {
        return nullptr;
    }
    TRequestPtr request = std::move(m_items.front());
    m_items.pop_front();
    return request;
}

std::vector<TRequestPtr> TRequestQueue::takeAll() {
    std::vector<TRequestPtr> all;
    while (TRequestPtr request = tryTake()) {
        all.push_back(std::move(request));
    }
    return all;
}

qsizetype TRequestQueue::size() const {
    std::lock_guard lock(m_mutex);
    return static_cast<qsizetype>(m_items.size());
}

}  // namespace mr
