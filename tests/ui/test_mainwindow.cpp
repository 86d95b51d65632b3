#include "core/record.h"
#include "service/session.h"
#include "transfer/datamodule.h"
#include "ui/commands.h"
#include "ui/controller.h"
#include "ui/creditsform.h"
#include "ui/desktopsession.h"
#include "ui/favoritesform.h"
#include "ui/mainwindow.h"
#include "ui/mdibar.h"
#include "ui/mditile.h"
#include "ui/searchform.h"
#include "ui/shellpolicy.h"
#include "ui/sidebar.h"
#include "ui/statusbox.h"
#include "ui/transferform.h"
#include "uitest.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>

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
    EXPECT_EQ(frame.trayIcon()->toolTip(), "Moonrake");
    frame.setOnlineIndicator(true);
    EXPECT_EQ(frame.pnlOnline()->text(), "Online");
    EXPECT_EQ(frame.windowTitle(), "Moonrake Ver 1.05 Beta - " + test::kNickname + " (Online)");
    EXPECT_EQ(frame.trayIcon()->toolTip(), "Moonrake - Online");
    frame.setOnlineIndicator(false);
    EXPECT_EQ(frame.pnlOnline()->text(), "Offline");
    EXPECT_EQ(frame.trayIcon()->toolTip(), "Moonrake - Offline");

    // The contacts poll's counts: the first is files, the third users.
    frame.server().ShowFavorites(true)->contacts().pollReply(
        false, 'Q' + PackRecord("IIII", {3456, 1, 12, 2}).bytes);
    EXPECT_EQ(frame.lblOnlineStatus()->text(), "Online Users: 12\nOnline Files: 3456");
}

TEST(MainWindow, TitleBarCloseHidesOrMinimisesOnlyCloseEnds) {
    TfrmMain frame;
    QStringList order;
    QObject::connect(&frame, &TfrmMain::signingOff, [&] { order << "signingOff"; });
    QObject::connect(&frame, &TfrmMain::programClosed, [&] { order << "programClosed"; });

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
    EXPECT_TRUE(order.isEmpty());

    frame.restoreFromTray();
    EXPECT_FALSE(frame.isMinimized());

    // Sign-off comes first, then the program may end.
    const QRect placed(70, 90, 640, 480);
    frame.setGeometry(placed);
    frame.commands().actClose->trigger();
    EXPECT_EQ(order, QStringList({"signingOff", "programClosed"}));
    EXPECT_TRUE(frame.isHidden());

    // The next start puts the frame where the last one was.
    TfrmMain next;
    EXPECT_EQ(next.geometry(), placed);
}

// "-min", and only as the first argument, starts in the tray, or minimised without one.
TEST(MainWindow, StartModes) {
    EXPECT_EQ(startModeFor({}, true), StartMode::Normal);
    EXPECT_EQ(startModeFor({"-min"}, true), StartMode::HiddenInTray);
    EXPECT_EQ(startModeFor({"-min"}, false), StartMode::Minimized);
    EXPECT_EQ(startModeFor({"-MIN"}, true), StartMode::Normal);
    EXPECT_EQ(startModeFor({"x", "-min"}, true), StartMode::Normal);
    // The explorer count is taken out, so "-min" after it is still first.
    QStringList args{"--open-explorers", "2", "-min"};
    EXPECT_EQ(takeExplorerCount(args), 2);
    EXPECT_EQ(startModeFor(args, true), StartMode::HiddenInTray);
    for (QStringList bad :
         {QStringList{"--open-explorers"}, {"--open-explorers", "x"}, {"--open-explorers", "17"}})
        EXPECT_FALSE(takeExplorerCount(bad)) << bad.join(' ').toStdString();

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
    const int areaHeight = frame.mdiArea()->height();
    QMdiSubWindow* search = openChild(frame, "File Search");
    QMdiSubWindow* transfers = openChild(frame, "Transfers");
    MdiBar* bar = frame.mdiBar();
    ASSERT_EQ(bar->count(), 2);
    // Neither the first tabs nor the counts of sign-on take height from the child area.
    frame.lblOnlineStatus()->setText("Online Users: 12\nOnline Files: 3456");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_EQ(frame.mdiArea()->height(), areaHeight);
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
    // Closing a window brings back the one that was active before it, not the first opened.
    openChild(frame, "Chat")->close();
    EXPECT_EQ(frame.mdiArea()->activeSubWindow(), transfers);

    transfers->widget()->setWindowTitle("Transfers (2)");
    EXPECT_TRUE(test::waitUntil([&] { return bar->tabText(1) == "Transfers (2)"; }));
    search->close();
    EXPECT_TRUE(test::waitUntil([&] { return bar->count() == 1; }));
    EXPECT_EQ(bar->windowAt(0), transfers);
}

// A child window is shrunk to what the area shows, but never so far that its form is cut off,
// and has the title-bar buttons its form asks for.
TEST(MainWindow, ChildWindowsFitTheAreaKeepingFixedFormsWholeAndTheirButtons) {
    QMdiArea area;
    area.resize(400, 300);
    area.show();
    auto* fixed = new QWidget;
    fixed->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    fixed->setFixedSize(480, 360);
    QMdiSubWindow* whole = addChildWindow(&area, fixed, {});
    EXPECT_TRUE(whole->rect().contains(fixed->geometry()));
    EXPECT_FALSE(whole->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    // A fixed form that a longer text widens takes its window with it.
    auto* growing = new QWidget;
    auto* status = new QLabel(QStringLiteral("Connecting..."), growing);
    (new QVBoxLayout(growing))->addWidget(status);
    growing->layout()->setSizeConstraint(QLayout::SetFixedSize);
    QMdiSubWindow* follows = addChildWindow(&area, growing, {});
    status->setText(QString(40, QLatin1Char('x')));
    ASSERT_TRUE(test::waitUntil([&] {
        return growing->width() > status->fontMetrics().horizontalAdvance(status->text());
    }));
    EXPECT_TRUE(follows->rect().contains(growing->geometry()));
    QMdiSubWindow* shrunk = addChildWindow(&area, new QWidget, {}, QSize(780, 540));
    EXPECT_TRUE(area.viewport()->rect().contains(shrunk->geometry()));
    EXPECT_TRUE(shrunk->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

    // Whenever the area makes a window active, even as it comes, the window's caption follows.
    int activations = 0;
    area.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&area));
    auto* withField = new QWidget;
    (new QLineEdit(withField))->setFocus();
    addChildWindow(&area, withField, [&activations] { ++activations; });
    EXPECT_EQ(activations, 1);
}

TEST(CommandTable, CommandsComeAliveWithTheSessionAndThePeers) {
    test::ScopedProfile profile;
    TMRDataModule data(profile.path());
    ASSERT_EQ(data.create(), TMRDataModule::StartResult::Started);
    TfrmMain frame;
    frame.show();
    TdmCommands& c = frame.commands();
    const QList<QAction*> live = {c.actConnect,     c.actPreferences, c.actTransfers,
                                  c.actBannedUsers, c.actCredits,     c.actFileSearch};
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
    for (int i = 0; i < 2; ++i)
        for (QAction* a : {c.actTransfers, c.actBannedUsers, c.actCredits})
            a->trigger();
    QList<QMdiSubWindow*> windows = frame.mdiArea()->subWindowList();
    ASSERT_EQ(windows.size(), 4);
    // The credits open wide enough for every column of the accounts.
    const QTableWidget* accounts = frame.findChild<TfrmCredits*>()->lvwCredits();
    EXPECT_LE(accounts->horizontalHeader()->length(), accounts->viewport()->width());
    c.actFileSearch->trigger();
    ASSERT_EQ(frame.mdiArea()->subWindowList().size(), 5);
    EXPECT_TRUE(qobject_cast<TfrmSearch*>(frame.mdiArea()->activeSubWindow()->widget()));
    EXPECT_TRUE(frame.mdiArea()->activeSubWindow()->isMaximized());
    QMdiSubWindow* transfers = *std::find_if(windows.begin(), windows.end(), [](auto* w) {
        return qobject_cast<Tfrm_transfer*>(w->widget()) != nullptr;
    });
    EXPECT_FALSE(transfers->close());
    frame.mdiArea()->setActiveSubWindow(transfers);
    EXPECT_FALSE(transfers->isMaximized());
    EXPECT_EQ(frame.lblCaptionBar()->text(), "Moonrake - Transfers");
    EXPECT_EQ(frame.lblMain()->text(), Tfrm_transfer::description());
}

constexpr TaskKey kAgent = 1;
constexpr TaskKey kChat = 2;

// Ticks until the task list shrinks; the time that took in milliseconds, or -1 after a minute.
int msUntilGone(TfrmStatusBox& box) {
    const int before = box.taskCount();
    for (int ticks = 1; ticks <= 120; ++ticks) {
        box.tick();
        if (box.taskCount() < before)
            return ticks * TfrmStatusBox::kTickMs;
    }
    return -1;
}

class StatusBox : public ::testing::Test {
protected:
    StatusBox() { box.setAutoTick(false); }
    TfrmStatusBox box;
};

TEST_F(StatusBox, RunningTasksBlinkSuccessFadesInFourSecondsFailureInSevenAndAHalf) {
    EXPECT_FALSE(box.setTaskText(kAgent, "nobody"));
    box.addTask("Connecting to ChatServer", kChat);
    box.addTask("Connecting to Moonrake Network", kAgent);
    EXPECT_EQ(box.taskImage(0), 0);
    box.tick();
    EXPECT_EQ(box.taskImage(0), 1);
    box.tick();
    EXPECT_EQ(box.taskImage(0), 0);

    // Ending one leaves the other blinking; the news of a key is for its running task.
    ASSERT_TRUE(box.endTask(kAgent, true));
    box.addTask("Disconnected from Moonrake!", kAgent);
    EXPECT_TRUE(box.setTaskText(kAgent, "Unable to connect"));
    ASSERT_TRUE(box.endTask(kAgent, false));
    EXPECT_EQ(box.taskText(1), "Connecting to Moonrake Network");
    EXPECT_EQ(box.taskImage(1), 2);
    EXPECT_EQ(box.taskText(2), "Unable to connect");
    EXPECT_EQ(box.taskImage(2), 10);
    // Ended together: the success goes after four seconds, the failure three and a half later.
    EXPECT_EQ(msUntilGone(box), 4000);
    EXPECT_EQ(msUntilGone(box), 3500);
    ASSERT_EQ(box.taskCount(), 1);
    EXPECT_EQ(box.taskText(0), "Connecting to ChatServer");
    EXPECT_LT(box.taskImage(0), TfrmStatusBox::kFirstSuccessImage);

    // Left to its own clock, an ended task goes away.
    TfrmStatusBox automatic;
    automatic.addTask("Connecting", kAgent);
    automatic.endTask(kAgent, true);
    EXPECT_TRUE(test::waitUntil([&] { return automatic.taskCount() == 0; }));
}

// The side bar shows while one of its docked windows does.
TEST(StatusBoxInFrame, EndingATaskBringsTheHiddenBoxAndItsSideBarBack) {
    TfrmMain frame;
    frame.show();
    TServer& server = frame.server();
    frame.statusBox()->setAutoTick(false);

    server.ShowFavorites(false);
    server.ShowStatus("You must connect first", kAgent);
    frame.commands().actStatusBox->trigger();
    EXPECT_TRUE(frame.statusBox()->isHidden());
    EXPECT_TRUE(frame.sideBar()->isHidden());
    EXPECT_FALSE(frame.commands().actStatusBox->isChecked());

    server.EndTask(kAgent, false);
    EXPECT_FALSE(frame.statusBox()->isHidden());
    EXPECT_FALSE(frame.sideBar()->isHidden());
    EXPECT_TRUE(frame.commands().actStatusBox->isChecked());

    // The box's own close button hides it and clears the check mark; the contacts keep the side
    // bar shown until they are closed too, and "Favorites" brings them back.
    frame.commands().actFavorites->trigger();
    auto* close = frame.statusBox()->findChild<QToolButton*>("btnStatusBoxClose");
    ASSERT_NE(close, nullptr);
    close->click();
    EXPECT_TRUE(frame.statusBox()->isHidden());
    EXPECT_FALSE(frame.commands().actStatusBox->isChecked());
    EXPECT_FALSE(frame.sideBar()->isHidden());
    frame.findChild<QToolButton*>("btnFavoritesClose")->click();
    EXPECT_TRUE(frame.sideBar()->isHidden());
    frame.commands().actFavorites->trigger();
    EXPECT_FALSE(frame.sideBar()->isHidden());
    server.ShowFavorites(false);
    server.SetTaskText(kAgent, "Unable to connect");
    EXPECT_FALSE(frame.statusBox()->isHidden());
    EXPECT_FALSE(frame.sideBar()->isHidden());
}

}  // namespace
}  // namespace mr
