#include "core/profile.h"
#include "e2e/process.h"
#include "e2e/serverprocess.h"
#include "service/agent.h"
#include "service/idlequeue.h"
#include "service/processingthread.h"
#include "service/session.h"
#include "ui/controller.h"
#include "ui/filelistmodel.h"
#include "ui/mainwindow.h"
#include "ui/remoteexplorer.h"
#include "uitest.h"

#include <QDir>
#include <QLineEdit>
#include <QMdiArea>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <optional>

using namespace mr;

namespace {

using mr::test::cli;
using mr::test::registerUser;

QStringList rowNames(const TfrmExplorer& form) {
    QStringList names;
    for (int i = 0; i < form.fileList()->rowCount(); ++i)
        names << form.fileList()->index(i, 0).data().toString() + u' ' +
                     form.fileList()->index(i, 1).data().toString();
    names.sort();
    return names;
}

QStringList treeChildren(const TfrmExplorer& form) {
    QStringList names;
    const QTreeWidgetItem* current = form.folderTree()->currentItem();
    for (int i = 0; current && i < current->childCount(); ++i)
        names << current->child(i)->text(0);
    names.sort();
    return names;
}

// Waits until the folder's listing is in and its file count reads as expected.
bool listed(const TfrmRemoteExplorer& form, const QString& files) {
    return test::waitUntil([&] { return !form.loading() && form.statusText(1) == files; },
                           test::kServerTimeoutMs);
}

}  // namespace

TEST(RemoteBrowse, ShowsWhatAnotherUserPublished) {
    QTemporaryDir data, alice, bob, disk;
    test::Server server({"--data", data.path()});
    ASSERT_TRUE(server.ready()) << server.readyLine().toStdString();
    const int aliceId = registerUser(alice.path(), server, "alice");
    ASSERT_GT(aliceId, 0);
    ASSERT_GT(registerUser(bob.path(), server, "bob"), 0);

    ASSERT_TRUE(test::writeFile(disk.filePath("Music/a.mp3"), QByteArray(3, 'x')));
    ASSERT_TRUE(test::writeFile(disk.filePath("Music/Live/b.ogg"), QByteArray(2048, 'x')));
    QDir().mkpath(disk.filePath("Music/Empty"));
    const test::RunResult shared = cli(alice.path(), {"share", disk.filePath("Music")});
    ASSERT_TRUE(shared.out.startsWith("Shared ")) << shared.out.toStdString();
    const test::RunResult synced = cli(alice.path(), {"sync"});
    ASSERT_EQ(synced.exitCode, 0) << synced.err.toStdString();

    // Signed on as bob, in this process.
    struct RestoreProfile {
        QString saved = activeProfile().directory();
        ~RestoreProfile() { setActiveProfile(saved); }
    } restore;
    setActiveProfile(bob.path());
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

    {
        TfrmRemoteExplorer form(&session, "alice", aliceId);
        form.resize(700, 600);
        form.show();
        ASSERT_TRUE(listed(form, "0 File(s)"));
        EXPECT_EQ(form.statusText(0), "1 Folder(s)");
        EXPECT_EQ(form.folderTree()->currentItem()->text(0), "alice");
        EXPECT_EQ(treeChildren(form), QStringList({"Music"}));
        EXPECT_EQ(rowNames(form), QStringList({"Music "}));

        ASSERT_TRUE(form.navigateTo("/Music"));
        ASSERT_TRUE(listed(form, "1 File(s)"));
        EXPECT_EQ(form.statusText(0), "2 Folder(s)");
        EXPECT_EQ(form.pathBox()->text(), "/Music");
        EXPECT_EQ(treeChildren(form), QStringList({"Empty", "Live"}));
        EXPECT_EQ(rowNames(form), QStringList({"Empty ", "Live ", "a.mp3 3 "}));

        ASSERT_TRUE(form.navigateTo("/Music/Empty"));
        ASSERT_TRUE(listed(form, "0 File(s)"));
        EXPECT_TRUE(rowNames(form).isEmpty());

        // Refresh from the tree lists everything again and comes back to the same folder.
        ASSERT_TRUE(form.navigateTo("/Music/Live"));
        ASSERT_TRUE(listed(form, "1 File(s)"));
        EXPECT_EQ(rowNames(form), QStringList({"b.ogg 2K"}));
        form.refreshView(true);
        ASSERT_TRUE(test::waitUntil(
            [&] { return !form.loading() && form.pathBox()->text() == "/Music/Live"; },
            test::kServerTimeoutMs));
        ASSERT_TRUE(listed(form, "1 File(s)"));
        EXPECT_EQ(rowNames(form), QStringList({"b.ogg 2K"}));
    }

    // Online, the frame's Browse opens the window as a child of the main window.
    TfrmMain frame;
    frame.server().setOnlineSession(&session);
    TfrmRemoteExplorer* browsed = frame.server().Browse("alice", aliceId);
    ASSERT_NE(browsed, nullptr);
    EXPECT_EQ(frame.mdiArea()->subWindowList().size(), 1);
    ASSERT_TRUE(listed(*browsed, "0 File(s)"));
    EXPECT_EQ(treeChildren(*browsed), QStringList({"Music"}));
    frame.mdiArea()->closeAllSubWindows();
    ASSERT_TRUE(test::waitUntil([&] { return frame.mdiArea()->subWindowList().isEmpty(); }));
    session.SignOff();
}
