#include "ui/commands.h"
#include "ui/controller.h"
#include "ui/mainwindow.h"
#include "ui/mdibar.h"
#include "ui/shellpolicy.h"
#include "ui/sidebar.h"
#include "ui/sidebarsplitter.h"
#include "uitest.h"

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace mr {
namespace {

QMdiSubWindow* openChild(TfrmMain& frame, const QString& title) {
    auto* child = new QWidget;
    child->setWindowTitle(title);
    QMdiSubWindow* window = frame.mdiArea()->addSubWindow(child);
    window->show();
    return window;
}

TEST(MainWindow, CaptionsOnlineIndicatorAndCounts) {
    TfrmMain frame;
    EXPECT_EQ(frame.windowTitle(), "Moonrake Ver 1.05 Beta - " + test::kNickname);
    EXPECT_EQ(frame.lblCaptionBar()->text(), "Moonrake");
    frame.server().UpdateCaption("File Search", "Search for other users' files");
    EXPECT_EQ(frame.lblCaptionBar()->text(), "Moonrake - File Search");
    EXPECT_EQ(frame.lblMain()->text(), "Search for other users' files");
    frame.server().UpdateCaption("   ", "");
    EXPECT_EQ(frame.lblCaptionBar()->text(), "Moonrake");

    EXPECT_EQ(frame.pnlOnline()->text(), "Offline ");
    frame.setOnlineIndicator(true);
    EXPECT_EQ(frame.pnlOnline()->text(), "Online");
    frame.setOnlineIndicator(false);
    EXPECT_EQ(frame.pnlOnline()->text(), "Offline");

    frame.server().SetOnlineCounts(12, 3456);
    EXPECT_EQ(frame.lblOnlineStatus()->text(), "Online Users: 12\nOnline Files: 3456");
}

TEST(MainWindow, SplitterTogglesTheSideBarNearItsMiddleOnly) {
    EXPECT_TRUE(SideBarSplitter::inToggleZone(85, 200));
    EXPECT_TRUE(SideBarSplitter::inToggleZone(115, 200));
    EXPECT_FALSE(SideBarSplitter::inToggleZone(84, 200));
    EXPECT_FALSE(SideBarSplitter::inToggleZone(116, 200));

    TfrmMain frame;
    frame.show();
    auto* splitter = frame.findChild<SideBarSplitter*>("splSideBar");
    ASSERT_NE(splitter, nullptr);
    const QPoint center(splitter->width() / 2, splitter->height() / 2);
    QTest::mouseClick(splitter, Qt::LeftButton, {}, center);
    EXPECT_TRUE(frame.sideBar()->isHidden());
    QTest::mouseClick(splitter, Qt::LeftButton, {}, center);
    EXPECT_FALSE(frame.sideBar()->isHidden());

    // Away from the middle a press drags the side bar wider instead.
    const QPoint away = center + QPoint(0, 40);
    QTest::mousePress(splitter, Qt::LeftButton, {}, away);
    QTest::mouseMove(splitter, away + QPoint(40, 0));
    QTest::mouseRelease(splitter, Qt::LeftButton, {}, away + QPoint(40, 0));
    EXPECT_EQ(frame.sideBar()->width(), SideBar::kDefaultWidth + 40);
    EXPECT_FALSE(frame.sideBar()->isHidden());
}

TEST(MainWindow, TitleBarCloseHidesOrMinimisesOnlyCloseEnds) {
    TfrmMain frame;
    QSignalSpy signingOff(&frame, &TfrmMain::signingOff);
    QSignalSpy closed(&frame, &TfrmMain::programClosed);

    frame.setTrayAvailable(true);
    frame.show();
    EXPECT_FALSE(frame.close());
    EXPECT_TRUE(frame.isHidden());

    // Without a tray the window must stay reachable from the task bar.
    frame.setTrayAvailable(false);
    frame.show();
    EXPECT_FALSE(frame.close());
    EXPECT_FALSE(frame.isHidden());
    EXPECT_TRUE(frame.isMinimized());
    EXPECT_EQ(signingOff.count(), 0);
    EXPECT_EQ(closed.count(), 0);

    frame.restoreFromTray();
    EXPECT_FALSE(frame.isMinimized());

    // Sign-off comes first, then the program may end.
    QStringList order;
    QObject::connect(&frame, &TfrmMain::signingOff, [&] { order << "signingOff"; });
    QObject::connect(&frame, &TfrmMain::programClosed, [&] { order << "programClosed"; });
    frame.commands().actClose->trigger();
    EXPECT_EQ(order, QStringList({"signingOff", "programClosed"}));
    EXPECT_TRUE(frame.isHidden());
}

// "-min", and only as the first argument, starts in the tray, or minimised without one.
TEST(MainWindow, StartModes) {
    EXPECT_EQ(startModeFor({}, true), StartMode::Normal);
    EXPECT_EQ(startModeFor({"-min"}, true), StartMode::HiddenInTray);
    EXPECT_EQ(startModeFor({"-min"}, false), StartMode::Minimized);
    EXPECT_EQ(startModeFor({"-MIN"}, true), StartMode::Normal);
    EXPECT_EQ(startModeFor({"x", "-min"}, true), StartMode::Normal);

    TfrmMain hidden;
    hidden.showForStart(StartMode::HiddenInTray);
    EXPECT_TRUE(hidden.isHidden());

    TfrmMain minimised;
    minimised.showForStart(StartMode::Minimized);
    EXPECT_TRUE(minimised.isVisible());
    EXPECT_TRUE(minimised.isMinimized());

    TfrmMain normal;
    QSignalSpy startup(&normal, &TfrmMain::deferredStartup);
    normal.showForStart(StartMode::Normal);
    EXPECT_FALSE(normal.isMinimized());
    EXPECT_TRUE(startup.wait(2000));
    QCoreApplication::processEvents();
    EXPECT_EQ(startup.count(), 1);
}

TEST(MainWindow, TabBarAndWindowMenuFollowTheChildWindows) {
    TfrmMain frame;
    frame.show();
    QMdiSubWindow* search = openChild(frame, "File Search");
    QMdiSubWindow* transfers = openChild(frame, "Transfers");
    MdiBar* bar = frame.mdiBar();
    ASSERT_EQ(bar->count(), 2);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    EXPECT_EQ(frame.mdiArea()->activeSubWindow(), search);

    // The Window menu lists the open windows after its commands and activates the one chosen.
    QMenu* window = nullptr;
    for (QAction* menu : frame.menuBar()->actions())
        window = menu->text() == "Window" ? menu->menu() : window;
    ASSERT_NE(window, nullptr);
    emit window->aboutToShow();
    const QList<QAction*> items = window->actions();
    ASSERT_EQ(items.size(), 6);
    EXPECT_TRUE(items.at(3)->isSeparator());
    EXPECT_EQ(items.at(4)->text(), "&1 File Search");
    EXPECT_EQ(items.at(5)->text(), "&2 Transfers");
    items.at(5)->trigger();
    EXPECT_EQ(frame.mdiArea()->activeSubWindow(), transfers);

    transfers->widget()->setWindowTitle("Transfers (2)");
    EXPECT_TRUE(test::waitUntil([&] { return bar->tabText(1) == "Transfers (2)"; }));
    search->close();
    EXPECT_TRUE(test::waitUntil([&] { return bar->count() == 1; }));
    EXPECT_EQ(bar->windowAt(0), transfers);
}

}  // namespace
}  // namespace mr
