#include "db/tablelock.h"

#include "db/dberror.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

namespace mr::db {

namespace {

struct LockState {
    const void* exclusiveHolder = nullptr;
    int exclusiveCount = 0;
    QHash<const void*, int> holders;
};

QMutex& lockMutex() {
    static QMutex mutex;
    return mutex;
}

QHash<QString, LockState>& lockStates() {
    static QHash<QString, LockState> states;
    return states;
}

}  // namespace

TableLock::TableLock(const QString& filePath, const QString& tableName, const void* holder,
                     bool exclusive)
    : m_filePath(filePath), m_holder(holder), m_exclusive(exclusive) {
    QMutexLocker lock(&lockMutex());
    LockState& state = lockStates()[filePath];
    if (state.exclusiveHolder && state.exclusiveHolder != holder) {
        throw DbError(
            QStringLiteral("Table %1 is open exclusively by another cursor").arg(tableName));
    }
    if (exclusive) {
        for (auto it = state.holders.cbegin(); it != state.holders.cend(); ++it) {
            if (it.key() != holder)
                throw DbError(QStringLiteral("Table %1 cannot be opened exclusively: another "
                                             "cursor has it open")
                                  .arg(tableName));
        }
        state.exclusiveHolder = holder;
        ++state.exclusiveCount;
    }
    ++state.holders[holder];
}

TableLock::~TableLock() {
    QMutexLocker lock(&lockMutex());
    auto it = lockStates().find(m_filePath);
    if (it == lockStates().end())
        return;
    LockState& state = it.value();
    if (m_exclusive && --state.exclusiveCount == 0)
        state.exclusiveHolder = nullptr;
    if (--state.holders[m_holder] == 0)
        state.holders.remove(m_holder);
    if (state.holders.isEmpty())
        lockStates().erase(it);
}

}  // namespace mr::db
