#include "../messaging/chatscript.h"
#include "core/profile.h"
#include "messaging/chatclient.h"
#include "ui/channelforms.h"
#include "ui/commands.h"
#include "ui/mainwindow.h"
#include "ui/mditile.h"
#include "ui/statusbox.h"
#include "uitest.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace mr;
using test::waitUntil;

namespace {

QTreeWidgetItem* item(QTreeWidget* tree, const QString& name) {
    const auto found = tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

// The channel list over a client signed on to a scripted server that lists one group with one
// channel and one group without any; channel windows open in an MDI area as in the frame.
class ChannelWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_client.Connect("127.0.0.1", m_server.port());
        ASSERT_TRUE(m_server.waitForClient());
        m_server.sendLines({"121 Welcome", "321 x", "322 @Music 0 x", "322 rock 5 'Rock talk'",
                            "322 @Empty 0 ''", "323 x"});
        ASSERT_TRUE(waitUntil([&] { return m_form.tvwChannels()->topLevelItemCount() == 1; }));
        QObject::connect(&m_form, &TfrmChannels::channelEntered, &m_windows,
                         [this](const QString& g, const QString& c) { m_windows.enter(g, c); });
        m_form.show();
    }

    // Everything sent before it has arrived once the line for a later command has.
    void sync() {
        m_client.RequestUserId(QStringLiteral("sync%1").arg(++m_syncs));
        ASSERT_TRUE(m_server.waitForLine("USERID sync" + QByteArray::number(m_syncs)));
    }

    test::ScriptedChatServer m_server;
    TChatClient m_client;
    QMdiArea m_area;
    TChannelWindows m_windows{
        m_client, [this](QWidget* w) { addChildWindow(&m_area, w, {}, {}); }, {}};
    TfrmChannels m_form{m_client};
    int m_syncs = 0;
};

TEST_F(ChannelWindowsTest, OnlyChannelNodesEnterAndTheListCloses) {
    QTreeWidget* tree = m_form.tvwChannels();
    EXPECT_EQ(item(tree, "rock")->text(2), "Rock talk");
    for (const char* name : {"Moonrake Chat", "Music", "Empty"}) {
        emit tree->itemDoubleClicked(item(tree, name), 0);
    }
    sync();
    EXPECT_EQ(m_server.count("JOIN"), 0);
    EXPECT_TRUE(m_form.isVisible());

    emit tree->itemDoubleClicked(item(tree, "rock"), 0);
    ASSERT_TRUE(m_server.waitForLine("JOIN @Music rock"));
    EXPECT_FALSE(m_form.isVisible());
    ASSERT_TRUE(m_windows.find("Music", "rock"));
}

TEST_F(ChannelWindowsTest, ANewChannelNeedsANameAndIsEntered) {
    QTreeWidget* tree = m_form.tvwChannels();
    QTreeWidgetItem* music = item(tree, "Music");
    tree->setCurrentItem(music);
    m_form.actNew()->trigger();
    QTreeWidgetItem* added = item(tree, "New Channel");
    ASSERT_TRUE(added);
    added->setText(0, "");
    m_form.tvwChannelsEdited(added);
    EXPECT_EQ(music->childCount(), 1);
    EXPECT_EQ(m_client.tree().findGroup("Music")->children().size(), 1u);

    m_form.actNew()->trigger();
    added = item(tree, "New Channel");
    ASSERT_TRUE(added);
    added->setText(0, "jazz");
    m_form.tvwChannelsEdited(added);
    ASSERT_TRUE(m_server.waitForLine("JOIN @Music jazz"));
    EXPECT_TRUE(m_client.tree().find("Music", "jazz"));
}

TEST_F(ChannelWindowsTest, TheChannelWindowTalksOnlyThroughTheServerAndLeavesOnce) {
    QPointer<TfrmChannel> window = m_windows.enter("Music", "rock");
    ASSERT_TRUE(window);
    // Entering again only brings the window back.
    EXPECT_EQ(m_windows.enter("Music", "rock"), window);
    m_server.sendLines({"201 @Music rock tester", "351 @Music rock", "353 @Music rock ann bob",
                        "366 @Music rock"});
    ASSERT_TRUE(waitUntil([&] { return window->lstUsers()->count() == 2; }));

    window->txtMsg()->setText("it's me");
    QTest::keyClick(window->txtMsg(), Qt::Key_Return);
    ASSERT_TRUE(m_server.waitForLine("msg @Music rock 'it''s me'"));
    EXPECT_TRUE(window->txtMsg()->text().isEmpty());
    EXPECT_EQ(window->txtChat()->toPlainText(), "You are talking in Music.rock");

    m_server.sendLines(
        {"100 @Music rock tester 'it''s me'", "201 @Music rock eve", "202 @Music rock ann bye"});
    ASSERT_TRUE(waitUntil([&] {
        return window->lstUsers()->count() == 2 &&
               window->txtChat()->toPlainText().contains("ann has left");
    }));
    EXPECT_EQ(window->txtChat()->toPlainText(),
              "You are talking in Music.rock\n<tester> it's me\neve has joined Music.rock\n"
              "ann has left Music.rock");

    window->lstUsers()->setCurrentRow(0);
    window->actPTP()->trigger();
    ASSERT_TRUE(m_server.waitForLine("USERID bob"));

    auto* sub = qobject_cast<QMdiSubWindow*>(window->parentWidget());
    ASSERT_TRUE(sub);
    sub->close();
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }));
    sync();
    EXPECT_EQ(m_server.count("JOIN"), 1);
    EXPECT_EQ(m_server.count("PART"), 1);
    EXPECT_EQ(m_client.tree().find("Music", "rock")->userCount, 4);
}

// After a dropped connection an open window says so and keeps what is typed; once the client
// is welcomed again, its channel is entered again and the window talks as before.
TEST_F(ChannelWindowsTest, AnOpenWindowIsEnteredAgainAfterADrop) {
    QPointer<TfrmChannel> window = m_windows.enter("Music", "rock");
    ASSERT_TRUE(m_server.waitForLine("JOIN @Music rock"));
    m_server.drop();
    ASSERT_TRUE(waitUntil([&] { return !m_client.isOpen(); }));
    window->txtMsg()->setText("anyone?");
    QTest::keyClick(window->txtMsg(), Qt::Key_Return);
    EXPECT_EQ(window->txtMsg()->text(), "anyone?");
    EXPECT_EQ(window->txtChat()->toPlainText(),
              "You are talking in Music.rock\nDisconnected from Chat\nDisconnected from Chat");

    m_client.Connect("127.0.0.1", m_server.port());
    ASSERT_TRUE(waitUntil([&] { return m_server.connections() == 2; }));
    ASSERT_TRUE(m_server.waitForClient());
    m_server.sendLines({"121 Welcome", "201 @Music rock tester"});
    ASSERT_TRUE(waitUntil([&] { return m_server.count("JOIN @Music rock") == 2; }));
    ASSERT_TRUE(waitUntil([&] { return window->txtChat()->toPlainText().endsWith("Music.rock"); }));
    QTest::keyClick(window->txtMsg(), Qt::Key_Return);
    ASSERT_TRUE(m_server.waitForLine("msg @Music rock anyone?"));
}

// The status box's tasks, failed ones marked with "!".
QStringList tasks(TfrmMain& frame) {
    QStringList out;
    TfrmStatusBox* box = frame.statusBox();
    for (int i = 0; i < box->taskCount(); ++i) {
        out << box->taskText(i) +
                   (box->taskImage(i) >= TfrmStatusBox::kFirstFailureImage ? "!" : "");
    }
    return out;
}

bool channelListShown(TfrmMain& frame) {
    for (QMdiSubWindow* sub : frame.mdiArea()->subWindowList()) {
        if (qobject_cast<TfrmChannels*>(sub->widget()) && !sub->isHidden())
            return true;
    }
    return false;
}

TEST(ChatCommand, EachAttemptTakesTheNextHostAndTellsTheOutcome) {
    test::ScopedProfile profile;
    test::ScriptedChatServer first;
    test::ScriptedChatServer second;
    HostInfo().set(HostStore::Chat, QStringLiteral("127.0.0.1:%1,127.0.0.1:%2,127.0.0.1:%3")
                                        .arg(test::deadPort())
                                        .arg(first.port())
                                        .arg(second.port()));
    TfrmMain frame;
    frame.statusBox()->setAutoTick(false);
    frame.show();
    QAction* chat = frame.commands().actChat;
    ASSERT_TRUE(chat->isEnabled());

    chat->trigger();
    EXPECT_EQ(tasks(frame), QStringList{"Connecting to ChatServer"});
    EXPECT_TRUE(channelListShown(frame));
    ASSERT_TRUE(waitUntil([&] { return !channelListShown(frame); }));
    EXPECT_EQ(tasks(frame), QStringList{"Unable to connect to Chat!"});

    chat->trigger();
    ASSERT_TRUE(first.waitForClient());
    first.sendLines({"121 Welcome", "321 x", "322 @Music 0 x", "323 x"});
    ASSERT_TRUE(waitUntil([&] { return tasks(frame).contains("Chat Connected"); }));
    EXPECT_TRUE(channelListShown(frame));

    first.drop();
    ASSERT_TRUE(waitUntil([&] { return tasks(frame).contains("Disconnected from Chat!"); }));
    chat->trigger();
    ASSERT_TRUE(second.waitForClient());
    EXPECT_EQ(first.connections(), 1);
    // Dropped before the welcome (a refused login): the connecting task ends there.
    second.drop();
    ASSERT_TRUE(waitUntil([&] { return tasks(frame).count("Disconnected from Chat!") == 2; }));
    EXPECT_FALSE(tasks(frame).contains("Connecting to ChatServer"));
}

}  // namespace
