// The peer side of the headless client: serving, downloading, pinging and bans.

#include "cli_commands.h"

#include "core/profile.h"
#include "core/terminationsignals.h"
#include "core/userinfo.h"
#include "directory/filesearch.h"
#include "directory/pinger.h"
#include "messaging/infosocket.h"
#include "service/headlesssession.h"
#include "service/idlequeue.h"
#include "service/session.h"
#include "transfer/datamodule.h"
#include "transfer/mrftpserver.h"
#include "transfer/passwordcache.h"
#include "transfer/peercatalog.h"
#include "transfer/queue.h"
#include "transfer/wantedstore.h"

#include <QDir>
#include <QEventLoop>

#include <memory>
#include <utility>

namespace mr::cli {

namespace {

// Lines of a long-running command are read while it runs.
void say(const Context& c, const QString& text) {
    print(c.out, text);
    std::fflush(c.out);
}

// A profile's peer side, online: the data module with its info socket, file server and
// download queue, signed on with their ports. Signs off when destroyed.
class OnlinePeer {
public:
    explicit OnlinePeer(const Context& c) : m_context(c), m_session(m_headless.agent(), m_idle) {}
    ~OnlinePeer() { m_session.SignOff(); }
    OnlinePeer(const OnlinePeer&) = delete;
    OnlinePeer& operator=(const OnlinePeer&) = delete;

    // With startFilter, only the downloads it accepts are started. A signal caught by
    // termination ends the sign-on.
    bool start(TerminationSignals& termination,
               std::function<bool(const TMRQueItem&)> startFilter = {}) {
        m_tables = openCatalog(m_context, TableUse::Serving);
        if (!m_tables) {
            return false;
        }
        TMRDataModule& data = *m_tables.data;
        if (startFilter && data.wantedList()) {
            data.wantedList()->setStartFilter(std::move(startFilter));
        }
        if (data.fileServerPort() == 0 || data.infoPort() == 0) {
            print(m_context.err, QStringLiteral("The peer sockets could not listen"));
            return false;
        }
        if (!signOn(m_context, m_session, data.infoPort(), data.fileServerPort(), &termination)) {
            print(m_context.err, QString::fromLatin1(OnlineSession::kUnableText));
            return false;
        }
        // Only now: a download left from the last run, started before the sign-on, would find
        // no owner and fail as if he were offline.
        data.setLocator(m_headless.agent().locator());
        return true;
    }

    TMRDataModule& data() { return *m_tables.data; }
    TMRWantedList& wanted() { return *data().wantedList(); }
    TMRWaitingList& waiting() { return data().fileServer()->waitingList(); }
    OnlineSession& session() { return m_session; }

private:
    const Context& m_context;
    CatalogAccess m_tables;
    HeadlessSession m_headless;
    TIdleQueue m_idle;
    OnlineSession m_session;
};

// The password of a protected file, given on the command line.
class GivenPassword : public PasswordPrompt {
public:
    explicit GivenPassword(const QString& password) : m_password(password) {}
    std::optional<QString> ask(qint32, const QString&, const QString&, const QString&) override {
        return m_password;
    }

private:
    QString m_password;
};

QString itemLine(const QString& direction, const TMRQueItem& item) {
    return direction + u' ' + item.Path + u' ' + item.UserName + QStringLiteral(": ") +
           statusText(item.Status, item.Error);
}

int cmdServe(const Context& c, const QStringList& args) {
    const bool acceptChats = args == QStringList{QStringLiteral("--accept-chats")};
    if (!args.isEmpty() && !acceptChats) {
        return usageError(c, QStringLiteral("serve takes no arguments but --accept-chats"));
    }
    TerminationSignals termination;
    OnlinePeer peer(c);
    if (!peer.start(termination)) {
        return Failure;
    }
    QObject::connect(&peer.waiting(), &TMRQue::statusChanged, [&c](TMRQueItem* item, auto) {
        say(c, itemLine(QStringLiteral("Upload"), *item));
    });
    QObject::connect(&peer.wanted(), &TMRQue::statusChanged, [&c](TMRQueItem* item, auto) {
        say(c, itemLine(QStringLiteral("Download"), *item));
    });
    QObject::connect(
        peer.data().infoSocket(), &InfoSocket::messageReceived,
        [&c](qint32 userId, const QString& nickname, const QString&, quint16, const QString& text) {
            say(c, receivedMessageLine(userId, nickname, text));
        });
    // A dropped connection to the service, and the sign-on that ends it, as the status box
    // tells them; not the sign-off at the end: `watch` is gone before the peer signs off.
    QObject watch;
    QObject::connect(&peer.session(), &OnlineSession::onlineIndicatorChanged, &watch,
                     [&c, wasOnline = true](bool online) mutable {
                         if (std::exchange(wasOnline, online) != online) {
                             say(c, QString::fromLatin1(online ? OnlineSession::kConnectedText
                                                               : OnlineSession::kDisconnectedText));
                         }
                     });
    const std::unique_ptr<QObject> chats = serveChats(c, *peer.data().infoSocket(), acceptChats);
    say(c, QStringLiteral("Serving: info port %1, file server port %2")
               .arg(peer.data().infoPort())
               .arg(peer.data().fileServerPort()));
    QEventLoop loop;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &loop,
                     &QEventLoop::quit);
    loop.exec();
    return Success;
}

int cmdGet(const Context& c, const QStringList& args) {
    QStringList rest = args;
    QString password;
    const int option = rest.indexOf(QStringLiteral("--password"));
    if (option >= 0) {
        if (option + 1 >= rest.size()) {
            return usageError(c, QStringLiteral("--password needs a value"));
        }
        password = rest.at(option + 1);
        rest.remove(option, 2);
    }
    bool ok = false;
    const qint32 userId = rest.size() == 2 ? rest.first().trimmed().toInt(&ok) : 0;
    if (!ok || rest.at(1).trimmed().isEmpty()) {
        return usageError(c, QStringLiteral("get takes a numeric USERID and a VPATH"));
    }
    const QString path = catalogPath(rest.at(1).trimmed());
    if (path.endsWith(u'/')) {
        return usageError(c, QStringLiteral("get takes the path of a file, not of a folder"));
    }

    TerminationSignals termination;
    OnlinePeer peer(c);
    // The rest of the kept queue waits for `serve` or the desktop program.
    qint32 id = -1;
    if (!peer.start(termination, [&id](const TMRQueItem& item) { return item.Id == id; })) {
        return Failure;
    }
    const QString downloadPath = UserInfo().effectiveDownloadPath();
    if (!QDir().mkpath(downloadPath)) {
        print(c.err, QStringLiteral("Cannot create the download folder ") + downloadPath);
        return Failure;
    }

    QEventLoop loop;
    QObject::connect(&peer.wanted(), &TMRQue::itemAdded, &loop, [&id](TMRQueItem* item) {
        if (id < 0) {
            id = item->Id;
        }
    });
    QObject::connect(&peer.wanted(), &TMRQue::statusChanged, &loop,
                     [&](TMRQueItem* item, TTransferStatus) {
                         if (item->Id != id || item->Status == TTransferStatus::LocalQueue) {
                             return;
                         }
                         say(c, statusText(item->Status, item->Error));
                         if (item->Status == TTransferStatus::Completed) {
                             loop.exit(Success);
                         } else if (item->Status == TTransferStatus::Error) {
                             loop.exit(Failure);
                         }
                     });
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &loop,
                     [&loop] { loop.exit(Failure); });
    // A download already in the kept queue, unfinished or failed, is taken up again.
    for (int i = 0; i < peer.wanted().count(); ++i) {
        TMRQueItem& kept = *peer.wanted().at(i);
        if (kept.PeerId == userId && kept.Path.compare(path, Qt::CaseInsensitive) == 0 &&
            kept.Status != TTransferStatus::Completed) {
            id = kept.Id;
            if (!password.isEmpty()) {
                kept.Password = password;
            }
            if (kept.Status == TTransferStatus::Error) {
                peer.wanted().SetStatus(id, TTransferStatus::LocalQueue);
            } else {
                peer.wanted().setStartFilter(
                    [id](const TMRQueItem& item) { return item.Id == id; });
            }
            return loop.exec();
        }
    }
    // Queued as a download from the search window is, refusals and password included.
    const qsizetype cut = path.lastIndexOf(u'/');
    // Other users know the owner by nickname; here the id is all there is.
    TRemoteFileItem file(path.mid(cut + 1), path.left(cut), QString::number(userId));
    file.userId = userId;
    file.size = 0;
    file.passwordFlag = !password.isEmpty();
    GivenPassword given(password);
    TPasswordCache passwords;
    passwords.setPrompt(&given);
    switch (DownloadSearchResult(file, peer.wanted(), UserInfo().id(), passwords)) {
        case SearchDownload::Queued:
            break;
        case SearchDownload::OwnFile:
            print(c.err, QStringLiteral("That file is your own"));
            return Failure;
        default:
            return Failure;
    }
    const TMRQueItem* item = peer.wanted().find(id);
    if (!item || item->Status == TTransferStatus::Error) {
        return Failure;
    }
    if (item->Status == TTransferStatus::Completed) {
        return Success;
    }
    return loop.exec();
}

int cmdQueue(const Context& c, const QStringList& args) {
    if (!args.isEmpty()) {
        return usageError(c, QStringLiteral("queue takes no arguments"));
    }
    const CatalogAccess tables = openCatalog(c, TableUse::Reading);
    if (!tables) {
        return Failure;
    }
    const auto items =
        WantedStore::read(tables.data->dataDirectory() + u'/' + WantedStore::fileName());
    if (!items) {
        print(c.err, QStringLiteral("The download queue cannot be read"));
        return Failure;
    }
    for (const TMRQueItem& item : *items) {
        print(c.out, QStringList{QString::number(item.PeerId), escapedLine(item.UserName),
                                 escapedLine(item.Path), statusText(item.Status, item.Error),
                                 QString::number(item.Transferred), QString::number(item.Size)}
                         .join(u'\t'));
    }
    return Success;
}

int cmdPing(const Context& c, const QStringList& args) {
    bool ok = false;
    const qint32 userId = args.size() == 1 ? args.first().trimmed().toInt(&ok) : 0;
    if (!ok) {
        return usageError(c, QStringLiteral("ping takes a numeric USERID"));
    }
    const auto location = locateUser(c, userId);
    if (!location) {
        return Failure;
    }
    if (location->address.isEmpty() || location->infoPort == 0) {
        print(c.out, QStringLiteral("User is offline"));
        return Failure;
    }
    QString result;
    QEventLoop loop;
    Pinger pinger(location->address, location->infoPort, QString::number(userId));
    QObject::connect(&pinger, &Pinger::finished, &loop, [&](const QString&, const QString& text) {
        result = text;
        loop.quit();
    });
    pinger.start();
    if (result.isEmpty()) {
        loop.exec();
    }
    print(c.out, result);
    bool numeric = false;
    result.toDouble(&numeric);
    return numeric ? Success : Failure;
}

int cmdBan(const Context& c, const QStringList& args, bool ban) {
    const QString nick = args.size() == 1 ? args.first().trimmed() : QString();
    if (nick.isEmpty()) {
        return usageError(
            c, ban ? QStringLiteral("ban takes a NICK") : QStringLiteral("unban takes a NICK"));
    }
    const CatalogAccess tables = openCatalog(c, TableUse::Reading);
    if (!tables) {
        return Failure;
    }
    SetUserStatus(nick, ban ? kUserStatusBanned : kUserStatusNormal);
    print(c.out, ban ? nick + QStringLiteral(" is banned")
                     : nick + QStringLiteral(" is no longer banned"));
    return Success;
}

int cmdBanned(const Context& c, const QStringList& args) {
    if (!args.isEmpty()) {
        return usageError(c, QStringLiteral("banned takes no arguments"));
    }
    const CatalogAccess tables = openCatalog(c, TableUse::Reading);
    if (!tables) {
        return Failure;
    }
    for (const QString& name : BannedUserNames()) {
        print(c.out, name);
    }
    return Success;
}

int cmdCredits(const Context& c, const QStringList& args) {
    if (!args.isEmpty()) {
        return usageError(c, QStringLiteral("credits takes no arguments"));
    }
    const CatalogAccess tables = openCatalog(c, TableUse::Reading);
    if (!tables) {
        return Failure;
    }
    for (const CreditAccount& a : CreditAccounts()) {
        print(c.out,
              QStringList{escapedLine(a.userName), QString::number(a.status),
                          QString::number(a.filesUploaded), QString::number(a.bytesUploaded),
                          QString::number(a.filesDownloaded), QString::number(a.bytesDownloaded)}
                  .join(u'\t'));
    }
    return Success;
}

}  // namespace

std::optional<int> runTransferCommand(const Context& c, const QString& command,
                                      const QStringList& args) {
    static constexpr Command kCommands[] = {
        {"serve", cmdServe},
        {"get", cmdGet},
        {"queue", cmdQueue},
        {"ping", cmdPing},
        {"ban", [](const Context& c, const QStringList& args) { return cmdBan(c, args, true); }},
        {"unban", [](const Context& c, const QStringList& args) { return cmdBan(c, args, false); }},
        {"banned", cmdBanned},
        {"credits", cmdCredits},
    };
    return runFrom(kCommands, c, command, args);
}

}  // namespace mr::cli
