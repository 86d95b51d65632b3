#include "transfer/queue.h"

#include "transfer/peerdialect.h"

#include <QDateTime>

#include <algorithm>
#include <limits>

namespace mr {

namespace {

// "name.ext" as "name (n).ext"; a leading dot (".profile") starts no extension.
QString numberedName(const QString& name, int n) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const qsizetype cut = dot > 0 ? dot : name.size();
    return name.left(cut) + QStringLiteral(" (%1)").arg(n) + name.mid(cut);
}

}  // namespace

TMRQue::TMRQue(int limit, QObject* parent) : QObject(parent), m_limit(limit) {}

TMRQue::~TMRQue() = default;

void TMRQue::setNotify(Notify handler) {
    m_notify = std::move(handler);
    check();
}

void TMRQue::setStartFilter(std::function<bool(const TMRQueItem&)> filter) {
    m_startFilter = std::move(filter);
    check();
}

int TMRQue::firstStartable() const {
    for (int i = 0; i < count(); ++i) {
        const TMRQueItem& item = *m_items[static_cast<std::size_t>(i)];
        if (item.Status == TTransferStatus::LocalQueue && (!m_startFilter || m_startFilter(item))) {
            return i;
        }
    }
    return -1;
}

TMRQueItem* TMRQue::at(int position) const {
    if (position < 0 || position >= count()) {
        return nullptr;
    }
    return m_items[static_cast<std::size_t>(position)].get();
}

int TMRQue::IndexOf(qint32 id) const {
    for (int i = 0; i < count(); ++i) {
        if (m_items[static_cast<std::size_t>(i)]->Id == id) {
            return i;
        }
    }
    return -1;
}

TMRQueItem* TMRQue::find(qint32 id) const {
    return at(IndexOf(id));
}

int TMRQue::StatusOf(qint32 id) const {
    const TMRQueItem* item = find(id);
    return item ? static_cast<int>(item->Status) : kNoSuchItem;
}

bool TMRQue::isActive(TTransferStatus status) {
    return status != TTransferStatus::LocalQueue && status != TTransferStatus::Completed &&
           status != TTransferStatus::Error;
}

void TMRQue::SetStatus(qint32 id, TTransferStatus status, TTransferError error) {
    TMRQueItem* item = find(id);
    if (!item || item->Status == status) {
        return;
    }
    const TTransferStatus previous = item->Status;
    item->Status = status;
    item->Error = status == TTransferStatus::Error ? error : TTransferError::None;
    int active = m_active;
    if (isActive(previous) && !isActive(status)) {
        --active;
    } else if (!isActive(previous) && isActive(status)) {
        ++active;
    }
    emit statusChanged(item, previous);
    setActiveCount(active);
}

int TMRQue::FirstWaiting() const {
    for (int i = 0; i < count(); ++i) {
        if (m_items[static_cast<std::size_t>(i)]->Status == TTransferStatus::LocalQueue) {
            return i;
        }
    }
    return -1;
}

qint32 TMRQue::findFirst(const QString& userName, const QString& path,
                         const std::function<bool(TTransferStatus)>& wanted) const {
    for (const auto& item : m_items) {
        if (wanted(item->Status) && item->Path.compare(path, Qt::CaseInsensitive) == 0 &&
            item->UserName.compare(userName, Qt::CaseInsensitive) == 0) {
            return item->Id;
        }
    }
    return -1;
}

qint32 TMRQue::FindByStatus(const QString& userName, const QString& path,
                            TTransferStatus status) const {
    return findFirst(userName, path, [status](TTransferStatus s) { return s == status; });
}

qint32 TMRQue::FindActive(const QString& userName, const QString& path) const {
    return findFirst(userName, path, [](TTransferStatus s) {
        return s != TTransferStatus::Completed && s != TTransferStatus::Error;
    });
}

void TMRQue::SetTransferred(qint64 bytes, qint32 id) {
    TMRQueItem* item = find(id);
    if (!item) {
        return;
    }
    item->Transferred = bytes;
    emit transferredChanged(id, bytes);
}

qint64 TMRQue::Transferred(qint32 id) const {
    const TMRQueItem* item = find(id);
    return item ? item->Transferred : -1;
}

void TMRQue::SetSize(qint32 id, qint64 size) {
    TMRQueItem* item = find(id);
    if (!item) {
        return;
    }
    item->Size = size;
    emit sizeChanged(id, size);
}

void TMRQue::setActiveCount(int count) {
    m_active = std::max(0, count);
    check();
}

void TMRQue::check() {
    // Starting an item re-enters here through SetStatus, so one call may start several.
    if (!m_notify || m_active >= std::max(1, m_limit)) {
        return;
    }
    const int waiting = firstStartable();
    if (waiting >= 0) {
        m_notify(*at(waiting));
    }
}

void TMRQue::Remove(qint32 id) {
    const int position = IndexOf(id);
    if (position < 0) {
        return;
    }
    const bool wasActive = isActive(m_items[static_cast<std::size_t>(position)]->Status);
    m_items.erase(m_items.begin() + position);
    emit itemRemoved(position, id);
    if (wasActive) {
        setActiveCount(m_active - 1);
    }
}

TMRQueItem& TMRQue::append(std::unique_ptr<TMRQueItem> item, bool keepState) {
    item->Id = m_nextId++;
    if (!keepState || isActive(item->Status)) {
        item->Status = TTransferStatus::LocalQueue;
        item->Error = TTransferError::None;
    }
    TMRQueItem& added = *item;
    m_items.push_back(std::move(item));
    emit itemAdded(&added);
    setActiveCount(m_active);
    return added;
}

TMRWantedList::TMRWantedList(int limit, QObject* parent)
    : TMRQue(limit, parent), m_retryTimer(new QTimer(this)) {
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &TMRWantedList::retryDue);
    // Connected first, so every other receiver already sees when the next attempt comes.
    connect(this, &TMRQue::statusChanged, this, [this](TMRQueItem* item, TTransferStatus) {
        if (item->Status == TTransferStatus::Error && isRetryable(item->Error)) {
            scheduleRetry(*item);
        } else {
            item->RetryAt = 0;
            if (item->Status == TTransferStatus::Completed) {
                item->Failures = 0;
            }
        }
    });
}

void TMRWantedList::setRetryPolicy(std::function<RetryPolicy()> policy) {
    m_retryPolicy = std::move(policy);
}

bool TMRWantedList::isRetryable(TTransferError error) {
    return error == TTransferError::UserOffline || error == TTransferError::Error;
}

void TMRWantedList::scheduleRetry(TMRQueItem& item) {
    ++item.Failures;
    item.RetryAt = 0;
    const RetryPolicy policy = m_retryPolicy ? m_retryPolicy() : RetryPolicy{};
    if (policy.firstMs <= 0) {
        return;
    }
    // Doubling stops long before it could overflow; a day is as long as any wait gets.
    constexpr qint64 kLongestMs = 24LL * 3600 * 1000;
    qint64 wait = policy.firstMs << std::min(item.Failures - 1, 20);
    if (policy.limitMs > 0) {
        wait = std::min(wait, policy.limitMs);
    }
    wait = std::min(wait, std::max(kLongestMs, policy.firstMs));
    item.RetryAt = QDateTime::currentMSecsSinceEpoch() + wait;
    armTimer();
}

void TMRWantedList::armTimer() {
    qint64 next = 0;
    for (int i = 0; i < count(); ++i) {
        const qint64 at = this->at(i)->RetryAt;
        if (at > 0 && (next == 0 || at < next)) {
            next = at;
        }
    }
    if (next == 0) {
        m_retryTimer->stop();
        return;
    }
    const qint64 wait = std::clamp<qint64>(next - QDateTime::currentMSecsSinceEpoch(), 0,
                                           std::numeric_limits<int>::max());
    m_retryTimer->start(static_cast<int>(wait));
}

void TMRWantedList::retryDue() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QList<qint32> due;
    for (int i = 0; i < count(); ++i) {
        TMRQueItem* item = at(i);
        if (item->RetryAt > 0 && item->RetryAt <= now) {
            item->RetryAt = 0;
            if (item->Status == TTransferStatus::Error) {
                due.append(item->Id);
            }
        }
    }
    for (const qint32 id : due) {
        SetStatus(id, TTransferStatus::LocalQueue);
    }
    armTimer();
}

void TMRWantedList::Abort(qint32 id) {
    TMRQueItem* item = find(id);
    if (!item || item->Status == TTransferStatus::Completed) {
        return;
    }
    if (item->Status != TTransferStatus::Error) {
        SetStatus(id, TTransferStatus::Error, TTransferError::Aborted);
    } else if (isRetryable(item->Error)) {
        item->Error = TTransferError::Aborted;
        emit statusChanged(item, TTransferStatus::Error);
        armTimer();
    }
}

TMRQueItem& TMRWantedList::Restore(const TMRQueItem& stored) {
    auto copy = std::make_unique<TMRQueItem>(stored);
    copy->RetryAt = 0;
    copy->Failures = 0;
    const bool ended = stored.Status == TTransferStatus::Completed ||
                       (stored.Status == TTransferStatus::Error && !isRetryable(stored.Error));
    return append(std::move(copy), ended);
}

TMRQueItem& TMRWantedList::Add(qint32 peerId, const QString& userName, const QString& path,
                               const QString& password) {
    auto item = std::make_unique<TMRQueItem>();
    item->PeerId = peerId;
    item->UserName = userName;
    item->Path = path;
    item->Password = password;
    const QString name = SplitSharePath(path).second;
    // Compared without case: the download folder may sit on a file system that ignores it.
    const auto taken = [this](const QString& candidate) {
        for (int i = 0; i < count(); ++i) {
            const TMRQueItem& other = *at(i);
            if (other.Status != TTransferStatus::Completed &&
                other.Status != TTransferStatus::Error &&
                other.LocalName.compare(candidate, Qt::CaseInsensitive) == 0) {
                return true;
            }
        }
        return false;
    };
    item->LocalName = name;
    for (int n = 2; !name.isEmpty() && taken(item->LocalName); ++n) {
        item->LocalName = numberedName(name, n);
    }
    return append(std::move(item));
}

TMRQueItem& TMRWaitingList::Add(const QString& userName, qint32 peerId, const QString& loginName,
                                qint64 resumeOffset, qint64 size, const QString& path,
                                const QString& address, quint16 port) {
    auto item = std::make_unique<TMRQueItem>();
    item->UserName = userName;
    item->PeerId = peerId;
    item->LoginName = loginName;
    item->ResumeOffset = resumeOffset;
    item->Size = size;
    item->Path = path;
    item->Address = address;
    item->Port = port;
    return append(std::move(item));
}

}  // namespace mr
