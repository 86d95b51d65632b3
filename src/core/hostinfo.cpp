#include "core/hostinfo.h"

namespace mr {

namespace {

QStringList splitList(const QString& text) {
    QStringList entries;
    for (const QString& part : text.split(QLatin1Char(','))) {
        if (!part.trimmed().isEmpty()) {
            entries.append(part.trimmed());
        }
    }
    return entries;
}

}  // namespace

HostStore::HostStore(const QString& settingsPath)
    : m_file(std::make_shared<SettingsFile>(settingsPath)) {}

HostStore::HostStore(std::shared_ptr<SettingsFile> file) : m_file(std::move(file)) {}

Setting HostStore::setting(List list) {
    switch (list) {
        case Chat:
            return Setting::HostChat;
        case Moonrake:
            return Setting::HostMoonrake;
        case Http:
            break;
    }
    return Setting::HostHttp;
}

void HostStore::load(List list) {
    if (m_lists[list].isEmpty()) {
        m_lists[list] = splitList(m_file->text(setting(list)).value_or(QString()));
    }
}

int HostStore::count(List list) {
    // Loading here too keeps the count right before the first get().
    load(list);
    return static_cast<int>(m_lists[list].size());
}

std::optional<TMRHostPort> HostStore::get(List list, int index) {
    load(list);
    if (index < 0 || index >= m_lists[list].size()) {
        return std::nullopt;
    }
    return parseEntry(m_lists[list].at(index));
}

void HostStore::set(List list, const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return;
    }
    m_file->setText(setting(list), trimmed);
    m_file->sync();
    m_lists[list] = splitList(trimmed);
}

TMRHostPort HostStore::parseEntry(const QString& entry) {
    TMRHostPort hp;
    const qsizetype colon = entry.indexOf(QLatin1Char(':'));
    hp.host = (colon < 0 ? entry : entry.left(colon)).trimmed();
    if (colon >= 0) {
        bool ok = false;
        const int port = entry.mid(colon + 1).trimmed().toInt(&ok);
        hp.port = ok && port > 0 && port <= 65535 ? port : 0;
    }
    return hp;
}

}  // namespace mr
