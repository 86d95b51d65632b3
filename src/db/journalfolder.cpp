#include "db/journalfolder.h"

#include <QFile>

#include <sqlite3.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace mr::db {

namespace {

void fold(const std::string& path) {
    sqlite3* db = nullptr;
    // No SQLITE_OPEN_CREATE: a table file removed meanwhile is left removed.
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) ==
        SQLITE_OK) {
        // A new connection finds the journal only once it reads the file.
        if (sqlite3_exec(db, "PRAGMA journal_mode", nullptr, nullptr, nullptr) == SQLITE_OK)
            sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    }
    sqlite3_close(db);
}

class JournalFolder {
public:
    static JournalFolder& instance() {
        static JournalFolder folder;
        return folder;
    }

    // At the end of the process: the queued folds are done before the thread is joined.
    ~JournalFolder() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    void add(std::string path) {
        bool queued = false;
        {
            std::lock_guard lock(m_mutex);
            if (std::find(m_queue.begin(), m_queue.end(), path) != m_queue.end())
                return;
            if (!m_thread.joinable()) {
                try {
                    m_thread = std::thread([this] { run(); });
                } catch (const std::system_error&) {
                    // No thread to be had: the caller waits for the disk, as it would without us.
                }
            }
            if (m_thread.joinable()) {
                m_queue.push_back(path);
                queued = true;
            }
        }
        if (queued)
            m_changed.notify_all();
        else
            fold(path);
    }

    void waitIdle() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_queue.empty() && !m_folding; });
    }

private:
    void run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            const std::string path = std::move(m_queue.front());
            m_queue.pop_front();
            m_folding = true;
            lock.unlock();
            fold(path);
            lock.lock();
            m_folding = false;
            m_changed.notify_all();
        }
    }

    JournalFolder() = default;

    std::mutex m_mutex;
    // Signals both new work for the thread and the end of a fold for the waiters.
    std::condition_variable m_changed;
    std::deque<std::string> m_queue;
    bool m_folding = false;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace

void foldJournalInBackground(const QString& path) {
    JournalFolder::instance().add(QFile::encodeName(path).toStdString());
}

void waitForJournalFolds() {
    JournalFolder::instance().waitIdle();
}

}  // namespace mr::db
