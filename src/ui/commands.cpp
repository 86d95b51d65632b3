#include "ui/commands.h"

#include "ui/controller.h"
#include "ui/icons.h"

#include <QAction>
#include <QTimer>

namespace mr {

TdmCommands::TdmCommands(TServer& server, QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("dmCommands"));

    actChat = make("actChat", "&Chat", 0, "Chat with other users");
    actFavorites = make("actFavorites", "Fa&vorites", 1, "Show your contacts of Moonrake users");
    actFileSearch = make("actFileSearch", "&File Search", 2, "Search for other users' files");
    actMoonrakeExplorer = make("actMoonrakeExplorer", "Share Files", 5);
    actUserSearch = make("actUserSearch", "&User Search", 3);
    actTransfers = make("actTransfers", "&Transfers", 6);
    actLocalFiles = make("actLocalFiles", "My Shared Files", 4);
    actBannedUsers = make("actBannedUsers", "&Banned Users", 7);
    actCredits = make("actCredits", "C&redits", -1);
    actStatusBox = make("actStatusBox", "Status Bo&x", -1);
    actShareWizard = make("actShareWizard", "Share Wizard", 8);
    actClose = make("actClose", "C&lose", 9);
    actTileHoriz = make("actTileHoriz", "Tile &Horizontally", 11);
    actTileVert = make("actTileVert", "Tile &Vertically", 10);
    actCascade = make("actCascade", "&Cascade", 12);
    actFeedback = make("actFeedback", "Feedback", 13);
    actConnect = make("actConnect", "&Connect", 14);
    actDisconnect = make("actDisconnect", "Disconnect", 15);
    actAbout = make("actAbout", "&About...", -1);
    actPreferences = make("actPreferences", "&Preferences", 17);
    actMotd = make("actMotd", "Message of the day", -1);
    actMyDownloads = make("actMyDownloads", "Download Dir", 16);

    // Windows that are not part of the program yet stay disabled; the rest come alive when the
    // controller has the session or the peers they work with.
    for (QAction* pending :
         {actFavorites, actFileSearch, actMoonrakeExplorer, actUserSearch, actTransfers,
          actLocalFiles, actBannedUsers, actCredits, actShareWizard, actFeedback, actMotd,
          actMyDownloads, actConnect, actPreferences}) {
        pending->setEnabled(false);
    }
    // No operation: the command is never shown.
    actDisconnect->setEnabled(false);
    actDisconnect->setVisible(false);

    actStatusBox->setCheckable(true);
    actStatusBox->setChecked(true);
    actClose->setMenuRole(QAction::QuitRole);
    actAbout->setMenuRole(QAction::AboutRole);

    connect(actStatusBox, &QAction::triggered, &server, &TServer::ShowStatusBox);
    connect(actClose, &QAction::triggered, &server, &TServer::CloseProgram);
    connect(actTileHoriz, &QAction::triggered, &server, &TServer::TileHorizontally);
    connect(actTileVert, &QAction::triggered, &server, &TServer::TileVertically);
    connect(actCascade, &QAction::triggered, &server, &TServer::Cascade);
    connect(actAbout, &QAction::triggered, &server, &TServer::ShowAbout);
    connect(actConnect, &QAction::triggered, &server, &TServer::Connect);
    connect(actPreferences, &QAction::triggered, &server, &TServer::ShowPreferences);
    connect(actTransfers, &QAction::triggered, &server, &TServer::ShowTransfers);
    connect(actLocalFiles, &QAction::triggered, &server, &TServer::ShowLocalFiles);
    connect(actMoonrakeExplorer, &QAction::triggered, &server, &TServer::ShowShareFiles);
    connect(actMyDownloads, &QAction::triggered, &server, &TServer::ShowDownloadDir);
    connect(actBannedUsers, &QAction::triggered, &server, &TServer::ShowBannedUsers);
    connect(actCredits, &QAction::triggered, &server, &TServer::ShowCredits);
    connect(actShareWizard, &QAction::triggered, &server, &TServer::RunShareWizard);
    connect(actFeedback, &QAction::triggered, &server, &TServer::ShowFeedback);
    connect(actMotd, &QAction::triggered, &server, &TServer::ShowMessageOfTheDay);
    connect(actFileSearch, &QAction::triggered, &server, &TServer::ShowFileSearch);
    connect(actUserSearch, &QAction::triggered, &server, &TServer::ShowUserSearch);
    connect(actChat, &QAction::triggered, &server, &TServer::ShowChat);

    tmrReconnect = new QTimer(this);
    tmrReconnect->setObjectName(QStringLiteral("tmrReconnect"));
    tmrReconnect->setInterval(kReconnectIntervalMs);
    // The timer retries even while the command itself is disabled.
    connect(tmrReconnect, &QTimer::timeout, &server, &TServer::Connect);
}

QAction* TdmCommands::make(const char* name, const char* caption, int image, const char* hint) {
    auto* a = new QAction(QString::fromLatin1(caption), this);
    a->setObjectName(QString::fromLatin1(name));
    if (image >= 0) {
        a->setIcon(commandImage(image));
    }
    if (hint) {
        a->setToolTip(QString::fromLatin1(hint));
        a->setStatusTip(QString::fromLatin1(hint));
    }
    a->setProperty("imageIndex", image);
    m_actions.append(a);
    return a;
}

}  // namespace mr
