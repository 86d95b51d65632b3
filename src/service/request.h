#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace mr {

class TRequest;
// A completion handler; it runs on the main thread.
using RequestHandler = std::function<void(TRequest&)>;

// The two kinds of connection a request can travel on.
enum class TChannel { KeepAlive, OneShot };

// Holds a request's completion handler for the request's owner. It is a child of the owner,
// so it dies with it; the request's handler slot then reads empty and a late reply completes
// without calling anything.
class TCallback : public QObject {
    Q_OBJECT
public:
    TCallback(QObject* owner, RequestHandler handler);

    void call(TRequest& request);

private:
    RequestHandler m_handler;
};

// One operation sent to the service: its request code, body, path and reply.
class TRequest {
public:
    // owner: the object whose destruction detaches the handler; the handler may be empty.
    TRequest(char code, const QByteArray& payload, const QString& path, bool multiRecord,
             QObject* owner, RequestHandler handler, std::uint32_t tag = 0);
    TRequest(const TRequest&) = delete;
    TRequest& operator=(const TRequest&) = delete;

    char code() const { return m_code; }
    // Code byte, 16-bit little-endian sequence number, payload.
    const QByteArray& body() const { return m_body; }
    QByteArray payload() const { return m_body.mid(3); }
    const QString& path() const { return m_path; }
    bool multiRecord() const { return m_multiRecord; }
    std::uint32_t tag() const { return m_tag; }
    std::uint16_t sequence() const { return m_sequence; }
    // Written into the body when the request is queued.
    void setSequence(std::uint16_t sequence);

    // The kind of the last reply record read: 'T', 'E' or a data record's kind.
    char replyKind() const { return m_replyKind; }
    const QByteArray& replyData() const { return m_replyData; }
    bool failed() const { return m_failed; }
    // Why the exchange failed, for diagnostics only; never shown to the user.
    const QString& failure() const { return m_failure; }

    void setReply(char kind, QByteArray data, bool failed);
    void fail(const QString& why);

    // Main thread only: calls the handler when the slot is still set, then lets the holder go.
    void complete();
    // Main thread only: lets the holder go without calling it (a request that never completes).
    void discard();
    // An action for the main thread at completion, run whether or not a handler is set.
    void setNotice(std::function<void()> notice) { m_notice = std::move(notice); }

private:
    char m_code;
    QByteArray m_body;
    QString m_path;
    bool m_multiRecord;
    std::uint32_t m_tag;
    std::uint16_t m_sequence = 0;
    char m_replyKind = 0;
    QByteArray m_replyData;
    bool m_failed = false;
    QString m_failure;
    QPointer<TCallback> m_callback;
    std::function<void()> m_notice;
};

using RequestPtr = std::shared_ptr<TRequest>;

}  // namespace mr
