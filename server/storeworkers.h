#pragma once

#include "servicehandler.h"
#include "store.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace mr::server {

// Runs store work on threads of its own, each with its own connection to the store, and hands
// the replies back on this object's thread, so that a long search, a large listing or a large
// catalog change never holds up sign-ons, presence look-ups or anybody's keep-alive connection.
class StoreWorkers : public QObject {
    Q_OBJECT
public:
    using Work = std::function<Reply(Store&)>;
    using Done = std::function<void(const Reply&)>;

    explicit StoreWorkers(QObject* parent = nullptr);
    // Running statements are interrupted; work not yet done never is.
    ~StoreWorkers() override;

    // Opens one connection per thread on the store in dataDir, which must already be open for
    // writing (that brings its layout up to date).
    bool start(const QString& dataDir, Store::Access access, int threads, QString* error);

    // done runs on this object's thread with the reply.
    void submit(Work work, Done done);

private:
    struct Job {
        Work work;
        Done done;
    };

    void run(Store& store);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_stopping = false;
    std::vector<std::unique_ptr<Store>> m_stores;
    std::vector<std::thread> m_threads;
};

// Where the requests that need the store alone are answered; without them, on the event loop.
struct StoreThreads {
    StoreWorkers* readers = nullptr;
    StoreWorkers* writer = nullptr;  // of one thread
};

}  // namespace mr::server
