#include "core/settingskeys.h"

#include <array>
#include <cstddef>

namespace mr {

namespace {

struct Entry {
    Setting setting;
    const char* group;
    const char* name;
    SettingKind kind;
    int integerDefault = 0;
};

constexpr std::array kKeys{
    Entry{Setting::Refresh, "UserInfo", "Refresh", SettingKind::Integer},
    Entry{Setting::Id, "UserInfo", "ID", SettingKind::Integer},
    Entry{Setting::Nickname, "UserInfo", "Nickname", SettingKind::Text},
    Entry{Setting::Password, "UserInfo", "Password", SettingKind::Text},
    Entry{Setting::FirstName, "UserInfo", "FirstName", SettingKind::Text},
    Entry{Setting::LastName, "UserInfo", "LastName", SettingKind::Text},
    Entry{Setting::ShowInfo, "UserInfo", "ShowInfo", SettingKind::Integer},
    Entry{Setting::Email, "UserInfo", "Email", SettingKind::Text},
    Entry{Setting::BDate, "UserInfo", "BDate", SettingKind::Date},
    Entry{Setting::Sex, "UserInfo", "Sex", SettingKind::Text},
    Entry{Setting::Country, "UserInfo", "Country", SettingKind::Text},
    Entry{Setting::Connection, "UserInfo", "Connection", SettingKind::Integer},
    Entry{Setting::Homepage, "UserInfo", "Homepage", SettingKind::Text},
    Entry{Setting::Languages, "UserInfo", "Languages", SettingKind::Text},
    Entry{Setting::DownloadPath, "UserInfo", "DownloadPath", SettingKind::Text},
    Entry{Setting::UploadPath, "UserInfo", "UploadPath", SettingKind::Text},
    Entry{Setting::SharingFilters, "UserInfo", "SharingFilters", SettingKind::Text},
    Entry{Setting::MaxUploads, "UserInfo", "MaxUploads", SettingKind::Integer},
    Entry{Setting::MaxDownloads, "UserInfo", "MaxDownloads", SettingKind::Integer},
    Entry{Setting::Message, "UserInfo", "Message", SettingKind::Text},
    Entry{Setting::RetrySeconds, "UserInfo", "RetrySeconds", SettingKind::Integer, 180},
    Entry{Setting::RetryMaxSeconds, "UserInfo", "RetryMaxSeconds", SettingKind::Integer, 3600},
    Entry{Setting::NotifyMessages, "UserInfo", "NotifyMessages", SettingKind::Integer, 1},
    Entry{Setting::NotifyChats, "UserInfo", "NotifyChats", SettingKind::Integer, 1},
    Entry{Setting::NotifyDownloads, "UserInfo", "NotifyDownloads", SettingKind::Integer, 1},
    Entry{Setting::HostChat, "Host", "Chat", SettingKind::HostList},
    Entry{Setting::HostMoonrake, "Host", "Moonrake", SettingKind::HostList},
    Entry{Setting::HostHttp, "Host", "Http", SettingKind::HostList},
    Entry{Setting::HostMail, "Host", "Mail", SettingKind::HostList},
    Entry{Setting::FeedbackAddress, "Host", "FeedbackAddress", SettingKind::Text},
};

// settingKey() indexes the table by the enumerator.
constexpr bool inEnumOrder() {
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        if (static_cast<std::size_t>(kKeys[i].setting) != i) {
            return false;
        }
    }
    return true;
}
static_assert(inEnumOrder() &&
              kKeys.size() == static_cast<std::size_t>(Setting::FeedbackAddress) + 1);

SettingKey keyOf(const Entry& e) {
    return {QLatin1String(e.group), QLatin1String(e.name), e.kind, e.integerDefault};
}

}  // namespace

SettingKey settingKey(Setting setting) {
    return keyOf(kKeys[static_cast<std::size_t>(setting)]);
}

std::optional<SettingKey> findSettingKey(const QString& groupAndName) {
    const qsizetype slash = groupAndName.indexOf(QLatin1Char('/'));
    if (slash < 0) {
        return std::nullopt;
    }
    const QString group = groupAndName.left(slash);
    const QString name = groupAndName.mid(slash + 1);
    for (const Entry& e : kKeys) {
        if (group.compare(QLatin1String(e.group), Qt::CaseInsensitive) == 0 &&
            name.compare(QLatin1String(e.name), Qt::CaseInsensitive) == 0) {
            return keyOf(e);
        }
    }
    return std::nullopt;
}

}  // namespace mr
