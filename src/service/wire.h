#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>

namespace mr::wire {

// The service's two programs.
inline constexpr char kPingPath[] = "/mrPing/mrpingserver.dll";
inline constexpr char kSharePath[] = "/sharing/mrsharev1.dll";

inline constexpr int kReplyHeaderSize = 5;
inline constexpr int kMaxRecordPayload = 0xFFFF - 3;
// Limits against hostile peers: a reply, or a request body, may not grow beyond these.
inline constexpr qsizetype kMaxReplyBytes = 64 * 1024 * 1024;
inline constexpr qsizetype kMaxRequestBody = 16 * 1024 * 1024;
inline constexpr qsizetype kMaxHeaderLine = 8 * 1024;
inline constexpr int kMaxHeaderLines = 32;

// Request body: code byte, 16-bit little-endian sequence number, payload.
QByteArray requestBody(char code, std::uint16_t sequence, QByteArrayView payload);

struct RequestBody {
    char code = 0;
    std::uint16_t sequence = 0;
    QByteArray payload;
};
// Splits a body; nothing when it is shorter than its 3-byte head.
std::optional<RequestBody> parseRequestBody(QByteArrayView body);

// "POST " path CRLF, "Connection: Keep-Alive" CRLF on the keep-alive channel only,
// "Content-Length: " decimal CRLF CRLF, then the body.
QByteArray frameRequest(QByteArrayView path, QByteArrayView body, bool keepAlive);

// One reply record: 16-bit little-endian length (3 + payload), kind, two bytes not
// interpreted by readers, payload. The payload must fit one record.
QByteArray replyRecord(char kind, QByteArrayView payload = {}, std::uint16_t spare = 0);
// As many data records of the kind as the payload needs (at least one).
QByteArray dataRecords(char kind, QByteArrayView payload);
// The end of a reply, "T" or "E"; a keep-alive channel follows it with one more byte.
QByteArray endRecord(char kind, bool keepAlive);

// An HTTP Content-Length value: decimal digits only, no more than a qint64 surely holds (18);
// nothing for anything else.
std::optional<qint64> parseContentLength(QByteArrayView value);

struct ReplyHeader {
    std::uint16_t length = 0;
    char kind = 0;
};
// Nothing for a length below 3, which no record can have.
std::optional<ReplyHeader> parseReplyHeader(QByteArrayView header);

// Reads one reply from a stream of bytes: data records (all of them for a multi-record
// request, one otherwise) up to an end record, then the extra byte of the keep-alive channel.
class ReplyReader {
public:
    ReplyReader(bool multiRecord, bool keepAlive, qsizetype maxBytes = kMaxReplyBytes);

    // How many bytes the reader needs next; 0 once the reply is complete or broken.
    qsizetype bytesWanted() const;
    // Takes bytes up to the end of the reply and returns how many it took.
    qsizetype feed(QByteArrayView bytes);

    bool complete() const { return m_state == State::Done; }
    // The reply broke the framing; error() names the fault.
    bool broken() const { return m_state == State::Broken; }
    QString error() const { return m_error; }
    // An "E" end record closed the reply.
    bool errorEnd() const { return m_kind == 'E'; }
    char kind() const { return m_kind; }
    const QByteArray& data() const { return m_data; }

private:
    enum class State { Header, Payload, EndPayload, Dummy, Done, Broken };
    void fail(const QString& why);
    void headerRead();

    bool m_multi;
    bool m_keepAlive;
    qsizetype m_maxBytes;
    State m_state = State::Header;
    QByteArray m_pending;  // the part of the current header read so far
    qsizetype m_remaining = kReplyHeaderSize;
    char m_kind = 0;
    QByteArray m_data;
    QString m_error;
};

// Reads one framed request on the service's side.
class RequestReader {
public:
    enum class Status { NeedMore, Ready, Broken };

    // Takes bytes and returns how many it used; stops after one whole request.
    qsizetype feed(QByteArrayView bytes);
    Status status() const { return m_status; }
    QString error() const { return m_error; }

    QByteArray path() const { return m_path; }
    bool keepAlive() const { return m_keepAlive; }
    const QByteArray& body() const { return m_body; }

    // Ready for the next request on the same connection.
    void reset();

private:
    void fail(const QString& why);
    void headerLine(const QByteArray& line);

    Status m_status = Status::NeedMore;
    bool m_inBody = false;
    int m_lines = 0;
    QByteArray m_line;
    QByteArray m_path;
    bool m_keepAlive = false;
    qsizetype m_contentLength = -1;
    QByteArray m_body;
    QString m_error;
};

}  // namespace mr::wire
