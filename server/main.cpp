#include "chatserver.h"
#include "core/instanceguard.h"
#include "core/terminationsignals.h"
#include "core/version.h"
#include "epolldispatcher.h"
#include "presence.h"
#include "serviceserver.h"
#include "smtpsink.h"
#include "store.h"
#include "storeworkers.h"
#include "webserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>

namespace {

constexpr qint64 kMaxMotdBytes = 1024 * 1024;

int usageError(const QString& message) {
    std::fprintf(stderr, "moonrake-server: %s\nTry 'moonrake-server --help'.\n",
                 qPrintable(message));
    return 2;
}

int failure(const QString& message) {
    std::fprintf(stderr, "moonrake-server: %s\n", qPrintable(message));
    return 1;
}

std::optional<quint16> portValue(const QString& text) {
    bool ok = false;
    const uint v = text.toUInt(&ok);
    return ok && v <= 65535 ? std::optional<quint16>(static_cast<quint16>(v)) : std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    // Thousands of idle keep-alive connections: the default loop polls them all on every turn.
    QString dispatcherError;
    if (auto dispatcher = mr::server::EpollDispatcher::create(&dispatcherError)) {
        QCoreApplication::setEventDispatcher(dispatcher.release());
    } else {
        std::fprintf(stderr, "moonrake-server: %s; using the default event loop\n",
                     qPrintable(dispatcherError));
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("moonrake-server");

    QCommandLineParser parser;
    parser.setApplicationDescription("The Moonrake reference service.");
    const QCommandLineOption helpOption({"h", "help"}, "Show this help.");
    const QCommandLineOption dataOption("data", "Folder of the service's state (required).", "DIR");
    const QCommandLineOption listenOption("listen", "Address to listen on (127.0.0.1).", "ADDR",
                                          "127.0.0.1");
    const QCommandLineOption serviceOption("service-port", "Service port (0: any free one).", "N",
                                           "0");
    const QCommandLineOption webOption("web-port", "Web port (0: any free one).", "N", "0");
    const mr::server::ChatLimits chatLimits;
    const QCommandLineOption chatOption(
        "chat-port",
        QStringLiteral("Run the chat server on this port (0: any free one), with the groups and "
                       "channels of DIR/%1 (default: General, Music, Movies, Software). It admits "
                       "%2 connections, %3 channels, %4 members a channel, %5 channels a member, "
                       "lines of %6 bytes, and %7 lines a second from a connection after a burst "
                       "of %8.")
            .arg(QLatin1String(mr::server::kChatGroupsFile))
            .arg(chatLimits.connections)
            .arg(chatLimits.channels)
            .arg(chatLimits.membersPerChannel)
            .arg(chatLimits.channelsPerMember)
            .arg(chatLimits.lineLength)
            .arg(chatLimits.linesPerSecond)
            .arg(chatLimits.lineBurst),
        "N");
    const QCommandLineOption smtpOption(
        "smtp-port", "Run the feedback mail sink on this port (0: any free one).", "N");
    const QCommandLineOption versionOption("latest-version", "Newest program version announced.",
                                           "V", QString::fromLatin1(mr::kVersionNumber));
    const QCommandLineOption motdOption("motd", "File holding the message of the day.", "FILE");
    const QCommandLineOption publicHostOption(
        "public-host",
        "Host name or IPv4 address the message of the day announces (default: the listen "
        "address, or for a wildcard or IPv6 one the host each request came in on).",
        "NAME");
    parser.addOptions({helpOption, dataOption, listenOption, serviceOption, webOption, chatOption,
                       smtpOption, versionOption, motdOption, publicHostOption});

    if (!parser.parse(QCoreApplication::arguments())) {
        return usageError(parser.errorText());
    }
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return usageError("unexpected argument " + parser.positionalArguments().first());
    }
    if (!parser.isSet(dataOption) || parser.value(dataOption).isEmpty()) {
        return usageError("--data DIR is required");
    }
    const QHostAddress listenAddress(parser.value(listenOption));
    if (listenAddress.isNull()) {
        return usageError("--listen needs an IP address, not " + parser.value(listenOption));
    }
    const QString publicHost = parser.isSet(publicHostOption)
                                   ? parser.value(publicHostOption)
                                   : mr::server::announceableHost(listenAddress);
    if (parser.isSet(publicHostOption) && !mr::server::isAnnounceableHost(publicHost)) {
        return usageError("--public-host needs a host name or an IPv4 address, not " + publicHost);
    }
    const auto servicePort = portValue(parser.value(serviceOption));
    const auto webPort = portValue(parser.value(webOption));
    const auto smtpPort =
        parser.isSet(smtpOption) ? portValue(parser.value(smtpOption)) : std::optional<quint16>(0);
    const auto chatPort =
        parser.isSet(chatOption) ? portValue(parser.value(chatOption)) : std::optional<quint16>(0);
    if (!servicePort || !webPort || !smtpPort || !chatPort) {
        return usageError("a port is a number from 0 to 65535");
    }
    const QString version = parser.value(versionOption).trimmed();
    if (version.isEmpty() || version.contains(u'\n') || version.contains(u'\r')) {
        return usageError(QStringLiteral("--latest-version needs a version such as ") +
                          QLatin1String(mr::kVersionNumber));
    }

    QByteArray message = mr::server::kDefaultMotd;
    if (parser.isSet(motdOption)) {
        QFile file(parser.value(motdOption));
        if (!file.open(QIODevice::ReadOnly)) {
            return failure("cannot read " + file.fileName() + ": " + file.errorString());
        }
        message = file.read(kMaxMotdBytes);
    }

    const QString dataDir = parser.value(dataOption);
    if (!QDir().mkpath(dataDir)) {
        return failure("cannot create " + dataDir);
    }
    // One service per data folder: two would share the database but not the presence.
    mr::InstanceGuard lock(QDir(dataDir).filePath("moonrake-server.lock"));
    if (!lock.acquire()) {
        return failure(lock.heldByAnother() ? dataDir + " is in use by another moonrake-server"
                                            : "cannot write the lock file in " + dataDir);
    }

    mr::server::Store store;
    QString error;
    if (!store.open(dataDir, &error)) {
        return failure(error);
    }
    mr::server::Presence presence;
    // Searches and listings on readers beside one writer for catalog changes; SQLite's WAL
    // lets them run side by side, and the event loop stays free for presence.
    mr::server::StoreWorkers readers;
    mr::server::StoreWorkers writer;
    if (!readers.start(dataDir, mr::server::Store::Access::ReadOnly,
                       std::clamp(QThread::idealThreadCount(), 2, 4), &error) ||
        !writer.start(dataDir, mr::server::Store::Access::ReadWrite, 1, &error)) {
        return failure(error);
    }

    mr::TerminationSignals termination;
    if (!termination.installed()) {
        return failure("cannot install the signal handlers");
    }
    QObject::connect(&termination, &mr::TerminationSignals::terminationRequested, &app,
                     &QCoreApplication::quit);
    std::signal(SIGPIPE, SIG_IGN);
    // Every present member holds a connection: the ports' own caps bound descriptors, not the
    // system's default soft limit.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    mr::server::ServiceServer service(store, presence, {&readers, &writer});
    if (!service.listen(listenAddress, *servicePort)) {
        return failure("cannot listen for the service: " + service.errorString());
    }
    mr::server::WebServer web(store);
    if (!web.listen(listenAddress, *webPort)) {
        return failure("cannot listen for the web: " + web.errorString());
    }
    web.setPublicHost(publicHost);
    web.setServicePort(service.port());
    web.setLatestVersion(version);
    web.setMessage(message);

    std::optional<mr::server::ChatServer> chat;
    if (parser.isSet(chatOption)) {
        QList<mr::server::ChatGroupSpec> groups = mr::server::defaultChatGroups();
        QFile file(QDir(dataDir).filePath(mr::server::kChatGroupsFile));
        if (file.exists()) {
            if (!file.open(QIODevice::ReadOnly)) {
                return failure("cannot read " + file.fileName() + ": " + file.errorString());
            }
            const auto read = mr::server::parseChatGroups(file.read(1024 * 1024), &error);
            if (!read) {
                return failure(file.fileName() + ", " + error);
            }
            groups = *read;
        }
        chat.emplace(store, groups, chatLimits);
        if (!chat->listen(listenAddress, *chatPort)) {
            return failure("cannot listen for chat: " + chat->errorString());
        }
        web.setChatPort(chat->port());
    }

    // Received mail is kept as files under the data folder, one per message.
    mr::server::MailDrop mailDrop;
    std::optional<mr::server::SmtpSink> smtp;
    if (parser.isSet(smtpOption)) {
        if (!mailDrop.open(QDir(dataDir).filePath("mail"), &error)) {
            return failure(error);
        }
        smtp.emplace(mailDrop);
        if (!smtp->listen(listenAddress, *smtpPort)) {
            return failure("cannot listen for mail: " + smtp->errorString());
        }
    }

    QString ready = "service=" + mr::server::endpointText(listenAddress, service.port()) +
                    " web=" + mr::server::endpointText(listenAddress, web.port());
    if (chat) {
        ready += " chat=" + mr::server::endpointText(listenAddress, chat->port());
    }
    if (smtp) {
        ready += " smtp=" + mr::server::endpointText(listenAddress, smtp->port());
    }
    ready += "\n";
    std::fputs(qPrintable(ready), stdout);
    std::fflush(stdout);

    const int rc = QCoreApplication::exec();
    store.close();
    return rc;
}
