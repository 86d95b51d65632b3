#include "ui/controller.h"

#include "core/profile.h"
#include "messaging/chatclient.h"
#include "service/agent.h"
#include "service/session.h"
#include "transfer/mrftpserver.h"
#include "transfer/peercatalog.h"
#include "transfer/queue.h"
#include "ui/aboutbox.h"
#include "ui/actualexplorer.h"
#include "ui/bannedusersform.h"
#include "ui/channelforms.h"
#include "ui/chatforms.h"
#include "ui/commands.h"
#include "ui/creditsform.h"
#include "ui/favoritesform.h"
#include "ui/feedbackform.h"
#include "ui/localexplorer.h"
#include "ui/mainwindow.h"
#include "ui/mditile.h"
#include "ui/messengerforms.h"
#include "ui/motdform.h"
#include "ui/remoteexplorer.h"
#include "ui/searchform.h"
#include "ui/sharewizard.h"
#include "ui/sidebar.h"
#include "ui/signonform.h"
#include "ui/transferform.h"
#include "ui/userinformationform.h"
#include "ui/usersearchform.h"

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>

namespace mr {

namespace {

TServer* g_server = nullptr;

// What a search window offers on its selected member: browse, profile, message.
template <class Form>
void connectMemberActions(TServer* server, Form* form) {
    QObject::connect(
        form, &Form::userTreeRequested, server,
        [server](qint32 userId, const QString& nick) { server->Browse(nick, userId); });
    QObject::connect(form, &Form::userInformationRequested, server,
                     [server](qint32 userId, const QString& nick) {
                         server->ShowUserInformation(userId, nick);
                     });
    QObject::connect(form, &Form::messageRequested, server,
                     [](qint32 userId, const QString& nick) { SendMessageTo(userId, nick); });
    QObject::connect(form, &Form::chatRequested, server,
                     [](qint32 userId, const QString& nick) { RequestChatWith(userId, nick); });
}

// Preferred sizes of the child windows that have one.
constexpr QSize kExplorerSize(780, 540);
constexpr QSize kTransfersSize(780, 460);
constexpr QSize kUserSearchSize(560, 420);
constexpr QSize kChannelsSize(420, 360);
constexpr QSize kCreditsSize(640, 360);

}  // namespace

TServer::TServer(TfrmMain& main) : QObject(&main), m_main(main) {
    setObjectName(QStringLiteral("Server"));
    g_server = this;
    connect(&main, &TfrmMain::deferredStartup, this, &TServer::DeferredStartup);
    // Chat requests, invitations and chats are child windows of the frame.
    SetChatWindowHost([this](QWidget* form) { addChild(form, [] { return QString(); }, {}); });
}

TServer::~TServer() {
    if (g_server == this) {
        g_server = nullptr;
        SetChatWindowHost({});
    }
}

TServer& Server() {
    Q_ASSERT_X(g_server, "Server", "no main window yet");
    return *g_server;
}

void TServer::ShowStatus(const QString& text, TaskKey key) {
    m_main.statusBox()->addTask(text, key);
}

void TServer::SetTaskText(TaskKey key, const QString& text) {
    ShowStatusBox(true);
    m_main.statusBox()->setTaskText(key, text);
}

void TServer::EndTask(TaskKey key, bool success) {
    ShowStatusBox(true);
    m_main.statusBox()->endTask(key, success);
}

void TServer::ShowStatusBox(bool show) {
    m_main.sideBar()->showDocked(m_main.statusBox(), show);
    m_main.commands().actStatusBox->setChecked(show);
}

void TServer::SetOnlineCounts(int users, int files) {
    m_main.lblOnlineStatus()->setText(
        QStringLiteral("Online Users: %1\nOnline Files: %2").arg(users).arg(files));
}

void TServer::UpdateCaption(const QString& caption, const QString& description) {
    QString text = QStringLiteral("Moonrake");
    if (!caption.trimmed().isEmpty()) {
        text += QStringLiteral(" - ") + caption;
    }
    m_main.lblCaptionBar()->setText(text);
    m_main.lblMain()->setText(description);
}

void TServer::Cascade() {
    m_main.mdiArea()->cascadeSubWindows();
}

void TServer::TileHorizontally() {
    tileHorizontally(m_main.mdiArea());
}

void TServer::TileVertically() {
    tileVertically(m_main.mdiArea());
}

void TServer::ShowAbout() {
    if (!m_about) {
        m_about = new AboutBox(&m_main);
        m_about->setAttribute(Qt::WA_DeleteOnClose);
        m_about->setModal(true);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void TServer::CloseProgram() {
    m_main.closeProgram();
}

void TServer::Connect() {
    if (m_session)
        m_session->Connect(ConnectOrigin::Command);
}

void TServer::DeferredStartup() {
    if (m_session)
        m_session->Connect(ConnectOrigin::StartUp);
    // Without a chat host (a profile the message of the day has not reached) there is nothing
    // to connect to, and a failure at every start would only be noise.
    if (HostInfo().count(HostStore::Chat) > 0) {
        ShowChat();
    }
    ShowTransfers();
    ShowFileSearch();
}

void TServer::setOnlineSession(OnlineSession* session) {
    m_session = session;
    // The program starts offline, with the session's commands live.
    const TdmCommands& c = m_main.commands();
    for (QAction* a :
         {c.actConnect, c.actPreferences, c.actMotd, c.actFeedback, c.actLocalFiles,
          c.actMoonrakeExplorer, c.actMyDownloads, c.actShareWizard, c.actUserSearch}) {
        a->setEnabled(session != nullptr);
    }
    c.actFileSearch->setEnabled(session != nullptr);
    if (m_favorites)
        m_favorites->setAgent(session ? &session->agent() : nullptr);
    // Signing on shows the contacts' states at once rather than at the next minute's poll.
    if (session) {
        connect(session, &OnlineSession::onlineIndicatorChanged, this, [this](bool online) {
            if (online && m_favorites) {
                m_favorites->refresh();
            }
        });
    }
}

OnlineSession* TServer::onlineSession() const {
    return m_session;
}

void TServer::setPeers(TMRWantedList* wanted, TMRFtpServer* fileServer) {
    m_wanted = wanted;
    m_fileServer = fileServer;
    const TdmCommands& c = m_main.commands();
    c.actTransfers->setEnabled(wanted && fileServer);
    c.actBannedUsers->setEnabled(wanted && fileServer);
    c.actCredits->setEnabled(wanted && fileServer);
}

QMdiSubWindow* TServer::addChild(QWidget* form, std::function<QString()> description,
                                 const QSize& preferred) {
    QMdiSubWindow* sub = addChildWindow(
        m_main.mdiArea(), form,
        [this, form, description] { UpdateCaption(form->windowTitle(), description()); },
        preferred);
    return sub;
}

TfrmRemoteExplorer* TServer::Browse(const QString& userName, qint32 userId) {
    if (!m_session || !m_session->online()) {
        // A key no other task uses, so that ending it finds the task just added.
        static const char connectFirst = 0;
        ShowStatus(QStringLiteral("You must connect first"), taskKey(&connectFirst));
        EndTask(taskKey(&connectFirst), false);
        return nullptr;
    }
    auto* form = new TfrmRemoteExplorer(m_session, userName, userId);
    form->setWantedList(m_wanted);
    addExplorer(form);
    return form;
}

TfrmLocalExplorer* TServer::ShowLocalFiles() {
    auto* form = new TfrmLocalExplorer(m_session);
    addExplorer(form);
    return form;
}

TfrmActualExplorer* TServer::ShowShareFiles() {
    auto* form = new TfrmActualExplorer;
    connect(form, &TfrmActualExplorer::shareRequested, form, [this, form](const QString& fsPath) {
        TfrmLocalExplorer::ShareFromDisk(form, m_session, fsPath, QStringLiteral("/"));
    });
    addExplorer(form);
    return form;
}

TfrmActualExplorer* TServer::ShowDownloadDir() {
    TfrmActualExplorer* form = ShowShareFiles();
    form->GoToDownloadDirectory();
    return form;
}

void TServer::addExplorer(TfrmExplorer* form) {
    QMdiSubWindow* sub = addChild(
        form, [form] { return form->description(); }, kExplorerSize);
    // A window made of parts tells which part has the focus.
    connect(form, &TfrmExplorer::descriptionChanged, form, [this, form, sub] {
        if (m_main.mdiArea()->activeSubWindow() == sub)
            UpdateCaption(form->windowTitle(), form->description());
    });
}

Tfrm_transfer* TServer::ShowTransfers() {
    if (!m_wanted || !m_fileServer)
        return nullptr;
    if (m_transfers) {
        showChildWindow(qobject_cast<QMdiSubWindow*>(m_transfers->parentWidget()));
        return m_transfers;
    }
    TransferActions actions;
    TMRFtpServer* fileServer = m_fileServer;
    actions.abortDownload = [fileServer](qint32 id) { fileServer->AbortTransfer(id); };
    actions.abortUpload = [fileServer](qint32 id) { fileServer->AbortClientTransfer(id); };
    actions.setUserStatus = &SetUserStatus;
    m_transfers = new Tfrm_transfer(*m_wanted, m_fileServer->waitingList(), std::move(actions));
    connect(m_transfers, &Tfrm_transfer::userTreeRequested, this,
            [this](qint32 userId, const QString& nick) { Browse(nick, userId); });
    connect(m_transfers, &Tfrm_transfer::personalMessageRequested, this,
            [](qint32 userId, const QString& nick) { SendMessageTo(userId, nick); });
    connect(m_transfers, &Tfrm_transfer::addUserRequested, this,
            [this](qint32, const QString& nick) { AddContact(nick); });
    // The row knows its user's id, so the profile is asked for rather than left waiting.
    connect(m_transfers, &Tfrm_transfer::userInformationRequested, this,
            [this](qint32 userId, const QString& nick) {
                if (userId != 0) {
                    ShowUserInformation(userId, nick);
                } else {
                    ShowUserInformation(nick);
                }
            });
    connect(m_transfers, &Tfrm_transfer::privateChatRequested, this,
            [](qint32 userId, const QString& nick) { RequestChatWith(userId, nick); });
    addChild(m_transfers, &Tfrm_transfer::description, kTransfersSize);
    return m_transfers;
}

TfrmBannedUsers* TServer::ShowBannedUsers() {
    if (!m_wanted || !m_fileServer)
        return nullptr;
    if (m_bannedUsers) {
        auto* form = static_cast<TfrmBannedUsers*>(m_bannedUsers->widget());
        form->refresh();
        showChildWindow(m_bannedUsers);
        return form;
    }
    auto* form = new TfrmBannedUsers;
    m_bannedUsers = addChild(form, &TfrmBannedUsers::description, {});
    return form;
}

TfrmCredits* TServer::ShowCredits() {
    if (!m_wanted || !m_fileServer)
        return nullptr;
    if (m_credits) {
        auto* form = static_cast<TfrmCredits*>(m_credits->widget());
        form->refresh();
        showChildWindow(m_credits);
        return form;
    }
    auto* form = new TfrmCredits;
    m_credits = addChild(form, &TfrmCredits::description, kCreditsSize);
    return form;
}

TfrmFeedBack* TServer::ShowFeedback() {
    // Not one of the single windows: each command opens a new one.
    auto* form = new TfrmFeedBack;
    addChild(form, &TfrmFeedBack::description, {});
    return form;
}

void TServer::ShowMessageOfTheDay() {
    if (!m_session || m_session->motd().lines().isEmpty())
        return;
    if (m_motd) {
        showChildWindow(m_motd);
    } else {
        m_motd = addChild(new TfrmMotd, [] { return QString(); }, {});
    }
    static_cast<TfrmMotd*>(m_motd->widget())->loadMessage(m_session->motd().lines());
}

void TServer::ShowPreferences() {
    TfrmSignon preferences(m_session, &m_main);
    preferences.exec();
}

void TServer::RunShareWizard() {
    TfrmShareWizard::run(&m_main);
}

TfrmSearch* TServer::ShowFileSearch() {
    if (!m_session)
        return nullptr;
    auto* form = new TfrmSearch(&m_session->agent());
    form->setWantedList(m_wanted);
    connectMemberActions(this, form);
    connect(form, &TfrmSearch::addContactRequested, this,
            [this](qint32, const QString& nick) { AddContact(nick); });
    connect(form, &TfrmSearch::transfersRequested, this, &TServer::ShowTransfers);
    addChild(form, &TfrmSearch::description, {})->showMaximized();
    return form;
}

TfrmUserSearch* TServer::ShowUserSearch() {
    auto* form = new TfrmUserSearch(m_session ? &m_session->agent() : nullptr);
    connectMemberActions(this, form);
    connect(form, &TfrmUserSearch::addContactRequested, this,
            [this](qint32, const QString& nick) { AddContact(nick); });
    addChild(form, &TfrmUserSearch::description, kUserSearchSize);
    return form;
}

TUserInformation* TServer::ShowUserInformation(qint32 userId, const QString& nickname) {
    auto* form = new TUserInformation(m_session ? &m_session->agent() : nullptr, userId, nickname);
    addChild(form, &TUserInformation::description, {});
    form->retrieve();
    return form;
}

TUserInformation* TServer::ShowUserInformation(const QString& nickname) {
    auto* form = new TUserInformation(nickname);
    addChild(form, &TUserInformation::description, {});
    return form;
}

TfrmFavorites* TServer::ShowFavorites(bool show) {
    if (!m_favorites) {
        m_favorites = new TfrmFavorites;
        m_favorites->setAgent(m_session ? &m_session->agent() : nullptr);
        connect(
            m_favorites, &TfrmFavorites::statisticsReceived, this,
            [this](qint32 files, qint32, qint32 users, qint32) { SetOnlineCounts(users, files); });
        connect(m_favorites, &TfrmFavorites::ShowStatus, this, &TServer::ShowStatus);
        connect(m_favorites, &TfrmFavorites::SetTaskText, this, &TServer::SetTaskText);
        connect(m_favorites, &TfrmFavorites::EndTask, this, &TServer::EndTask);
        connect(m_favorites, &TfrmFavorites::closeRequested, this,
                [this] { ShowFavorites(false); });
        connectMemberActions(this, m_favorites.data());
        m_main.sideBar()->dockClient(m_favorites);
        m_favorites->load();
    }
    m_main.sideBar()->showDocked(m_favorites, show);
    return m_favorites;
}

void TServer::AddContact(const QString& nickname) {
    ShowFavorites(true)->AddContact(nickname);
}

}  // namespace mr

namespace mr {

TaskKey TServer::nextChatTask() {
    m_chatTaskIndex = (m_chatTaskIndex + 1) % m_chatTaskKeys.size();
    m_chatTask = taskKey(&m_chatTaskKeys[m_chatTaskIndex]);
    return m_chatTask;
}

TChatClient& TServer::chatClient() {
    if (!m_chat) {
        m_chat = new TChatClient(this);
        connect(m_chat, &TChatClient::connectFailed, this, [this] {
            m_chatConnecting = false;
            SetTaskText(m_chatTask, QStringLiteral("Unable to connect to Chat"));
            EndTask(m_chatTask, false);
            if (m_channels) {
                if (auto* sub = qobject_cast<QMdiSubWindow*>(m_channels->parentWidget())) {
                    sub->close();
                }
            }
        });
        connect(m_chat, &TChatClient::connectionLost, this, [this] {
            // Dropped before the channels came (a refused login): the connecting task ends.
            if (std::exchange(m_chatConnecting, false)) {
                SetTaskText(m_chatTask, kChatDisconnected);
                EndTask(m_chatTask, false);
                return;
            }
            const TaskKey key = nextChatTask();
            ShowStatus(kChatDisconnected, key);
            EndTask(key, false);
        });
    }
    return *m_chat;
}

TChannelWindows& TServer::channelWindows() {
    if (!m_channelWindows) {
        m_channelWindows = new TChannelWindows(
            chatClient(), [this](QWidget* form) { addChild(form, [] { return QString(); }, {}); },
            [](qint32 userId, const QString& nick) { RequestChatWith(userId, nick); }, this);
    }
    return *m_channelWindows;
}

TfrmChannels* TServer::ShowChat() {
    TChatClient& client = chatClient();
    channelWindows();
    if (!client.connected()) {
        if (!client.connecting()) {
            ShowStatus(QStringLiteral("Connecting to ChatServer"), nextChatTask());
            m_chatConnecting = true;
            if (!client.ConnectNext(HostInfo())) {
                // No chat host is known: it fails as an unreachable one would.
                QMetaObject::invokeMethod(&client, &TChatClient::connectFailed,
                                          Qt::QueuedConnection);
            }
        }
    }
    if (m_channels) {
        showChildWindow(qobject_cast<QMdiSubWindow*>(m_channels->parentWidget()));
    } else {
        m_channels = new TfrmChannels(client);
        connect(m_channels, &TfrmChannels::channelEntered, this,
                [this](const QString& group, const QString& channel) {
                    channelWindows().enter(group, channel);
                });
        // Closed is gone, even before the deferred delete: the next command makes a new list.
        connect(m_channels, &TfrmChannels::closed, this, [this] { m_channels = nullptr; });
        connect(m_channels, &TfrmChannels::treeFilled, this, [this] {
            // A refresh long after connecting gets a task of its own.
            m_chatConnecting = false;
            if (!m_main.statusBox()->setTaskText(m_chatTask, QStringLiteral("Chat Connected"))) {
                ShowStatus(QStringLiteral("Chat Connected"), nextChatTask());
            }
            EndTask(m_chatTask, true);
        });
        addChild(
            m_channels, [form = m_channels.data()] { return form->description(); }, kChannelsSize);
    }
    if (client.connected()) {
        client.RequestList();
    }
    return m_channels;
}

}  // namespace mr
