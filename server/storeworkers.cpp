#include "storeworkers.h"

#include <sys/resource.h>
#include <unistd.h>

#include <exception>

namespace mr::server {

namespace {

// Store threads yield the processor to the event loop, so that sign-ons and presence are
// answered at once however many searches are running.
constexpr int kStoreThreadNice = 10;

}  // namespace

StoreWorkers::StoreWorkers(QObject* parent) : QObject(parent) {}

StoreWorkers::~StoreWorkers() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
        for (const auto& store : m_stores) {
            store->interrupt();
        }
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads) {
        t.join();
    }
}

bool StoreWorkers::start(const QString& dataDir, Store::Access access, int threads,
                         QString* error) {
    for (int i = 0; i < threads; ++i) {
        auto store = std::make_unique<Store>();
        if (!store->open(dataDir, error, access)) {
            return false;
        }
        m_stores.push_back(std::move(store));
    }
    for (const auto& store : m_stores) {
        m_threads.emplace_back([this, s = store.get()] {
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kStoreThreadNice);
            run(*s);
        });
    }
    return true;
}

void StoreWorkers::submit(Work work, Done done) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back({std::move(work), std::move(done)});
    }
    m_wake.notify_one();
}

void StoreWorkers::run(Store& store) {
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
            reply = job.work(store);
        } catch (const std::exception&) {
            // Out of memory for one request: that caller gets an error, the service goes on.
        }
        // Delivered through this object, which outlives the threads; a queued call still
        // pending when it goes is dropped with it.
        QMetaObject::invokeMethod(
            this, [done = std::move(job.done), reply] { done(reply); }, Qt::QueuedConnection);
    }
}

}  // namespace mr::server
