#include "messaging/infoprotocol.h"

#include "core/fields.h"

#include <limits>
#include <optional>

namespace mr {

namespace {

// Ids and ports never need more than 11 characters; blanks, a plus sign, hex and overflow
// are all refused.
std::optional<qint64> parseDecimal(const QByteArray& field, qint64 min, qint64 max) {
    if (field.size() > 11) {
        return std::nullopt;
    }
    return ParseDecimal(field, min, max);
}

InfoRequest malformed(const QString& why) {
    InfoRequest request;
    request.kind = InfoKind::Malformed;
    request.error = why;
    return request;
}

}  // namespace

QString MessageBodyFromLines(const QStringList& lines) {
    QString body;
    for (const QString& line : lines) {
        body += line;
        body += QStringLiteral("\r\n");
    }
    return body;
}

QByteArray BuildMessageText(qint32 userId, const QString& nickname, quint16 port,
                            const QString& text) {
    // The nickname travels as it is: receivers read it as one field, and nicknames hold no
    // blank.
    return QByteArray(kInfoMessage) + ' ' + QByteArray::number(userId) + ' ' + nickname.toUtf8() +
           ' ' + QByteArray::number(port) + ' ' + EncodeField(text.toUtf8());
}

QByteArray BuildChatRequestText(const QString& nickname, const QString& text) {
    return QByteArray(kInfoChatRequest) + ' ' + nickname.toUtf8() + ' ' +
           EncodeField(text.toUtf8());
}

InfoRequest ParseInfoRequest(const QByteArray& data) {
    const QList<QByteArray> fields = SplitFields(data);
    InfoRequest request;
    if (fields.isEmpty()) {
        return request;
    }
    const QByteArray& kind = fields[0];
    if (kind == kInfoPing) {
        request.kind = InfoKind::Ping;
        return request;
    }
    if (kind == kInfoMessage) {
        if (fields.size() < 5) {
            return malformed(
                QStringLiteral("Message with %1 fields instead of 5").arg(fields.size()));
        }
        const auto id = parseDecimal(fields[1], std::numeric_limits<qint32>::min(),
                                     std::numeric_limits<qint32>::max());
        if (!id) {
            return malformed(QStringLiteral("Message with an invalid user ID"));
        }
        // Any 32-bit decimal is a port, kept in 16 bits: the reply never uses it, and a
        // message is not lost over a sender's odd port.
        const auto port = parseDecimal(fields[3], std::numeric_limits<qint32>::min(),
                                       std::numeric_limits<qint32>::max());
        if (!port) {
            return malformed(QStringLiteral("Message with an invalid port"));
        }
        request.kind = InfoKind::Message;
        request.userId = static_cast<qint32>(*id);
        request.nickname = TextFromPeer(fields[2]);
        request.port = static_cast<quint16>(*port);
        request.text = TextFromPeer(fields[4]);
        return request;
    }
    if (kind == kInfoChatRequest) {
        if (fields.size() < 3) {
            return malformed(
                QStringLiteral("Chat request with %1 fields instead of 3").arg(fields.size()));
        }
        request.kind = InfoKind::ChatRequest;
        request.nickname = TextFromPeer(fields[1]);
        request.text = TextFromPeer(fields[2]);
        return request;
    }
    return request;
}

}  // namespace mr
