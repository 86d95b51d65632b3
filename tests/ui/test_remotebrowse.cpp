#include "e2e/process.h"
#include "e2e/serverprocess.h"
#include "explorertest.h"
#include "service/agent.h"
#include "service/idlequeue.h"
#include "service/processingthread.h"
#include "service/session.h"
#include "ui/controller.h"
#include "ui/mainwindow.h"
#include "ui/remoteexplorer.h"
#include "uitest.h"

#include <QDir>
#include <QLineEdit>
#include <QMdiArea>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

using namespace mr;

namespace {

using namespace mr::test;

// Waits until the folder's listing is in and its file count reads as expected.
bool listed(const TfrmRemoteExplorer& form, const QString& files) {
    return test::waitUntil([&] { return !form.loading() && form.statusText(1) == files; },
                           test::kServerTimeoutMs);
}

}  // namespace

TEST(RemoteBrowse, ShowsWhatAnotherUserPublished) {
    test::TwoMembers m;
    ASSERT_TRUE(m.up());
    QTemporaryDir disk;

    ASSERT_TRUE(test::writeFile(disk.filePath("Music/a.mp3"), QByteArray(3, 'x')));
    ASSERT_TRUE(test::writeFile(disk.filePath("Music/Live/b.ogg"), QByteArray(2048, 'x')));
    QDir().mkpath(disk.filePath("Music/Empty"));
    const test::RunResult shared = cli(m.alice, {"share", disk.filePath("Music")});
    ASSERT_TRUE(shared.out.startsWith("Shared ")) << shared.out.toStdString();
    const test::RunResult synced = cli(m.alice, {"sync"});
    ASSERT_EQ(synced.exitCode, 0) << synced.err.toStdString();

    // Signed on as bob, in this process.
    ScopedProfile asBob(m.bob);
    TIdleQueue idle;
    TMRAgentHttp agent(&idle);
    agent.connection().setTimeout(test::kServerTimeoutMs);
    TProcessingThread processing(agent.connection());
    OnlineSession session(agent, idle);
    std::optional<bool> login;
    QObject::connect(&agent, &TMRAgentHttp::OnLogin, [&](bool ok) { login = ok; });
    agent.ServiceLogin(1, 2);
    ASSERT_TRUE(test::waitUntil([&] { return login.has_value(); }, test::kServerTimeoutMs));
    ASSERT_TRUE(*login);
    ASSERT_TRUE(session.online());

    // Online, the frame's Browse opens the window as a child of the main window.
    TfrmMain frame;
    frame.server().setOnlineSession(&session);
    TfrmRemoteExplorer* form = frame.server().Browse("alice", m.aliceId);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(frame.mdiArea()->subWindowList().size(), 1);
    ASSERT_TRUE(listed(*form, "0 File(s)"));
    EXPECT_EQ(form->statusText(0), "1 Folder(s)");
    EXPECT_EQ(form->folderTree()->currentItem()->text(0), "alice");
    EXPECT_EQ(treeChildren(*form), QStringList({"Music"}));
    EXPECT_EQ(rowNames(*form), QStringList({"Music"}));

    ASSERT_TRUE(form->navigateTo("/Music"));
    ASSERT_TRUE(listed(*form, "1 File(s)"));
    EXPECT_EQ(form->statusText(0), "2 Folder(s)");
    EXPECT_EQ(form->pathBox()->text(), "/Music");
    EXPECT_EQ(treeChildren(*form), QStringList({"Empty", "Live"}));
    EXPECT_EQ(rowNames(*form), QStringList({"Empty", "Live", "a.mp3"}));
    EXPECT_EQ(cell(*form, "a.mp3", 1), "3 ");

    // Refresh from the tree lists everything again and comes back to the same folder.
    ASSERT_TRUE(form->navigateTo("/Music/Live"));
    ASSERT_TRUE(listed(*form, "1 File(s)"));
    EXPECT_EQ(cell(*form, "b.ogg", 1), "2K");
    form->refreshView(true);
    ASSERT_TRUE(test::waitUntil(
        [&] { return !form->loading() && form->pathBox()->text() == "/Music/Live"; },
        test::kServerTimeoutMs));
    ASSERT_TRUE(listed(*form, "1 File(s)"));
    EXPECT_EQ(rowNames(*form), QStringList({"b.ogg"}));
    frame.mdiArea()->closeAllSubWindows();
    ASSERT_TRUE(test::waitUntil([&] { return frame.mdiArea()->subWindowList().isEmpty(); }));
    session.SignOff();
}
