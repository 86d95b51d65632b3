#pragma once

#include "service/motd.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>

namespace mr {

class TIdleQueue;
class TMRAgentHttp;
class TRequest;

// Who runs the connect routine: the start-up call leaves the Connect command as the outcome
// set it; the command and the reconnect timer disable it once the routine returns.
enum class ConnectOrigin { StartUp, Command };

// The online session: the connect routine with the message of the day, host rotation, the
// reconnect timer, what a sign-on, a refused one and a lost connection change, and the
// sign-off at exit. Everything the user sees goes out through signals, so the desktop frame
// and the console program drive the same logic. Lives on the main thread.
class OnlineSession : public QObject {
    Q_OBJECT
public:
    static constexpr int kReconnectIntervalMs = 60000;
    static constexpr char kConnectingText[] = "Connecting to Moonrake Network";
    static constexpr char kConnectedText[] = "Connected!";
    static constexpr char kUnableText[] = "Unable to connect";
    static constexpr char kDisconnectedText[] = "Disconnected from Moonrake!";

    // idle: where the share-list synchronisation is deferred to after a sign-on; both must
    // outlive the session.
    OnlineSession(TMRAgentHttp& agent, TIdleQueue& idle, QObject* parent = nullptr);
    ~OnlineSession() override;

    TMRAgentHttp& agent() const { return m_agent; }
    MessageOfTheDay& motd() { return m_motd; }

    // The info socket's and the peer file server's listening ports, announced at sign-on.
    void setPorts(std::uint16_t infoPort, std::uint16_t fileServerPort);

    // The timer started after the last host failed and after a lost connection. The session
    // owns one whose timeout runs the Connect command; a timer given here replaces it, and its
    // owner connects its timeout to the command.
    void setReconnectTimer(QTimer* timer);
    QTimer& reconnectTimer();

    // The key the session's status tasks are filed under.
    quintptr statusKey() const;

    // True from the start of the connect routine until the sign-on outcome is known.
    bool connecting() const;
    bool online() const;
    bool closing() const { return m_closing; }

public slots:
    // The connect routine; returns at once while a sign-on is under way or already online.
    void Connect(mr::ConnectOrigin origin = mr::ConnectOrigin::Command);
    // At a real exit: stops a running connect or fetch, sends "Q" and waits at most 2000 ms.
    void SignOff();
    // Sends the profile now; false when it could not be queued (offline), in which case
    // "Refresh" is set to 1 so the next sign-on sends it. On acceptance "Refresh" is set to 0.
    // handler (may be empty) runs with the reply while owner (when given) lives.
    // knownPassword: given when the profile carries a new password, the one the service knows;
    // the stored password goes back to it unless the service accepts the profile, so sign-on
    // never uses a password the service has not taken.
    bool SendProfile(QObject* owner, const std::function<void(bool accepted)>& handler,
                     const std::optional<QString>& knownPassword = std::nullopt);

signals:
    // The status box: one task keyed by statusKey().
    void ShowStatus(const QString& text, quintptr key);
    void SetTaskText(quintptr key, const QString& text);
    void EndTask(quintptr key, bool success);

    // The online indicator: "Online" (lime, green text) or "Offline" (maroon, red text).
    void onlineIndicatorChanged(bool online);
    // The Connect command's enabled state.
    void connectEnabledChanged(bool enabled);
    // The online counts of the caption bar are cleared after a lost connection.
    void onlineStatusCleared();

    // After each successful sign-on, before the profile is sent: the frame opens the share
    // wizard here on the first run.
    void signedOn();
    // After a sign-on, when the message of the day has content: show motd().message().
    void messageOfTheDayReady();
    // Once after each sign-on, at the first idle moment: synchronise the share list.
    void shareListSyncRequested();
    // The end of a connect attempt: online, or every host refused.
    void connectFinished(bool online);
    // Forwarded from the message of the day: a newer version is about to be installed.
    void updateAvailable(const QString& text, const QString& title);

private:
    void onLogin(bool success);
    void onDisconnect();
    void setOnline(bool online);
    void startReconnectTimer();

    TMRAgentHttp& m_agent;
    TIdleQueue& m_idle;
    MessageOfTheDay m_motd;
    QTimer m_ownTimer;
    QPointer<QTimer> m_reconnect;
    std::uint16_t m_infoPort = 0;
    std::uint16_t m_fileServerPort = 0;
    bool m_closing = false;
    bool m_inRoutine = false;  // from the start of the routine until ServiceLogin returns
};

}  // namespace mr
