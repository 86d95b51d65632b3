#include "service/headlesssession.h"

#include "core/record.h"

#include <QEventLoop>
#include <QTimer>

namespace mr {

HeadlessSession::HeadlessSession(QObject* parent)
    : QObject(parent),
      m_idle(std::make_unique<TIdleQueue>()),
      m_agent(std::make_unique<TMRAgentHttp>(m_idle.get())),
      m_processing(std::make_unique<TProcessingThread>(m_agent->connection())) {}

HeadlessSession::~HeadlessSession() {
    m_processing.reset();
    m_agent.reset();
    m_idle.reset();
}

bool HeadlessSession::signOn(std::uint16_t infoPort, std::uint16_t fileServerPort) {
    for (;;) {
        std::optional<bool> outcome;
        QEventLoop loop;
        const auto c = connect(m_agent.get(), &TMRAgentHttp::OnLogin, &loop, [&](bool ok) {
            outcome = ok;
            loop.quit();
        });
        QTimer::singleShot(m_stepTimeoutMs, &loop, &QEventLoop::quit);
        m_agent->ServiceLogin(infoPort, fileServerPort);
        if (!outcome) {
            loop.exec();
        }
        disconnect(c);
        if (outcome.value_or(false)) {
            return true;
        }
        if (!outcome) {
            return false;  // no answer in time
        }
        if (!m_agent->AdvanceHost()) {
            return false;
        }
    }
}

std::optional<QByteArray> HeadlessSession::await(const std::function<bool(RequestHandler)>& send) {
    std::optional<QByteArray> reply;
    bool completed = false;
    QEventLoop loop;
    const bool queued = send([&](TRequest& request) {
        completed = true;
        if (!request.failed()) {
            reply = request.replyData();
        }
        loop.quit();
    });
    if (!queued) {
        return std::nullopt;
    }
    QTimer::singleShot(m_stepTimeoutMs, &loop, &QEventLoop::quit);
    if (!completed) {
        loop.exec();
    }
    return reply;
}

std::optional<UserLocation> HeadlessSession::locate(qint32 userId) {
    QObject owner;
    const auto reply = await([&](RequestHandler handler) {
        return m_agent->LocateUser(&owner, std::move(handler), userId);
    });
    return reply ? UserLocation::parse(*reply) : std::nullopt;
}

void HeadlessSession::signOff() {
    m_agent->ServiceLogout();
}

}  // namespace mr
