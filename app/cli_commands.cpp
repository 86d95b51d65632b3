// What the command files share, the usage text and the dispatch.

#include "cli_commands.h"

#include "core/instanceguard.h"
#include "core/profile.h"
#include "core/terminationsignals.h"
#include "service/agent.h"
#include "service/headlesssession.h"
#include "service/idlequeue.h"
#include "service/session.h"
#include "transfer/datamodule.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <exception>
#include <memory>

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

QString catalogPath(const QString& text) {
    return text.startsWith(u'/') ? text : u'/' + text;
}

// Signs on through the same session logic as the desktop program, printing an update
// announcement instead of starting the update program; true when online.
bool signOn(const Context& c, OnlineSession& session, std::uint16_t infoPort,
            std::uint16_t fileServerPort, TerminationSignals* termination) {
    session.setPorts(infoPort, fileServerPort);
    session.motd().setLauncher({});
    QObject::connect(&session, &OnlineSession::updateAvailable,
                     [&c](const QString& text, const QString&) { print(c.out, text); });
    std::optional<bool> outcome;
    QEventLoop loop;
    QObject::connect(&session, &OnlineSession::connectFinished, &loop, [&](bool online) {
        outcome = online;
        loop.quit();
    });
    if (termination) {
        // The connection may still be waited for inside Connect(): cancelled, it returns.
        QObject::connect(termination, &TerminationSignals::terminationRequested, &loop, [&] {
            session.agent().connection().Cancel();
            outcome = false;
            loop.quit();
        });
    }
    session.Connect(ConnectOrigin::StartUp);
    if (!outcome && session.connecting()) {
        QTimer::singleShot(HeadlessSession::kDefaultStepTimeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return outcome.value_or(false);
}

std::optional<UserLocation> locateUser(const Context& c, qint32 userId) {
    setActiveProfile(c.profileDir);
    HeadlessSession headless;
    TIdleQueue idle;
    OnlineSession session(headless.agent(), idle);
    if (!signOn(c, session, kInfoPort, kFileServerPort)) {
        print(c.err, QString::fromLatin1(OnlineSession::kUnableText));
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

ServiceClient::ServiceClient(const Context& c)
    : m_context(c),
      m_headless(std::make_unique<HeadlessSession>()),
      m_idle(std::make_unique<TIdleQueue>()),
      m_session(std::make_unique<OnlineSession>(m_headless->agent(), *m_idle)) {}

ServiceClient::~ServiceClient() {
    m_session->SignOff();
}

bool ServiceClient::start() {
    setActiveProfile(m_context.profileDir);
    if (!signOn(m_context, *m_session, kInfoPort, kFileServerPort)) {
        print(m_context.err, QString::fromLatin1(OnlineSession::kUnableText));
        return false;
    }
    return true;
}

QString escapedLine(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        switch (ch.unicode()) {
            case u'\\':
                out += QStringLiteral("\\\\");
                break;
            case u'\t':
                out += QStringLiteral("\\t");
                break;
            case u'\r':
                out += QStringLiteral("\\r");
                break;
            case u'\n':
                out += QStringLiteral("\\n");
                break;
            default:
                if (ch.unicode() < 0x20 || ch.unicode() == 0x7f) {
                    out += QStringLiteral("\\x%1").arg(ch.unicode(), 2, 16, QLatin1Char('0'));
                } else if (ch.category() == QChar::Other_Control ||
                           ch.category() == QChar::Separator_Line ||
                           ch.category() == QChar::Separator_Paragraph) {
                    out += QStringLiteral("\\u%1").arg(ch.unicode(), 4, 16, QLatin1Char('0'));
                } else {
                    out += ch;
                }
        }
    }
    return out;
}

CatalogAccess openCatalog(const Context& c, TableUse use) {
    CatalogAccess access;
    QDir().mkpath(c.profileDir);
    setActiveProfile(c.profileDir);
    if (use != TableUse::Reading) {
        access.guard = std::make_unique<InstanceGuard>(Profile(c.profileDir).lockPath());
        if (!access.guard->acquire()) {
            print(c.err, access.guard->failureText());
            return {};
        }
    }
    auto data = std::make_unique<TMRDataModule>(c.profileDir);
    if (data->create(use == TableUse::Serving) == TMRDataModule::StartResult::DataFilesMissing) {
        print(c.err, QString::fromLatin1(kDataFilesMissingText));
        return {};
    }
    access.data = std::move(data);
    return access;
}

std::optional<int> runFrom(std::span<const Command> commands, const Context& c, const QString& name,
                           const QStringList& args) {
    for (const Command& command : commands) {
        if (name == QLatin1String(command.name)) {
            return command.run(c, args);
        }
    }
    return std::nullopt;
}

QString usage() {
    return QStringLiteral(
        "Usage: moonrake-cli [--profile DIR] COMMAND [ARGUMENTS]\n"
        "\n"
        "The profile is DIR, else $MOONRAKE_PROFILE, else the program's folder when a 'data'\n"
        "folder stands beside it, else $XDG_DATA_HOME/Moonrake (~/.local/share/Moonrake).\n"
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
        "                          pings; one line per transfer change and per message\n"
        "                          (\"Message from NICK (ID): TEXT\", line breaks, tabs and\n"
        "                          backslashes escaped as \\n \\r \\t \\\\), and when the\n"
        "                          service drops it and it signs on again (\"Disconnected\n"
        "                          from Moonrake!\", \"Connected!\");\n"
        "                          sign off on Ctrl+C or SIGTERM\n"
        "  serve --accept-chats    the same, accepting every chat request: what each peer\n"
        "                          types is printed as \"NICK: LINE\", what arrives on standard\n"
        "                          input goes to every peer connected (without the option\n"
        "                          requests are declined)\n"
        "  get USERID VPATH [--password P]\n"
        "                          download a file of that user into UserInfo/DownloadPath\n"
        "                          (set to the Downloads folder's Moonrake when empty),\n"
        "                          printing each status; 0 when completed, 1 on an error\n"
        "                          (a failed download stays queued for serve to retry)\n"
        "  queue                   the download queue: owner ID, nickname, path, status,\n"
        "                          bytes received and size, tab-separated, one item a line\n"
        "  ping USERID             the time the user's client takes to answer, in seconds, or\n"
        "                          \"Time Out\", \"Can't Connect\", \"Bad Answer!\"\n"
        "  ban NICK, unban NICK    stop or allow a user's transfers with this computer\n"
        "  banned                  the banned users, one a line\n"
        "  credits                 every user's credits: nick, status, files and bytes he\n"
        "                          gave (uploaded), files and bytes he took, tab-separated\n"
        "  search PATTERN [--type MP3|Pictures|Audio|Video|Apps|Archives|All] [--offline]\n"
        "        [--desc TEXT] [--min KB] [--max KB] [--filter EXTS] [--min-line NAME] [--ping]\n"
        "                          find published files (\"*\" is any text); one a line, by tabs:\n"
        "                          owner ID, nickname, Online or Offline, size (Dir or N KB),\n"
        "                          line, path, description (and the owner's ping); then the\n"
        "                          count or \"No items were found\"\n"
        "  users --nick P | --email P | --name FIRST LAST\n"
        "                          find members (\"*\" matches anything): ID, nickname, first\n"
        "                          name, last name, e-mail, Online or Offline; tab-separated\n"
        "  info USERID             a member's profile as \"Label: value\" lines\n"
        "  msg USERID TEXT         send an instant message (TEXT \"-\" reads standard input; a\n"
        "                          receiver takes 64 KB at most); 0 when delivered, else the\n"
        "                          reason and 1\n"
        "  chat USERID [REASON]    ask for a chat, printing the request's states; once accepted\n"
        "                          send standard input and print the peer's lines (a colour\n"
        "                          change as \\c{N}, N in 0-15); ends when the peer leaves or 2 s\n"
        "                          after standard input ends with the peer quiet\n"
        "  contacts                poll the contacts once: ID, nickname, Online or Offline;\n"
        "                          tab-separated; then \"Online Users: N\", \"Online Files: N\"\n"
        "  contacts add NICK, contacts remove NICK\n"
        "                          change the contact list through the service and print the\n"
        "                          outcome; 0 when added or removed, else 1\n"
        "  channels                the chat server's groups, each followed by its channels on\n"
        "                          indented lines: name, users, topic; tab-separated\n"
        "  say @GROUP CHANNEL TEXT enter the channel, say TEXT, leave once it came back; 0 then\n"
        "  listen @GROUP CHANNEL   enter the channel and print its lines as they come\n"
        "                          (\"<NICK> TEXT\", \"NICK has joined GROUP.CHANNEL\",\n"
        "                          \"NICK has left GROUP.CHANNEL\"); leave on Ctrl+C or SIGTERM\n"
        "                          The chat hosts are Host/Chat, refreshed from the message of\n"
        "                          the day; \"Unable to connect to Chat\" when none answers\n"
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
        // Accounts first: "get GROUP/NAME" reads a setting there, "get USERID VPATH" downloads.
        for (const auto& area : {runAccountCommand, runCatalogCommand, runTransferCommand,
                                 runSearchCommand, runPeopleCommand, runMessageCommand,
                                 runChatCommand, runContactsCommand, runChannelCommand}) {
            if (const auto rc = area(c, command, rest)) {
                return *rc;
            }
        }
    } catch (const std::exception& e) {
        print(c.err, QStringLiteral("moonrake-cli: ") + QString::fromUtf8(e.what()));
        return Failure;
    }
    return usageError(c, QStringLiteral("unknown command: ") + command);
}

}  // namespace mr::cli
