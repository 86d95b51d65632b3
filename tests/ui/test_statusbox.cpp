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

constexpr TTaskKey kAgent = 1;
constexpr TTaskKey kChat = 2;

// Ticks until the task list shrinks; the number of ticks it took, or -1 after a minute.
int ticksUntilGone(TfrmStatusBox& box) {
    const int before = box.taskCount();
    for (int ticks = 1; ticks <= 120; ++ticks) {
        box.tick();
        if (box.taskCount() < before) {
            return ticks;
        }
    }
    return -1;
}

class StatusBox : public ::testing::Test {
protected:
    StatusBox() { box.setAutoTick(false); }
    TfrmStatusBox box;
};

TEST_F(StatusBox, SuccessFadesInFourSecondsAndFailureInSevenAndAHalf) {
    box.addTask("Connecting to Moonrake Network", kAgent);
    box.tick();
    ASSERT_TRUE(box.endTask(kAgent, true));
    EXPECT_EQ(box.taskImage(0), 2);
    EXPECT_EQ(ticksUntilGone(box) * TfrmStatusBox::kTickMs, 4000);

    box.addTask("Unable to connect", kAgent);
    ASSERT_TRUE(box.endTask(kAgent, false));
    EXPECT_EQ(box.taskImage(0), 10);
    EXPECT_EQ(ticksUntilGone(box) * TfrmStatusBox::kTickMs, 7500);
}

TEST_F(StatusBox, RunningTasksBlinkUntilEnded) {
    box.addTask("Connecting to ChatServer", kChat);
    box.addTask("Connecting to Moonrake Network", kAgent);
    EXPECT_EQ(box.taskImage(0), 0);
    box.tick();
    EXPECT_EQ(box.taskImage(0), 1);
    box.tick();
    EXPECT_EQ(box.taskImage(0), 0);

    // Ending one leaves the other blinking long after the first has gone.
    box.endTask(kAgent, true);
    for (int i = 0; i < 40; ++i) {
        box.tick();
    }
    ASSERT_EQ(box.taskCount(), 1);
    EXPECT_EQ(box.taskText(0), "Connecting to ChatServer");
    EXPECT_LT(box.taskImage(0), TfrmStatusBox::kFirstSuccessImage);
}

// Left to its own clock, an ended task goes away.
TEST(StatusBoxClock, EndedTasksFadeOnTheirOwn) {
    TfrmStatusBox box;
    box.addTask("Connecting", kAgent);
    box.endTask(kAgent, true);
    EXPECT_TRUE(test::waitUntil([&] { return box.taskCount() == 0; }));
}

TEST_F(StatusBox, ChangesReachTheRunningTaskOfAKey) {
    EXPECT_FALSE(box.setTaskText(kAgent, "nobody"));
    EXPECT_FALSE(box.endTask(kAgent, true));

    box.addTask("Connecting to Moonrake Network", kAgent);
    box.endTask(kAgent, true);
    box.addTask("Disconnected from Moonrake!", kAgent);
    // The first task of the key is still fading; the news is for the second.
    EXPECT_TRUE(box.endTask(kAgent, false));
    EXPECT_EQ(box.taskImage(0), 2);
    EXPECT_EQ(box.taskImage(1), 10);

    box.addTask("Connecting to Moonrake Network", kAgent);
    EXPECT_TRUE(box.setTaskText(kAgent, "Connected!"));
    EXPECT_EQ(box.taskText(2), "Connected!");
    EXPECT_EQ(box.taskText(0), "Connecting to Moonrake Network");
}

TEST(StatusBoxInFrame, EndingATaskBringsTheHiddenBoxBack) {
    TfrmMain frame;
    frame.show();
    TServer& server = frame.server();
    frame.statusBox()->setAutoTick(false);

    server.ShowStatus("You must connect first", kAgent);
    frame.commands().actStatusBox->trigger();
    EXPECT_TRUE(frame.statusBox()->isHidden());
    EXPECT_FALSE(frame.commands().actStatusBox->isChecked());

    server.EndTask(kAgent, false);
    EXPECT_FALSE(frame.statusBox()->isHidden());
    EXPECT_TRUE(frame.commands().actStatusBox->isChecked());
    EXPECT_EQ(frame.statusBox()->taskImage(0), TfrmStatusBox::kFirstFailureImage);

    // The box's own close button hides it and clears the check mark.
    auto* close = frame.statusBox()->findChild<QToolButton*>("btnStatusBoxClose");
    ASSERT_NE(close, nullptr);
    close->click();
    EXPECT_TRUE(frame.statusBox()->isHidden());
    EXPECT_FALSE(frame.commands().actStatusBox->isChecked());
    server.SetTaskText(kAgent, "Unable to connect");
    EXPECT_FALSE(frame.statusBox()->isHidden());
    EXPECT_EQ(frame.statusBox()->taskText(0), "Unable to connect");
}

}  // namespace
}  // namespace mr
