// The contacts list: who of it is online, and adding or removing a member.

#include "cli_commands.h"

#include "messaging/contacts.h"
#include "service/agent.h"
#include "service/headlesssession.h"

#include <QEventLoop>
#include <QTimer>

namespace mr::cli {

namespace {

int listContacts(const Context& c) {
    const CatalogAccess tables = openCatalog(c, TableUse::Reading);
    if (!tables) {
        return Failure;
    }
    ServiceClient service(c);
    if (!service.start()) {
        return Failure;
    }
    ContactList list;
    list.load();
    OnlineCounts counts{};
    QObject::connect(&list, &ContactList::statisticsReceived,
                     [&counts](qint32 a, qint32 b, qint32 c3, qint32 d) {
                         counts = {a, b, c3, d};
                     });
    const auto reply = service.headless().await([&](RequestHandler handler) {
        return service.headless().agent().PollContacts(&list, std::move(handler));
    });
    if (!reply) {
        print(c.err, QStringLiteral("The service did not answer the contacts poll"));
        return Failure;
    }
    list.pollReply(false, *reply);
    for (const Contact& contact : list.contacts()) {
        print(c.out,
              QStringList{QString::number(contact.userId), escapedLine(contact.nickname),
                          contact.online ? QStringLiteral("Online") : QStringLiteral("Offline")}
                  .join(QLatin1Char('\t')));
    }
    print(c.out, QStringLiteral("Online Users: %1").arg(counts[2]));
    print(c.out, QStringLiteral("Online Files: %1").arg(counts[0]));
    return Success;
}

int changeContact(const Context& c, ContactAction::Kind kind, const QString& nickname) {
    // The table is written, so no other program of this profile may run meanwhile.
    const CatalogAccess tables = openCatalog(c, TableUse::Writing);
    if (!tables) {
        return Failure;
    }
    QString nick = nickname.trimmed();
    qint32 userId = 0;
    if (kind == ContactAction::Kind::Add && IsOwnNickname(nick)) {
        print(c.out, QString::fromLatin1(kAddYourselfText));
        return Failure;
    }
    if (kind == ContactAction::Kind::Remove) {
        // The service removes by id, which only the table knows.
        const QList<Contact> listed = ReadContacts();
        const auto it = std::ranges::find_if(listed, [&nick](const Contact& contact) {
            return contact.nickname.compare(nick, Qt::CaseInsensitive) == 0;
        });
        if (it == listed.end()) {
            print(c.err, nick + QStringLiteral(" is not in the contact list"));
            return Failure;
        }
        nick = it->nickname;
        userId = it->userId;
    }
    ServiceClient service(c);
    if (!service.start()) {
        return Failure;
    }
    ContactAction action(&service.headless().agent(), kind, nick, userId);
    QEventLoop loop;
    ContactAction::Outcome outcome = ContactAction::Outcome::Failed;
    QObject::connect(&action, &ContactAction::finished, &loop, [&](ContactAction::Outcome result) {
        outcome = result;
        loop.quit();
    });
    // The agent has its own time-outs; this only keeps a lost answer from hanging the command.
    QTimer::singleShot(HeadlessSession::kDefaultStepTimeoutMs, &loop, &QEventLoop::quit);
    action.start();
    loop.exec();
    print(c.out, ContactAction::outcomeText(outcome, nick));
    return ContactAction::succeeded(outcome) ? Success : Failure;
}

int cmdContacts(const Context& c, const QStringList& args) {
    if (args.isEmpty()) {
        return listContacts(c);
    }
    if (args.size() == 2 && !args.at(1).trimmed().isEmpty()) {
        if (args.at(0) == u"add") {
            return changeContact(c, ContactAction::Kind::Add, args.at(1));
        }
        if (args.at(0) == u"remove") {
            return changeContact(c, ContactAction::Kind::Remove, args.at(1));
        }
    }
    return usageError(c, QStringLiteral("contacts takes nothing, add NICK or remove NICK"));
}

}  // namespace

std::optional<int> runContactsCommand(const Context& c, const QString& command,
                                      const QStringList& args) {
    static constexpr Command kCommands[] = {
        {"contacts", cmdContacts},
    };
    return runFrom(kCommands, c, command, args);
}

}  // namespace mr::cli
