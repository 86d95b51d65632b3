#pragma once

#include <QString>

#include <optional>

namespace mr {

// The values the profile's settings.ini knows. Their names are spelled only in the table behind
// settingKey(), which the typed accessors and the tools that check a name before they write it
// both read.
enum class SettingKind { Integer, Text, Date, HostList };

enum class Setting {
    Refresh,
    Id,
    Nickname,
    Password,
    FirstName,
    LastName,
    ShowInfo,
    Email,
    BDate,
    Sex,
    Country,
    Connection,
    Homepage,
    Languages,
    DownloadPath,
    UploadPath,
    SharingFilters,
    MaxUploads,
    MaxDownloads,
    Message,
    RetrySeconds,
    RetryMaxSeconds,
    NotifyMessages,
    NotifyChats,
    NotifyDownloads,
    HostChat,
    HostMoonrake,
    HostHttp,
    HostMail,
    FeedbackAddress,
};

struct SettingKey {
    QString group;  // canonical spelling: "UserInfo" or "Host"
    QString name;   // canonical spelling of the value's name
    SettingKind kind;
    int integerDefault = 0;  // what an absent integer value reads as
};

SettingKey settingKey(Setting setting);

// Finds a "Group/Name" key, both parts without regard to case.
std::optional<SettingKey> findSettingKey(const QString& groupAndName);

}  // namespace mr
