#include "httprequest.h"

#include <algorithm>

namespace mr::server {

namespace {

bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isTokenChar);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

void HttpRequestParser::fail(const QString& why) {
    m_status = Status::Broken;
    m_error = why;
}

qsizetype HttpRequestParser::feed(QByteArrayView bytes) {
    qsizetype used = 0;
    while (m_status == Status::NeedMore && used < bytes.size()) {
        const char c = bytes[used++];
        if (++m_headSize > kMaxHttpHead) {
            fail(QStringLiteral("request head too long"));
            break;
        }
        if (c == '\n') {
            if (m_line.endsWith('\r')) {
                m_line.chop(1);
            }
            const QByteArray text = m_line;
            m_line.clear();
            line(text);
            continue;
        }
        if (m_line.size() >= kMaxHttpLine) {
            fail(QStringLiteral("line too long"));
            break;
        }
        m_line.append(c);
    }
    return used;
}

void HttpRequestParser::requestLine(const QByteArray& text) {
    // Clients send query values unescaped, so the target runs from the first blank to the last
    // and may hold blanks of its own.
    const qsizetype first = text.indexOf(' ');
    const qsizetype last = text.lastIndexOf(' ');
    if (first < 0 || first == last) {
        fail(QStringLiteral("malformed request line"));
        return;
    }
    m_method = text.left(first);
    m_target = text.mid(first + 1, last - first - 1);
    m_version = text.mid(last + 1);
    const bool targetOk =
        m_target.startsWith('/') && std::all_of(m_target.begin(), m_target.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
        });
    if (!isToken(m_method) || !targetOk) {
        fail(QStringLiteral("malformed request line"));
    } else if (m_version != "HTTP/1.0" && m_version != "HTTP/1.1") {
        fail(QStringLiteral("unsupported protocol version"));
    }
    m_gotRequestLine = true;
}

void HttpRequestParser::line(const QByteArray& text) {
    if (!m_gotRequestLine) {
        requestLine(text);
        return;
    }
    if (text.isEmpty()) {
        finishHead();
        return;
    }
    if (text[0] == ' ' || text[0] == '\t') {
        fail(QStringLiteral("folded header line"));
        return;
    }
    if (m_headers.size() >= kMaxHttpHeaders) {
        fail(QStringLiteral("too many header lines"));
        return;
    }
    const qsizetype colon = text.indexOf(':');
    if (colon <= 0 || !isToken(QByteArrayView(text).first(colon))) {
        fail(QStringLiteral("malformed header line"));
        return;
    }
    const QByteArray value = text.mid(colon + 1).trimmed();
    if (std::any_of(value.begin(), value.end(), [](char c) {
            return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F;
        })) {
        fail(QStringLiteral("control character in a header"));
        return;
    }
    m_headers.append({text.left(colon).toLower(), value});
}

void HttpRequestParser::finishHead() {
    // Only GET is served, and a GET carries no body.
    const QByteArray length = header("content-length");
    if (hasHeader("transfer-encoding") || (hasHeader("content-length") && length != "0")) {
        fail(QStringLiteral("request with a body"));
        return;
    }
    if (m_version == "HTTP/1.1" && !hasHeader("host")) {
        fail(QStringLiteral("HTTP/1.1 request without Host"));
        return;
    }
    m_status = Status::Ready;
}

QByteArray HttpRequestParser::header(QByteArrayView name) const {
    for (const auto& [n, v] : m_headers) {
        if (n.compare(name, Qt::CaseInsensitive) == 0) {
            return v;
        }
    }
    return {};
}

bool HttpRequestParser::hasHeader(QByteArrayView name) const {
    return std::any_of(m_headers.begin(), m_headers.end(), [name](const auto& h) {
        return h.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

QByteArray percentDecode(QByteArrayView text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out.append(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            out.append(text[i]);
        }
    }
    return out;
}

}  // namespace mr::server
