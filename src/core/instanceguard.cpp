#include "core/instanceguard.h"

namespace mr {

InstanceGuard::InstanceGuard(const QString& lockPath) : m_lock(lockPath) {
    // A lock is never stale while its holder lives: QLockFile checks the process id.
    m_lock.setStaleLockTime(0);
}

bool InstanceGuard::acquire() {
    return m_lock.tryLock(0);
}

}  // namespace mr
