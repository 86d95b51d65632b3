#include "searchpool.h"

#include <exception>

namespace mr::server {

SearchPool::SearchPool(QObject* parent) : QObject(parent) {}

SearchPool::~SearchPool() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
        for (const auto& reader : m_readers) {
            reader->interrupt();
        }
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads) {
        t.join();
    }
}

bool SearchPool::start(const QString& dataDir, int workers, QString* error) {
    for (int i = 0; i < workers; ++i) {
        auto reader = std::make_unique<Store>();
        if (!reader->open(dataDir, error, Store::Access::ReadOnly)) {
            return false;
        }
        m_readers.push_back(std::move(reader));
    }
    for (const auto& reader : m_readers) {
        m_threads.emplace_back([this, r = reader.get()] { run(*r); });
    }
    return true;
}

void SearchPool::submit(const QByteArray& payload, QHash<int, PresenceEntry> present, Done done) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back({payload, std::move(present), std::move(done)});
    }
    m_wake.notify_one();
}

void SearchPool::run(Store& reader) {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping) {
                return;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        Reply reply = Reply::error();
        try {
            reply = searchCatalog(reader, job.present, job.payload);
        } catch (const std::exception&) {
            // Out of memory for one search: that caller gets an error, the service goes on.
        }
        // Delivered through this object, which outlives the workers; a queued call still
        // pending when it goes is dropped with it.
        QMetaObject::invokeMethod(
            this, [done = std::move(job.done), reply] { done(reply); }, Qt::QueuedConnection);
    }
}

}  // namespace mr::server
