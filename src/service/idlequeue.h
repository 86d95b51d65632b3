#pragma once

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace mr {

// Deferred calls run on the main thread when its event loop has nothing else to do. A call
// stays queued until it sets its done flag (or is removed), and then runs at every idle time.
// Add and Remove are safe from any thread; the queue lives on the main thread.
class TIdleQueue : public QObject {
    Q_OBJECT
public:
    using Call = std::function<void(bool& done)>;

    explicit TIdleQueue(QObject* parent = nullptr);
    ~TIdleQueue() override;

    // context: the call is dropped once this object is gone (may be null). Returns the call's
    // id for Remove.
    std::uint64_t Add(QObject* context, Call call);
    // Deletes the call with that id; a running call may remove itself.
    void Remove(std::uint64_t id);
    int count() const;

    // Runs the pending calls once; the event loop does this by itself when idle.
    void runPending();

private:
    struct TEventItem {
        std::uint64_t id;
        QPointer<QObject> context;
        bool hasContext;
        Call call;
    };

    void wake();

    mutable std::mutex m_mutex;
    std::vector<TEventItem> m_items;
    std::uint64_t m_nextId = 1;
    bool m_running = false;
    QMetaObject::Connection m_idleConnection;
};

}  // namespace mr
