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
