#include "catalog/actualfilenode.h"
#include "catalog/confirmations.h"
#include "catalog/listing.h"
#include "catalog/logicaltree.h"
#include "catalogfixture.h"
#include "core/profile.h"
#include "core/record.h"
#include "core/userinfo.h"
#include "explorertest.h"
#include "transfer/queue.h"
#include "ui/actualexplorer.h"
#include "ui/commands.h"
#include "ui/controller.h"
#include "ui/desktopsession.h"
#include "ui/localexplorer.h"
#include "ui/mainwindow.h"
#include "ui/remoteexplorer.h"
#include "ui/statusbox.h"
#include "uitest.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace mr;
using namespace mr::test;

namespace {

// A disk folder below a temporary folder holding files given by relative names ("a/b.mp3").
QString makeDiskTree(const QTemporaryDir& dir, const QString& folder, const QStringList& files) {
    const QString root = dir.filePath(folder);
    QDir().mkpath(root);
    for (const QString& name : files) {
        const QString path = root + u'/' + name;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write("data");
    }
    return root;
}

// Sends a drag of the data over the list followed by the drop; true when both were accepted.
bool dropOnList(TfrmExplorer& form, const QMimeData& mime) {
    QWidget* target = form.listView()->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

bool dropUrls(TfrmExplorer& form, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    return dropOnList(form, mime);
}

// What a drag of the tree's selected folder would carry; null when the tree refuses it.
std::unique_ptr<QMimeData> treeDrag(const TfrmExplorer& form) {
    QTreeWidget* tree = form.folderTree();
    if (!tree->dragEnabled())
        return nullptr;
    return std::unique_ptr<QMimeData>(tree->model()->mimeData({tree->currentIndex()}));
}

// What a drag of the named list rows would carry; null when the list refuses it.
std::unique_ptr<QMimeData> listDrag(const TfrmExplorer& form, const QStringList& names) {
    const FileListModel& model = *form.fileList();
    QModelIndexList rows;
    for (const QString& name : names) {
        const QModelIndex index = rowNamed(form, name);
        if (!model.flags(index).testFlag(Qt::ItemIsDragEnabled))
            return nullptr;
        // A view hands in every column of a selected row.
        for (int column = 0; column < model.columnCount(); ++column)
            rows << index.siblingAtColumn(column);
    }
    return std::unique_ptr<QMimeData>(model.mimeData(rows));
}

QStringList localFiles(const QMimeData* mime) {
    QStringList paths;
    for (const QUrl& url : mime ? mime->urls() : QList<QUrl>())
        paths << url.toLocalFile();
    paths.sort();
    return paths;
}

// A catalog in a temporary data folder and a disk folder to share from.
class LocalExplorerTest : public test::CatalogTest {
protected:
    // (FileName, Attributes, Action) of the rows of a name.
    QString rowOf(const QString& name) const {
        return field(name, QStringLiteral("FileName || ' ' || Attributes || ' ' || Action"));
    }
    QString actionOf(const QString& name) const { return field(name, QStringLiteral("Action")); }

    QTemporaryDir m_disk;
};

}  // namespace

TEST(FileListModel, SizeTexts) {
    const std::pair<qint64, const char*> cases[] = {
        {-1, ""},           {0, "0 "},       {1023, "1023 "},       {1024, "1K"},
        {1048575, "1023K"}, {1048576, "1M"}, {1073741823, "1023M"}, {2147483647, "1G"}};
    for (const auto& [size, text] : cases)
        EXPECT_EQ(FileListModel::sizeText(size), text) << size;
}

TEST_F(LocalExplorerTest, ShowsTheCatalogWithoutRemovedRows) {
    const int music = addRow("Music", -1, -1);
    addRow("a.mp3", music, 2048);
    addRow("gone.mp3", music, 10, "D");
    addRow("Old", -1, -1, "D");
    addRow("Video", -1, -1);

    TfrmLocalExplorer form(nullptr);
    form.show();
    EXPECT_EQ(form.windowTitle(), "My Shared Files");
    EXPECT_EQ(rowNames(form), QStringList({"Music", "Video"}));
    EXPECT_EQ(treeChildren(form), QStringList({"Music", "Video"}));
    EXPECT_EQ(form.statusText(0), "2 Folder(s)");
    EXPECT_EQ(form.statusText(1), "0 File(s)");

    ASSERT_TRUE(form.navigateTo("/music"));
    EXPECT_EQ(form.pathBox()->text(), "/Music");
    EXPECT_EQ(rowNames(form), QStringList({"a.mp3"}));
    EXPECT_EQ(cell(form, "a.mp3", 1), "2K");
    EXPECT_EQ(cell(form, "a.mp3", 3), "???");
    EXPECT_EQ(cell(form, "a.mp3", 4), "/disk/a.mp3");
    EXPECT_EQ(form.statusText(1), "1 File(s)");
    EXPECT_FALSE(form.navigateTo("/Old"));

    // Refresh from the list lists the folder again.
    addRow("b.mp3", music, 5);
    form.refreshView(false);
    EXPECT_EQ(rowNames(form), QStringList({"a.mp3", "b.mp3"}));
}

TEST_F(LocalExplorerTest, NewFolderIsSharedAsAPureVirtualFolder) {
    const int music = addRow("Music", -1, -1);
    addRow("a.mp3", music, 2048);
    TfrmLocalExplorer form(nullptr);
    QString answer;
    form.setNamePrompt([&answer](QWidget*) { return answer; });

    answer = "Music";  // the name of a top-level share: stored as Music1
    form.actNewFolder->trigger();
    EXPECT_EQ(rowOf("Music1"), "(Pure Virtual)Music 1 A");
    EXPECT_EQ(treeChildren(form), QStringList({"Music", "Music1"}));

    answer = "";  // cancelled
    form.actNewFolder->trigger();
    EXPECT_EQ(rowNames(form), QStringList({"Music", "Music1"}));

    ASSERT_TRUE(form.navigateTo("/Music"));
    answer = "Docs";
    form.actNewFolder->trigger();
    EXPECT_EQ(rowOf("Docs"), "(Pure Virtual)Docs 1 A");
    EXPECT_EQ(rowNames(form), QStringList({"Docs", "a.mp3"}));

    // A second virtual folder of the same name counts as already shared.
    ASSERT_TRUE(form.navigateTo("/"));
    form.actNewFolder->trigger();
    EXPECT_EQ(actionOf("Docs"), "A");
    EXPECT_EQ(rowNames(form), QStringList({"Music", "Music1"}));
}

TEST_F(LocalExplorerTest, RemoveAsksThenStopsSharingTheFolderOrTheSelectedFile) {
    const int music = addRow("Music", -1, -1);
    addRow("a.mp3", music, 2048);
    const int video = addRow("Video", -1, -1);
    const QStringList clips{"1.avi", "2.avi", "3.avi", "4.avi"};
    for (const QString& clip : clips)
        addRow(clip, video, 10);
    TfrmLocalExplorer form(nullptr);
    ASSERT_TRUE(form.navigateTo("/Music"));

    m_answer = false;
    form.actRemove->trigger();
    EXPECT_EQ(m_asked, QStringList({removeConfirmationText("/Music")}));
    EXPECT_EQ(actionOf("Music"), "A");
    EXPECT_EQ(rowNames(form), QStringList({"a.mp3"}));

    m_answer = true;
    form.actRemove->trigger();
    EXPECT_EQ(m_asked.size(), 2);
    EXPECT_EQ(actionOf("Music"), "D");
    EXPECT_EQ(actionOf("a.mp3"), "");
    ASSERT_TRUE(form.navigateTo("/"));
    ASSERT_TRUE(test::waitUntil([&] { return rowNames(form) == QStringList({"Video"}); }));
    EXPECT_EQ(treeChildren(form), QStringList({"Video"}));
    // A row shows its icon, kept only at the sizes the views draw.
    const auto icon =
        form.fileList()->data(form.fileList()->index(0, 0), Qt::DecorationRole).value<QIcon>();
    ASSERT_FALSE(icon.isNull());
    for (const QSize& size : icon.availableSizes())
        EXPECT_LE(size.width(), 32);

    // A file selected in the list is removed rather than the folder on show, in every style.
    const QList<QAction*> styles{form.actLargeIcons, form.actSmallIcons, form.actList,
                                 form.actDetails};
    for (int i = 0; i < styles.size(); ++i) {
        SCOPED_TRACE(styles[i]->text().toStdString());
        ASSERT_TRUE(form.navigateTo("/Video"));
        styles[i]->trigger();
        form.listView()->setCurrentIndex(rowNamed(form, clips[i]));
        form.actRemove->trigger();
        EXPECT_EQ(m_asked.last(), removeConfirmationText("/Video/" + clips[i]));
        for (int j = 0; j < clips.size(); ++j)
            EXPECT_EQ(actionOf(clips[j]), j <= i ? "D" : "A");
        EXPECT_EQ(actionOf("Video"), "A");
    }
}

TEST_F(LocalExplorerTest, ShareFromTheDiskExplorerAddsTheFolderAtTheTop) {
    const QString music = makeDiskTree(m_disk, "Music", {"a.mp3", "Live/b.mp3"});
    QStringList many;
    for (int i = 0; i < kShareConfirmLimit + 1; ++i)
        many << QStringLiteral("f%1.txt").arg(i);
    const QString big = makeDiskTree(m_disk, "Big", many);
    addRow("Music", -1, -1);  // a top-level share of that name already

    TfrmLocalExplorer form(nullptr);
    TfrmActualExplorer* actual = form.actualExplorer();
    ASSERT_TRUE(actual->navigateTo("/"));
    EXPECT_FALSE(actual->actShare->isEnabled());
    ASSERT_TRUE(actual->navigateTo(music));
    EXPECT_EQ(rowNames(*actual), QStringList({"Live", "a.mp3"}));
    ASSERT_TRUE(actual->actShare->isEnabled());
    actual->actShare->trigger();
    EXPECT_TRUE(m_asked.isEmpty());
    EXPECT_EQ(rowNames(form), QStringList({"Music", "Music1"}));
    EXPECT_EQ(field("Music1", "FileName"), music);
    ASSERT_TRUE(form.navigateTo("/Music1/Live"));
    EXPECT_EQ(rowNames(form), QStringList({"b.mp3"}));

    // Above the limit the user is asked; No shares nothing, Yes shares every file.
    ASSERT_TRUE(actual->navigateTo(big));
    actual->actShare->trigger();
    EXPECT_EQ(m_asked, QStringList({shareConfirmationText(kShareConfirmLimit + 1)}));
    EXPECT_EQ(actionOf("Big"), "");
    m_answer = true;
    actual->actShare->trigger();
    ASSERT_TRUE(form.navigateTo("/Big"));
    EXPECT_EQ(form.fileList()->rowCount(), kShareConfirmLimit + 1);
}

// Each of the frame's explorer commands, and Feedback, opens a new window; Download Dir one at
// the folder downloads go to.
TEST_F(LocalExplorerTest, TheFramesExplorerCommandsOpenANewWindowEachTime) {
    const QString downloads = makeDiskTree(m_disk, "My Downloads/new", {"x.zip"});
    const QString saved = UserInfo().downloadPath();
    UserInfo().setDownloadPath(downloads);
    TfrmMain frame;
    DesktopSession desktop(frame);
    frame.show();
    QApplication::setActiveWindow(&frame);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    const TdmCommands& c = frame.commands();
    for (int twice = 0; twice < 2; ++twice) {
        for (QAction* command :
             {c.actLocalFiles, c.actMoonrakeExplorer, c.actMyDownloads, c.actFeedback})
            command->trigger();
    }
    QStringList opened;
    for (QMdiSubWindow* sub : frame.mdiArea()->subWindowList()) {
        const auto* disk = qobject_cast<TfrmActualExplorer*>(sub->widget());
        opened << (disk && disk->selectedFolder() && disk->selectedFolder()->fsPath() == downloads
                       ? "at downloads"
                       : sub->widget()->metaObject()->className());
    }
    const QStringList once{"mr::TfrmLocalExplorer", "mr::TfrmActualExplorer", "at downloads",
                           "mr::TfrmFeedBack"};
    // The start-up's own search window comes first.
    EXPECT_EQ(opened, QStringList{"mr::TfrmSearch"} + once + once);
    // A "Share Files" window is the disk explorer on its own.
    frame.mdiArea()->activatePreviousSubWindow();
    EXPECT_EQ(frame.lblCaptionBar()->text(), "Moonrake - Share Files");
    EXPECT_EQ(frame.lblMain()->text(), QString::fromLatin1(TfrmActualExplorer::kDescription));
    // The catalog window's own disk explorer comes up in its lower pane once it has room.
    auto* local = qobject_cast<TfrmLocalExplorer*>(frame.mdiArea()->subWindowList()[1]->widget());
    ASSERT_NE(local, nullptr);
    ASSERT_TRUE(test::waitUntil([&] { return local->findChild<TfrmActualExplorer*>(); }));
    EXPECT_TRUE(local->findChild<TfrmActualExplorer*>()->isVisible());
    frame.mdiArea()->closeAllSubWindows();
    ASSERT_TRUE(test::waitUntil([&] { return frame.mdiArea()->subWindowList().isEmpty(); }));
    UserInfo().setDownloadPath(saved);
}

TEST_F(LocalExplorerTest, DiskEntriesDragOutAsFileUrlsAndDroppedFoldersAreShared) {
    const QString live = makeDiskTree(m_disk, "Live", {"c.mp3", "Encore/d.mp3"});
    const QString loose = makeDiskTree(m_disk, "Loose", {"e.mp3"}) + "/e.mp3";
    const int music = addRow("Music", -1, -1);
    addRow("a.mp3", music, 2048);

    TfrmLocalExplorer form(nullptr);
    TfrmActualExplorer* actual = form.actualExplorer();
    // The catalog's own list is a drop target only.
    EXPECT_FALSE(listDrag(form, {"Music"}));
    // The file system's root cannot be shared, so its tree node cannot be dragged.
    ASSERT_TRUE(actual->navigateTo("/"));
    EXPECT_FALSE(treeDrag(*actual));

    ASSERT_TRUE(actual->navigateTo(live));
    std::unique_ptr<QMimeData> fromTree = treeDrag(*actual);
    ASSERT_TRUE(fromTree);
    EXPECT_EQ(localFiles(fromTree.get()), QStringList({live}));
    // Rows of the list, folders and files alike, leave as one drag.
    ASSERT_TRUE(actual->navigateTo(m_disk.path()));
    std::unique_ptr<QMimeData> fromList = listDrag(*actual, {"Live", "Loose"});
    EXPECT_EQ(localFiles(fromList.get()), QStringList({live, m_disk.filePath("Loose")}));
    ASSERT_TRUE(actual->navigateTo(m_disk.filePath("Loose")));
    EXPECT_EQ(localFiles(listDrag(*actual, {"e.mp3"}).get()), QStringList({loose}));

    // Dropped on the catalog, plain files and other URLs are refused; folders are shared into
    // the folder on show.
    ASSERT_TRUE(form.navigateTo("/Music"));
    EXPECT_FALSE(dropUrls(form, {QUrl::fromLocalFile(loose)}));
    EXPECT_FALSE(dropUrls(form, {QUrl("https://example.org/Live")}));
    EXPECT_EQ(rowNames(form), QStringList({"a.mp3"}));
    ASSERT_TRUE(dropUrls(form, {QUrl::fromLocalFile(loose), QUrl::fromLocalFile(live)}));
    EXPECT_EQ(rowNames(form), QStringList({"Live", "a.mp3"}));
    EXPECT_EQ(actionOf("e.mp3"), "");
    ASSERT_TRUE(form.navigateTo("/Music/Live/Encore"));
    EXPECT_EQ(rowNames(form), QStringList({"d.mp3"}));

    ASSERT_TRUE(form.navigateTo("/Music"));
    ASSERT_TRUE(dropOnList(form, *fromList));
    EXPECT_EQ(rowNames(form), QStringList({"Live", "Loose", "a.mp3"}));
    ASSERT_TRUE(dropOnList(form, *fromTree));  // already shared: nothing new
    EXPECT_EQ(actionOf("Live"), "A");
    ASSERT_TRUE(form.navigateTo("/"));
    EXPECT_EQ(rowNames(form), QStringList({"Music"}));
}

TEST_F(LocalExplorerTest, ShareAndRemoveReloadEveryOtherCatalogWindow) {
    const QString video = makeDiskTree(m_disk, "Video", {"v.avi"});
    const int music = addRow("Music", -1, -1);
    addRow("a.mp3", music, 2048);

    TfrmLocalExplorer first(nullptr);
    TfrmLocalExplorer second(nullptr);
    ASSERT_TRUE(second.navigateTo("/Music"));
    {
        // A window closed before the change is not reached.
        TfrmLocalExplorer closed(nullptr);
    }

    ASSERT_TRUE(first.ShareDiskFolder(video, "/"));
    // The other window rebuilt its view and stayed at its folder.
    EXPECT_EQ(second.pathBox()->text(), "/Music");
    ASSERT_TRUE(second.navigateTo("/"));
    EXPECT_EQ(treeChildren(second), QStringList({"Music", "Video"}));

    first.setNamePrompt([](QWidget*) { return QStringLiteral("Later"); });
    first.actNewFolder->trigger();
    EXPECT_EQ(rowNames(second), QStringList({"Later", "Music", "Video"}));

    // Removing the folder the other window shows takes it back to the top.
    ASSERT_TRUE(second.navigateTo("/Music"));
    ASSERT_TRUE(first.navigateTo("/Music"));
    m_answer = true;
    first.actRemove->trigger();
    EXPECT_EQ(second.pathBox()->text(), "/");
    EXPECT_EQ(rowNames(second), QStringList({"Later", "Video"}));
}

TEST(RemoteExplorer, ShowsAListingAsItArrives) {
    TfrmRemoteExplorer form(nullptr, "alice", 7);
    form.resize(700, 600);
    form.show();
    // Without a service the root's listing cannot be queued: it shows empty.
    ASSERT_TRUE(test::waitUntil([&] { return !form.loading() && !form.statusText(0).isEmpty(); }));

    const auto entry = [](qint32 size, const QString& folder, const QString& name) {
        return "F" + PackRecord("IIDWBAAA", {7, size, 45000.5, 0, 0, folder, name, ""}).bytes;
    };
    QByteArray reply = entry(-1, "", "Sub") + "X";
    for (int i = 0; i < 35; ++i)
        reply += entry(2048, "", QStringLiteral("f%1.mp3").arg(i, 2, 10, QLatin1Char('0')));
    reply += entry(1, "Sub", "inner.txt");

    const int page = form.visiblePageRows();
    ASSERT_GE(page, 10);
    QList<int> counts;
    QStringList progress;
    const QMetaObject::Connection watch =
        QObject::connect(form.fileList(), &FileListModel::rowCountChanged, &form, [&](int n) {
            counts << n;
            QMetaObject::invokeMethod(
                &form, [&] { progress << form.statusText(2); }, Qt::QueuedConnection);
        });
    // What the loader does with a reply: add every entry, then refresh the folder.
    for (auto& item : parseListing(reply, "alice"))
        form.logicalTree()->Add(std::move(item));
    form.logicalTree()->Refresh("/");

    QList<int> expected;
    QStringList expectedText;
    for (int n = 10; n <= std::min(page, 36); n += 10) {
        expected << n;
        expectedText << QStringLiteral("Getting file listing: %1 file(s) so far").arg(n);
    }
    expected << 36;
    QObject::disconnect(watch);
    EXPECT_EQ(counts, expected);
    EXPECT_EQ(progress, expectedText);
    EXPECT_EQ(form.statusText(1), "35 File(s)");
    EXPECT_EQ(form.statusText(2), "");

    // The entry of the folder path "Sub" landed in /Sub.
    ASSERT_TRUE(form.navigateTo("/Sub"));
    ASSERT_TRUE(
        test::waitUntil([&] { return !form.loading() && form.statusText(1) == "1 File(s)"; }));
    EXPECT_EQ(rowNames(form), QStringList({"inner.txt"}));

    // "Download" queues the row's file once, under the folder's path.
    TMRWantedList wanted(1);
    form.setWantedList(&wanted);
    form.listView()->setCurrentIndex(form.fileList()->index(0, 0));
    EXPECT_TRUE(form.downloadCurrent());
    ASSERT_EQ(wanted.count(), 1);
    EXPECT_EQ(wanted.at(0)->Path, "/Sub/inner.txt");
    EXPECT_EQ(wanted.at(0)->PeerId, 7);
    EXPECT_FALSE(form.downloadCurrent());
    // Folders are not downloaded, and neither is anything from one's own catalog.
    ASSERT_TRUE(form.navigateTo("/"));
    ASSERT_TRUE(test::waitUntil([&] { return !form.loading(); }));
    form.listView()->setCurrentIndex(form.fileList()->index(0, 0));
    EXPECT_FALSE(form.downloadCurrent());
    const int ownId = UserInfo().id();
    UserInfo().setId(7);
    ASSERT_TRUE(form.navigateTo("/Sub"));
    ASSERT_TRUE(test::waitUntil([&] { return !form.loading(); }));
    form.listView()->setCurrentIndex(form.fileList()->index(0, 0));
    wanted.SetStatus(0, TTransferStatus::Completed);
    EXPECT_FALSE(form.downloadCurrent());
    UserInfo().setId(ownId);
    // Once the first has ended, the same file may be queued again.
    EXPECT_TRUE(form.downloadCurrent());
    EXPECT_EQ(wanted.count(), 2);
}

TEST(RemoteExplorer, BrowsingOfflineSaysConnectFirstInAFailedTask) {
    TfrmMain frame;
    TfrmStatusBox& box = *frame.statusBox();
    box.setAutoTick(false);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(frame.server().Browse("bob", 3), nullptr);
    EXPECT_TRUE(frame.mdiArea()->subWindowList().isEmpty());
    EXPECT_EQ(frame.findChild<QMessageBox*>(), nullptr);
    // Each refusal is a task of its own that fades out as a failure.
    ASSERT_EQ(box.taskCount(), 2);
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(box.taskText(row), "You must connect first");
        EXPECT_EQ(box.taskImage(row), TfrmStatusBox::kFirstFailureImage);
    }
}
