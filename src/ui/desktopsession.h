#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

namespace mr {

class TfrmMain;
class TIdleQueue;
class TMRAgentHttp;
class OnlineSession;
class TMRDataModule;
class PasswordPrompt;
class TProcessingThread;
class TrayNotifier;

// Joins the online session and the data module to the frame: owns the agent with its idle
// queue and completion path and the session, shows what the session changes on the frame
// (status tasks, the online indicator, the Connect command, the update notice), and hands the
// controller the session and the peers its windows work with.
class DesktopSession : public QObject {
    Q_OBJECT
public:
    // data: the running profile's data module, whose peer sockets the session announces and
    // whose queues the transfer windows show; null runs without peers.
    explicit DesktopSession(TfrmMain& frame, TMRDataModule* data = nullptr);
    ~DesktopSession() override;

    OnlineSession& session() const { return *m_session; }

private:
    void wirePeers(TMRDataModule& data);
    // Sends the catalog's pending changes; while a share or removal runs, tries again later.
    void syncShareList();

    TfrmMain& m_frame;
    std::unique_ptr<TIdleQueue> m_idle;
    std::unique_ptr<TMRAgentHttp> m_agent;
    std::unique_ptr<TProcessingThread> m_processing;
    std::unique_ptr<OnlineSession> m_session;
    TMRDataModule* m_data = nullptr;
    std::unique_ptr<PasswordPrompt> m_passwordPrompt;
    std::unique_ptr<TrayNotifier> m_notifier;
    QTimer m_syncRetry;
};

}  // namespace mr
