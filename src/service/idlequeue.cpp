#include "service/idlequeue.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDebug>
#include <QThread>

#include <algorithm>
#include <exception>

namespace mr {

TIdleQueue::TIdleQueue(QObject* parent) : QObject(parent) {
    // The dispatcher's aboutToBlock is the moment the main loop runs out of work.
    if (auto* dispatcher = QAbstractEventDispatcher::instance(thread())) {
        m_idleConnection = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                                   &TIdleQueue::runPending);
    }
}

TIdleQueue::~TIdleQueue() {
    disconnect(m_idleConnection);
}

std::uint64_t TIdleQueue::Add(QObject* context, Call call) {
    std::uint64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        id = m_nextId++;
        m_items.push_back(
            TEventItem{id, QPointer<QObject>(context), context != nullptr, std::move(call)});
    }
    wake();
    return id;
}

void TIdleQueue::Remove(std::uint64_t id) {
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_items.begin(), m_items.end(),
                                 [id](const TEventItem& i) { return i.id == id; });
    if (it != m_items.end()) {
        m_items.erase(it);
    }
}

int TIdleQueue::count() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_items.size());
}

void TIdleQueue::wake() {
    // A posted call wakes a blocked loop, which then passes through idle again.
    QMetaObject::invokeMethod(
        this, [this] { runPending(); }, Qt::QueuedConnection);
}

void TIdleQueue::runPending() {
    if (m_running) {
        return;
    }
    std::vector<std::uint64_t> ids;
    {
        std::lock_guard lock(m_mutex);
        for (const TEventItem& item : m_items) {
            ids.push_back(item.id);
        }
    }
    if (ids.empty()) {
        return;
    }
    m_running = true;
    for (const std::uint64_t id : ids) {
        Call call;
        {
            std::lock_guard lock(m_mutex);
            const auto it = std::find_if(m_items.begin(), m_items.end(),
                                         [id](const TEventItem& i) { return i.id == id; });
            if (it == m_items.end()) {
                continue;  // removed by an earlier call
            }
            if (it->hasContext && it->context.isNull()) {
                m_items.erase(it);
                continue;
            }
            call = it->call;
        }
        bool done = false;
        try {
            call(done);
        } catch (const std::exception& e) {
            qWarning("deferred call failed: %s", e.what());
            done = true;
        }
        if (done) {
            Remove(id);
        }
    }
    m_running = false;
}

}  // namespace mr
