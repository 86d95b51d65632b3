#pragma once

#include "transfer/transferstatus.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace mr {

// One transfer: a file this user wants (download) or one another user asked for (upload).
struct TMRQueItem {
    qint32 Id = 0;
    qint32 PeerId = 0;        // the other side's user id
    QString UserName;         // the other side's nickname as this client knows it
    QString Path;             // the share path on the owner's side
    QString Password;         // downloads: the file password to log in with
    QString LocalName;        // downloads: the file's name in the download folder
    QString LoginName;        // uploads: the requester-side name to push as
    QString Address;          // uploads: the requester's address
    quint16 Port = 0;         // uploads: the requester's callback port
    qint64 Size = 0;          // total bytes
    qint64 ResumeOffset = 0;  // where the push starts: uploads read, downloads asked for
    qint64 Transferred = 0;
    TTransferStatus Status = TTransferStatus::LocalQueue;
    TTransferError Error = TTransferError::None;
    int Failures = 0;    // downloads: attempts in a row that found no owner
    qint64 RetryAt = 0;  // downloads: when the next attempt starts, ms since the epoch; 0 none
};

// Items in arrival order, numbered from 0. The queue transfers nothing: starting an item means
// calling the notify handler, which opens the peer connection and moves the item on.
//
// At most limit() items are active (out of Local Queue and not yet ended); a limit of 0 or
// less counts as 1, so the first item of an empty queue always starts.
class TMRQue : public QObject {
    Q_OBJECT
public:
    using Notify = std::function<void(TMRQueItem&)>;
    static constexpr int kNoSuchItem = 255;

    explicit TMRQue(int limit, QObject* parent = nullptr);
    ~TMRQue() override;

    // Start this item. The handler is expected to move it out of Local Queue at once.
    void setNotify(Notify handler);
    // Only items it accepts are started; the others wait in Local Queue. Empty accepts all.
    void setStartFilter(std::function<bool(const TMRQueItem&)> filter);

    int count() const { return static_cast<int>(m_items.size()); }
    TMRQueItem* at(int position) const;
    int IndexOf(qint32 id) const;
    TMRQueItem* find(qint32 id) const;
    // The item's status as a number, or kNoSuchItem.
    int StatusOf(qint32 id) const;

    // Stores the new status and error, keeps the active count, reports the change and starts
    // waiting items when a slot is free. Unknown ids and unchanged statuses do nothing.
    void SetStatus(qint32 id, TTransferStatus status, TTransferError error = TTransferError::None);

    // Position of the oldest item in Local Queue, or -1.
    int FirstWaiting() const;
    // Id of the first item in that status with that user and path (both case-insensitive), or -1.
    qint32 FindByStatus(const QString& userName, const QString& path, TTransferStatus status) const;
    // Id of the first item with that user and path that has not ended, or -1.
    qint32 FindActive(const QString& userName, const QString& path) const;

    void SetTransferred(qint64 bytes, qint32 id);
    // Bytes done, or -1 for an unknown id.
    qint64 Transferred(qint32 id) const;
    // Stores the total size and reports it.
    void SetSize(qint32 id, qint64 size);

    int activeCount() const { return m_active; }
    // Stores the count and starts waiting items while it is below the limit.
    void setActiveCount(int count);
    int limit() const { return m_limit; }

    // Removes one item (the user cleared it); an active item gives its slot back.
    void Remove(qint32 id);

signals:
    // A new item is in the queue (before it may start).
    void itemAdded(mr::TMRQueItem* item);
    // After the item holds its new status and error; previous is the status it left.
    void statusChanged(mr::TMRQueItem* item, mr::TTransferStatus previous);
    void transferredChanged(qint32 id, qint64 bytes);
    void sizeChanged(qint32 id, qint64 size);
    // The item that stood at position is gone.
    void itemRemoved(int position, qint32 id);

protected:
    // Numbers the item, appends it, reports it and runs the queue check. The item waits in
    // Local Queue unless keepState, which may only keep a state that is not active.
    TMRQueItem& append(std::unique_ptr<TMRQueItem> item, bool keepState = false);

private:
    void check();
    int firstStartable() const;
    // Id of the first item with that user and path whose status is wanted, or -1.
    qint32 findFirst(const QString& userName, const QString& path,
                     const std::function<bool(TTransferStatus)>& wanted) const;
    static bool isActive(TTransferStatus status);

    std::vector<std::unique_ptr<TMRQueItem>> m_items;
    Notify m_notify;
    std::function<bool(const TMRQueItem&)> m_startFilter;
    int m_limit;
    int m_active = 0;
    qint32 m_nextId = 0;
};

// The files this user wants from others. A download that failed because its owner could not be
// reached (or dropped the connection) goes back to Local Queue after a wait that doubles with
// each failure in a row.
class TMRWantedList : public TMRQue {
    Q_OBJECT
public:
    struct RetryPolicy {
        qint64 firstMs = 0;  // 0: no automatic retries
        qint64 limitMs = 0;  // the longest wait; 0: no limit
    };

    explicit TMRWantedList(int limit, QObject* parent = nullptr);

    // Read at each failure, so a changed setting applies to the next wait.
    void setRetryPolicy(std::function<RetryPolicy()> policy);
    // The errors that are tried again: the owner was offline, unreachable or broke off.
    static bool isRetryable(TTransferError error);

    // An item read back from the profile: a new id, the stored state where the item has ended
    // for good (Completed, or an error not tried again), else Local Queue.
    TMRQueItem& Restore(const TMRQueItem& stored);
    // The user's abort: an unfinished item, or one waiting for its next attempt, ends as
    // Error / Aborted and is not tried again.
    void Abort(qint32 id);
    // The item's local name is the path's file name, numbered "name (2).ext" and on while an
    // unfinished item already uses it, so two downloads never write into one file.
    TMRQueItem& Add(qint32 peerId, const QString& userName, const QString& path,
                    const QString& password);

private:
    void scheduleRetry(TMRQueItem& item);
    void retryDue();
    void armTimer();

    std::function<RetryPolicy()> m_retryPolicy;
    QTimer* m_retryTimer;
};

// Requests of other users for this user's files.
class TMRWaitingList : public TMRQue {
    Q_OBJECT
public:
    using TMRQue::TMRQue;
    TMRQueItem& Add(const QString& userName, qint32 peerId, const QString& loginName,
                    qint64 resumeOffset, qint64 size, const QString& path, const QString& address,
                    quint16 port);
};

}  // namespace mr
