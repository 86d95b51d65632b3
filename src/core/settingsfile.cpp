#include "core/settingsfile.h"

namespace mr {

SettingsFile::SettingsFile(const QString& path)
    : m_settings(std::make_unique<QSettings>(path, QSettings::IniFormat)) {}

SettingsFile::~SettingsFile() = default;

QString SettingsFile::path() const {
    return m_settings->fileName();
}

QString SettingsFile::actualGroup(const QString& group) const {
    const QStringList groups = m_settings->childGroups();
    for (const QString& g : groups) {
        if (g.compare(group, Qt::CaseInsensitive) == 0) {
            return g;
        }
    }
    return group;
}

QStringList SettingsFile::spellings(const QString& group, const QString& name) const {
    QStringList found;
    m_settings->beginGroup(actualGroup(group));
    const QStringList keys = m_settings->childKeys();
    m_settings->endGroup();
    for (const QString& key : keys) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            found.append(key);
        }
    }
    return found;
}

std::optional<QString> SettingsFile::text(const QString& group, const QString& name) const {
    m_settings->sync();
    const QStringList keys = spellings(group, name);
    if (keys.isEmpty()) {
        return std::nullopt;
    }
    // The exact spelling wins over a variant in another letter case.
    const QString key = keys.contains(name) ? name : keys.first();
    const QVariant value = m_settings->value(actualGroup(group) + QLatin1Char('/') + key);
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

void SettingsFile::setText(const QString& group, const QString& name, const QString& value) {
    const QString g = actualGroup(group);
    for (const QString& key : spellings(group, name)) {
        m_settings->remove(g + QLatin1Char('/') + key);
    }
    m_settings->setValue(g + QLatin1Char('/') + name, value);
}

void SettingsFile::remove(const QString& group, const QString& name) {
    const QString g = actualGroup(group);
    for (const QString& key : spellings(group, name)) {
        m_settings->remove(g + QLatin1Char('/') + key);
    }
}

bool SettingsFile::sync() {
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

std::optional<QString> SettingsFile::text(Setting setting) const {
    const SettingKey key = settingKey(setting);
    return text(key.group, key.name);
}

void SettingsFile::setText(Setting setting, const QString& value) {
    const SettingKey key = settingKey(setting);
    setText(key.group, key.name, value);
}

}  // namespace mr
