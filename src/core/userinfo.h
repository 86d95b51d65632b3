#pragma once

#include "core/datetime.h"
#include "core/settingsfile.h"
#include "core/settingskeys.h"

#include <QString>

#include <memory>
#include <optional>

namespace mr {

// The user's settings, group [UserInfo] of the profile's settings.ini. A missing value reads
// as its default, and reading never writes the default back.
// The download folder of a profile that has none set: the user's download folder + "/Moonrake".
QString DefaultDownloadPath();

class TUserInfo {
public:
    explicit TUserInfo(const QString& settingsPath);
    explicit TUserInfo(std::shared_ptr<SettingsFile> file);

    int refresh() const;
    void setRefresh(int value);
    int id() const;
    void setId(int value);
    QString nickname() const;
    void setNickname(const QString& value);
    QString password() const;
    void setPassword(const QString& value);
    QString firstName() const;
    void setFirstName(const QString& value);
    QString lastName() const;
    void setLastName(const QString& value);
    int showInfo() const;
    void setShowInfo(int value);
    QString email() const;
    void setEmail(const QString& value);
    // Absent reads as the current date and time.
    DateTime bDate() const;
    void setBDate(DateTime value);
    // The stored birth date; nothing when none is stored or it is 0, which means unknown.
    std::optional<DateTime> knownBDate() const;
    QString sex() const;
    void setSex(const QString& value);
    QString country() const;
    void setCountry(const QString& value);
    int connection() const;
    void setConnection(int value);
    QString homepage() const;
    void setHomepage(const QString& value);
    QString languages() const;
    void setLanguages(const QString& value);
    QString downloadPath() const;
    void setDownloadPath(const QString& value);
    // The folder downloads go to: "DownloadPath", or DefaultDownloadPath() while it is empty.
    QString effectiveDownloadPath() const;
    QString uploadPath() const;
    void setUploadPath(const QString& value);
    QString sharingFilters() const;
    void setSharingFilters(const QString& value);
    int maxUploads() const;
    void setMaxUploads(int value);
    // Seconds before a download that failed for want of its owner is tried again; 0: never.
    int retrySeconds() const;
    void setRetrySeconds(int value);
    // The longest wait between two such attempts (each waits twice the one before); 0: none.
    int retryMaxSeconds() const;
    void setRetryMaxSeconds(int value);
    // Tray notifications while the main window is not active: 0 switches each kind off.
    int notifyMessages() const;
    void setNotifyMessages(int value);
    int notifyChats() const;
    void setNotifyChats(int value);
    int notifyDownloads() const;
    void setNotifyDownloads(int value);
    int maxDownloads() const;
    void setMaxDownloads(int value);
    QString message() const;
    void setMessage(const QString& value);

    // Any value of the settings file as it reads, its default included, as text.
    QString valueText(const SettingKey& key) const;

    SettingsFile& file() const { return *m_file; }

private:
    std::optional<QString> stored(const SettingKey& key) const;
    QString text(Setting setting) const;
    int integer(Setting setting) const;
    static int integerOf(const std::optional<QString>& value, int absent);
    void setText(Setting setting, const QString& value);
    void setInteger(Setting setting, int value);

    std::shared_ptr<SettingsFile> m_file;
};

}  // namespace mr
