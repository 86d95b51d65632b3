#include "ui/commands.h"
#include "ui/mainwindow.h"
#include "ui/server.h"

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>

#include <gtest/gtest.h>

namespace mr {
namespace {

struct CommandRow {
    const char* name;
    const char* caption;
    const char* hint;  // empty: none
    int image;         // -1: none
};

const CommandRow kTable[] = {
    {"actChat", "&Chat", "Chat with other users", 0},
    {"actFavorites", "Fa&vorites", "Show your contacts of Moonrake users", 1},
    {"actFileSearch", "&File Search", "Search for other users' files", 2},
    {"actMoonrakeExplorer", "Share Files", "", 5},
    {"actUserSearch", "&User Search", "", 3},
    {"actTransfers", "&Transfers", "", 6},
    {"actLocalFiles", "My Shared Files", "", 4},
    {"actBannedUsers", "&Banned Users", "", 7},
    {"actStatusBox", "Status Bo&x", "", -1},
    {"actShareWizard", "Share Wizard", "", 8},
    {"actClose", "C&lose", "", 9},
    {"actTileHoriz", "Tile &Horizontally", "", 11},
    {"actTileVert", "Tile &Vertically", "", 10},
    {"actCascade", "&Cascade", "", 12},
    {"actFeedback", "Feedback", "", 13},
    {"actConnect", "&Connect", "", 14},
    {"actDisconnect", "Disconnect", "", 15},
    {"actAbout", "&About...", "", -1},
    {"actPreferences", "&Preferences", "", 17},
    {"actMotd", "Message of the day", "", -1},
    {"actMyDownloads", "Download Dir", "", 16},
};

// Captions of a menu's entries in order, "-" for a separator, skipping invisible entries.
QStringList entries(const QList<QAction*>& actions) {
    QStringList out;
    for (const QAction* a : actions) {
        if (a->isSeparator()) {
            out << QStringLiteral("-");
        } else if (a->isVisible()) {
            out << a->text();
        }
    }
    return out;
}

QMenu* topMenu(TfrmMain& frame, const QString& title) {
    for (QAction* a : frame.menuBar()->actions()) {
        if (a->text() == title) {
            return a->menu();
        }
    }
    return nullptr;
}

TEST(CommandTable, EveryCommandHasItsCaptionHintAndImage) {
    TfrmMain frame;
    const TdmCommands& commands = frame.commands();
    EXPECT_EQ(commands.actions().size(), std::size(kTable));
    for (const CommandRow& row : kTable) {
        SCOPED_TRACE(row.name);
        const QAction* a = commands.action(QString::fromLatin1(row.name));
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(), QString::fromLatin1(row.caption));
        if (*row.hint) {
            EXPECT_EQ(a->toolTip(), QString::fromLatin1(row.hint));
            EXPECT_EQ(a->statusTip(), QString::fromLatin1(row.hint));
        } else {
            EXPECT_TRUE(a->statusTip().isEmpty());
        }
        EXPECT_EQ(a->property("imageIndex").toInt(), row.image);
        EXPECT_EQ(a->icon().isNull(), row.image < 0);
    }
}

TEST(CommandTable, CommandsOfWindowsNotYetBuiltStayDisabled) {
    TfrmMain frame;
    TdmCommands& c = frame.commands();
    const QList<QAction*> pending = {
        c.actChat,       c.actFavorites, c.actFileSearch,  c.actMoonrakeExplorer,
        c.actUserSearch, c.actTransfers, c.actBannedUsers, c.actShareWizard,
        c.actFeedback,   c.actMotd,      c.actMyDownloads};
    for (QAction* a : pending) {
        SCOPED_TRACE(a->objectName().toStdString());
        EXPECT_FALSE(a->isEnabled());
        a->trigger();
    }
    EXPECT_TRUE(frame.mdiArea()->subWindowList().isEmpty());

    for (QAction* a :
         {c.actStatusBox, c.actClose, c.actTileHoriz, c.actTileVert, c.actCascade, c.actAbout}) {
        SCOPED_TRACE(a->objectName().toStdString());
        EXPECT_TRUE(a->isEnabled());
    }
    EXPECT_TRUE(c.actStatusBox->isChecked());
    EXPECT_FALSE(c.actDisconnect->isVisible());
}

TEST(CommandTable, SessionCommandsReachTheControllerOnceEnabled) {
    TfrmMain frame;
    TdmCommands& c = frame.commands();
    QSignalSpy connects(&frame.server(), &TServer::connectRequested);
    QSignalSpy preferences(&frame.server(), &TServer::preferencesRequested);

    EXPECT_FALSE(c.actConnect->isEnabled());
    EXPECT_FALSE(c.actPreferences->isEnabled());
    c.actConnect->trigger();
    EXPECT_EQ(connects.count(), 0);

    frame.setConnectEnabled(true);
    c.actConnect->trigger();
    EXPECT_EQ(connects.count(), 1);
    c.actPreferences->setEnabled(true);
    c.actPreferences->trigger();
    EXPECT_EQ(preferences.count(), 1);

    // The reconnect timer retries even while the command has disabled itself.
    frame.setConnectEnabled(false);
    EXPECT_EQ(c.tmrReconnect->interval(), 60000);
    EXPECT_FALSE(c.tmrReconnect->isActive());
    QMetaObject::invokeMethod(c.tmrReconnect, "timeout");
    EXPECT_EQ(connects.count(), 2);
}

TEST(CommandTable, MenusToolBarsAndTrayListTheirCommands) {
    TfrmMain frame;
    const QStringList titles = [&] {
        QStringList t;
        for (QAction* a : frame.menuBar()->actions()) {
            t << a->text();
        }
        return t;
    }();
    EXPECT_EQ(titles,
              QStringList({"    Moonrake    ", "&File", "&User", "&View", "Window", "&Help"}));
    EXPECT_EQ(entries(topMenu(frame, "    Moonrake    ")->actions()),
              QStringList({"&Connect", "-", "&Preferences", "-", "C&lose"}));
    EXPECT_EQ(entries(topMenu(frame, "&File")->actions()),
              QStringList({"&File Search", "My Shared Files", "Share Files", "&Transfers",
                           "Download Dir", "Share Wizard"}));
    EXPECT_EQ(entries(topMenu(frame, "&User")->actions()),
              QStringList({"&User Search", "&Banned Users", "&Chat", "Feedback"}));
    EXPECT_EQ(entries(topMenu(frame, "&View")->actions()),
              QStringList({"File Toolbar", "User Toolbar", "Window Toolbar", "-", "Status Bo&x",
                           "Message of the day"}));
    EXPECT_EQ(entries(topMenu(frame, "Window")->actions()),
              QStringList({"&Cascade", "Tile &Horizontally", "Tile &Vertically"}));
    EXPECT_EQ(entries(topMenu(frame, "&Help")->actions()), QStringList({"&About..."}));

    EXPECT_EQ(entries(frame.tbrFile()->actions()),
              QStringList({"&File Search", "My Shared Files", "Share Files", "&Transfers",
                           "Download Dir"}));
    EXPECT_EQ(entries(frame.tbrUser()->actions()),
              QStringList({"&User Search", "&Banned Users", "&Chat", "Feedback"}));
    EXPECT_EQ(entries(frame.tbrWindow()->actions()),
              QStringList({"&Cascade", "Tile &Horizontally", "Tile &Vertically"}));
    EXPECT_EQ(frame.tbrFile()->windowTitle(), "File");
    EXPECT_EQ(frame.tbrUser()->windowTitle(), "User");
    EXPECT_EQ(frame.tbrWindow()->windowTitle(), "Window");

    EXPECT_EQ(frame.trayIcon()->toolTip(), "Moonrake");
    EXPECT_EQ(entries(frame.trayIcon()->contextMenu()->actions()),
              QStringList({"&Connect", "&Preferences", "&About...", "-", "C&lose"}));
}

TEST(CommandTable, WindowMenuListsTheOpenWindows) {
    TfrmMain frame;
    frame.show();
    for (const char* title : {"Alpha", "Beta"}) {
        auto* child = new QWidget;
        child->setWindowTitle(QString::fromLatin1(title));
        frame.mdiArea()->addSubWindow(child)->show();
    }
    QMenu* window = topMenu(frame, "Window");
    emit window->aboutToShow();
    const QStringList items = entries(window->actions());
    EXPECT_EQ(items, QStringList({"&Cascade", "Tile &Horizontally", "Tile &Vertically", "-",
                                  "&1 Alpha", "&2 Beta"}));
    window->actions().at(4)->trigger();
    EXPECT_EQ(frame.mdiArea()->activeSubWindow()->widget()->windowTitle(), "Alpha");
}

}  // namespace
}  // namespace mr
