#pragma once

#include "service/session.h"
#include "transfer/queue.h"
#include "ui/statusbox.h"

#include <QObject>
#include <QPointer>
#include <QString>

namespace mr {

class TfrmAbout;
class TfrmActualExplorer;
class TfrmExplorer;
class TfrmLocalExplorer;
class TfrmMain;
class TfrmRemoteExplorer;

// The application controller: every command lands here, and here windows are created or
// shown. Other parts report background work through its status-box operations.
class TServer : public QObject {
    Q_OBJECT
public:
    explicit TServer(TfrmMain& main);
    ~TServer() override;

    TfrmMain& mainWindow() const { return m_main; }

    // The session the windows reach the service through; set by the desktop session.
    void setOnlineSession(TOnlineSession* session);
    // The download queue the remote explorers add to; null: they cannot download.
    void setWantedList(TMRWantedList* wanted) { m_wanted = wanted; }
    TOnlineSession* onlineSession() const;

    // Opens an explorer on another user's published folders. Offline it says so in a failed
    // status task and opens nothing (null).
    TfrmRemoteExplorer* Browse(const QString& userName, qint32 userId);
    // "My Shared Files": a new window onto the user's own catalog.
    TfrmLocalExplorer* ShowLocalFiles();
    // "Share Files": a new explorer of this computer's folders.
    TfrmActualExplorer* ShowShareFiles();
    // "Download Dir": a new explorer of this computer's folders at the folder downloads go to.
    TfrmActualExplorer* ShowDownloadDir();

public slots:
    // Status box. Changing a task or ending it brings the box back when it was hidden.
    void ShowStatus(const QString& text, mr::TTaskKey key);
    void SetTaskText(mr::TTaskKey key, const QString& text);
    void EndTask(mr::TTaskKey key, bool success);

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

    // Commands whose work belongs to the online session.
    void Connect();
    void Disconnect();
    void ShowPreferences();

signals:
    void connectRequested();
    void disconnectRequested();
    void preferencesRequested();

private:
    void addChildWindow(TfrmExplorer* form);

    TfrmMain& m_main;
    QPointer<TfrmAbout> m_about;
    QPointer<TOnlineSession> m_session;
    QPointer<TMRWantedList> m_wanted;
};

// The controller of the running program.
TServer& Server();

}  // namespace mr
