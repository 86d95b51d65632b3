#include "ui/desktopsession.h"

#include "catalog/localmrtree.h"
#include "messaging/infosocket.h"
#include "service/agent.h"
#include "service/idlequeue.h"
#include "service/processingthread.h"
#include "service/session.h"
#include "transfer/datamodule.h"
#include "transfer/mrftpserver.h"
#include "transfer/passwordcache.h"
#include "transfer/reqconnection.h"
#include "ui/askpasswordform.h"
#include "ui/chatforms.h"
#include "ui/commands.h"
#include "ui/controller.h"
#include "ui/mainwindow.h"
#include "ui/messengerforms.h"
#include "ui/progressform.h"
#include "ui/transferform.h"
#include "ui/traynotifier.h"

#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTcpSocket>

namespace mr {

namespace {

// A sync that met a running share or removal is tried again after this long.
constexpr int kSyncRetryMs = 1000;

}  // namespace

void DesktopSession::syncShareList() {
    if (!m_agent->online())
        return;
    TLocalMRTree catalog(nullptr, m_agent.get());
    catalog.setProgressView(&desktopProgressView());
    if (catalog.UpdateServer().deferred)
        m_syncRetry.start();
}

DesktopSession::DesktopSession(TfrmMain& frame, TMRDataModule* data)
    : QObject(&frame),
      m_frame(frame),
      m_idle(std::make_unique<TIdleQueue>()),
      m_agent(std::make_unique<TMRAgentHttp>(m_idle.get())),
      m_processing(std::make_unique<TProcessingThread>(m_agent->connection())),
      m_session(std::make_unique<OnlineSession>(*m_agent, *m_idle)) {
    TServer& server = frame.server();
    TdmCommands& commands = frame.commands();
    OnlineSession* session = m_session.get();

    // Without a data module (tests of the frame alone) nothing listens and nothing is announced.
    session->setPorts(data ? data->infoPort() : 0, data ? data->fileServerPort() : 0);
    session->setReconnectTimer(commands.tmrReconnect);

    connect(session, &OnlineSession::ShowStatus, &server, &TServer::ShowStatus);
    connect(session, &OnlineSession::SetTaskText, &server, &TServer::SetTaskText);
    connect(session, &OnlineSession::EndTask, &server, &TServer::EndTask);
    connect(session, &OnlineSession::onlineIndicatorChanged, &frame, &TfrmMain::setOnlineIndicator);
    connect(session, &OnlineSession::connectEnabledChanged, &frame, &TfrmMain::setConnectEnabled);
    connect(session, &OnlineSession::onlineStatusCleared, frame.lblOnlineStatus(), &QLabel::clear);
    connect(session, &OnlineSession::signedOn, &frame, [&frame] {
        if (!frame.firstRun())
            return;
        frame.setFirstRun(false);
        // Queued: the wizard's modal loop must not run inside the sign-on's completion.
        QMetaObject::invokeMethod(&frame.server(), &TServer::RunShareWizard, Qt::QueuedConnection);
    });
    // Queued, so that the run with its progress loop starts from an ordinary event rather
    // than from inside the idle handler.
    connect(session, &OnlineSession::shareListSyncRequested, this, &DesktopSession::syncShareList,
            Qt::QueuedConnection);
    m_syncRetry.setSingleShot(true);
    m_syncRetry.setInterval(kSyncRetryMs);
    connect(&m_syncRetry, &QTimer::timeout, this, &DesktopSession::syncShareList);
    connect(session, &OnlineSession::messageOfTheDayReady, &server, &TServer::ShowMessageOfTheDay);
    // Direct, so that the notice is read before the update program starts.
    connect(
        session, &OnlineSession::updateAvailable, &frame,
        [&frame](const QString& text, const QString& title) {
            QMessageBox::information(&frame, title, text);
        },
        Qt::DirectConnection);

    connect(&frame, &TfrmMain::signingOff, session, &OnlineSession::SignOff, Qt::DirectConnection);
    server.setOnlineSession(session);

    if (data && data->wantedList() && data->fileServer()) {
        wirePeers(*data);
    }
}

void DesktopSession::wirePeers(TMRDataModule& data) {
    m_data = &data;
    // Downloads start with the first sign-on: one left from the last run, started before it,
    // would find no owner and fail as if he were offline.
    connect(
        m_session.get(), &OnlineSession::signedOn, this,
        [this, &data] { data.setLocator(m_agent->locator()); }, Qt::SingleShotConnection);
    m_frame.server().setPeers(data.wantedList(), data.fileServer());

    // Protected files ask for their password once per owner and folder; the dialog checks it
    // with the owner before it closes.
    UserLocator locate = m_agent->locator();
    m_passwordPrompt = std::make_unique<DialogPasswordPrompt>(
        [this, locate](qint32 ownerId, const QString& path, const QString& password,
                       TdlgAskPassword::VerdictHandler onVerdict,
                       TdlgAskPassword::ErrorHandler onError) {
            auto* check = TMRReqConnection::checkPassword(ownerId, path, password, locate,
                                                          PeerSettings::fromProfile(), this);
            connect(check, &TMRReqConnection::passwordChecked, check,
                    [onVerdict](int verdict) { onVerdict(verdict); });
            connect(check, &TMRReqConnection::checkFailed, check,
                    [onError](const QString& text) { onError(text); });
        },
        &m_frame);
    PasswordCache().setPrompt(m_passwordPrompt.get());

    // Composers find their addressee through the service and announce this info socket;
    // every message it receives opens a window of its own.
    // A composer left open may outlive both.
    QPointer<TMRAgentHttp> agent = m_agent.get();
    QPointer<InfoSocket> info = data.infoSocket();
    SetMessengerContext({[agent](QObject* owner, qint32 userId,
                                 std::function<void(std::optional<UserLocation>)> done) {
                             return agent && agent->locator()(owner, userId, std::move(done));
                         },
                         [info] { return info ? info->port() : quint16{0}; }});
    // What arrives while the user looks elsewhere is announced in the tray too.
    m_notifier = std::make_unique<TrayNotifier>(m_frame.trayIcon(), &m_frame);
    TrayNotifier* notifier = m_notifier.get();
    connect(info, &InfoSocket::messageReceived, notifier,
            [notifier](qint32 userId, const QString& nickname, const QString& address, quint16 port,
                       const QString& text) {
                QPointer<QWidget> window =
                    ShowReceivedMessage(userId, nickname, address, port, text);
                notifier->notify(TrayNotifier::Kind::Message,
                                 QStringLiteral("Message from ") + nickname, text,
                                 [window] { TrayNotifier::bringUp(window); });
            });
    // Every chat request opens an invitation that holds the requester's connection.
    connect(info, &InfoSocket::chatRequested, notifier,
            [notifier](QTcpSocket* connection, const QString& nickname, const QString& reason) {
                QPointer<QWidget> window = ShowChatInvitation(connection, nickname, reason);
                if (window) {
                    notifier->notify(TrayNotifier::Kind::ChatInvitation,
                                     nickname + QStringLiteral(" invites you to chat"), reason,
                                     [window] { TrayNotifier::bringUp(window); });
                }
            });
    TServer* server = &m_frame.server();
    connect(data.wantedList(), &TMRQue::statusChanged, notifier,
            [notifier, server](TMRQueItem* item, TTransferStatus) {
                if (item->Status != TTransferStatus::Completed) {
                    return;
                }
                notifier->notify(TrayNotifier::Kind::Download, QStringLiteral("Download completed"),
                                 item->LocalName + QStringLiteral(" from ") + item->UserName,
                                 [server] { TrayNotifier::bringUp(server->ShowTransfers()); });
            });
}

DesktopSession::~DesktopSession() {
    if (m_data) {
        // Nothing may ask the agent for an owner's address once it is gone.
        m_data->setLocator({});
        PasswordCache().setPrompt(nullptr);
        SetMessengerContext({});
    }
    // The session first, then the thread that hands it completions, then the agent.
    m_session.reset();
    m_processing.reset();
    m_agent.reset();
    m_idle.reset();
}

}  // namespace mr
