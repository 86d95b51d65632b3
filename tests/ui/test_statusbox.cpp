#include "ui/commands.h"
#include "ui/controller.h"
#include "ui/mainwindow.h"
#include "ui/sidebar.h"
#include "ui/statusbox.h"
#include "uitest.h"

#include <QToolButton>

#include <gtest/gtest.h>

namespace mr {
namespace {

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

    server.ShowStatus("You must connect first", kAgent);
    frame.commands().actStatusBox->trigger();
    EXPECT_TRUE(frame.statusBox()->isHidden());
    EXPECT_TRUE(frame.sideBar()->isHidden());
    EXPECT_FALSE(frame.commands().actStatusBox->isChecked());

    server.EndTask(kAgent, false);
    EXPECT_FALSE(frame.statusBox()->isHidden());
    EXPECT_FALSE(frame.sideBar()->isHidden());
    EXPECT_TRUE(frame.commands().actStatusBox->isChecked());

    // The box's own close button hides it and clears the check mark.
    auto* contacts = new QWidget;
    frame.sideBar()->dockClient(contacts);
    auto* close = frame.statusBox()->findChild<QToolButton*>("btnStatusBoxClose");
    ASSERT_NE(close, nullptr);
    close->click();
    EXPECT_TRUE(frame.statusBox()->isHidden());
    EXPECT_FALSE(frame.commands().actStatusBox->isChecked());
    EXPECT_FALSE(frame.sideBar()->isHidden());
    frame.sideBar()->showDocked(contacts, false);
    EXPECT_TRUE(frame.sideBar()->isHidden());
    server.SetTaskText(kAgent, "Unable to connect");
    EXPECT_FALSE(frame.statusBox()->isHidden());
    EXPECT_FALSE(frame.sideBar()->isHidden());
}

}  // namespace
}  // namespace mr
