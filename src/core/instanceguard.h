#pragma once

#include <QLockFile>
#include <QString>

namespace mr {

// One running copy per profile: a lock file in the profile folder, freed by the system
// if the holder dies.
class InstanceGuard {
public:
    explicit InstanceGuard(const QString& lockPath);

    // False when another live process holds the profile.
    bool acquire();

private:
    QLockFile m_lock;
};

}  // namespace mr
