#include "cli_commands.h"

#include "core/datamodule.h"
#include "core/instanceguard.h"
#include "core/profile.h"
#include "core/settingskeys.h"
#include "core/userinfo.h"
#include "messaging/feedbackmail.h"
#include "service/headlesssession.h"
#include "service/idlequeue.h"
#include "service/registrationclient.h"
#include "service/session.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>

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

int cmdRegister(const Context& c, const QStringList& args) {
    if (args.size() != 2 || args.at(0).isEmpty() || args.at(1).isEmpty()) {
        return usageError(c, QStringLiteral("register takes NICK PASSWORD"));
    }
    const QString& nick = args.at(0);
    const QString& password = args.at(1);
    QDir().mkpath(c.profileDir);
    setActiveProfile(c.profileDir);
    TRegistrationClient client;
    const auto reply = client.getAndWait(TRegistrationClient::registerPath(nick, password));
    if (!reply) {
        print(c.err, QStringLiteral("Registration failed: ") + client.lastError());
        return Failure;
    }
    const qint32 id = TRegistrationClient::parseRegisterReply(*reply);
    if (id == 0) {
        print(c.out, QStringLiteral("This username allready exists!"));
        return Failure;
    }
    TUserInfo& info = UserInfo();
    info.setId(id);
    info.setNickname(nick);
    info.setPassword(password);
    info.file().sync();
    if (!client.getAndWait(TRegistrationClient::setUserInfoPath(
            id, password, TRegistrationProfile::fromSettings(info)))) {
        print(c.err, QStringLiteral("The profile was not sent: ") + client.lastError());
    }
    print(c.out, QString::number(id));
    return Success;
}

// Signs on through the same session logic as the desktop program, printing an update
// announcement instead of starting the update program; true when online.
bool signOn(const Context& c, TOnlineSession& session) {
    session.setPorts(kInfoPort, kFileServerPort);
    session.motd().setLauncher({});
    QObject::connect(&session, &TOnlineSession::updateAvailable,
                     [&c](const QString& text, const QString&) { print(c.out, text); });
    std::optional<bool> outcome;
    QEventLoop loop;
    QObject::connect(&session, &TOnlineSession::connectFinished, &loop, [&](bool online) {
        outcome = online;
        loop.quit();
    });
    session.Connect(TConnectOrigin::StartUp);
    if (!outcome && session.connecting()) {
        QTimer::singleShot(THeadlessSession::kDefaultStepTimeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return outcome.value_or(false);
}

int cmdSignon(const Context& c, const QStringList& args) {
    if (!args.isEmpty()) {
        return usageError(c, QStringLiteral("signon takes no arguments"));
    }
    setActiveProfile(c.profileDir);
    THeadlessSession headless;
    TIdleQueue idle;
    TOnlineSession session(headless.agent(), idle);
    const bool online = signOn(c, session);
    print(c.out, online ? QStringLiteral("Connected!") : QStringLiteral("Unable to connect"));
    session.SignOff();
    return online ? Success : Failure;
}

int cmdLocate(const Context& c, const QStringList& args) {
    bool ok = false;
    const qint32 userId = args.size() == 1 ? args.first().trimmed().toInt(&ok) : 0;
    if (!ok) {
        return usageError(c, QStringLiteral("locate takes a numeric USERID"));
    }
    setActiveProfile(c.profileDir);
    THeadlessSession headless;
    TIdleQueue idle;
    TOnlineSession session(headless.agent(), idle);
    if (!signOn(c, session)) {
        print(c.err, QStringLiteral("Unable to connect"));
        session.SignOff();
        return Failure;
    }
    const auto location = headless.locate(userId);
    session.SignOff();
    if (!location) {
        print(c.err, QStringLiteral("The service did not answer the look-up of user ") +
                         QString::number(userId));
        return Failure;
    }
    print(c.out, location->address + QLatin1Char(' ') + QString::number(location->infoPort) +
                     QLatin1Char(' ') + QString::number(location->fileServerPort));
    return Success;
}

int cmdFeedback(const Context& c, const QStringList& args) {
    const QString text = args.join(QLatin1Char(' '));
    if (text.trimmed().isEmpty()) {
        return usageError(c, QStringLiteral("feedback takes the TEXT to send"));
    }
    setActiveProfile(c.profileDir);
    TFeedbackMail mail;
    QEventLoop loop;
    int rc = Failure;
    QObject::connect(&mail, &TFeedbackMail::connected,
                     [&c] { print(c.out, QString::fromLatin1(kFeedbackConnectedText)); });
    QObject::connect(&mail, &TFeedbackMail::sendingStarted,
                     [&c] { print(c.out, QString::fromLatin1(kFeedbackSendingText)); });
    QObject::connect(&mail, &TFeedbackMail::finished, &loop,
                     [&](TFeedbackMail::Result result, const QString& detail) {
                         if (result == TFeedbackMail::Result::Sent) {
                             print(c.out, TFeedbackMail::resultText(result));
                             rc = Success;
                         } else {
                             print(c.err, TFeedbackMail::resultText(result) +
                                              (detail.isEmpty() ? QString()
                                                                : QStringLiteral(" (") + detail +
                                                                      QLatin1Char(')')));
                         }
                         loop.quit();
                     });
    if (!mail.send(TFeedbackTarget::fromSettings(UserInfo().file()), UserInfo().nickname(), text)) {
        return Failure;
    }
    loop.exec();
    return rc;
}

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
        "  get GROUP/NAME          print a setting (UserInfo/... or Host/Chat|Moonrake|Http|Mail|\n"
        "                          FeedbackAddress)\n"
        "  set GROUP/NAME VALUE    store a setting, e.g. set Host/Moonrake 127.0.0.1:7000\n"
        "  register NICK PASSWORD  create an account on the first web host (Host/Http), store\n"
        "                          its ID, Nickname and Password, and print the new ID\n"
        "  signon                  sign on to the service (Host/Moonrake, each host in turn),\n"
        "                          print \"Connected!\" or \"Unable to connect\", sign off\n"
        "  locate USERID           sign on and print the user's address, info port and\n"
        "                          peer-server port on one line\n"
        "  feedback TEXT           mail TEXT to the operator: to Host/FeedbackAddress over\n"
        "                          Host/Mail (default: feedback@ the first web host, port 25)\n"
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
        if (command == QLatin1String("register")) {
            return cmdRegister(c, rest);
        }
        if (command == QLatin1String("signon")) {
            return cmdSignon(c, rest);
        }
        if (command == QLatin1String("locate")) {
            return cmdLocate(c, rest);
        }
        if (command == QLatin1String("feedback")) {
            return cmdFeedback(c, rest);
        }
    } catch (const std::exception& e) {
        print(c.err, QStringLiteral("moonrake-cli: ") + QString::fromUtf8(e.what()));
        return Failure;
    }
    return usageError(c, QStringLiteral("unknown command: ") + command);
}

}  // namespace mr::cli
