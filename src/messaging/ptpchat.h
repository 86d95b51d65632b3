#pragma once

#include "service/userlocation.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTime>
#include <QTimer>

#include <array>

class QTcpServer;
class QTcpSocket;

namespace mr {

// The texts a chat request and a chat window show, as they are.
inline constexpr char kChatConnectingText[] = "Connecting...";
inline constexpr char kChatAskingText[] = "Asking for approval";
inline constexpr char kChatDeclinedText[] = "Your chat request has been declined.";
inline constexpr char kChatOfflineText[] = "Unable to request chat, user might be offline.";
inline constexpr char kChatErrorText[] = "Error occured";
inline constexpr char kChatBadPortText[] = "The chat request was answered with no usable port.";
inline constexpr char kChatDisconnectedText[] = "   Disconnected";
inline constexpr char kChatTypeText[] = "Private";

// The invitee's answers on the info connection.
inline constexpr char kChatAccept[] = "YES";
inline constexpr char kChatDecline[] = "NO";

// "YES <port>", the port in decimal.
QByteArray BuildChatAcceptText(quint16 port);

struct ChatAnswer {
    enum Kind {
        Accepted,  // "YES" and a port in 1-65535
        Declined,  // exactly "NO"
        BadPort,   // "YES" and anything that is not such a port
        Other,     // anything else, nothing at all included
    };
    Kind kind = Other;
    quint16 port = 0;
};
// Reads what the invitee answered: "NO", or "YES" with the port in the following characters
// (at most ten, blanks around it allowed).
ChatAnswer ParseChatAnswer(const QByteArray& answer);

// The chat byte stream: an ordinary byte is a typed character (Latin-1); these are not.
inline constexpr char kChatColorChange = 0;  // followed by a colour index
inline constexpr char kChatBackspace = 8;
inline constexpr char kChatReturn = 13;

// The colour table both sides index, as 0xRRGGBB: the 16 standard colours of a basic palette.
inline constexpr int kChatColorCount = 16;
inline constexpr std::array<quint32, kChatColorCount> kChatColors = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0x808080,
    0xC0C0C0, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
inline constexpr std::array<const char*, kChatColorCount> kChatColorNames = {
    "Black",  "Maroon", "Green", "Olive",  "Navy", "Purple",  "Teal", "Gray",
    "Silver", "Red",    "Lime",  "Yellow", "Blue", "Fuchsia", "Aqua", "White"};
// What text shows in before anyone picks a colour: the panes are black.
inline constexpr int kChatDefaultColor = 15;

// The bytes of text typed on the keyboard: backspace as 8, a line break (CR or LF) as 13, tab
// and printable Latin-1 characters as themselves, anything else as "?"; other control
// characters are not sent.
QByteArray EncodeChatKeys(const QString& typed);
// A colour change: byte 0 and the index, to go out in one write.
QByteArray EncodeChatColor(int index);

// A run of text in one colour.
struct ChatRun {
    int color = kChatDefaultColor;
    QString text;
    bool operator==(const ChatRun&) const = default;
};
using ChatLine = QList<ChatRun>;

// One change the stream makes to a pane, for a view to replay.
struct ChatEdit {
    enum Kind { Append, Backspace, NewLine };
    Kind kind = Append;
    QChar ch;  // Append only
    int color = kChatDefaultColor;
};

// A pane that shows what the peer types: lines of coloured runs. A colour change may arrive
// split from its index; an index outside the table is ignored. A backspace at the start of a
// line joins it to the one before; with nothing left it does nothing. CR, LF and CR LF each
// end a line. What a peer may make it hold is bounded: a line takes kMaxLineChars characters
// (more are dropped), and past kMaxHeldChars characters or kMaxLines lines the oldest finished
// lines go.
class ChatPane {
public:
    static constexpr qsizetype kMaxLineChars = 4096;
    static constexpr qsizetype kMaxHeldChars = 64 * 1024;
    static constexpr qsizetype kMaxLines = 4096;

    QList<ChatEdit> apply(const QByteArray& bytes);
    const QList<ChatLine>& lines() const { return m_lines; }
    // The plain text, lines joined by "\n".
    QString text() const;
    int color() const { return m_color; }
    // Empties the pane; the current colour stays.
    void clear();
    // Takes the lines a break has ended, leaving only the current one: a view that prints
    // whole lines shows the stream line-wise.
    QList<ChatLine> takeFinishedLines();

private:
    QList<ChatLine> m_lines{ChatLine{}};
    int m_color = kChatDefaultColor;
    void dropOldLines();

    bool m_colorPending = false;
    bool m_afterReturn = false;  // the last byte was a CR
    qsizetype m_lineChars = 0;   // in the last line
    qsizetype m_heldChars = 0;   // in all lines
};

// One chat connection, either end. The invitee listens on a port the system chooses and takes
// the first connection from the requester's address, refusing anyone else; the requester
// connects to the port the invitee answered. Whichever connection is made carries the byte
// stream both ways, and what arrives is applied to remote().
class PtpChat : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Listening, Connecting, Connected, Disconnected };

    // What is read from the peer at most at a time.
    static constexpr qint64 kReadBufferBytes = 64 * 1024;

    explicit PtpChat(QObject* parent = nullptr);
    ~PtpChat() override;

    // Listens for the one peer at `peer`; the port, 0 when nothing could listen.
    quint16 listen(const QHostAddress& peer);
    quint16 listeningPort() const;
    void connectTo(const QString& address, quint16 port);
    // Gives up when no peer connection exists this long after listening or connecting; 0,
    // the default, waits for as long as the chat lives.
    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }

    State state() const { return m_state; }
    bool isConnected() const { return m_state == State::Connected; }
    // Writes bytes of the stream; nothing without a peer connection (false).
    bool send(const QByteArray& bytes);
    // Ends the chat; the peer sees the connection close.
    void close();

    ChatPane& remote() { return m_remote; }

signals:
    void connected();
    // What the latest bytes changed in remote().
    void received(const QList<mr::ChatEdit>& edits);
    // The peer connection ended, or none could be made; emitted once.
    void disconnected();

private:
    void acceptConnections();
    void adopt(QTcpSocket* socket);
    void readPeer();
    void end();

    QTcpServer* m_server = nullptr;
    QTcpSocket* m_peer = nullptr;
    QHostAddress m_expected;
    QTimer m_connectTimer;
    int m_connectTimeoutMs = 0;
    State m_state = State::Idle;
    ChatPane m_remote;
};

// Asks a user for a chat: where he is, then "PTPCHAT" on his info socket, then his answer on
// the same connection. The answer is what arrives until he closes the connection, or what has
// arrived once it has been quiet a moment. finished() is emitted once, never from inside
// request().
class ChatRequest : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Accepted,  // address() and port() say where his chat window listens
        Declined,
        BadPort,   // "YES" with no usable port
        NoAnswer,  // anything else, or a connection closed without a word
        Offline,   // no address for him, or his info socket could not be reached
        Failed,    // the service could not be asked, or answered with a failure
    };
    static constexpr int kDefaultConnectTimeoutMs = 30000;
    static constexpr int kAnswerSettleMs = 500;
    static constexpr int kMaxAnswerSize = 64;

    explicit ChatRequest(UserLocator locate, QObject* parent = nullptr);
    ~ChatRequest() override;

    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }
    // The own nickname goes with the reason; a second call does nothing.
    void request(qint32 userId, const QString& nickname, const QString& reason);

    QString address() const { return m_address; }
    quint16 infoPort() const { return m_infoPort; }
    quint16 port() const { return m_port; }

    // The text of an outcome the request window shows or reports; empty for Accepted and
    // NoAnswer, which only close it.
    static QString outcomeText(Outcome outcome);

signals:
    // "Connecting...", then "Asking for approval".
    void stateChanged(const QString& text);
    void finished(mr::ChatRequest::Outcome outcome);

private:
    void located(const std::optional<UserLocation>& location);
    void answered();
    void finish(Outcome outcome);

    UserLocator m_locate;
    QString m_line;
    QString m_address;
    quint16 m_infoPort = 0;
    quint16 m_port = 0;
    QTcpSocket* m_socket = nullptr;
    QByteArray m_answer;
    QTimer m_timer;
    int m_connectTimeoutMs = kDefaultConnectTimeoutMs;
    bool m_started = false;
    bool m_asking = false;
    bool m_done = false;
};

// A chat request that arrived on the info socket, holding its connection for the answer.
// Whatever more the requester sends is read and dropped. Destroying it closes the connection;
// an answer already written still goes out.
class ChatInvitation : public QObject {
    Q_OBJECT
public:
    // More invitations than this waiting at once are answered "NO" by whoever receives them.
    static constexpr int kMaxOpen = 16;

    // Takes the connection over.
    ChatInvitation(QTcpSocket* connection, const QString& nickname, const QString& reason,
                   QObject* parent = nullptr);
    ~ChatInvitation() override;

    QString nickname() const { return m_nickname; }
    QString reason() const { return m_reason; }
    QTime arrived() const { return m_arrived; }
    // The requester, as his info connection came from; his chat connection must come from
    // there too.
    QHostAddress peerAddress() const { return m_peerAddress; }
    bool isOpen() const;

    // "YES <port>", then the connection closes; false when it was already gone.
    bool accept(quint16 port);
    // "NO", then the connection closes; false when it was already gone.
    bool reject();
    void close();

    // Invitations currently holding a connection.
    static int openCount();

private:
    bool answer(const QByteArray& text);

    QTcpSocket* m_connection;
    QString m_nickname;
    QString m_reason;
    QTime m_arrived;
    QHostAddress m_peerAddress;
};

}  // namespace mr
