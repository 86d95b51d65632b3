#pragma once

#include <QLockFile>
#include <QString>

namespace mr {

// One running copy per profile: a lock file in the profile folder, freed by the system
// if the holder dies.
class InstanceGuard {
public:
    explicit InstanceGuard(const QString& lockPath);

    // False when the profile could not be locked: another live process holds it, or the lock
    // file cannot be written at all (heldByAnother() tells which).
    bool acquire();
    bool isLocked() const { return m_lock.isLocked(); }
    // After a failed acquire(): another copy runs on the profile.
    bool heldByAnother() const;
    // After a failed acquire(): what stands in the way, for the user.
    QString failureText() const;

private:
    QString m_lockPath;
    QLockFile m_lock;
};

}  // namespace mr
