#include "service/wire.h"

#include "core/fields.h"

#include <algorithm>
#include <limits>

namespace mr::wire {

namespace {

void appendU16(QByteArray& out, std::uint16_t v) {
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>(v >> 8));
}

std::uint16_t readU16(const char* p) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(p[0]) |
                                      (static_cast<unsigned char>(p[1]) << 8));
}

}  // namespace

QByteArray requestBody(char code, std::uint16_t sequence, QByteArrayView payload) {
    QByteArray body;
    body.reserve(payload.size() + 3);
    body.append(code);
    appendU16(body, sequence);
    body.append(payload.data(), payload.size());
    return body;
}

std::optional<RequestBody> parseRequestBody(QByteArrayView body) {
    if (body.size() < 3) {
        return std::nullopt;
    }
    RequestBody r;
    r.code = body[0];
    r.sequence = readU16(body.data() + 1);
    r.payload = body.sliced(3).toByteArray();
    return r;
}

QByteArray frameRequest(QByteArrayView path, QByteArrayView body, bool keepAlive) {
    QByteArray out;
    out.reserve(path.size() + body.size() + 64);
    out.append("POST ");
    out.append(path.data(), path.size());
    out.append("\r\n");
    if (keepAlive) {
        out.append("Connection: Keep-Alive\r\n");
    }
    out.append("Content-Length: ");
    out.append(QByteArray::number(body.size()));
    out.append("\r\n\r\n");
    out.append(body.data(), body.size());
    return out;
}

QByteArray replyRecord(char kind, QByteArrayView payload, std::uint16_t spare) {
    Q_ASSERT(payload.size() <= kMaxRecordPayload);
    QByteArray out;
    out.reserve(payload.size() + kReplyHeaderSize);
    appendU16(out, static_cast<std::uint16_t>(payload.size() + 3));
    out.append(kind);
    appendU16(out, spare);
    out.append(payload.data(), payload.size());
    return out;
}

QByteArray dataRecords(char kind, QByteArrayView payload) {
    QByteArray out;
    qsizetype offset = 0;
    do {
        const qsizetype n = std::min<qsizetype>(kMaxRecordPayload, payload.size() - offset);
        out.append(replyRecord(kind, payload.sliced(offset, n)));
        offset += n;
    } while (offset < payload.size());
    return out;
}

QByteArray endRecord(char kind, bool keepAlive) {
    QByteArray out = replyRecord(kind);
    if (keepAlive) {
        out.append('\0');
    }
    return out;
}

std::optional<qint64> parseContentLength(QByteArrayView value) {
    // The strict number reader, less the sign it would take.
    if (value.size() > 18 || value.startsWith('-')) {
        return std::nullopt;
    }
    return ParseDecimal(value.toByteArray(), 0, std::numeric_limits<qint64>::max());
}

std::optional<ReplyHeader> parseReplyHeader(QByteArrayView header) {
    if (header.size() < kReplyHeaderSize) {
        return std::nullopt;
    }
    ReplyHeader h;
    h.length = readU16(header.data());
    h.kind = header[2];
    if (h.length < 3) {
        return std::nullopt;
    }
    return h;
}

ReplyReader::ReplyReader(bool multiRecord, bool keepAlive, qsizetype maxBytes)
    : m_multi(multiRecord), m_keepAlive(keepAlive), m_maxBytes(maxBytes) {}

qsizetype ReplyReader::bytesWanted() const {
    return m_state == State::Done || m_state == State::Broken ? 0 : m_remaining;
}

void ReplyReader::fail(const QString& why) {
    m_state = State::Broken;
    m_remaining = 0;
    m_error = why;
}

void ReplyReader::headerRead() {
    const auto header = parseReplyHeader(m_pending);
    m_pending.clear();
    if (!header) {
        fail(QStringLiteral("Failed to read header: record length below 3"));
        return;
    }
    m_kind = header->kind;
    const qsizetype payload = header->length - 3;
    if (m_kind == 'T' || m_kind == 'E') {
        // An end record carries nothing; should one carry bytes anyway, they are skipped so
        // that the stream stays in step.
        m_state = payload > 0 ? State::EndPayload : (m_keepAlive ? State::Dummy : State::Done);
        m_remaining = payload > 0 ? payload : (m_keepAlive ? 1 : 0);
        return;
    }
    if (m_data.size() + payload > m_maxBytes) {
        fail(QStringLiteral("Failed to read buffer: reply larger than %1 bytes").arg(m_maxBytes));
        return;
    }
    m_data.reserve(m_data.size() + payload);
    m_state = State::Payload;
    m_remaining = payload;
}

qsizetype ReplyReader::feed(QByteArrayView bytes) {
    qsizetype used = 0;
    while (m_state != State::Done && m_state != State::Broken) {
        const qsizetype take = std::min(m_remaining, bytes.size() - used);
        const QByteArrayView chunk = bytes.sliced(used, take);
        used += take;
        m_remaining -= take;
        switch (m_state) {
            case State::Header:
                m_pending.append(chunk.data(), chunk.size());
                if (m_remaining == 0) {
                    m_remaining = kReplyHeaderSize;
                    headerRead();
                    continue;
                }
                break;
            case State::Payload:
                m_data.append(chunk.data(), chunk.size());
                if (m_remaining == 0) {
                    if (m_multi) {
                        m_state = State::Header;
                        m_remaining = kReplyHeaderSize;
                    } else {
                        m_state = State::Done;
                    }
                    continue;
                }
                break;
            case State::EndPayload:
                if (m_remaining == 0) {
                    m_state = m_keepAlive ? State::Dummy : State::Done;
                    m_remaining = m_keepAlive ? 1 : 0;
                    continue;
                }
                break;
            case State::Dummy:
                if (m_remaining == 0) {
                    m_state = State::Done;
                    continue;
                }
                break;
            case State::Done:
            case State::Broken:
                break;
        }
        break;  // out of input
    }
    return used;
}

void RequestReader::reset() {
    *this = RequestReader();
}

void RequestReader::fail(const QString& why) {
    m_status = Status::Broken;
    m_error = why;
}

void RequestReader::headerLine(const QByteArray& line) {
    if (m_lines++ == 0) {
        const QByteArray path = line.mid(5).trimmed();
        if (!line.startsWith("POST ")) {
            fail(QStringLiteral("request line is not POST"));
        } else if (path.isEmpty()) {
            fail(QStringLiteral("request line without a path"));
        } else {
            m_path = path;
        }
        return;
    }
    if (line.isEmpty()) {
        if (m_contentLength < 0) {
            fail(QStringLiteral("no Content-Length"));
            return;
        }
        m_inBody = true;
        // Memory follows the bytes that really arrive, not what the header promises.
        m_body.reserve(std::min<qsizetype>(m_contentLength, 64 * 1024));
        if (m_contentLength == 0) {
            m_status = Status::Ready;
        }
        return;
    }
    if (m_lines > kMaxHeaderLines) {
        fail(QStringLiteral("too many header lines"));
        return;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) {
        fail(QStringLiteral("malformed header line"));
        return;
    }
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (name == "content-length") {
        const auto n = parseContentLength(value);
        if (!n || m_contentLength >= 0) {
            fail(QStringLiteral("bad Content-Length"));
            return;
        }
        if (*n > kMaxRequestBody) {
            fail(QStringLiteral("Content-Length above %1").arg(kMaxRequestBody));
            return;
        }
        m_contentLength = *n;
    } else if (name == "connection") {
        m_keepAlive = value.compare("keep-alive", Qt::CaseInsensitive) == 0;
    }
}

qsizetype RequestReader::feed(QByteArrayView bytes) {
    qsizetype used = 0;
    while (m_status == Status::NeedMore && used < bytes.size()) {
        if (m_inBody) {
            const qsizetype take = std::min(m_contentLength - m_body.size(), bytes.size() - used);
            m_body.append(bytes.data() + used, take);
            used += take;
            if (m_body.size() == m_contentLength) {
                m_status = Status::Ready;
            }
            continue;
        }
        const char c = bytes[used++];
        if (c == '\n') {
            if (m_line.endsWith('\r')) {
                m_line.chop(1);
            }
            const QByteArray line = m_line;
            m_line.clear();
            headerLine(line);
            continue;
        }
        if (m_line.size() >= kMaxHeaderLine) {
            fail(QStringLiteral("header line too long"));
            break;
        }
        m_line.append(c);
    }
    return used;
}

}  // namespace mr::wire
