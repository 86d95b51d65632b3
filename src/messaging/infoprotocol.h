#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace mr {

// The fixed texts of the info socket.
inline constexpr char kInfoPing[] = "PING!";
inline constexpr char kInfoPong[] = "PONG!";
inline constexpr char kInfoMessage[] = "MSG";
inline constexpr char kInfoChatRequest[] = "PTPCHAT";

enum class InfoKind { Message, Ping, ChatRequest, Other, Malformed };

// One request received on the info socket. Which members are meaningful depends on kind:
// Message fills all of userId, nickname, port and text; ChatRequest fills nickname and text;
// Malformed fills error.
struct InfoRequest {
    InfoKind kind = InfoKind::Other;
    qint32 userId = 0;
    QString nickname;
    quint16 port = 0;
    QString text;
    QString error;
};

// The text a message body travels as: every line followed by CR LF.
QString MessageBodyFromLines(const QStringList& lines);

// "MSG <userId> <nickname> <port> <text>": user id and port in decimal, the nickname as it is,
// the text one encoded field.
QByteArray BuildMessageText(qint32 userId, const QString& nickname, quint16 port,
                            const QString& text);

// "PTPCHAT <nickname> <text>": the nickname as it is, the text one encoded field.
QByteArray BuildChatRequestText(const QString& nickname, const QString& text);

// Classifies everything one read brought. The first field decides, case-sensitively:
// "MSG" needs 5 fields (decimal 32-bit user id, decimal port 0-65535), "PTPCHAT" needs 3,
// "PING!" is a ping whatever follows; anything else is Other.
InfoRequest ParseInfoRequest(const QByteArray& data);

}  // namespace mr
