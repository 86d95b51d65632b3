#include "ui/commands.h"

#include "ui/icons.h"
#include "ui/server.h"

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

    // Windows built elsewhere: their actions wait, disabled, until those windows exist.
    for (QAction* pending :
         {actChat, actFavorites, actFileSearch, actMoonrakeExplorer, actUserSearch, actTransfers,
          actLocalFiles, actBannedUsers, actShareWizard, actFeedback, actMotd, actMyDownloads}) {
        pending->setEnabled(false);
    }
    // The session logic enables these when it takes them over: Connect while offline,
    // Preferences with its dialog.
    actConnect->setEnabled(false);
    actPreferences->setEnabled(false);
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
    connect(actDisconnect, &QAction::triggered, &server, &TServer::Disconnect);
    connect(actPreferences, &QAction::triggered, &server, &TServer::ShowPreferences);

    tmrReconnect = new QTimer(this);
    tmrReconnect->setObjectName(QStringLiteral("tmrReconnect"));
    tmrReconnect->setInterval(kReconnectIntervalMs);
    // The timer retries even while the command itself is disabled.
    connect(tmrReconnect, &QTimer::timeout, &server, &TServer::Connect);
}

QAction* TdmCommands::action(const QString& name) const {
    for (QAction* a : m_actions) {
        if (a->objectName() == name) {
            return a;
        }
    }
    return nullptr;
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
