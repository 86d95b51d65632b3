// Instant messages: sending one, and the line a received one is printed as.

#include "cli_commands.h"

#include "messaging/messenger.h"
#include "service/agent.h"
#include "service/headlesssession.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

namespace mr::cli {

QString receivedMessageLine(qint32 userId, const QString& nickname, const QString& text) {
    // The nickname ends at the first blank, the text at the end of the line.
    QString nick = escapedLine(nickname);
    nick.replace(QLatin1Char(' '), QStringLiteral("\\x20"));
    return QStringLiteral("Message from %1 (%2): %3")
        .arg(nick, QString::number(userId), escapedLine(text));
}

namespace {

int cmdMsg(const Context& c, const QStringList& args) {
    bool ok = false;
    const qint32 userId = args.size() == 2 ? args.first().trimmed().toInt(&ok) : 0;
    if (!ok) {
        return usageError(c, QStringLiteral("msg takes a numeric USERID and a TEXT"));
    }
    QString text = args.at(1);
    if (text == u"-") {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly)) {
            print(c.err, QStringLiteral("Cannot read standard input"));
            return Failure;
        }
        text = QString::fromUtf8(in.readAll());
        // The final line's break ends the input, not the message.
        if (text.endsWith(u'\n')) {
            text.chop(1);
        }
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));

    ServiceClient service(c);
    if (!service.start()) {
        print(c.out, QString::fromLatin1(kMessageFailedText));
        return Failure;
    }
    // This command listens on no info socket, so it announces none.
    MessageSender sender({service.headless().agent().locator(), [] { return kInfoPort; }});
    QEventLoop loop;
    MessageSender::Outcome outcome = MessageSender::Outcome::Failed;
    QObject::connect(&sender, &MessageSender::finished, &loop, [&](MessageSender::Outcome result) {
        outcome = result;
        loop.quit();
    });
    // The look-up has its own time-outs; this only keeps a lost answer from hanging the command.
    QTimer::singleShot(HeadlessSession::kDefaultStepTimeoutMs + sender.kDefaultConnectTimeoutMs,
                       &loop, &QEventLoop::quit);
    sender.send(userId, MessageBodyFromText(text));
    loop.exec();
    switch (outcome) {
        case MessageSender::Outcome::Delivered:
            return Success;
        case MessageSender::Outcome::Offline:
            print(c.out, QString::fromLatin1(kMessageOfflineText));
            return Failure;
        case MessageSender::Outcome::Failed:
            print(c.out, QString::fromLatin1(kMessageFailedText));
            return Failure;
        case MessageSender::Outcome::TooLong:
            print(c.err, QString::fromLatin1(kMessageTooLongText));
            return Failure;
    }
    return Failure;
}

}  // namespace

std::optional<int> runMessageCommand(const Context& c, const QString& command,
                                     const QStringList& args) {
    static constexpr Command kCommands[] = {
        {"msg", cmdMsg},
    };
    return runFrom(kCommands, c, command, args);
}

}  // namespace mr::cli
