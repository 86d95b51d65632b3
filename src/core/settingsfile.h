#pragma once

#include "core/settingskeys.h"

#include <QSettings>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

namespace mr {

// The profile's settings.ini. Scripts write this file by hand, so groups and names are found
// without regard to case, and a value that an INI writer split at its commas reads as the
// same comma-separated text.
class SettingsFile {
public:
    explicit SettingsFile(const QString& path);
    ~SettingsFile();

    QString path() const;

    std::optional<QString> text(const QString& group, const QString& name) const;
    // Writes under the canonical name, dropping any spelling of it in another letter case.
    void setText(const QString& group, const QString& name, const QString& value);
    void remove(const QString& group, const QString& name);
    // The same for a value of the table in settingskeys.h.
    std::optional<QString> text(Setting setting) const;
    void setText(Setting setting, const QString& value);
    // Writes what changed to the file; false when it could not be written.
    bool sync();

private:
    QString actualGroup(const QString& group) const;
    QStringList spellings(const QString& group, const QString& name) const;

    std::unique_ptr<QSettings> m_settings;
};

}  // namespace mr
