#pragma once

#include "service/userlocation.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

#include "messaging/infosocket.h"

class QTcpSocket;

namespace mr {

// The composer's two ways of failing, shown as they are.
inline constexpr char kMessageOfflineText[] = "Unable to send message, user might be offline.";
inline constexpr char kMessageFailedText[] = "Error has occured";
inline constexpr char kMessageTooLongText[] =
    "The message is too long to send: a receiver takes at most 64 KB.";

// The text a composer's body travels as: its lines, each followed by CR LF; an empty body has
// no line.
QString MessageBodyFromText(const QString& plainText);
// A received text's lines as a memo shows them: broken at CR LF, CR or LF, without the empty
// line after a final break.
QStringList MessageLines(const QString& text);
// The quoting composer's body: "NICK wrote:", then each line of the text with ">" in front.
QString QuotedMessage(const QString& nickname, const QString& text);

// What sending needs from the running program: where to ask for the addressee, and the own
// info port the "MSG" line announces (read when the line is written).
struct MessengerContext {
    UserLocator locate;
    std::function<quint16()> infoPort;
};

// Delivers one instant message: asks the service where the addressee is, connects to his info
// socket, writes the "MSG" line in one write and closes. The own user id and nickname are the
// profile's. finished() is emitted once, never from inside send().
class MessageSender : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Delivered,
        Offline,  // the service has no address for him, or his info socket could not be reached
        Failed,   // the service could not be asked, or answered with a failure
        TooLong,  // longer than kMaxMessageBytes: a receiver would drop it, so it is not sent
    };
    // The longest message line a receiver's info socket takes.
    static constexpr qint64 kMaxMessageBytes = InfoSocket::kDefaultMaxRequestSize;
    static constexpr int kDefaultConnectTimeoutMs = 30000;

    explicit MessageSender(MessengerContext context, QObject* parent = nullptr);
    ~MessageSender() override;

    // A connection to the info socket (and the write) that takes longer counts as offline.
    void setConnectTimeout(int ms) { m_timeoutMs = ms; }
    // body: the text as it travels (see MessageBodyFromText). A second call does nothing, unless
    // the first was too long.
    void send(qint32 userId, const QString& body);

signals:
    void finished(mr::MessageSender::Outcome outcome);

private:
    void located(const std::optional<UserLocation>& location);
    void connected();
    void finish(Outcome outcome);

    MessengerContext m_context;
    QByteArray m_line;
    QTcpSocket* m_socket = nullptr;
    QTimer m_timer;
    int m_timeoutMs = kDefaultConnectTimeoutMs;
    bool m_started = false;
    bool m_written = false;
    bool m_done = false;
};

}  // namespace mr
