#pragma once

#include "presence.h"
#include "servicehandler.h"
#include "store.h"

#include <QHash>
#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace mr::server {

// Answers file searches on worker threads, each with its own reader connection, so that a long
// search never holds up sign-ons, presence look-ups or anybody's keep-alive connection.
class SearchPool : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const Reply&)>;

    explicit SearchPool(QObject* parent = nullptr);
    // Running searches are interrupted; searches not yet answered never are.
    ~SearchPool() override;

    // Opens one reader per worker on the store in dataDir, which must already be open for
    // writing (it brings the layout up to date).
    bool start(const QString& dataDir, int workers, QString* error);

    // done runs on this object's thread with the reply.
    void submit(const QByteArray& payload, QHash<int, PresenceEntry> present, Done done);

private:
    struct Job {
        QByteArray payload;
        QHash<int, PresenceEntry> present;
        Done done;
    };

    void run(Store& reader);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_stopping = false;
    std::vector<std::unique_ptr<Store>> m_readers;
    std::vector<std::thread> m_threads;
};

}  // namespace mr::server
