#include "core/userinfo.h"

#include <QStandardPaths>

namespace mr {

namespace {

const QString kGroup = QStringLiteral("UserInfo");

}  // namespace

TUserInfo::TUserInfo(const QString& settingsPath)
    : m_file(std::make_shared<SettingsFile>(settingsPath)) {}

TUserInfo::TUserInfo(std::shared_ptr<SettingsFile> file) : m_file(std::move(file)) {}

QString DefaultDownloadPath() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    return base + QStringLiteral("/Moonrake");
}

QString TUserInfo::text(const char* name) const {
    return m_file->text(kGroup, QLatin1String(name)).value_or(QString());
}

int TUserInfo::integer(const char* name) const {
    const auto value = m_file->text(kGroup, QLatin1String(name));
    if (!value) {
        return 0;
    }
    bool ok = false;
    const int n = value->trimmed().toInt(&ok);
    return ok ? n : 0;
}

void TUserInfo::setText(const char* name, const QString& value) {
    m_file->setText(kGroup, QLatin1String(name), value);
}

void TUserInfo::setInteger(const char* name, int value) {
    m_file->setText(kGroup, QLatin1String(name), QString::number(value));
}

int TUserInfo::refresh() const {
    return integer("Refresh");
}
void TUserInfo::setRefresh(int value) {
    setInteger("Refresh", value);
}

int TUserInfo::id() const {
    return integer("ID");
}
void TUserInfo::setId(int value) {
    setInteger("ID", value);
}

QString TUserInfo::nickname() const {
    return text("Nickname");
}
void TUserInfo::setNickname(const QString& value) {
    setText("Nickname", value);
}

QString TUserInfo::password() const {
    return text("Password");
}
void TUserInfo::setPassword(const QString& value) {
    setText("Password", value);
}

QString TUserInfo::firstName() const {
    return text("FirstName");
}
void TUserInfo::setFirstName(const QString& value) {
    setText("FirstName", value);
}

QString TUserInfo::lastName() const {
    return text("LastName");
}
void TUserInfo::setLastName(const QString& value) {
    setText("LastName", value);
}

int TUserInfo::showInfo() const {
    return integer("ShowInfo");
}
void TUserInfo::setShowInfo(int value) {
    setInteger("ShowInfo", value);
}

QString TUserInfo::email() const {
    return text("Email");
}
void TUserInfo::setEmail(const QString& value) {
    setText("Email", value);
}

QString TUserInfo::sex() const {
    return text("Sex");
}
void TUserInfo::setSex(const QString& value) {
    setText("Sex", value);
}

QString TUserInfo::country() const {
    return text("Country");
}
void TUserInfo::setCountry(const QString& value) {
    setText("Country", value);
}

int TUserInfo::connection() const {
    return integer("Connection");
}
void TUserInfo::setConnection(int value) {
    setInteger("Connection", value);
}

QString TUserInfo::homepage() const {
    return text("Homepage");
}
void TUserInfo::setHomepage(const QString& value) {
    setText("Homepage", value);
}

QString TUserInfo::languages() const {
    return text("Languages");
}
void TUserInfo::setLanguages(const QString& value) {
    setText("Languages", value);
}

QString TUserInfo::downloadPath() const {
    return text("DownloadPath");
}

QString TUserInfo::effectiveDownloadPath() const {
    const QString path = downloadPath();
    return path.isEmpty() ? DefaultDownloadPath() : path;
}
void TUserInfo::setDownloadPath(const QString& value) {
    setText("DownloadPath", value);
}

QString TUserInfo::uploadPath() const {
    return text("UploadPath");
}
void TUserInfo::setUploadPath(const QString& value) {
    setText("UploadPath", value);
}

QString TUserInfo::sharingFilters() const {
    return text("SharingFilters");
}
void TUserInfo::setSharingFilters(const QString& value) {
    setText("SharingFilters", value);
}

int TUserInfo::maxUploads() const {
    return integer("MaxUploads");
}
void TUserInfo::setMaxUploads(int value) {
    setInteger("MaxUploads", value);
}

int TUserInfo::maxDownloads() const {
    return integer("MaxDownloads");
}
void TUserInfo::setMaxDownloads(int value) {
    setInteger("MaxDownloads", value);
}

QString TUserInfo::message() const {
    return text("Message");
}
void TUserInfo::setMessage(const QString& value) {
    setText("Message", value);
}

TDateTime TUserInfo::bDate() const {
    const auto value = m_file->text(kGroup, QStringLiteral("BDate"));
    bool ok = false;
    const double days = value ? value->trimmed().toDouble(&ok) : 0.0;
    return ok ? days : nowDateTime();
}

void TUserInfo::setBDate(TDateTime value) {
    m_file->setText(kGroup, QStringLiteral("BDate"), QString::number(value, 'g', 17));
}

}  // namespace mr
