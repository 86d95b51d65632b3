#pragma once

#include "ui/shellpolicy.h"

#include <QMainWindow>

#include <optional>

class QLabel;
class QMdiArea;
class QMenu;
class QSystemTrayIcon;
class QToolBar;

namespace mr {

class TdmCommands;
class TfrmStatusBox;
class MdiBar;
class TServer;
class SideBar;

// The multiple-document frame every other window opens in, with its tool bars, caption bar,
// side bar, window tabs, online indicator and tray icon. Closing it from the title bar only
// hides it; the Close command ends the program.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The title; once the user has signed on or off it says whether he is online.
    static QString captionFor(const QString& nickname, std::optional<bool> online);

    TServer& server() const { return *m_server; }
    TdmCommands& commands() const { return *m_commands; }

    QMdiArea* mdiArea() const { return m_mdiArea; }
    MdiBar* mdiBar() const { return m_mdiBar; }
    SideBar* sideBar() const { return m_sideBar; }
    TfrmStatusBox* statusBox() const { return m_statusBox; }
    QLabel* lblCaptionBar() const { return m_lblCaptionBar; }
    QLabel* lblMain() const { return m_lblMain; }
    QLabel* lblOnlineStatus() const { return m_lblOnlineStatus; }
    QLabel* pnlOnline() const { return m_pnlOnline; }
    QToolBar* tbrFile() const { return m_tbrFile; }
    QToolBar* tbrUser() const { return m_tbrUser; }
    QToolBar* tbrWindow() const { return m_tbrWindow; }
    QAction* actFileToolbar() const { return m_actFileToolbar; }
    QAction* actUserToolbar() const { return m_actUserToolbar; }
    QAction* actWindowToolbar() const { return m_actWindowToolbar; }
    QSystemTrayIcon* trayIcon() const { return m_trayIcon; }

    // What the desktop reports unless overridden: decides between hiding and minimising.
    bool trayAvailable() const { return m_trayAvailable; }
    void setTrayAvailable(bool available);

    // Set when the program started without a nickname; the session clears it after the
    // first sign-on.
    bool firstRun() const { return m_firstRun; }
    void setFirstRun(bool on) { m_firstRun = on; }

    QMenu* createPopupMenu() override;

public slots:
    // "Online" on lime or "Offline" on maroon, with the matching image; the title and the
    // tray icon's tooltip say the same.
    void setOnlineIndicator(bool online);
    void setConnectEnabled(bool enabled);

    // Shows the frame at start as the start mode says.
    void showForStart(mr::StartMode mode);
    // From the tray: back on screen and in front.
    void restoreFromTray();
    // The Close command: signs off, stores the settings and lets the program end.
    void closeProgram();

signals:
    // Once, at the first idle moment after the frame exists: the start-up connect and the
    // windows that open with the program hang on it.
    void deferredStartup();
    // During the real close, before anything is torn down; the session signs off here.
    void signingOff();
    // After a real close: the program should end now.
    void programClosed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* createCaptionBar();
    QWidget* createBottomPanel();
    QToolBar* createToolBar(const char* name, const QString& title, const QList<QAction*>& actions);
    QAction* createToolBarToggle(const char* name, const QString& caption, QToolBar* bar);
    void createMenus();
    void createTrayIcon();
    void fillWindowMenu();
    void saveWindowGeometry();

    QMdiArea* m_mdiArea;
    SideBar* m_sideBar;
    TfrmStatusBox* m_statusBox;
    MdiBar* m_mdiBar = nullptr;
    QLabel* m_lblCaptionBar = nullptr;
    QLabel* m_lblMain = nullptr;
    QLabel* m_lblOnlineStatus = nullptr;
    QLabel* m_pnlOnline = nullptr;
    QLabel* m_imgOnline = nullptr;
    QToolBar* m_tbrFile = nullptr;
    QToolBar* m_tbrUser = nullptr;
    QToolBar* m_tbrWindow = nullptr;
    QAction* m_actFileToolbar = nullptr;
    QAction* m_actUserToolbar = nullptr;
    QAction* m_actWindowToolbar = nullptr;
    QMenu* m_windowMenu = nullptr;
    QMenu* m_pmMoonrake = nullptr;
    QSystemTrayIcon* m_trayIcon = nullptr;
    TServer* m_server;
    TdmCommands* m_commands;
    bool m_trayAvailable;
    bool m_realClose = false;
    bool m_firstRun = false;
};

}  // namespace mr
