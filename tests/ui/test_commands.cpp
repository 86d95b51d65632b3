#include "core/profile.h"
#include "service/session.h"
#include "transfer/datamodule.h"
#include "ui/commands.h"
#include "ui/controller.h"
#include "ui/desktopsession.h"
#include "ui/mainwindow.h"
#include "ui/transferform.h"
#include "uitest.h"

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
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

TEST(CommandTable, CommandsComeAliveWithTheSessionAndThePeers) {
    QTemporaryDir profile;
    struct RestoreProfile {
        QString saved = activeProfile().directory();
        ~RestoreProfile() { setActiveProfile(saved); }
    } restore;
    setActiveProfile(profile.path());
    TMRDataModule data(profile.path());
    ASSERT_EQ(data.create(), TMRDataModule::StartResult::Started);
    TfrmMain frame;
    frame.show();
    TdmCommands& c = frame.commands();
    const QList<QAction*> live = {c.actConnect, c.actPreferences, c.actTransfers, c.actBannedUsers};
    for (QAction* a : live)
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();

    TDesktopSession desktop(frame, &data);
    for (QAction* a : live)
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    QSignalSpy connects(&desktop.session(), &TOnlineSession::connectFinished);
    c.actConnect->trigger();
    ASSERT_TRUE(test::waitUntil([&] { return connects.count() == 1; }, 15000));
    // The reconnect timer retries even while the command has disabled itself.
    frame.setConnectEnabled(false);
    EXPECT_EQ(c.tmrReconnect->interval(), 60000);
    QMetaObject::invokeMethod(c.tmrReconnect, "timeout");
    ASSERT_TRUE(test::waitUntil([&] { return connects.count() == 2; }, 15000));

    // The single windows come once; the transfer window refuses to close.
    for (QAction* a : {c.actTransfers, c.actBannedUsers, c.actTransfers, c.actBannedUsers})
        a->trigger();
    QList<QMdiSubWindow*> windows = frame.mdiArea()->subWindowList();
    ASSERT_EQ(windows.size(), 2);
    QMdiSubWindow* transfers =
        qobject_cast<Tfrm_transfer*>(windows[0]->widget()) ? windows[0] : windows[1];
    EXPECT_FALSE(transfers->close());
    frame.mdiArea()->setActiveSubWindow(transfers);
    EXPECT_EQ(frame.lblCaptionBar()->text(), "Moonrake - Transfers");
    EXPECT_EQ(frame.lblMain()->text(), Tfrm_transfer::description());
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
