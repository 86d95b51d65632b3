#include "core/instanceguard.h"

#include <QDir>
#include <QFileInfo>

namespace mr {

InstanceGuard::InstanceGuard(const QString& lockPath) : m_lockPath(lockPath), m_lock(lockPath) {
    // A lock is never stale while its holder lives: QLockFile checks the process id.
    m_lock.setStaleLockTime(0);
}

bool InstanceGuard::acquire() {
    return m_lock.tryLock(0);
}

bool InstanceGuard::heldByAnother() const {
    return m_lock.error() == QLockFile::LockFailedError;
}

QString InstanceGuard::failureText() const {
    const QFileInfo lock(m_lockPath);
    const QString profile = QDir::toNativeSeparators(lock.absolutePath());
    if (heldByAnother())
        return QStringLiteral("Another copy is running on the profile ") + profile;
    const QFileInfo folder(lock.absolutePath());
    QString why;
    if (!folder.exists())
        why = QStringLiteral("the folder does not exist and cannot be created");
    else if (!folder.isDir())
        why = QStringLiteral("it is not a folder");
    else if (!folder.isWritable() || m_lock.error() == QLockFile::PermissionError)
        why = QStringLiteral("no permission to write the lock file ") + lock.fileName();
    else
        why = QStringLiteral("the lock file %1 cannot be written").arg(lock.fileName());
    return QStringLiteral("Cannot use the profile %1: %2").arg(profile, why);
}

}  // namespace mr
