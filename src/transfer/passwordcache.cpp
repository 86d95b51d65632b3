#include "transfer/passwordcache.h"

#include <QMutexLocker>

#include <algorithm>

namespace mr {

namespace {

bool itemLess(const TPasswordItem& a, const TPasswordItem& b) {
    if (a.UserId != b.UserId)
        return a.UserId < b.UserId;
    return a.Path.compare(b.Path, Qt::CaseInsensitive) < 0;
}

}  // namespace

const char* EPasswordAbort::what() const noexcept {
    return "Authorization User Abort";
}

PasswordPrompt::~PasswordPrompt() = default;

void TPasswordCache::setPrompt(PasswordPrompt* prompt) {
    QMutexLocker lock(&m_mutex);
    m_prompt = prompt;
}

PasswordPrompt* TPasswordCache::prompt() const {
    QMutexLocker lock(&m_mutex);
    return m_prompt;
}

QString TPasswordCache::GetPassword(qint32 ownerId, const QString& path, const QString& ownerNick,
                                    const QString& fileName, bool force) {
    if (!force) {
        if (std::optional<QString> password = cached(ownerId, path))
            return *password;
    }
    // The lock is not held while the user types.
    PasswordPrompt* asker = prompt();
    std::optional<QString> answer;
    if (asker)
        answer = asker->ask(ownerId, ownerNick, fileName, path);
    if (!answer)
        throw EPasswordAbort();
    remember(ownerId, path, *answer);
    return *answer;
}

QList<TPasswordItem> TPasswordCache::items() const {
    QMutexLocker lock(&m_mutex);
    return m_items;
}

void TPasswordCache::clear() {
    QMutexLocker lock(&m_mutex);
    m_items.clear();
}

std::optional<QString> TPasswordCache::cached(qint32 ownerId, const QString& path) const {
    QMutexLocker lock(&m_mutex);
    for (const TPasswordItem& item : m_items) {
        if (item.UserId == ownerId && path.contains(item.Path, Qt::CaseInsensitive))
            return item.Password;
    }
    return std::nullopt;
}

void TPasswordCache::remember(qint32 ownerId, const QString& path, const QString& password) {
    QMutexLocker lock(&m_mutex);
    TPasswordItem item{ownerId, path, password};
    // A password typed again for the same place replaces the old one, which was wrong.
    auto same = std::find_if(m_items.begin(), m_items.end(), [&](const TPasswordItem& other) {
        return !itemLess(item, other) && !itemLess(other, item);
    });
    if (same != m_items.end()) {
        same->Password = password;
        return;
    }
    m_items.insert(std::upper_bound(m_items.begin(), m_items.end(), item, itemLess), item);
}

TPasswordCache& PasswordCache() {
    static TPasswordCache cache;
    return cache;
}

}  // namespace mr
