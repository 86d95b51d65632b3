// Setting up a profile and its account: tables, settings, registration, sign-on, look-ups and
// feedback.

#include "cli_commands.h"

#include "core/profile.h"
#include "core/settingskeys.h"
#include "core/userinfo.h"
#include "db/database.h"
#include "messaging/feedbackmail.h"
#include "service/headlesssession.h"
#include "service/idlequeue.h"
#include "service/registrationclient.h"
#include "service/session.h"
#include "transfer/datamodule.h"

#include <QDir>
#include <QEventLoop>

namespace mr::cli {

namespace {

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
    const CatalogAccess tables = openCatalog(c, TableUse::Writing);
    if (!tables) {
        return Failure;
    }
    if (const QString damage = db::Database::checkTables(tables.data->dataDirectory());
        !damage.isEmpty()) {
        print(c.err, damage);
        return Failure;
    }
    print(c.out, QStringLiteral("Data files present in ") + tables.data->dataDirectory());
    return Success;
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
    print(c.out, UserInfo().valueText(*key));
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
    if (key->kind == SettingKind::HostList && value.trimmed().isEmpty()) {
        print(c.err, QStringLiteral("An empty host list leaves the stored one unchanged."));
        return Failure;
    }
    QDir().mkpath(c.profileDir);
    setActiveProfile(c.profileDir);
    UserInfo().file().setText(key->group, key->name, value.trimmed());
    if (!UserInfo().file().sync()) {
        print(c.err, QStringLiteral("Cannot write the settings in ") + c.profileDir);
        return Failure;
    }
    return Success;
}

int cmdRegister(const Context& c, const QStringList& args) {
    if (args.size() != 2 || args.at(0).isEmpty() || args.at(1).isEmpty()) {
        return usageError(c, QStringLiteral("register takes NICK PASSWORD"));
    }
    const QString& nick = args.at(0);
    const QString& password = args.at(1);
    QDir().mkpath(c.profileDir);
    setActiveProfile(c.profileDir);
    RegistrationClient client;
    const RegistrationOutcome outcome = client.registerAndWait(nick, password, UserInfo());
    switch (outcome.kind) {
        case RegistrationOutcome::Kind::Failed:
            print(c.err, QStringLiteral("Registration failed: ") + client.lastError());
            return Failure;
        case RegistrationOutcome::Kind::NameTaken:
            print(c.out, QStringLiteral("This username allready exists!"));
            return Failure;
        case RegistrationOutcome::Kind::Registered:
            break;
    }
    if (!outcome.profileSent) {
        print(c.err, QStringLiteral("The profile was not sent: ") + client.lastError());
    }
    print(c.out, QString::number(outcome.id));
    return Success;
}

int cmdSignon(const Context& c, const QStringList& args) {
    if (!args.isEmpty()) {
        return usageError(c, QStringLiteral("signon takes no arguments"));
    }
    setActiveProfile(c.profileDir);
    HeadlessSession headless;
    TIdleQueue idle;
    OnlineSession session(headless.agent(), idle);
    const bool online = signOn(c, session, kInfoPort, kFileServerPort);
    print(c.out,
          QString::fromLatin1(online ? OnlineSession::kConnectedText : OnlineSession::kUnableText));
    session.SignOff();
    return online ? Success : Failure;
}

int cmdLocate(const Context& c, const QStringList& args) {
    bool ok = false;
    const qint32 userId = args.size() == 1 ? args.first().trimmed().toInt(&ok) : 0;
    if (!ok) {
        return usageError(c, QStringLiteral("locate takes a numeric USERID"));
    }
    const auto location = locateUser(c, userId);
    if (!location) {
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
    FeedbackMail mail;
    QEventLoop loop;
    int rc = Failure;
    QObject::connect(&mail, &FeedbackMail::connected,
                     [&c] { print(c.out, QString::fromLatin1(kFeedbackConnectedText)); });
    QObject::connect(&mail, &FeedbackMail::sendingStarted,
                     [&c] { print(c.out, QString::fromLatin1(kFeedbackSendingText)); });
    QObject::connect(&mail, &FeedbackMail::finished, &loop,
                     [&](FeedbackMail::Result result, const QString& detail) {
                         if (result == FeedbackMail::Result::Sent) {
                             print(c.out, FeedbackMail::resultText(result));
                             rc = Success;
                         } else {
                             print(c.err, FeedbackMail::resultText(result) +
                                              (detail.isEmpty() ? QString()
                                                                : QStringLiteral(" (") + detail +
                                                                      QLatin1Char(')')));
                         }
                         loop.quit();
                     });
    if (!mail.send(FeedbackTarget::fromSettings(UserInfo().file()), UserInfo().nickname(), text)) {
        return Failure;
    }
    loop.exec();
    return rc;
}

}  // namespace

std::optional<int> runAccountCommand(const Context& c, const QString& command,
                                     const QStringList& args) {
    // "get GROUP/NAME" reads a setting; "get USERID VPATH" downloads.
    if (command == u"get" && args.size() > 1) {
        return std::nullopt;
    }
    static constexpr Command kCommands[] = {
        {"init", cmdInit},     {"check", cmdCheck},       {"get", cmdGet},
        {"set", cmdSet},       {"register", cmdRegister}, {"signon", cmdSignon},
        {"locate", cmdLocate}, {"feedback", cmdFeedback},
    };
    return runFrom(kCommands, c, command, args);
}

}  // namespace mr::cli
