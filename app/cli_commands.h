#pragma once

#include "core/instanceguard.h"
#include "service/userlocation.h"
#include "transfer/datamodule.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>

namespace mr {
class HeadlessSession;
class InfoSocket;
class OnlineSession;
class TIdleQueue;
class TerminationSignals;
}  // namespace mr

namespace mr::cli {

// Exit codes of every command.
enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

struct Context {
    QString profileDir;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

// Runs one command line (the command and its arguments, options already taken out).
int run(const Context& context, const QStringList& args);

QString usage();

// Shared by the command files.

// Commands that only talk to the service run no peer sockets and announce none.
inline constexpr std::uint16_t kInfoPort = 0;
inline constexpr std::uint16_t kFileServerPort = 0;

void print(std::FILE* f, const QString& text);
int usageError(const Context& c, const QString& message);
// A virtual path argument, "/" put in front when it lacks one.
QString catalogPath(const QString& text);
// Signs on through the same session logic as the desktop program; true when online. A
// termination signal caught by `termination` meanwhile gives up at once.
bool signOn(const Context& c, OnlineSession& session, std::uint16_t infoPort,
            std::uint16_t fileServerPort, TerminationSignals* termination = nullptr);
// Signs on without peer sockets, asks where a user is and signs off; nothing after printing
// why when the service could not be asked.
std::optional<UserLocation> locateUser(const Context& c, qint32 userId);
// A session with the service for a command that only asks it, with no peer sockets: start()
// signs on (printing why when that fails), the destructor signs off.
class ServiceClient {
public:
    explicit ServiceClient(const Context& c);
    ~ServiceClient();
    ServiceClient(const ServiceClient&) = delete;
    ServiceClient& operator=(const ServiceClient&) = delete;

    bool start();
    HeadlessSession& headless() { return *m_headless; }

private:
    const Context& m_context;
    std::unique_ptr<HeadlessSession> m_headless;
    std::unique_ptr<TIdleQueue> m_idle;
    std::unique_ptr<OnlineSession> m_session;
};
// A text on one line of output, unambiguously: a backslash, tab, CR and LF are written as
// \\, \t, \r and \n, any other control character as \xHH, a line or paragraph separator as
// \uHHHH; everything else as it is.
QString escapedLine(const QString& text);
// How a command uses the profile's tables, opened as the data module does.
enum class TableUse {
    Reading,  // the tables alone
    Writing,  // under the profile's single-instance lock, held for as long as the command runs
    Serving,  // locked, with the data module's peer sockets listening
};
struct CatalogAccess {
    std::unique_ptr<InstanceGuard> guard;
    std::unique_ptr<TMRDataModule> data;
    explicit operator bool() const { return data != nullptr; }
};
// Empty after printing why when the tables cannot be opened or the lock is held.
CatalogAccess openCatalog(const Context& c, TableUse use);
// One command of an area: its name and what runs it.
struct Command {
    const char* name;
    int (*run)(const Context& c, const QStringList& args);
};
// Runs the command of that name from the list; nothing when the list has none.
std::optional<int> runFrom(std::span<const Command> commands, const Context& c, const QString& name,
                           const QStringList& args);

// The commands of one area (cli_account.cpp, cli_catalog.cpp, cli_transfers.cpp,
// cli_search.cpp, cli_people.cpp, cli_messages.cpp); nothing when the command is not one of them.
std::optional<int> runAccountCommand(const Context& c, const QString& command,
                                     const QStringList& args);
std::optional<int> runCatalogCommand(const Context& c, const QString& command,
                                     const QStringList& args);
std::optional<int> runTransferCommand(const Context& c, const QString& command,
                                      const QStringList& args);
std::optional<int> runSearchCommand(const Context& c, const QString& command,
                                    const QStringList& args);
std::optional<int> runPeopleCommand(const Context& c, const QString& command,
                                    const QStringList& args);
std::optional<int> runMessageCommand(const Context& c, const QString& command,
                                     const QStringList& args);
std::optional<int> runChatCommand(const Context& c, const QString& command,
                                  const QStringList& args);

// Answers the chat requests the info socket receives for as long as the returned object lives
// (cli_chat.cpp): declines them, or with accept takes each and prints what its peer types,
// sending standard input to every peer connected.
std::unique_ptr<QObject> serveChats(const Context& c, InfoSocket& info, bool accept);

// cli_channels.cpp
std::optional<int> runChannelCommand(const Context& c, const QString& command,
                                     const QStringList& args);

// cli_contacts.cpp
std::optional<int> runContactsCommand(const Context& c, const QString& command,
                                      const QStringList& args);

// A received message as `serve` prints it: "Message from NICK (ID): TEXT", the nickname and
// the text escaped as escapedLine() does, a blank in the nickname as \x20.
QString receivedMessageLine(qint32 userId, const QString& nickname, const QString& text);

}  // namespace mr::cli
