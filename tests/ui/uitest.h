#pragma once

#include "core/profile.h"
#include "testutil.h"

#include <QString>
#include <QTemporaryDir>

namespace mr::test {

// The nickname stored in the profile every window test runs on.
inline const QString kNickname = QStringLiteral("tester");

// Makes a profile folder, a fresh one unless given, the active profile while it lives.
class ScopedProfile {
public:
    explicit ScopedProfile(const QString& dir = {}) : m_dir(dir.isEmpty() ? m_fresh.path() : dir) {
        setActiveProfile(m_dir);
    }
    ~ScopedProfile() { setActiveProfile(m_saved); }
    const QString& path() const { return m_dir; }

private:
    QString m_saved = activeProfile().directory();
    QTemporaryDir m_fresh;
    QString m_dir;
};

}  // namespace mr::test
