#pragma once

#include "core/hostinfo.h"
#include "core/userinfo.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace mr {

// Where one client keeps its settings and tables. Several profiles let several clients run
// on one machine.
class Profile {
public:
    explicit Profile(const QString& directory);

    QString directory() const { return m_dir; }
    QString settingsPath() const;
    QString dataDirectory() const;
    QString lockPath() const;

    // "--profile DIR" (or "--profile=DIR") wins, then MOONRAKE_PROFILE; otherwise the
    // executable's folder when a "data" folder stands beside it, else userDirectory().
    // The option is taken out of args.
    static QString resolve(QStringList& args, const QString& executableDir);

    // $XDG_DATA_HOME/Moonrake, else ~/.local/share/Moonrake; the latter also while it holds a
    // profile and the former does not exist yet.
    static QString userDirectory();

    // Folder of the running program, found without an application object.
    static QString executableDirectory();

private:
    QString m_dir;
};

// The settings and host lists of the running profile, reachable from every part of the
// program once the entry has chosen the profile.
void setActiveProfile(const QString& directory);
const Profile& activeProfile();
TUserInfo& UserInfo();
HostStore& HostInfo();

}  // namespace mr
