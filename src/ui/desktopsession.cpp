#include "ui/desktopsession.h"

#include "catalog/localmrtree.h"
#include "service/agent.h"
#include "service/idlequeue.h"
#include "service/processingthread.h"
#include "service/session.h"
#include "transfer/datamodule.h"
#include "transfer/mrftpserver.h"
#include "transfer/passwordcache.h"
#include "transfer/peercatalog.h"
#include "transfer/reqconnection.h"
#include "ui/askpasswordform.h"
#include "ui/bannedusersform.h"
#include "ui/commands.h"
#include "ui/feedbackform.h"
#include "ui/mainwindow.h"
#include "ui/mditile.h"
#include "ui/motdform.h"
#include "ui/progressform.h"
#include "ui/server.h"
#include "ui/sharewizard.h"
#include "ui/signonform.h"
#include "ui/transferform.h"

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>

namespace mr {

namespace {

// A sync that met a running share or removal is tried again after this long.
constexpr int kSyncRetryMs = 1000;

}  // namespace

void TDesktopSession::syncShareList() {
    if (!m_agent->online())
        return;
    TLocalMRTree catalog(nullptr, m_agent.get());
    catalog.setProgressView(&desktopProgressView());
    if (catalog.UpdateServer().deferred)
        m_syncRetry.start();
}

TDesktopSession::TDesktopSession(TfrmMain& frame, TMRDataModule* data)
    : QObject(&frame),
      m_frame(frame),
      m_idle(std::make_unique<TIdleQueue>()),
      m_agent(std::make_unique<TMRAgentHttp>(m_idle.get())),
      m_processing(std::make_unique<TProcessingThread>(m_agent->connection())),
      m_session(std::make_unique<TOnlineSession>(*m_agent, *m_idle)) {
    TServer& server = frame.server();
    TdmCommands& commands = frame.commands();
    TOnlineSession* session = m_session.get();

    // Without a data module (tests of the frame alone) nothing listens and nothing is announced.
    session->setPorts(data ? data->infoPort() : 0, data ? data->fileServerPort() : 0);
    session->setReconnectTimer(commands.tmrReconnect);

    connect(session, &TOnlineSession::ShowStatus, &server, &TServer::ShowStatus);
    connect(session, &TOnlineSession::SetTaskText, &server, &TServer::SetTaskText);
    connect(session, &TOnlineSession::EndTask, &server, &TServer::EndTask);
    connect(session, &TOnlineSession::onlineIndicatorChanged, &frame,
            &TfrmMain::setOnlineIndicator);
    connect(session, &TOnlineSession::connectEnabledChanged, &frame, &TfrmMain::setConnectEnabled);
    connect(session, &TOnlineSession::onlineStatusCleared, frame.lblOnlineStatus(), &QLabel::clear);
    connect(session, &TOnlineSession::signedOn, &frame, [&frame] {
        if (!frame.firstRun())
            return;
        frame.setFirstRun(false);
        // Queued: the wizard's modal loop must not run inside the sign-on's completion.
        QMetaObject::invokeMethod(frame.commands().actShareWizard, &QAction::trigger,
                                  Qt::QueuedConnection);
    });
    // Queued, so that the run with its progress loop starts from an ordinary event rather
    // than from inside the idle handler.
    connect(session, &TOnlineSession::shareListSyncRequested, this, &TDesktopSession::syncShareList,
            Qt::QueuedConnection);
    m_syncRetry.setSingleShot(true);
    m_syncRetry.setInterval(kSyncRetryMs);
    connect(&m_syncRetry, &QTimer::timeout, this, &TDesktopSession::syncShareList);
    connect(session, &TOnlineSession::messageOfTheDayReady, this,
            &TDesktopSession::showMessageOfTheDay);
    // Direct, so that the notice is read before the update program starts.
    connect(
        session, &TOnlineSession::updateAvailable, &frame,
        [&frame](const QString& text, const QString& title) {
            QMessageBox::information(&frame, title, text);
        },
        Qt::DirectConnection);

    connect(&server, &TServer::connectRequested, session,
            [session] { session->Connect(TConnectOrigin::Command); });
    connect(&frame, &TfrmMain::deferredStartup, session,
            [session] { session->Connect(TConnectOrigin::StartUp); });
    connect(&frame, &TfrmMain::signingOff, session, &TOnlineSession::SignOff, Qt::DirectConnection);
    connect(&server, &TServer::preferencesRequested, &frame, [&frame, session] {
        TfrmSignon preferences(session, &frame);
        preferences.exec();
    });
    connect(commands.actMotd, &QAction::triggered, this, [this] {
        if (!m_session->motd().lines().isEmpty()) {
            showMessageOfTheDay();
        }
    });
    connect(commands.actFeedback, &QAction::triggered, this, &TDesktopSession::showFeedback);
    server.setOnlineSession(session);
    connect(commands.actLocalFiles, &QAction::triggered, &server, &TServer::ShowLocalFiles);
    connect(commands.actMoonrakeExplorer, &QAction::triggered, &server, &TServer::ShowShareFiles);
    connect(commands.actMyDownloads, &QAction::triggered, &server, &TServer::ShowDownloadDir);
    connect(commands.actShareWizard, &QAction::triggered, &frame,
            [&frame] { TfrmShareWizard::run(&frame); });

    // The program starts offline, with the session's commands live.
    commands.actConnect->setEnabled(true);
    commands.actPreferences->setEnabled(true);
    commands.actMotd->setEnabled(true);
    commands.actFeedback->setEnabled(true);
    commands.actLocalFiles->setEnabled(true);
    commands.actMoonrakeExplorer->setEnabled(true);
    commands.actMyDownloads->setEnabled(true);
    commands.actShareWizard->setEnabled(true);

    if (data && data->wantedList() && data->fileServer()) {
        wirePeers(*data);
    }
}

void TDesktopSession::wirePeers(TMRDataModule& data) {
    m_data = &data;
    TServer& server = m_frame.server();
    TdmCommands& commands = m_frame.commands();
    TMRFtpServer* fileServer = data.fileServer();
    data.setLocator(m_agent->locator());
    server.setWantedList(data.wantedList());

    // Created at its first showing (the deferred start-up call), then kept in the frame's area.
    const auto showTransfers = [this, fileServer] {
        if (!m_transfers) {
            TTransferActions actions;
            actions.abortDownload = [fileServer](qint32 id) { fileServer->AbortTransfer(id); };
            actions.abortUpload = [fileServer](qint32 id) { fileServer->AbortClientTransfer(id); };
            actions.setUserStatus = &SetUserStatus;
            m_transfers = new Tfrm_transfer(*m_data->wantedList(), fileServer->waitingList(),
                                            std::move(actions));
            TServer* server = &m_frame.server();
            connect(m_transfers, &Tfrm_transfer::activated, server, &TServer::UpdateCaption);
            connect(m_transfers, &Tfrm_transfer::userTreeRequested, server,
                    [server](qint32 userId, const QString& nick) { server->Browse(nick, userId); });
            // Their windows (messages, profiles, private chat, contacts) do not exist yet.
            for (QAction* pending : {m_transfers->actPMessage(), m_transfers->actUserInformation(),
                                     m_transfers->actPTP(), m_transfers->actAddUser()}) {
                pending->setVisible(false);
            }
        }
        m_transfers->showIn(m_frame.mdiArea());
    };
    connect(commands.actTransfers, &QAction::triggered, this, showTransfers);
    // After the connect routine, which the same call runs first.
    connect(&m_frame, &TfrmMain::deferredStartup, this, showTransfers);
    commands.actTransfers->setEnabled(true);

    connect(commands.actBannedUsers, &QAction::triggered, this, [this] {
        QMdiSubWindow* window = TfrmBannedUsers::showIn(m_frame.mdiArea());
        if (auto* form = window ? qobject_cast<TfrmBannedUsers*>(window->widget()) : nullptr) {
            connect(form, &TfrmBannedUsers::activated, &m_frame.server(), &TServer::UpdateCaption,
                    Qt::UniqueConnection);
        }
    });
    commands.actBannedUsers->setEnabled(true);

    // Protected files ask for their password once per owner and folder; the dialog checks it
    // with the owner before it closes.
    TLocateUser locate = m_agent->locator();
    m_passwordPrompt = std::make_unique<TDialogPasswordPrompt>(
        [this, locate](qint32 ownerId, const QString& path, const QString& password,
                       TdlgAskPassword::VerdictHandler onVerdict,
                       TdlgAskPassword::ErrorHandler onError) {
            auto* check = TMRReqConnection::checkPassword(ownerId, path, password, locate,
                                                          TPeerSettings::fromProfile(), this);
            connect(check, &TMRReqConnection::passwordChecked, check,
                    [onVerdict](int verdict) { onVerdict(verdict); });
            connect(check, &TMRReqConnection::checkFailed, check,
                    [onError](const QString& text) { onError(text); });
        },
        &m_frame);
    PasswordCache().setPrompt(m_passwordPrompt.get());
}

TDesktopSession::~TDesktopSession() {
    if (m_data) {
        // Nothing may ask the agent for an owner's address once it is gone.
        m_data->setLocator({});
        PasswordCache().setPrompt(nullptr);
    }
    // The session first, then the thread that hands it completions, then the agent.
    m_session.reset();
    m_processing.reset();
    m_agent.reset();
    m_idle.reset();
}

void TDesktopSession::showMessageOfTheDay() {
    if (!m_motd) {
        auto* form = new TfrmMotd;
        m_motd = m_frame.mdiArea()->addSubWindow(form);
        m_motd->setAttribute(Qt::WA_DeleteOnClose);
        placeChildWindow(m_frame.mdiArea(), m_motd, QSize(480, 360));
    }
    if (auto* form = qobject_cast<TfrmMotd*>(m_motd->widget())) {
        form->loadMessage(m_session->motd().lines());
    }
    m_motd->show();
    m_frame.mdiArea()->setActiveSubWindow(m_motd);
}

void TDesktopSession::showFeedback() {
    // Not one of the single windows: each command opens a new one.
    auto* form = new TfrmFeedBack;
    TServer* server = &m_frame.server();
    addChildWindow(m_frame.mdiArea(), form, [server, form] {
        server->UpdateCaption(form->windowTitle(), TfrmFeedBack::description());
    });
}

}  // namespace mr
