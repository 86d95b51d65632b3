#include "core/profile.h"

#include <QDir>
#include <QFileInfo>

namespace mr {

namespace {

// Whether a folder holds settings or tables.
bool holdsProfile(const QString& directory) {
    const QDir dir(directory);
    return dir.exists(QStringLiteral("settings.ini")) || dir.exists(QStringLiteral("data"));
}

}  // namespace

Profile::Profile(const QString& directory) : m_dir(QDir::cleanPath(directory)) {}

QString Profile::settingsPath() const {
    return m_dir + QStringLiteral("/settings.ini");
}

QString Profile::dataDirectory() const {
    return m_dir + QStringLiteral("/data");
}

QString Profile::lockPath() const {
    return m_dir + QStringLiteral("/moonrake.lock");
}

QString Profile::resolve(QStringList& args, const QString& executableDir) {
    QString chosen;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--profile") && i + 1 < args.size()) {
            chosen = args.at(i + 1);
            args.remove(i, 2);
            break;
        }
        if (arg.startsWith(QLatin1String("--profile="))) {
            chosen = arg.mid(10);
            args.remove(i);
            break;
        }
    }
    if (chosen.isEmpty()) {
        chosen = qEnvironmentVariable("MOONRAKE_PROFILE");
    }
    if (chosen.isEmpty() && !executableDir.isEmpty() &&
        QFileInfo(executableDir + QStringLiteral("/data")).isDir()) {
        chosen = executableDir;
    }
    if (chosen.isEmpty()) {
        chosen = userDirectory();
    }
    return QFileInfo(chosen).absoluteFilePath();
}

QString Profile::userDirectory() {
    const QString legacy = QDir::homePath() + QStringLiteral("/.local/share/Moonrake");
    // The base directory rules ignore a relative XDG_DATA_HOME.
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty() || QDir::isRelativePath(dataHome)) {
        return legacy;
    }
    const QString chosen = QDir::cleanPath(dataHome + QStringLiteral("/Moonrake"));
    // A profile made where earlier versions kept it stays in use until one exists here, so
    // setting XDG_DATA_HOME never hides a user's settings and tables.
    if (!QFileInfo::exists(chosen) && holdsProfile(legacy)) {
        return legacy;
    }
    return chosen;
}

QString Profile::executableDirectory() {
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath())
        .absolutePath();
}

namespace {

struct Active {
    Profile profile{QString()};
    std::shared_ptr<SettingsFile> file;
    std::unique_ptr<TUserInfo> userInfo;
    std::unique_ptr<HostStore> hostInfo;
};

Active& active() {
    static Active instance;
    return instance;
}

}  // namespace

void setActiveProfile(const QString& directory) {
    Active& a = active();
    a.profile = Profile(directory);
    a.file = std::make_shared<SettingsFile>(a.profile.settingsPath());
    a.userInfo = std::make_unique<TUserInfo>(a.file);
    a.hostInfo = std::make_unique<HostStore>(a.file);
}

const Profile& activeProfile() {
    return active().profile;
}

TUserInfo& UserInfo() {
    Active& a = active();
    Q_ASSERT_X(a.userInfo, "UserInfo", "no profile chosen yet");
    return *a.userInfo;
}

HostStore& HostInfo() {
    Active& a = active();
    Q_ASSERT_X(a.hostInfo, "HostInfo", "no profile chosen yet");
    return *a.hostInfo;
}

}  // namespace mr
