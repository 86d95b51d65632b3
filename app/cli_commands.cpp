#include "cli_commands.h"

#include "catalog/actualfilenode.h"
#include "catalog/confirmations.h"
#include "catalog/localmrtree.h"
#include "catalog/logicaltree.h"
#include "catalog/remotemrtree.h"
#include "core/datetime.h"
#include "core/instanceguard.h"
#include "core/profile.h"
#include "core/settingskeys.h"
#include "core/userinfo.h"
#include "db/cursor.h"
#include "db/database.h"
#include "db/filters.h"
#include "messaging/feedbackmail.h"
#include "service/headlesssession.h"
#include "service/idlequeue.h"
#include "service/registrationclient.h"
#include "service/session.h"
#include "transfer/datamodule.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

namespace mr::cli {

void print(std::FILE* f, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), f);
    std::fputc('\n', f);
}

int usageError(const Context& c, const QString& message) {
    print(c.err, QStringLiteral("moonrake-cli: ") + message);
    print(c.err, QStringLiteral("Try 'moonrake-cli --help'."));
    return UsageError;
}

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
    QDir().mkpath(c.profileDir);
    InstanceGuard guard(Profile(c.profileDir).lockPath());
    if (!guard.acquire()) {
        print(c.err, guard.failureText());
        return Failure;
    }
    TMRDataModule dataModule(c.profileDir);
    if (dataModule.create(false) == TMRDataModule::StartResult::DataFilesMissing) {
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

// Commands that only talk to the service run no peer sockets and announce none.
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

}  // namespace

// Signs on through the same session logic as the desktop program, printing an update
// announcement instead of starting the update program; true when online.
bool signOn(const Context& c, TOnlineSession& session, std::uint16_t infoPort,
            std::uint16_t fileServerPort) {
    session.setPorts(infoPort, fileServerPort);
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

std::optional<TUserLocation> locateUser(const Context& c, qint32 userId) {
    setActiveProfile(c.profileDir);
    THeadlessSession headless;
    TIdleQueue idle;
    TOnlineSession session(headless.agent(), idle);
    if (!signOn(c, session, kInfoPort, kFileServerPort)) {
        print(c.err, QStringLiteral("Unable to connect"));
        session.SignOff();
        return std::nullopt;
    }
    auto location = headless.locate(userId);
    session.SignOff();
    if (!location) {
        print(c.err, QStringLiteral("The service did not answer the look-up of user ") +
                         QString::number(userId));
    }
    return location;
}

namespace {

int cmdSignon(const Context& c, const QStringList& args) {
    if (!args.isEmpty()) {
        return usageError(c, QStringLiteral("signon takes no arguments"));
    }
    setActiveProfile(c.profileDir);
    THeadlessSession headless;
    TIdleQueue idle;
    TOnlineSession session(headless.agent(), idle);
    const bool online = signOn(c, session, kInfoPort, kFileServerPort);
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

CatalogAccess openCatalog(const Context& c, bool writing) {
    CatalogAccess access;
    QDir().mkpath(c.profileDir);
    setActiveProfile(c.profileDir);
    if (writing) {
        access.guard = std::make_unique<InstanceGuard>(Profile(c.profileDir).lockPath());
        if (!access.guard->acquire()) {
            print(c.err, access.guard->failureText());
            return {};
        }
    }
    auto data = std::make_unique<TMRDataModule>(c.profileDir);
    if (data->create(false) == TMRDataModule::StartResult::DataFilesMissing) {
        print(c.err, QString::fromLatin1(kDataFilesMissingText));
        return {};
    }
    access.data = std::move(data);
    return access;
}

namespace {

QString catalogPath(const QString& text) {
    return text.startsWith(u'/') ? text : u'/' + text;
}

// Signs on, sends the pending changes and signs off; prints what the service accepted.
int syncCatalog(const Context& c) {
    THeadlessSession session;
    if (!session.signOn(kInfoPort, kFileServerPort)) {
        print(c.err, QStringLiteral("Unable to connect: the changes stay pending until the "
                                    "next sync"));
        return Failure;
    }
    TLocalMRTree tree(nullptr, &session.agent());
    const TSyncResult r = tree.UpdateServer();
    session.signOff();
    if (!r.ran) {
        print(c.out, QStringLiteral("Nothing to send"));
        return Success;
    }
    print(c.out, QStringLiteral("Additions accepted: %1").arg(r.additionsAccepted));
    print(c.out, QStringLiteral("Removals accepted: %1").arg(r.removalsAccepted));
    if (!r.complete()) {
        print(c.err, QStringLiteral("Some changes stay pending until the next sync"));
        return Failure;
    }
    return Success;
}

int cmdShare(const Context& c, const QStringList& args) {
    QString dir, name, password;
    QStringList extensions;
    bool subfolders = true;
    bool yes = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == u"--name" && hasValue) {
            name = catalogPath(args[++i]);
        } else if (a == u"--ext" && hasValue) {
            extensions = TLocalMRTree::parseExtensions(args[++i]);
        } else if (a == u"--password" && hasValue) {
            password = args[++i];
        } else if (a == u"--no-subfolders") {
            subfolders = false;
        } else if (a == u"--yes") {
            yes = true;
        } else if (dir.isEmpty() && !a.startsWith(u"--")) {
            dir = a;
        } else {
            return usageError(c, QStringLiteral("share takes LOCALDIR [--name VPATH] [--ext "
                                                "LIST] [--no-subfolders] [--password P] [--yes]"));
        }
    }
    if (dir.isEmpty()) {
        return usageError(c, QStringLiteral("share takes the LOCALDIR to share"));
    }
    auto node = TActualFileNode::fromPath(dir);
    if (!node || !node->isFolder()) {
        print(c.err, QStringLiteral("Not a folder: ") + dir);
        return Failure;
    }
    const CatalogAccess catalog = openCatalog(c, true);
    if (!catalog) {
        return Failure;
    }
    if (name.isEmpty()) {
        name = u'/' + node->item()->Name;
    }
    TLocalMRTree tree(nullptr, nullptr);
    if (const QString problem = tree.shareNameProblem(name); !problem.isEmpty()) {
        print(c.err, problem);
        return Failure;
    }
    const int count = node->count(subfolders);
    if (count > kShareConfirmLimit && !yes) {
        print(c.out, shareConfirmationText(count));
        print(c.err, QStringLiteral("Not shared; run again with --yes to go ahead."));
        return Failure;
    }
    const TShareOutcome outcome =
        tree.ShareFolder(node.get(), name, subfolders, extensions, password);
    switch (outcome.kind) {
        case TShareOutcome::Kind::AlreadyShared:
            print(c.out, QStringLiteral("Already shared: ") + node->localPath());
            return Success;
        case TShareOutcome::Kind::NoSuchFolder:
            print(c.err, QStringLiteral("No such folder in the catalog: ") + name);
            return Failure;
        case TShareOutcome::Kind::Shared:
        case TShareOutcome::Kind::Cancelled:
            break;
        case TShareOutcome::Kind::Failed:
            print(c.err, QStringLiteral("Sharing failed; the catalog is unchanged"));
            return Failure;
    }
    print(c.out, QStringLiteral("Shared %1 as %2 (%3 entries)")
                     .arg(node->localPath(), outcome.name)
                     .arg(outcome.rows));
    return syncCatalog(c);
}

int cmdUnshare(const Context& c, const QStringList& args) {
    if (args.size() != 1) {
        return usageError(c, QStringLiteral("unshare takes the VPATH to remove"));
    }
    const CatalogAccess catalog = openCatalog(c, true);
    if (!catalog) {
        return Failure;
    }
    const QString path = catalogPath(args.first());
    TLocalMRTree tree(nullptr, nullptr);
    const auto item = tree.ItemAt(path);
    if (!item || tree.RemoveShare(*item) != TRemoveOutcome::Removed) {
        print(c.err, QStringLiteral("Not in the catalog: ") + path);
        return Failure;
    }
    print(c.out, QStringLiteral("Removed ") + path);
    return syncCatalog(c);
}

// One catalog row a line: flag ("-" when published), size ("Dir" for folders), path.
QString rowLine(const db::Cursor& row, const QString& path) {
    const QString action = row.asString(u"Action");
    return (action.isEmpty() ? QStringLiteral("-") : action) + u' ' +
           (row.asInteger(u"Attributes") == 1 ? QStringLiteral("Dir")
                                              : QString::number(row.asInteger(u"FileSize"))) +
           u' ' + path;
}

void listRows(const Context& c, int parentId, const QString& folderPath) {
    struct Row {
        int id;
        bool folder;
        QString line;
        QString path;
    };
    std::vector<Row> found;
    {
        db::Cursor rows(QString::fromLatin1(db::kDatabaseName), QStringLiteral("files"));
        rows.setFilter(db::childrenOf(parentId));
        for (; !rows.eof(); rows.next()) {
            if (!rows.asString(u"Username").isEmpty()) {
                continue;
            }
            const QString path = withTrailingSlash(folderPath) + rows.asString(u"Name");
            found.push_back({static_cast<int>(rows.asInteger(u"id")),
                             rows.asInteger(u"Attributes") == 1, rowLine(rows, path), path});
        }
    }
    for (const Row& r : found) {
        print(c.out, r.line);
        if (r.folder) {
            listRows(c, r.id, r.path);
        }
    }
}

int cmdList(const Context& c, const QStringList& args) {
    if (args.size() > 1) {
        return usageError(c, QStringLiteral("list takes at most one VPATH"));
    }
    const CatalogAccess catalog = openCatalog(c, false);
    if (!catalog) {
        return Failure;
    }
    const QString path = catalogPath(args.value(0, QStringLiteral("/")));
    TLocalMRTree tree(nullptr, nullptr);
    const int id = tree.IdOf(path);
    if (id == -999) {
        print(c.err, QStringLiteral("Not in the catalog: ") + path);
        return Failure;
    }
    const QString entryPath = tree.PathOf(id);
    if (id != -1) {
        db::Cursor row(QString::fromLatin1(db::kDatabaseName), QStringLiteral("files"));
        row.setFilter(db::rowById(id));
        print(c.out, rowLine(row, entryPath));
    }
    listRows(c, id, entryPath);
    return Success;
}

int cmdSync(const Context& c, const QStringList& args) {
    if (!args.isEmpty()) {
        return usageError(c, QStringLiteral("sync takes no arguments"));
    }
    const CatalogAccess catalog = openCatalog(c, true);
    if (!catalog) {
        return Failure;
    }
    return syncCatalog(c);
}

int cmdBrowse(const Context& c, const QStringList& args) {
    bool ok = false;
    const qint32 userId = !args.isEmpty() ? args.first().trimmed().toInt(&ok) : 0;
    if (!ok || args.size() > 2) {
        return usageError(c, QStringLiteral("browse takes a numeric USERID and a VPATH"));
    }
    const QString path = catalogPath(args.value(1, QStringLiteral("/")));
    setActiveProfile(c.profileDir);
    THeadlessSession session;
    if (!session.signOn(kInfoPort, kFileServerPort)) {
        print(c.err, QStringLiteral("You must connect first"));
        return Failure;
    }
    TLogicalTree logical;
    TRemoteMRTree tree(nullptr, &session.agent(), QString(), userId, &logical);
    logical.setGetItems([&tree](TFileNode* node) { tree.NodeGetItems(node); });
    logical.Initialize();
    TFileNode* folder = tree.WaitForFolder(path, THeadlessSession::kDefaultStepTimeoutMs);
    if (!folder) {
        session.signOff();
        print(c.err, QStringLiteral("No such folder: ") + path);
        return Failure;
    }
    for (const auto& node : folder->Children()) {
        const TFileItem* item = node->item();
        const QString size = item->size < 0 ? QStringLiteral("Dir") : QString::number(item->size);
        const QString date =
            item->date > 0
                ? fromDateTime(item->date).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                : QStringLiteral("-");
        print(c.out, size + u' ' + date + u' ' + item->Name);
    }
    session.signOff();
    return Success;
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
        "  share LOCALDIR [--name VPATH] [--ext mp3,ogg] [--no-subfolders] [--password P]\n"
        "        [--yes]           add a folder to the catalog (asking first above 1000\n"
        "                          items unless --yes), then sync when the service answers\n"
        "  unshare VPATH           remove an entry from the catalog, then sync\n"
        "  list [VPATH]            the catalog below VPATH: flag (A added, D removed, -\n"
        "                          published), size or Dir, virtual path; one a line\n"
        "  sync                    sign on, send the catalog's pending changes, print how\n"
        "                          many additions and removals were accepted, sign off\n"
        "  browse USERID [VPATH]   a user's published folder: size or Dir, date, name\n"
        "  serve                   stay online: serve uploads, receive pushed files, answer\n"
        "                          pings; one line per transfer change and per message;\n"
        "                          sign off on Ctrl+C or SIGTERM\n"
        "  get USERID VPATH [--password P]\n"
        "                          download a file of that user into UserInfo/DownloadPath\n"
        "                          (set to the Downloads folder's Moonrake when empty),\n"
        "                          printing each status; 0 when completed, 1 on an error\n"
        "  ping USERID             the time the user's client takes to answer, in seconds, or\n"
        "                          \"Time Out\", \"Can't Connect\", \"Bad Answer!\"\n"
        "  ban NICK, unban NICK    stop or allow a user's transfers with this computer\n"
        "  banned                  the banned users, one a line\n"
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
        // "get GROUP/NAME" reads a setting; "get USERID VPATH" downloads.
        if (command == QLatin1String("get") && rest.size() <= 1) {
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
        if (command == QLatin1String("share")) {
            return cmdShare(c, rest);
        }
        if (command == QLatin1String("unshare")) {
            return cmdUnshare(c, rest);
        }
        if (command == QLatin1String("list")) {
            return cmdList(c, rest);
        }
        if (command == QLatin1String("sync")) {
            return cmdSync(c, rest);
        }
        if (command == QLatin1String("browse")) {
            return cmdBrowse(c, rest);
        }
        if (const auto transfer = runTransferCommand(c, command, rest)) {
            return *transfer;
        }
    } catch (const std::exception& e) {
        print(c.err, QStringLiteral("moonrake-cli: ") + QString::fromUtf8(e.what()));
        return Failure;
    }
    return usageError(c, QStringLiteral("unknown command: ") + command);
}

}  // namespace mr::cli
