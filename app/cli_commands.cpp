#include "cli_commands.h"

#include "core/datamodule.h"
#include "core/instanceguard.h"
#include "core/profile.h"
#include "core/settingskeys.h"

#include <QDir>

#include <exception>

namespace mr::cli {

namespace {

void print(std::FILE* f, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), f);
    std::fputc('\n', f);
}

int usageError(const Context& c, const QString& message) {
    print(c.err, QStringLiteral("moonrake-cli: ") + message);
    print(c.err, QStringLiteral("Try 'moonrake-cli --help'."));
    return UsageError;
}

int cmdInit(const Context& c, const QStringList& args) {
    if (!args.isEmpty()) {
        return usageError(c, QStringLiteral("init takes no arguments"));
    }
    TMRDataModule::install(c.profileDir);
    print(c.out, QStringLiteral("Profile ready: ") + c.profileDir);
    return Success;
}

int cmdCheck(const Context& c, const QStringList& args) {
    if (!args.isEmpty()) {
        return usageError(c, QStringLiteral("check takes no arguments"));
    }
    QDir().mkpath(c.profileDir);
    InstanceGuard guard(Profile(c.profileDir).lockPath());
    if (!guard.acquire()) {
        print(c.err, QStringLiteral("Another copy is running on the profile ") + c.profileDir);
        return Failure;
    }
    TMRDataModule dataModule(c.profileDir);
    if (dataModule.create() == TMRDataModule::StartResult::DataFilesMissing) {
        print(c.err, QString::fromLatin1(kDataFilesMissingText));
        return Failure;
    }
    print(c.out, QStringLiteral("Data files present in ") + dataModule.dataDirectory());
    return Success;
}

// The value a setting reads as, its default included.
QString effectiveValue(const SettingKey& key) {
    TUserInfo& info = UserInfo();
    const auto stored = info.file().text(key.group, key.name);
    if (key.kind == SettingKind::Date) {
        return QString::number(info.bDate(), 'g', 17);
    }
    if (key.kind == SettingKind::Integer) {
        return stored ? QString::number(stored->trimmed().toInt()) : QStringLiteral("0");
    }
    return stored.value_or(QString());
}

int cmdGet(const Context& c, const QStringList& args) {
    if (args.size() != 1) {
        return usageError(c, QStringLiteral("get takes GROUP/NAME"));
    }
    const auto key = findSettingKey(args.first());
    if (!key) {
        return usageError(c, QStringLiteral("unknown setting: ") + args.first());
    }
    setActiveProfile(c.profileDir);
    print(c.out, effectiveValue(*key));
    return Success;
}

int cmdSet(const Context& c, const QStringList& args) {
    if (args.size() != 2) {
        return usageError(c, QStringLiteral("set takes GROUP/NAME VALUE"));
    }
    const auto key = findSettingKey(args.at(0));
    if (!key) {
        return usageError(c, QStringLiteral("unknown setting: ") + args.at(0));
    }
    const QString value = args.at(1);
    bool ok = true;
    if (key->kind == SettingKind::Integer) {
        value.trimmed().toInt(&ok);
    } else if (key->kind == SettingKind::Date) {
        value.trimmed().toDouble(&ok);
    }
    if (!ok) {
        return usageError(c, key->group + QLatin1Char('/') + key->name +
                                 QStringLiteral(" takes a number, not '") + value +
                                 QLatin1Char('\''));
    }
    QDir().mkpath(c.profileDir);
    setActiveProfile(c.profileDir);
    if (key->kind == SettingKind::HostList && value.trimmed().isEmpty()) {
        print(c.err, QStringLiteral("An empty host list leaves the stored one unchanged."));
        return Failure;
    }
    UserInfo().file().setText(key->group, key->name, value.trimmed());
    UserInfo().file().sync();
    return Success;
}

// The data module will report the info socket's and the file server's ports; until they
// exist the sign-on announces 0 for both.
constexpr std::uint16_t kInfoPort = 0;
constexpr std::uint16_t kFileServerPort = 0;

}  // namespace

QString usage() {
    return QStringLiteral(
        "Usage: moonrake-cli [--profile DIR] COMMAND [ARGUMENTS]\n"
        "\n"
        "The profile is DIR, else $MOONRAKE_PROFILE, else the program's folder when a 'data'\n"
        "folder stands beside it, else ~/.local/share/Moonrake.\n"
        "\n"
        "Commands:\n"
        "  init                    create the profile folder and its empty tables\n"
        "  check                   start the data module: check the tables and the index\n"
        "  get GROUP/NAME          print a setting (UserInfo/... or Host/Chat|Moonrake|Http)\n"
        "  set GROUP/NAME VALUE    store a setting, e.g. set Host/Moonrake 127.0.0.1:7000\n"
        "\n"
        "Exit codes: 0 success, 1 the command failed, 2 usage error.\n");
}

int run(const Context& c, const QStringList& args) {
    if (args.isEmpty()) {
        return usageError(c, QStringLiteral("no command given"));
    }
    const QString command = args.first();
    const QStringList rest = args.mid(1);
    try {
        if (command == QLatin1String("init")) {
            return cmdInit(c, rest);
        }
        if (command == QLatin1String("check")) {
            return cmdCheck(c, rest);
        }
        if (command == QLatin1String("get")) {
            return cmdGet(c, rest);
        }
        if (command == QLatin1String("set")) {
            return cmdSet(c, rest);
        }
    } catch (const std::exception& e) {
        print(c.err, QStringLiteral("moonrake-cli: ") + QString::fromUtf8(e.what()));
        return Failure;
    }
    return usageError(c, QStringLiteral("unknown command: ") + command);
}

}  // namespace mr::cli
