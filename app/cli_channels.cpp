// Channel chat: the channel list, one line said in a channel, and listening to a channel.

#include "cli_commands.h"

#include "core/profile.h"
#include "core/terminationsignals.h"
#include "messaging/chatclient.h"
#include "service/motd.h"

#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace mr::cli {

namespace {

constexpr int kStepTimeoutMs = 15000;
constexpr int kCloseTimeoutMs = 3000;
constexpr int kMotdTimeoutMs = 5000;
constexpr char kUnableText[] = "Unable to connect to Chat";

// Runs the event loop until done() holds, the time is up or a termination signal arrives
// (then *stopped is set when given).
bool waitFor(const std::function<bool()>& done, int timeoutMs, bool* stopped = nullptr) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || (stopped && *stopped)) {
            loop.quit();
        }
    });
    poll.start(10);
    if (timeoutMs > 0) {
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    }
    if (!done()) {
        loop.exec();
    }
    return done();
}

// Refreshes the chat host list from the message of the day as signing on would, then tries
// each chat host in turn until one welcomes the client.
bool connectChat(const Context& c, TChatClient& client) {
    setActiveProfile(c.profileDir);
    MessageOfTheDay motd;
    motd.setLauncher({});
    motd.setTimeout(kMotdTimeoutMs);
    motd.fetchAndApply(HostInfo());

    const int hosts = HostInfo().count(HostStore::Chat);
    for (int i = 0; i < hosts; ++i) {
        bool failed = false;
        const auto a =
            QObject::connect(&client, &TChatClient::connectFailed, [&] { failed = true; });
        const auto b =
            QObject::connect(&client, &TChatClient::connectionLost, [&] { failed = true; });
        client.ConnectNext(HostInfo());
        waitFor([&] { return failed || client.connected(); }, kStepTimeoutMs);
        QObject::disconnect(a);
        QObject::disconnect(b);
        if (client.connected()) {
            return true;
        }
        client.Disconnect();
        waitFor([&] { return !client.isOpen(); }, kCloseTimeoutMs);
    }
    print(c.err, QString::fromLatin1(kUnableText));
    return false;
}

void disconnectChat(TChatClient& client) {
    client.Disconnect();
    waitFor([&] { return !client.isOpen(); }, kCloseTimeoutMs);
}

bool channelArgs(const QStringList& args, int count, QString* group, QString* channel) {
    if (args.size() != count || args.at(0).isEmpty() || args.at(1).isEmpty()) {
        return false;
    }
    *group = TChannelTree::groupName(args.at(0));
    *channel = args.at(1);
    return !group->isEmpty();
}

int cmdChannels(const Context& c, const QStringList& args) {
    if (!args.isEmpty()) {
        return usageError(c, QStringLiteral("channels takes no arguments"));
    }
    TChatClient client;
    bool complete = false;
    QObject::connect(&client, &TChatClient::listComplete, [&] { complete = true; });
    if (!connectChat(c, client)) {
        return Failure;
    }
    if (!waitFor([&] { return complete || !client.connected(); }, kStepTimeoutMs) ||
        !client.connected()) {
        print(c.err, QStringLiteral("The chat server did not list its channels"));
        disconnectChat(client);
        return Failure;
    }
    for (const auto& group : client.tree().root().children()) {
        print(c.out, escapedLine(group->name));
        for (const auto& channel : group->children()) {
            print(c.out, QStringLiteral("  ") + escapedLine(channel->name) + QLatin1Char('\t') +
                             QString::number(channel->userCount) + QLatin1Char('\t') +
                             escapedLine(channel->topic));
        }
    }
    disconnectChat(client);
    return Success;
}

int cmdSay(const Context& c, const QStringList& args) {
    QString group;
    QString channel;
    if (!channelArgs(args, 3, &group, &channel)) {
        return usageError(c, QStringLiteral("say takes @GROUP CHANNEL TEXT"));
    }
    const QString text = args.at(2);
    TChatClient client;
    if (!connectChat(c, client)) {
        return Failure;
    }
    bool joined = false;
    bool echoed = false;
    QObject::connect(&client, &TChatClient::memberJoined,
                     [&](const QString& g, const QString& ch, const QString&, bool own) {
                         joined = joined || (own && g == group && ch == channel);
                     });
    QObject::connect(
        &client, &TChatClient::messageReceived,
        [&](const QString& g, const QString& ch, const QString& nick, const QString& said) {
            echoed = echoed ||
                     (g == group && ch == channel && nick == client.nickname() && said == text);
        });
    client.JoinChannel(group, channel);
    if (waitFor([&] { return joined || !client.connected(); }, kStepTimeoutMs) &&
        client.connected()) {
        client.SendChannelMessage(group, channel, text);
        waitFor([&] { return echoed || !client.connected(); }, kStepTimeoutMs);
    }
    if (!echoed) {
        print(c.err, QStringLiteral("The line did not come back from @%1 %2").arg(group, channel));
    }
    client.LeaveChannel(group, channel);
    disconnectChat(client);
    return echoed ? Success : Failure;
}

int cmdListen(const Context& c, const QStringList& args) {
    QString group;
    QString channel;
    if (!channelArgs(args, 2, &group, &channel)) {
        return usageError(c, QStringLiteral("listen takes @GROUP CHANNEL"));
    }
    TerminationSignals termination;
    bool stopped = false;
    QObject::connect(&termination, &TerminationSignals::terminationRequested,
                     [&stopped] { stopped = true; });
    TChatClient client;
    if (!connectChat(c, client)) {
        return Failure;
    }
    const QString where = group + QLatin1Char('.') + channel;
    const auto here = [&](const QString& g, const QString& ch) {
        return g == group && ch == channel;
    };
    QObject::connect(
        &client, &TChatClient::messageReceived,
        [&](const QString& g, const QString& ch, const QString& nick, const QString& text) {
            if (here(g, ch)) {
                print(c.out, QLatin1Char('<') + escapedLine(nick) + QStringLiteral("> ") +
                                 escapedLine(text));
                std::fflush(c.out);
            }
        });
    QObject::connect(&client, &TChatClient::memberJoined,
                     [&](const QString& g, const QString& ch, const QString& nick, bool own) {
                         if (here(g, ch) && !own) {
                             print(c.out,
                                   escapedLine(nick) + QStringLiteral(" has joined ") + where);
                             std::fflush(c.out);
                         }
                     });
    QObject::connect(&client, &TChatClient::memberLeft,
                     [&](const QString& g, const QString& ch, const QString& nick, const QString&) {
                         if (here(g, ch)) {
                             print(c.out, escapedLine(nick) + QStringLiteral(" has left ") + where);
                             std::fflush(c.out);
                         }
                     });
    client.JoinChannel(group, channel);
    waitFor([&] { return !client.connected(); }, 0, &stopped);
    if (!stopped) {
        print(c.err, QStringLiteral("Disconnected from Chat"));
        return Failure;
    }
    client.LeaveChannel(group, channel);
    disconnectChat(client);
    return Success;
}

}  // namespace

std::optional<int> runChannelCommand(const Context& c, const QString& command,
                                     const QStringList& args) {
    static constexpr Command kCommands[] = {
        {"channels", cmdChannels},
        {"say", cmdSay},
        {"listen", cmdListen},
    };
    return runFrom(kCommands, c, command, args);
}

}  // namespace mr::cli
