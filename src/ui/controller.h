#pragma once

#include "ui/statusbox.h"

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

#include <array>
#include <functional>

class QMdiSubWindow;

namespace mr {

class AboutBox;
class TfrmActualExplorer;
class TfrmBannedUsers;
class TChannelWindows;
class TChatClient;
class TfrmChannels;
class TfrmCredits;
class TfrmExplorer;
class TfrmFavorites;
class TfrmFeedBack;
class TfrmLocalExplorer;
class TfrmMain;
class TfrmRemoteExplorer;
class TfrmSearch;
class TfrmUserSearch;
class Tfrm_transfer;
class TUserInformation;
class TMRFtpServer;
class TMRWantedList;
class OnlineSession;

// The application controller: every command of the frame lands here, and here every child
// window is created, or shown again when it is one of the single windows. Other parts report
// background work through its status-box operations.
class TServer : public QObject {
    Q_OBJECT
public:
    explicit TServer(TfrmMain& main);
    ~TServer() override;

    TfrmMain& mainWindow() const { return m_main; }

    // The session the windows reach the service through; its commands come alive with it.
    void setOnlineSession(OnlineSession* session);
    OnlineSession* onlineSession() const;
    // The download queue and the file server of the running profile; the transfer and
    // banned-users windows come alive with them.
    void setPeers(TMRWantedList* wanted, TMRFtpServer* fileServer);

    // Opens an explorer on another user's published folders. Offline it adds a failed status
    // task instead and opens nothing (null).
    TfrmRemoteExplorer* Browse(const QString& userName, qint32 userId);
    // "My Shared Files": a new catalog window.
    TfrmLocalExplorer* ShowLocalFiles();
    // "Share Files": a new disk explorer that shares the folders chosen in it.
    TfrmActualExplorer* ShowShareFiles();
    // "Download Dir": a new disk explorer at the folder downloads go to.
    TfrmActualExplorer* ShowDownloadDir();
    // The single transfer window, made at its first showing; null without peers.
    Tfrm_transfer* ShowTransfers();
    // The single banned-users window, read again when it is shown again; null without peers.
    TfrmBannedUsers* ShowBannedUsers();
    // The single credits window, read again when it is shown again; null without peers.
    TfrmCredits* ShowCredits();
    // A new feedback window.
    TfrmFeedBack* ShowFeedback();
    // The single message-of-the-day window with the message fetched last; nothing while no
    // message has been fetched.
    void ShowMessageOfTheDay();
    // The preferences dialog, modal.
    void ShowPreferences();
    // The share wizard, modal.
    void RunShareWizard();
    // "File Search": a new search window, maximized; null without a session.
    TfrmSearch* ShowFileSearch();
    // "User Search": a new white-pages window.
    TfrmUserSearch* ShowUserSearch();
    // A new window with a member's profile, asked for at once; offline it says so.
    TUserInformation* ShowUserInformation(qint32 userId, const QString& nickname);
    // A new profile window that knows only the nickname and asks nothing.
    TUserInformation* ShowUserInformation(const QString& nickname);
    // The single contacts window, docked to fill the side bar at its first showing; the poll's
    // counts go to the caption bar.
    TfrmFavorites* ShowFavorites(bool show);
    // Shows the contacts window and adds a member to it by nickname.
    void AddContact(const QString& nickname);
    // "Chat": connects to the next chat host unless connected, and shows the single channel
    // list, asking for the channels again when connected.
    TfrmChannels* ShowChat();
    // The chat client, made on first use and kept.
    TChatClient& chatClient();
    TChannelWindows& channelWindows();

public slots:
    // Status box. Changing a task or ending it brings the box back when it was hidden.
    void ShowStatus(const QString& text, mr::TaskKey key);
    void SetTaskText(mr::TaskKey key, const QString& text);
    void EndTask(mr::TaskKey key, bool success);

    void ShowStatusBox(bool show);

    // "Online Users: " and "Online Files: " on two lines of the caption bar.
    void SetOnlineCounts(int users, int files);
    // Called by a child window when it becomes active.
    void UpdateCaption(const QString& caption, const QString& description);

    void Cascade();
    void TileHorizontally();
    void TileVertically();
    void ShowAbout();
    // The Close command: sign off and end the program.
    void CloseProgram();
    // The connect routine, from the command or the reconnect timer.
    void Connect();
    // Once, at the first idle moment: the start-up connect, then the windows that open with
    // the program.
    void DeferredStartup();

private:
    // Adds a form as a child window of the frame at its preferred size (its size hint when
    // none is given); the caption bar shows its caption and description while it is active.
    QMdiSubWindow* addChild(QWidget* form, std::function<QString()> description,
                            const QSize& preferred);
    void addExplorer(TfrmExplorer* form);

    TfrmMain& m_main;
    QPointer<AboutBox> m_about;
    QPointer<OnlineSession> m_session;
    QPointer<TMRWantedList> m_wanted;
    QPointer<TMRFtpServer> m_fileServer;
    QPointer<Tfrm_transfer> m_transfers;
    QPointer<QMdiSubWindow> m_bannedUsers;
    QPointer<QMdiSubWindow> m_credits;
    QPointer<QMdiSubWindow> m_motd;
    QPointer<TfrmFavorites> m_favorites;
    // A new status task per chat attempt, so that the outcome of one never lands on the fading
    // task of an earlier one; more than fit in the status box's fading time at once.
    TaskKey nextChatTask();
    std::array<char, 8> m_chatTaskKeys{};
    std::size_t m_chatTaskIndex = 0;
    TaskKey m_chatTask = 0;
    // The chat task still shows its connecting animation.
    bool m_chatConnecting = false;
    TChatClient* m_chat = nullptr;
    TChannelWindows* m_channelWindows = nullptr;
    QPointer<TfrmChannels> m_channels;
};

// The controller of the running program.
TServer& Server();

}  // namespace mr
