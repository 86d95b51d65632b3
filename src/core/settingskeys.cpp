#include "core/settingskeys.h"

#include <array>

namespace mr {

namespace {

struct Entry {
    const char* group;
    const char* name;
    SettingKind kind;
};

constexpr std::array kKeys{
    Entry{"UserInfo", "Refresh", SettingKind::Integer},
    Entry{"UserInfo", "ID", SettingKind::Integer},
    Entry{"UserInfo", "Nickname", SettingKind::Text},
    Entry{"UserInfo", "Password", SettingKind::Text},
    Entry{"UserInfo", "FirstName", SettingKind::Text},
    Entry{"UserInfo", "LastName", SettingKind::Text},
    Entry{"UserInfo", "ShowInfo", SettingKind::Integer},
    Entry{"UserInfo", "Email", SettingKind::Text},
    Entry{"UserInfo", "BDate", SettingKind::Date},
    Entry{"UserInfo", "Sex", SettingKind::Text},
    Entry{"UserInfo", "Country", SettingKind::Text},
    Entry{"UserInfo", "Connection", SettingKind::Integer},
    Entry{"UserInfo", "Homepage", SettingKind::Text},
    Entry{"UserInfo", "Languages", SettingKind::Text},
    Entry{"UserInfo", "DownloadPath", SettingKind::Text},
    Entry{"UserInfo", "UploadPath", SettingKind::Text},
    Entry{"UserInfo", "SharingFilters", SettingKind::Text},
    Entry{"UserInfo", "MaxUploads", SettingKind::Integer},
    Entry{"UserInfo", "MaxDownloads", SettingKind::Integer},
    Entry{"UserInfo", "Message", SettingKind::Text},
    Entry{"Host", "Chat", SettingKind::HostList},
    Entry{"Host", "Moonrake", SettingKind::HostList},
    Entry{"Host", "Http", SettingKind::HostList},
    Entry{"Host", "Mail", SettingKind::HostList},
    Entry{"Host", "FeedbackAddress", SettingKind::Text},
};

}  // namespace

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
            return SettingKey{QLatin1String(e.group), QLatin1String(e.name), e.kind};
        }
    }
    return std::nullopt;
}

}  // namespace mr
