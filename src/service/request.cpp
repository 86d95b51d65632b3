#include "service/request.h"

#include "service/wire.h"

#include <QDebug>

#include <exception>
#include <utility>

namespace mr {

TCallback::TCallback(QObject* owner, RequestHandler handler)
    : QObject(owner), m_handler(std::move(handler)) {}

void TCallback::call(TRequest& request) {
    if (m_handler) {
        m_handler(request);
    }
}

TRequest::TRequest(char code, const QByteArray& payload, const QString& path, bool multiRecord,
                   QObject* owner, RequestHandler handler, std::uint32_t tag)
    : m_code(code),
      m_body(wire::requestBody(code, 0, payload)),
      m_path(path),
      m_multiRecord(multiRecord),
      m_tag(tag) {
    if (handler) {
        m_callback = new TCallback(owner, std::move(handler));
    }
}

void TRequest::setSequence(std::uint16_t sequence) {
    m_sequence = sequence;
    m_body[1] = static_cast<char>(sequence & 0xFF);
    m_body[2] = static_cast<char>(sequence >> 8);
}

void TRequest::setReply(char kind, QByteArray data, bool failed) {
    m_replyKind = kind;
    m_replyData = std::move(data);
    m_failed = failed;
}

void TRequest::fail(const QString& why) {
    m_failed = true;
    if (m_failure.isEmpty()) {
        m_failure = why;
    }
}

void TRequest::complete() {
    if (m_notice) {
        std::exchange(m_notice, {})();
    }
    QPointer<TCallback> callback = m_callback;
    m_callback.clear();
    if (!callback) {
        return;
    }
    try {
        callback->call(*this);
    } catch (const std::exception& e) {
        qWarning("request '%c' handler failed: %s", m_code, e.what());
    } catch (...) {
        qWarning("request '%c' handler failed", m_code);
    }
    delete callback.data();
}

void TRequest::discard() {
    delete m_callback.data();
    m_callback.clear();
}

}  // namespace mr
