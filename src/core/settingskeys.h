#pragma once

#include <QString>

#include <optional>

namespace mr {

// The values the profile's settings.ini knows, so that tools can check a name before they
// write it.
enum class SettingKind { Integer, Text, Date, HostList };

struct SettingKey {
    QString group;  // canonical spelling: "UserInfo" or "Host"
    QString name;   // canonical spelling of the value's name
    SettingKind kind;
};

// Finds a "Group/Name" key, both parts without regard to case.
std::optional<SettingKey> findSettingKey(const QString& groupAndName);

}  // namespace mr
