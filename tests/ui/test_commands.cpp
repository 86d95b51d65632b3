#include "core/profile.h"
#include "service/session.h"
#include "transfer/datamodule.h"
#include "ui/commands.h"
#include "ui/controller.h"
#include "ui/desktopsession.h"
#include "ui/mainwindow.h"
#include "ui/searchform.h"
#include "ui/transferform.h"
#include "uitest.h"

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTemporaryDir>

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
    const QList<QAction*> live = {c.actConnect, c.actPreferences, c.actTransfers, c.actBannedUsers,
                                  c.actFileSearch};
    for (QAction* a : live)
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();

    DesktopSession desktop(frame, &data);
    for (QAction* a : live)
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    QSignalSpy connects(&desktop.session(), &OnlineSession::connectFinished);
    c.actConnect->trigger();
    ASSERT_TRUE(test::waitUntil([&] { return connects.count() == 1; }, 15000));
    // The reconnect timer retries even while the command has disabled itself.
    frame.setConnectEnabled(false);
    EXPECT_EQ(c.tmrReconnect->interval(), 60000);
    QMetaObject::invokeMethod(c.tmrReconnect, "timeout");
    ASSERT_TRUE(test::waitUntil([&] { return connects.count() == 2; }, 15000));

    // The single windows come once, beside the file search the start-up call opened; the
    // transfer window refuses to close. Each search command opens another search, maximized.
    for (QAction* a : {c.actTransfers, c.actBannedUsers, c.actTransfers, c.actBannedUsers})
        a->trigger();
    QList<QMdiSubWindow*> windows = frame.mdiArea()->subWindowList();
    ASSERT_EQ(windows.size(), 3);
    c.actFileSearch->trigger();
    ASSERT_EQ(frame.mdiArea()->subWindowList().size(), 4);
    EXPECT_TRUE(qobject_cast<TfrmSearch*>(frame.mdiArea()->activeSubWindow()->widget()));
    EXPECT_TRUE(frame.mdiArea()->activeSubWindow()->isMaximized());
    QMdiSubWindow* transfers = *std::find_if(windows.begin(), windows.end(), [](auto* w) {
        return qobject_cast<Tfrm_transfer*>(w->widget()) != nullptr;
    });
    EXPECT_FALSE(transfers->close());
    frame.mdiArea()->setActiveSubWindow(transfers);
    EXPECT_EQ(frame.lblCaptionBar()->text(), "Moonrake - Transfers");
    EXPECT_EQ(frame.lblMain()->text(), Tfrm_transfer::description());
}

TEST(CommandTable, MenusHoldTheirCommands) {
    TfrmMain frame;
    QStringList menus;
    for (QAction* menu : frame.menuBar()->actions())
        menus << menu->text() + ": " + entries(menu->menu()->actions()).join(", ");
    EXPECT_EQ(menus,
              QStringList({"    Moonrake    : &Connect, -, &Preferences, -, C&lose",
                           "&File: &File Search, My Shared Files, Share Files, &Transfers, "
                           "Download Dir, Share Wizard",
                           "&User: &User Search, &Banned Users, &Chat, Feedback",
                           "&View: File Toolbar, User Toolbar, Window Toolbar, -, Status Bo&x, "
                           "Message of the day",
                           "Window: &Cascade, Tile &Horizontally, Tile &Vertically",
                           "&Help: &About..."}));
}

}  // namespace
}  // namespace mr
