#include "service/session.h"

#include "core/hostinfo.h"
#include "core/profile.h"
#include "core/userinfo.h"
#include "service/agent.h"
#include "service/idlequeue.h"

namespace mr {

OnlineSession::OnlineSession(TMRAgentHttp& agent, TIdleQueue& idle, QObject* parent)
    : QObject(parent), m_agent(agent), m_idle(idle), m_reconnect(&m_ownTimer) {
    m_ownTimer.setInterval(kReconnectIntervalMs);
    // The timer runs the Connect command exactly as the user would.
    connect(&m_ownTimer, &QTimer::timeout, this, [this] { Connect(ConnectOrigin::Command); });
    connect(&m_agent, &TMRAgentHttp::OnLogin, this, &OnlineSession::onLogin);
    connect(&m_agent, &TMRAgentHttp::OnDisconnect, this, &OnlineSession::onDisconnect);
    connect(&m_motd, &MessageOfTheDay::updateAvailable, this, &OnlineSession::updateAvailable);
}

OnlineSession::~OnlineSession() = default;

void OnlineSession::setPorts(std::uint16_t infoPort, std::uint16_t fileServerPort) {
    m_infoPort = infoPort;
    m_fileServerPort = fileServerPort;
}

void OnlineSession::setReconnectTimer(QTimer* timer) {
    const bool running = reconnectTimer().isActive();
    reconnectTimer().stop();
    m_reconnect = timer ? timer : &m_ownTimer;
    if (running) {
        m_reconnect->start();
    }
}

QTimer& OnlineSession::reconnectTimer() {
    return m_reconnect ? *m_reconnect : m_ownTimer;
}

quintptr OnlineSession::statusKey() const {
    return reinterpret_cast<quintptr>(&m_agent);
}

bool OnlineSession::connecting() const {
    return m_inRoutine || m_agent.connecting();
}

bool OnlineSession::online() const {
    return m_agent.online();
}

void OnlineSession::Connect(ConnectOrigin origin) {
    m_closing = false;
    // Online or half-way there: a second keep-alive channel must never be opened.
    if (!connecting() && !online()) {
        m_inRoutine = true;
        emit ShowStatus(QString::fromLatin1(kConnectingText), statusKey());
        m_motd.fetchAndApply(HostInfo());
        if (m_closing) {
            m_inRoutine = false;
            return;
        }
        m_agent.ServiceLogin(m_infoPort, m_fileServerPort);
        m_inRoutine = false;
    }
    if (origin == ConnectOrigin::Command) {
        emit connectEnabledChanged(false);
    }
}

void OnlineSession::onLogin(bool success) {
    if (success) {
        reconnectTimer().stop();
        emit SetTaskText(statusKey(), QString::fromLatin1(kConnectedText));
        emit EndTask(statusKey(), true);
        emit signedOn();
        if (UserInfo().refresh() != 0) {
            SendProfile(this, {});
        }
        if (!m_motd.lines().isEmpty()) {
            emit messageOfTheDayReady();
        }
        m_idle.Add(this, [this](bool& done) {
            done = true;
            emit shareListSyncRequested();
        });
        setOnline(true);
        emit connectFinished(true);
        return;
    }
    const bool anotherHost = m_agent.AdvanceHost();
    if (!m_closing && anotherHost) {
        m_agent.ServiceLogin(m_infoPort, m_fileServerPort);
        setOnline(false);
        return;
    }
    emit SetTaskText(statusKey(), QString::fromLatin1(kUnableText));
    emit EndTask(statusKey(), false);
    startReconnectTimer();
    setOnline(false);
    emit connectFinished(false);
}

void OnlineSession::onDisconnect() {
    emit onlineIndicatorChanged(false);
    emit ShowStatus(QString::fromLatin1(kDisconnectedText), statusKey());
    emit EndTask(statusKey(), false);
    emit onlineStatusCleared();
    emit connectEnabledChanged(true);
    startReconnectTimer();
}

void OnlineSession::setOnline(bool online) {
    emit onlineIndicatorChanged(online);
    emit connectEnabledChanged(!online);
}

void OnlineSession::startReconnectTimer() {
    if (!m_closing) {
        reconnectTimer().start();
    }
}

bool OnlineSession::SendProfile(QObject* owner, const std::function<void(bool)>& handler,
                                const std::optional<QString>& knownPassword) {
    const QString sent = UserInfo().password();
    // The session owns the request, so the settings follow the reply even when the window
    // that asked has gone.
    const QPointer<QObject> caller(owner);
    const bool hasCaller = owner != nullptr;
    const bool queued = m_agent.SendProfile(
        this, [handler, knownPassword, sent, caller, hasCaller](TRequest& request) {
            const bool accepted = !request.failed();
            if (accepted) {
                UserInfo().setRefresh(0);
            } else if (knownPassword && UserInfo().password() == sent) {
                UserInfo().setPassword(*knownPassword);
            }
            UserInfo().file().sync();
            if (handler && (!hasCaller || caller)) {
                handler(accepted);
            }
        });
    if (!queued) {
        UserInfo().setRefresh(1);
        if (knownPassword) {
            UserInfo().setPassword(*knownPassword);
        }
        UserInfo().file().sync();
    }
    return queued;
}

void OnlineSession::SignOff() {
    m_closing = true;
    reconnectTimer().stop();
    m_agent.connection().Cancel();
    m_motd.abort();
    m_agent.ServiceLogout();
}

}  // namespace mr
