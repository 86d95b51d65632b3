#include "catalog/shareupdate.h"

#include "catalog/fileitem.h"
#include "core/record.h"
#include "db/connection.h"
#include "db/cursor.h"
#include "db/database.h"
#include "db/dberror.h"
#include "db/filters.h"
#include "db/statement.h"
#include "db/transaction.h"
#include "service/agent.h"
#include "service/request.h"

#include <QHash>
#include <QSemaphore>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace mr {

namespace {

const QString kFiles = QStringLiteral("files");
const QString kDatabase = QString::fromLatin1(db::kDatabaseName);
constexpr int kEventWaitStepMs = 1000;
constexpr int kRequeueDelayMs = 100;
constexpr int kMaxCollectRestarts = 3;
// A refused removal request is sent again after this pause, doubled each time up to the maximum.
constexpr int kResendFirstDelayMs = 500;
constexpr int kResendMaxDelayMs = 30000;

// Shared by the worker and the completions, which may outlive the run after a Cancel.
struct SyncState {
    enum class Event { None, Success, Failure };

    QSemaphore replies;  // one release per finished addition batch
    std::mutex mutex;
    std::condition_variable changed;
    Event event = Event::None;  // the removal request's auto-reset event pair
    QPointer<Progress> progress;
    std::atomic<int> additionsAccepted{0};
    std::atomic<int> additionsFailed{0};
    // The completions' connection, opened by the first one: a thousand batches need not open
    // the table a thousand times.
    std::unique_ptr<db::Connection> publisher;

    void signal(Event e) {
        {
            std::lock_guard lock(mutex);
            event = e;
        }
        changed.notify_all();
    }

    // The next event; None when the progress was cancelled first.
    Event wait(const Progress& watch) {
        std::unique_lock lock(mutex);
        while (event == Event::None && !watch.cancelled())
            changed.wait_for(lock, std::chrono::milliseconds(kEventWaitStepMs));
        return std::exchange(event, Event::None);
    }

    // Completions count into the gauge too.
    void advance(int n) {
        if (!progress)
            return;
        progress->done += n;
        progress->postProgress(Progress::percentage(progress->done, progress->total));
    }
};

// Requests are queued on the main thread: their handlers are bound to objects living there.
bool sendOnMainThread(QObject& context, const std::function<bool()>& send) {
    if (QThread::currentThread() == context.thread())
        return send();
    bool queued = false;
    QMetaObject::invokeMethod(
        &context, [&] { queued = send(); }, Qt::BlockingQueuedConnection);
    return queued;
}

// Deletes the rows the request carried, each only while it is still a pending removal: a reply
// that arrives late must not take rows removed after it was sent.
void removalsAccepted(SyncState& state, const QList<int>& ids, TRequest& request) {
    if (request.failed()) {
        state.signal(SyncState::Event::Failure);
        return;
    }
    try {
        db::Cursor rows(kDatabase, kFiles);
        db::Transaction transaction(rows);
        for (const int id : ids) {
            rows.setFilter(db::pendingRemovalById(id), true);
            if (!rows.eof())
                rows.remove();
        }
        transaction.commit();
    } catch (const std::exception& e) {
        // The service has them: the rows stay "D" and their removal is sent again next time.
        qWarning("accepted removals not cleared: %s", e.what());
    }
    state.signal(SyncState::Event::Success);
}

void additionsAnswered(SyncState& state, const QList<int>& ids, TRequest& request) {
    try {
        if (request.failed()) {
            state.additionsFailed += static_cast<int>(ids.size());
        } else {
            if (!state.publisher)
                state.publisher = std::make_unique<db::Connection>(kDatabase, kFiles);
            db::Statement statement(*state.publisher);
            statement.setText(db::publishBatchStatement(ids));
            statement.execute();
            state.additionsAccepted += static_cast<int>(ids.size());
        }
    } catch (const std::exception& e) {
        state.additionsFailed += static_cast<int>(ids.size());
        qWarning("accepted additions not marked: %s", e.what());
    }
    state.advance(static_cast<int>(ids.size()));
    state.replies.release();
}

class Worker {
public:
    Worker(TMRTree& tree, std::shared_ptr<SyncState> state, Progress& progress, SyncResult& result)
        : m_tree(tree), m_state(std::move(state)), m_progress(progress), m_result(result) {}

    void run() {
        Progress::CloseOnExit closeOnExit{m_progress};
        db::Connection connection(kDatabase, kFiles);
        m_connection = &connection;
        removals();
        m_progress.postProgress(Progress::percentage(m_progress.done, m_progress.total));
        if (online())
            additions();
        m_result.wentOffline = !online();
        m_result.cancelled = m_progress.cancelled();
    }

private:
    bool online() const { return m_tree.agent() && m_tree.agent()->online(); }
    bool cancelled() const { return m_progress.cancelled(); }

    QString folderPath(int parentId) {
        const auto it = m_folderPaths.constFind(parentId);
        if (it != m_folderPaths.constEnd())
            return *it;
        const QString path = TMRTree::pathOf(m_connection, parentId);
        m_folderPaths.insert(parentId, path);
        return path;
    }

    bool send(const QByteArray& records, RequestHandler handler) {
        if (!online())
            return false;
        TMRAgentHttp* agent = m_tree.agent();
        return sendOnMainThread(
            m_tree, [&] { return agent->UpdateShareList(nullptr, std::move(handler), records); });
    }

    void removals() {
        QByteArray records;
        QList<int> ids;
        int count = 0;
        {
            db::Cursor rows(*m_connection, kFiles);
            rows.setFilter(db::pendingRemovals(), true);
            rows.setReadAhead(kShareBatchSize);
            for (; !rows.eof() && !cancelled(); rows.next()) {
                records += removalRecord(
                    removalPath(folderPath(static_cast<int>(rows.asInteger(u"ParentId"))),
                                rows.asString(u"Name")));
                ids.append(static_cast<int>(rows.asInteger(u"id")));
                ++count;
                ++m_progress.done;
            }
        }
        if (count == 0 || !online())
            return;
        m_result.removalsSent = count;
        int delayMs = kResendFirstDelayMs;
        for (;;) {
            const std::shared_ptr<SyncState> state = m_state;
            const bool queued =
                send(records, [state, ids](TRequest& r) { removalsAccepted(*state, ids, r); });
            const SyncState::Event event =
                queued ? m_state->wait(m_progress) : SyncState::Event::Failure;
            if (event == SyncState::Event::Success) {
                m_result.removalsAccepted = count;
                return;
            }
            // A service that refuses the request at once must not be asked again at once.
            if (!pause(delayMs))
                return;
            delayMs = std::min(delayMs * 2, kResendMaxDelayMs);
        }
    }

    // Waits before the next attempt; false when the run went offline or was cancelled.
    bool pause(int ms) {
        for (int waited = 0; online() && !cancelled(); waited += kRequeueDelayMs) {
            if (waited >= ms)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(kRequeueDelayMs));
        }
        return false;
    }

    void additions() {
        std::vector<std::unique_ptr<TFileItem>> batch;
        QList<int> ids;
        int restarts = 0;
        {
            db::Cursor rows(*m_connection, kFiles);
            rows.setFilter(db::pendingAdditions(), true);
            rows.setReadAhead(kShareBatchSize);
            while (online() && !rows.eof() && !cancelled()) {
                try {
                    if (batch.empty())
                        ids.clear();
                    auto item = TMRTree::ItemFromRow(
                        rows, folderPath(static_cast<int>(rows.asInteger(u"ParentId"))));
                    ids.append(static_cast<int>(rows.asInteger(u"id")));
                    batch.push_back(std::move(item));
                    rows.next();
                } catch (const db::DbError& e) {
                    qWarning("collecting additions: %s", e.what());
                    batch.clear();
                    if (++restarts > kMaxCollectRestarts)
                        break;
                    rows.first();
                    continue;
                }
                if (static_cast<int>(batch.size()) == kShareBatchSize)
                    sendBatch(batch, ids);
            }
        }
        if (online() && !batch.empty() && !cancelled())
            sendBatch(batch, ids);
        while (m_counted < m_pending && !cancelled()) {
            if (m_state->replies.tryAcquire(1, kShareReplyWaitMs))
                ++m_counted;
        }
    }

    void sendBatch(std::vector<std::unique_ptr<TFileItem>>& batch, const QList<int>& ids) {
        while (m_pending - m_counted >= kShareBatchesInFlight && !cancelled()) {
            if (m_state->replies.tryAcquire(1, kShareReplyWaitMs))
                ++m_counted;
        }
        QByteArray records;
        for (const auto& item : batch)
            records += additionRecord(*item);
        batch.clear();
        const std::shared_ptr<SyncState> state = m_state;
        if (!cancelled() &&
            send(records, [state, ids](TRequest& r) { additionsAnswered(*state, ids, r); })) {
            ++m_pending;
            m_result.additionsSent += static_cast<int>(ids.size());
        } else {
            m_result.additionsFailed += static_cast<int>(ids.size());
        }
    }

    TMRTree& m_tree;
    std::shared_ptr<SyncState> m_state;
    Progress& m_progress;
    SyncResult& m_result;
    db::Connection* m_connection = nullptr;
    QHash<int, QString> m_folderPaths;
    int m_pending = 0;
    int m_counted = 0;
};

}  // namespace

QByteArray removalRecord(const QString& path) {
    return PackRecord("BA", {int{'R'}, path}).bytes;
}

QByteArray additionRecord(const TFileItem& item) {
    QString folder = item.Path;
    if (folder.startsWith(u'/'))
        folder.remove(0, 1);
    if (folder.endsWith(u'/'))
        folder.chop(1);
    const QString description = item.description.isEmpty() ? QStringLiteral(" ") : item.description;
    return PackRecord("BIDWBAAA", {int{'A'}, item.size, item.date, 0,
                                   item.password.isEmpty() ? 0 : 1, folder, item.Name, description})
        .bytes;
}

QString removalPath(const QString& folderPath, const QString& name) {
    return (withTrailingSlash(folderPath) + name).mid(1);
}

SyncResult ShareUpdate::run() {
    SyncResult result;
    int pending = 0;
    {
        db::Cursor rows(kDatabase, kFiles);
        rows.setFilter(db::pendingChanges(), true);
        pending = rows.recordCount();
    }
    if (pending == 0)
        return result;
    result.ran = true;
    Progress progress;
    progress.done = 0;
    progress.total = pending;
    auto state = std::make_shared<SyncState>();
    state->progress = &progress;
    SyncResult fromWorker;
    m_tree.runOperation(progress, QString::fromLatin1(kUpdatingServerText),
                        [&tree = m_tree, state, &progress, &fromWorker] {
                            Worker(tree, state, progress, fromWorker).run();
                        });
    fromWorker.ran = true;
    // Batches are counted by their completions, which ran on this thread during the wait.
    fromWorker.additionsAccepted = state->additionsAccepted;
    fromWorker.additionsFailed += state->additionsFailed;
    return fromWorker;
}

}  // namespace mr
