#pragma once

#include <QList>
#include <QObject>

class QAction;
class QTimer;

namespace mr {

class TServer;

// The command table: every menu, tool-bar and tray command of the frame. Each action calls one
// operation of the controller. A command whose window is not part of the program yet stays
// disabled; the controller enables the others once it has what their windows work with.
class TdmCommands : public QObject {
    Q_OBJECT
public:
    static constexpr int kReconnectIntervalMs = 60000;

    explicit TdmCommands(TServer& server, QObject* parent = nullptr);

    QList<QAction*> actions() const { return m_actions; }

    QAction* actChat;
    QAction* actFavorites;
    QAction* actFileSearch;
    QAction* actMoonrakeExplorer;
    QAction* actUserSearch;
    QAction* actTransfers;
    QAction* actLocalFiles;
    QAction* actBannedUsers;
    QAction* actCredits;
    QAction* actStatusBox;
    QAction* actShareWizard;
    QAction* actClose;
    QAction* actTileHoriz;
    QAction* actTileVert;
    QAction* actCascade;
    QAction* actFeedback;
    QAction* actConnect;
    QAction* actDisconnect;
    QAction* actAbout;
    QAction* actPreferences;
    QAction* actMotd;
    QAction* actMyDownloads;

    // Retries the sign-on every minute while it runs; stopped at start.
    QTimer* tmrReconnect;

private:
    QAction* make(const char* name, const char* caption, int image, const char* hint = nullptr);

    QList<QAction*> m_actions;
};

}  // namespace mr
