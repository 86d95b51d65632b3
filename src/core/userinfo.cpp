#include "core/userinfo.h"

#include <QStandardPaths>

namespace mr {

TUserInfo::TUserInfo(const QString& settingsPath)
    : m_file(std::make_shared<SettingsFile>(settingsPath)) {}

TUserInfo::TUserInfo(std::shared_ptr<SettingsFile> file) : m_file(std::move(file)) {}

QString DefaultDownloadPath() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    return base + QStringLiteral("/Moonrake");
}

std::optional<QString> TUserInfo::stored(const SettingKey& key) const {
    return m_file->text(key.group, key.name);
}

QString TUserInfo::text(Setting setting) const {
    return m_file->text(setting).value_or(QString());
}

int TUserInfo::integer(Setting setting) const {
    return integerOf(m_file->text(setting), settingKey(setting).integerDefault);
}

int TUserInfo::integerOf(const std::optional<QString>& value, int absent) {
    if (!value) {
        return absent;
    }
    bool ok = false;
    const int n = value->trimmed().toInt(&ok);
    return ok ? n : 0;
}

void TUserInfo::setText(Setting setting, const QString& value) {
    m_file->setText(setting, value);
}

void TUserInfo::setInteger(Setting setting, int value) {
    setText(setting, QString::number(value));
}

QString TUserInfo::valueText(const SettingKey& key) const {
    switch (key.kind) {
        case SettingKind::Date:
            return QString::number(bDate(), 'g', 17);
        case SettingKind::Integer:
            return QString::number(integerOf(stored(key), key.integerDefault));
        case SettingKind::Text:
        case SettingKind::HostList:
            break;
    }
    return stored(key).value_or(QString());
}

int TUserInfo::refresh() const {
    return integer(Setting::Refresh);
}
void TUserInfo::setRefresh(int value) {
    setInteger(Setting::Refresh, value);
}

int TUserInfo::id() const {
    return integer(Setting::Id);
}
void TUserInfo::setId(int value) {
    setInteger(Setting::Id, value);
}

QString TUserInfo::nickname() const {
    return text(Setting::Nickname);
}
void TUserInfo::setNickname(const QString& value) {
    setText(Setting::Nickname, value);
}

QString TUserInfo::password() const {
    return text(Setting::Password);
}
void TUserInfo::setPassword(const QString& value) {
    setText(Setting::Password, value);
}

QString TUserInfo::firstName() const {
    return text(Setting::FirstName);
}
void TUserInfo::setFirstName(const QString& value) {
    setText(Setting::FirstName, value);
}

QString TUserInfo::lastName() const {
    return text(Setting::LastName);
}
void TUserInfo::setLastName(const QString& value) {
    setText(Setting::LastName, value);
}

int TUserInfo::showInfo() const {
    return integer(Setting::ShowInfo);
}
void TUserInfo::setShowInfo(int value) {
    setInteger(Setting::ShowInfo, value);
}

QString TUserInfo::email() const {
    return text(Setting::Email);
}
void TUserInfo::setEmail(const QString& value) {
    setText(Setting::Email, value);
}

QString TUserInfo::sex() const {
    return text(Setting::Sex);
}
void TUserInfo::setSex(const QString& value) {
    setText(Setting::Sex, value);
}

QString TUserInfo::country() const {
    return text(Setting::Country);
}
void TUserInfo::setCountry(const QString& value) {
    setText(Setting::Country, value);
}

int TUserInfo::connection() const {
    return integer(Setting::Connection);
}
void TUserInfo::setConnection(int value) {
    setInteger(Setting::Connection, value);
}

QString TUserInfo::homepage() const {
    return text(Setting::Homepage);
}
void TUserInfo::setHomepage(const QString& value) {
    setText(Setting::Homepage, value);
}

QString TUserInfo::languages() const {
    return text(Setting::Languages);
}
void TUserInfo::setLanguages(const QString& value) {
    setText(Setting::Languages, value);
}

QString TUserInfo::downloadPath() const {
    return text(Setting::DownloadPath);
}

QString TUserInfo::effectiveDownloadPath() const {
    const QString path = downloadPath();
    return path.isEmpty() ? DefaultDownloadPath() : path;
}
void TUserInfo::setDownloadPath(const QString& value) {
    setText(Setting::DownloadPath, value);
}

QString TUserInfo::uploadPath() const {
    return text(Setting::UploadPath);
}
void TUserInfo::setUploadPath(const QString& value) {
    setText(Setting::UploadPath, value);
}

QString TUserInfo::sharingFilters() const {
    return text(Setting::SharingFilters);
}
void TUserInfo::setSharingFilters(const QString& value) {
    setText(Setting::SharingFilters, value);
}

int TUserInfo::maxUploads() const {
    return integer(Setting::MaxUploads);
}
void TUserInfo::setMaxUploads(int value) {
    setInteger(Setting::MaxUploads, value);
}

int TUserInfo::retrySeconds() const {
    return integer(Setting::RetrySeconds);
}
void TUserInfo::setRetrySeconds(int value) {
    setInteger(Setting::RetrySeconds, value);
}

int TUserInfo::retryMaxSeconds() const {
    return integer(Setting::RetryMaxSeconds);
}
void TUserInfo::setRetryMaxSeconds(int value) {
    setInteger(Setting::RetryMaxSeconds, value);
}

int TUserInfo::notifyMessages() const {
    return integer(Setting::NotifyMessages);
}
void TUserInfo::setNotifyMessages(int value) {
    setInteger(Setting::NotifyMessages, value);
}

int TUserInfo::notifyChats() const {
    return integer(Setting::NotifyChats);
}
void TUserInfo::setNotifyChats(int value) {
    setInteger(Setting::NotifyChats, value);
}

int TUserInfo::notifyDownloads() const {
    return integer(Setting::NotifyDownloads);
}
void TUserInfo::setNotifyDownloads(int value) {
    setInteger(Setting::NotifyDownloads, value);
}

int TUserInfo::maxDownloads() const {
    return integer(Setting::MaxDownloads);
}
void TUserInfo::setMaxDownloads(int value) {
    setInteger(Setting::MaxDownloads, value);
}

QString TUserInfo::message() const {
    return text(Setting::Message);
}
void TUserInfo::setMessage(const QString& value) {
    setText(Setting::Message, value);
}

DateTime TUserInfo::bDate() const {
    const auto value = m_file->text(Setting::BDate);
    bool ok = false;
    const double days = value ? value->trimmed().toDouble(&ok) : 0.0;
    return ok ? days : nowDateTime();
}

std::optional<DateTime> TUserInfo::knownBDate() const {
    const auto value = m_file->text(Setting::BDate);
    const double days = value ? value->trimmed().toDouble() : 0.0;
    return days != 0.0 ? std::optional<DateTime>(days) : std::nullopt;
}

void TUserInfo::setBDate(DateTime value) {
    setText(Setting::BDate, QString::number(value, 'g', 17));
}

}  // namespace mr
