#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class QMdiSubWindow;

namespace mr {

class TfrmMain;
class TIdleQueue;
class TMRAgentHttp;
class TOnlineSession;
class TMRDataModule;
class TPasswordPrompt;
class Tfrm_transfer;
class TProcessingThread;

// The desktop's side of the online session: the agent with its idle queue and completion
// thread, and everything the session changes on the frame (status tasks, the online
// indicator, the Connect command, the message of the day, the update notice), plus the
// commands that open the session's windows (Preferences, Message of the day, Feedback).
class TDesktopSession : public QObject {
    Q_OBJECT
public:
    // data: the running profile's data module, whose peer sockets the session announces and
    // whose queues the transfer windows show; null runs without peers.
    explicit TDesktopSession(TfrmMain& frame, TMRDataModule* data = nullptr);
    ~TDesktopSession() override;

    TOnlineSession& session() const { return *m_session; }

private:
    void wirePeers(TMRDataModule& data);
    // Sends the catalog's pending changes; while a share or removal runs, tries again later.
    void syncShareList();
    void showMessageOfTheDay();
    void showFeedback();

    TfrmMain& m_frame;
    std::unique_ptr<TIdleQueue> m_idle;
    std::unique_ptr<TMRAgentHttp> m_agent;
    std::unique_ptr<TProcessingThread> m_processing;
    std::unique_ptr<TOnlineSession> m_session;
    QPointer<QMdiSubWindow> m_motd;
    TMRDataModule* m_data = nullptr;
    QPointer<Tfrm_transfer> m_transfers;
    std::unique_ptr<TPasswordPrompt> m_passwordPrompt;
    QTimer m_syncRetry;
};

}  // namespace mr
