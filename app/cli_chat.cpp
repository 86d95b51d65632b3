// Peer-to-peer chat: asking a member for one, and answering the requests `serve` receives.

#include "cli_commands.h"

#include "core/fields.h"
#include "core/profile.h"
#include "core/terminationsignals.h"
#include "core/userinfo.h"
#include "messaging/infosocket.h"
#include "messaging/ptpchat.h"
#include "service/agent.h"
#include "service/headlesssession.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

namespace mr::cli {

namespace {

// Once standard input has ended, a chat ends after the peer has been quiet this long.
constexpr int kQuietEndMs = 2000;
// Requests `serve` accepts while this many chats are open are declined.
constexpr int kMaxServedChats = 16;
// A chat whose peer has not connected this long after the acceptance is given up.
constexpr int kServedConnectTimeoutMs = 60000;

void say(const Context& c, const QString& text) {
    print(c.out, text);
    std::fflush(c.out);
}

// Standard input as it arrives, without blocking the event loop.
class StdinReader : public QObject {
    Q_OBJECT
public:
    explicit StdinReader(QObject* parent = nullptr) : QObject(parent) {
        if (::fcntl(STDIN_FILENO, F_GETFD) == -1) {
            QMetaObject::invokeMethod(this, &StdinReader::ended, Qt::QueuedConnection);
            return;
        }
        m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &StdinReader::readSome);
    }

signals:
    void received(const QByteArray& bytes);
    void ended();

private:
    void readSome() {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n > 0) {
            emit received(QByteArray(buffer, static_cast<qsizetype>(n)));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            m_notifier->setEnabled(false);
            emit ended();
        }
    }

    QSocketNotifier* m_notifier = nullptr;
};

// Input lines end as Enter ends them in a chat window: with a carriage return. Byte 0 would
// start a colour change, so it is not sent.
class StreamInput {
public:
    QByteArray convert(const QByteArray& input) {
        QByteArray bytes;
        for (const char byte : input) {
            const bool afterCr = std::exchange(m_afterCr, byte == '\r');
            if (byte == '\0' || (byte == '\n' && afterCr)) {
                continue;
            }
            bytes += byte == '\n' ? kChatReturn : byte;
        }
        return bytes;
    }

private:
    bool m_afterCr = false;
};

// Sends typed bytes one write each, as keys are typed.
void sendEach(PtpChat& chat, const QByteArray& bytes) {
    for (const char byte : bytes) {
        chat.send(QByteArray(1, byte));
    }
}

// Prints what a peer types line by line, each line once it has ended (and the last one when
// the chat ends): its text escaped as on every other output line, a colour change as \c{N}.
class LinePrinter {
public:
    LinePrinter(const Context& c, QString prefix) : m_context(c), m_prefix(std::move(prefix)) {}

    void printFinished(ChatPane& pane) {
        for (const ChatLine& line : pane.takeFinishedLines()) {
            printLine(line);
        }
    }
    void printRest(ChatPane& pane) {
        printFinished(pane);
        if (!pane.lines().first().isEmpty()) {
            printLine(pane.lines().first());
        }
        pane.clear();
    }

private:
    void printLine(const ChatLine& line) {
        QString text = m_prefix;
        for (const ChatRun& run : line) {
            if (run.color != m_color) {
                m_color = run.color;
                text += QStringLiteral("\\c{%1}").arg(run.color);
            }
            // Bytes are shown as UTF-8 where they are, else one character each.
            text += escapedLine(TextFromPeer(run.text.toLatin1()));
        }
        say(m_context, text);
    }

    const Context& m_context;
    QString m_prefix;
    int m_color = kChatDefaultColor;
};

QString nicknameField(const QString& nickname) {
    QString nick = escapedLine(nickname);
    nick.replace(QLatin1Char(' '), QStringLiteral("\\x20"));
    return nick;
}

int cmdChat(const Context& c, const QStringList& args) {
    bool ok = false;
    const qint32 userId =
        !args.isEmpty() && args.size() <= 2 ? args.first().trimmed().toInt(&ok) : 0;
    if (!ok) {
        return usageError(c, QStringLiteral("chat takes a numeric USERID and an optional REASON"));
    }
    const QString reason = args.value(1);
    TerminationSignals termination;

    ServiceClient service(c);
    say(c, QString::fromLatin1(kChatConnectingText));
    if (!service.start()) {
        say(c, QString::fromLatin1(kChatErrorText));
        return Failure;
    }
    ChatRequest request(service.headless().agent().locator());
    QEventLoop loop;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &loop,
                     [&loop] { loop.exit(Failure); });
    std::optional<ChatRequest::Outcome> outcome;
    QObject::connect(&request, &ChatRequest::stateChanged, &loop, [&](const QString& text) {
        // Signing on already said it.
        if (text != QLatin1String(kChatConnectingText)) {
            say(c, text);
        }
    });
    QObject::connect(&request, &ChatRequest::finished, &loop, [&](ChatRequest::Outcome result) {
        outcome = result;
        loop.exit(Success);
    });
    request.request(userId, UserInfo().nickname(), reason);
    if (loop.exec() != Success || !outcome) {
        return Failure;
    }
    if (*outcome != ChatRequest::Outcome::Accepted) {
        const QString text = ChatRequest::outcomeText(*outcome);
        say(c, text.isEmpty() ? QStringLiteral("The chat request got no answer.") : text);
        return Failure;
    }

    PtpChat chat;
    chat.setConnectTimeout(ChatRequest::kDefaultConnectTimeoutMs);
    LinePrinter printer(c, {});
    StreamInput input;
    bool inputEnded = false;
    bool wasConnected = false;
    QTimer quiet;
    quiet.setSingleShot(true);
    quiet.setInterval(kQuietEndMs);
    QObject::connect(&quiet, &QTimer::timeout, &loop, [&] {
        printer.printRest(chat.remote());
        chat.disconnect(&loop);
        chat.close();
        loop.exit(Success);
    });
    QObject::connect(&chat, &PtpChat::connected, &loop, [&] {
        wasConnected = true;
        // Typing starts once there is someone to type to.
        auto* stdinReader = new StdinReader(&chat);
        QObject::connect(stdinReader, &StdinReader::received, &loop,
                         [&](const QByteArray& bytes) { sendEach(chat, input.convert(bytes)); });
        QObject::connect(stdinReader, &StdinReader::ended, &loop, [&] {
            inputEnded = true;
            quiet.start();
        });
    });
    QObject::connect(&chat, &PtpChat::received, &loop, [&] {
        printer.printFinished(chat.remote());
        if (inputEnded) {
            quiet.start();
        }
    });
    QObject::connect(&chat, &PtpChat::disconnected, &loop, [&] {
        printer.printRest(chat.remote());
        say(c, QString::fromLatin1(kChatDisconnectedText));
        loop.exit(wasConnected ? Success : Failure);
    });
    chat.connectTo(request.address(), request.port());
    return loop.exec();
}

// What `serve` does with the chat requests its info socket receives.
class ChatServer : public QObject {
public:
    ChatServer(const Context& c, InfoSocket& info, bool accept) : m_context(c), m_accept(accept) {
        connect(&info, &InfoSocket::chatRequested, this, &ChatServer::requested);
        if (accept) {
            // What is typed here goes to every peer connected.
            auto* stdinReader = new StdinReader(this);
            connect(stdinReader, &StdinReader::received, this, [this](const QByteArray& bytes) {
                const QByteArray stream = m_input.convert(bytes);
                for (PtpChat* chat : findChildren<PtpChat*>()) {
                    sendEach(*chat, stream);
                }
            });
        }
    }

private:
    void requested(QTcpSocket* connection, const QString& nickname, const QString& reason) {
        ChatInvitation invitation(connection, nickname, reason);
        const QString who = nicknameField(nickname);
        const QString why = escapedLine(reason);
        if (!m_accept || findChildren<PtpChat*>().size() >= kMaxServedChats) {
            invitation.reject();
            say(m_context, QStringLiteral("Declined chat request from %1: %2").arg(who, why));
            return;
        }
        auto* chat = new PtpChat(this);
        chat->setConnectTimeout(kServedConnectTimeoutMs);
        const quint16 port = chat->listen(invitation.peerAddress());
        if (port == 0 || !invitation.accept(port)) {
            delete chat;
            return;
        }
        say(m_context, QStringLiteral("Accepted chat request from %1: %2").arg(who, why));
        auto printer = std::make_shared<LinePrinter>(m_context, who + QStringLiteral(": "));
        connect(chat, &PtpChat::connected, this,
                [this, who] { say(m_context, QStringLiteral("Chatting with ") + who); });
        connect(chat, &PtpChat::received, this,
                [chat, printer] { printer->printFinished(chat->remote()); });
        connect(chat, &PtpChat::disconnected, this, [this, chat, printer, who] {
            printer->printRest(chat->remote());
            say(m_context, QStringLiteral("Chatting with %1:%2")
                               .arg(who, QString::fromLatin1(kChatDisconnectedText)));
            chat->deleteLater();
        });
    }

    const Context& m_context;
    bool m_accept;
    StreamInput m_input;
};

}  // namespace

std::unique_ptr<QObject> serveChats(const Context& c, InfoSocket& info, bool accept) {
    return std::make_unique<ChatServer>(c, info, accept);
}

std::optional<int> runChatCommand(const Context& c, const QString& command,
                                  const QStringList& args) {
    static constexpr Command kCommands[] = {
        {"chat", cmdChat},
    };
    return runFrom(kCommands, c, command, args);
}

}  // namespace mr::cli

#include "cli_chat.moc"
