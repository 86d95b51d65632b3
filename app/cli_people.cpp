// The member directory: finding members and reading a member's profile.

#include "cli_commands.h"

#include "directory/usersearch.h"
#include "service/agent.h"
#include "service/headlesssession.h"

namespace mr::cli {

namespace {

int cmdUsers(const Context& c, const QStringList& args) {
    std::optional<UserSearchPatterns> patterns;
    if (args.size() == 2 && args.at(0) == u"--nick") {
        patterns = UserSearchPatterns::byNickname(args.at(1));
    } else if (args.size() == 2 && args.at(0) == u"--email") {
        patterns = UserSearchPatterns::byEmail(args.at(1));
    } else if (args.size() == 3 && args.at(0) == u"--name") {
        patterns = UserSearchPatterns::byName(args.at(1), args.at(2));
    }
    if (!patterns) {
        return usageError(c,
                          QStringLiteral("users takes --nick P, --email P or --name FIRST LAST"));
    }
    ServiceClient service(c);
    if (!service.start()) {
        return Failure;
    }
    QObject owner;
    const auto reply = service.headless().await([&](RequestHandler handler) {
        return service.headless().agent().SearchUsers(&owner, std::move(handler),
                                                      patterns->nickname, patterns->firstName,
                                                      patterns->lastName, patterns->email);
    });
    if (!reply) {
        print(c.err, QStringLiteral("The service did not answer the search"));
        return Failure;
    }
    for (const FoundUser& user : ParseUserSearchReply(*reply)) {
        print(c.out, QStringList{QString::number(user.userId), escapedLine(user.nickname),
                                 escapedLine(user.firstName), escapedLine(user.lastName),
                                 escapedLine(user.email),
                                 user.online ? QStringLiteral("Online") : QStringLiteral("Offline")}
                         .join(QLatin1Char('\t')));
    }
    return Success;
}

int cmdInfo(const Context& c, const QStringList& args) {
    bool ok = false;
    const qint32 userId = args.size() == 1 ? args.first().trimmed().toInt(&ok) : 0;
    if (!ok) {
        return usageError(c, QStringLiteral("info takes a numeric USERID"));
    }
    ServiceClient service(c);
    if (!service.start()) {
        return Failure;
    }
    QObject owner;
    const auto reply = service.headless().await([&](RequestHandler handler) {
        return service.headless().agent().RequestUserInfo(&owner, std::move(handler), userId);
    });
    const auto info = reply ? ParseUserInformation(*reply) : std::nullopt;
    if (!info) {
        print(c.out, QString::fromLatin1(kUserInfoErrorText));
        return Failure;
    }
    // Only the id is known here: the nickname is the one the reply carries.
    const UserInfoTexts texts = UserInformationTexts(info->nickname, *info);
    for (int i = 0; i < kUserInfoFieldCount; ++i) {
        print(c.out, UserInfoLabel(static_cast<UserInfoField>(i)) + QStringLiteral(": ") +
                         escapedLine(texts[static_cast<std::size_t>(i)]));
    }
    return Success;
}

}  // namespace

std::optional<int> runPeopleCommand(const Context& c, const QString& command,
                                    const QStringList& args) {
    static constexpr Command kCommands[] = {
        {"users", cmdUsers},
        {"info", cmdInfo},
    };
    return runFrom(kCommands, c, command, args);
}

}  // namespace mr::cli
