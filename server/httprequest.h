#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>

namespace mr::server {

inline constexpr qsizetype kMaxHttpLine = 8 * 1024;
inline constexpr qsizetype kMaxHttpHead = 32 * 1024;
inline constexpr int kMaxHttpHeaders = 64;

// Reads the head of one HTTP/1.0 or HTTP/1.1 request: the request line and the header lines
// up to the blank line. A request with a body, a folded header, an over-long head or any
// malformed line breaks it.
class HttpRequestParser {
public:
    enum class Status { NeedMore, Ready, Broken };

    // Takes bytes and returns how many it used; stops after the blank line.
    qsizetype feed(QByteArrayView bytes);
    Status status() const { return m_status; }
    QString error() const { return m_error; }

    QByteArray method() const { return m_method; }
    QByteArray target() const { return m_target; }
    QByteArray version() const { return m_version; }
    // The value of the first header of that name (names ignore case); empty when absent.
    QByteArray header(QByteArrayView name) const;
    bool hasHeader(QByteArrayView name) const;

private:
    void fail(const QString& why);
    void line(const QByteArray& text);
    void requestLine(const QByteArray& text);
    void finishHead();

    Status m_status = Status::NeedMore;
    QString m_error;
    QByteArray m_line;
    qsizetype m_headSize = 0;
    bool m_gotRequestLine = false;
    QByteArray m_method;
    QByteArray m_target;
    QByteArray m_version;
    QList<QPair<QByteArray, QByteArray>> m_headers;  // names in lower case
};

// "%" followed by two hex digits becomes that byte; any other "%" stays as it is. "+" is
// left alone: clients escape a blank as "%20".
QByteArray percentDecode(QByteArrayView text);

}  // namespace mr::server
