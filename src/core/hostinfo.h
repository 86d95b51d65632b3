#pragma once

#include "core/settingsfile.h"

#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>

namespace mr {

struct TMRHostPort {
    QString host;
    int port = 0;
};

// The three endpoint lists of group [Host]: "Chat", "Moonrake" and "Http", each stored as
// comma-separated host:port entries.
class HostStore {
public:
    enum List { Chat = 0, Moonrake = 1, Http = 2 };

    explicit HostStore(const QString& settingsPath);
    explicit HostStore(std::shared_ptr<SettingsFile> file);

    int count(List list);
    std::optional<TMRHostPort> get(List list, int index);
    // An empty (or all-blank) text changes nothing.
    void set(List list, const QString& text);

    static TMRHostPort parseEntry(const QString& entry);

private:
    static Setting setting(List list);
    void load(List list);

    std::shared_ptr<SettingsFile> m_file;
    std::array<QStringList, 3> m_lists;
};

}  // namespace mr
