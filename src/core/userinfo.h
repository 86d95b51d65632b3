#pragma once

#include "core/datetime.h"
#include "core/settingsfile.h"

#include <QString>

#include <memory>

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
    TDateTime bDate() const;
    void setBDate(TDateTime value);
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
    int maxDownloads() const;
    void setMaxDownloads(int value);
    QString message() const;
    void setMessage(const QString& value);

    SettingsFile& file() const { return *m_file; }

private:
    QString text(const char* name) const;
    int integer(const char* name) const;
    void setText(const char* name, const QString& value);
    void setInteger(const char* name, int value);

    std::shared_ptr<SettingsFile> m_file;
};

}  // namespace mr
