#include "catalog/actualfilenode.h"
#include "catalog/confirmations.h"
#include "catalog/filenode.h"
#include "catalog/listing.h"
#include "catalog/logicaltree.h"
#include "core/profile.h"
#include "core/record.h"
#include "core/userinfo.h"
#include "db/cursor.h"
#include "db/database.h"
#include "transfer/queue.h"
#include "ui/actualexplorer.h"
#include "ui/commands.h"
#include "ui/controller.h"
#include "ui/desktopsession.h"
#include "ui/feedbackform.h"
#include "ui/fileicons.h"
#include "ui/filelistmodel.h"
#include "ui/localexplorer.h"
#include "ui/mainwindow.h"
#include "ui/progressform.h"
#include "ui/remoteexplorer.h"
#include "ui/statusbox.h"
#include "uitest.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

using namespace mr;

namespace {

const QString kDb = QString::fromLatin1(db::kDatabaseName);

QStringList rowNames(const TfrmExplorer& form) {
    QStringList names;
    const TFileListModel& model = *form.fileList();
    for (int i = 0; i < model.rowCount(); ++i)
        names << model.index(i, 0).data().toString();
    names.sort();
    return names;
}

QString cell(const TfrmExplorer& form, const QString& name, int column) {
    const TFileListModel& model = *form.fileList();
    for (int i = 0; i < model.rowCount(); ++i) {
        if (model.index(i, 0).data().toString() == name)
            return model.index(i, column).data().toString();
    }
    return QStringLiteral("<missing>");
}

QStringList treeChildren(const TfrmExplorer& form) {
    QStringList names;
    QTreeWidgetItem* current = form.folderTree()->currentItem();
    for (int i = 0; current && i < current->childCount(); ++i)
        names << current->child(i)->text(0);
    names.sort();
    return names;
}

// A catalog in a temporary data folder, with the catalog's message boxes answered by the test.
class LocalExplorerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        db::Database::createTables(m_dir.path());
        db::Database::connect(kDb, m_dir.path());
        m_savedPrompts = catalogPrompts();
        catalogPrompts().yesNo = [this](QWidget*, const QString& text) {
            m_asked << text;
            return m_answer;
        };
        catalogPrompts().warning = [](QWidget*, const QString&) {};
    }
    void TearDown() override {
        catalogPrompts() = m_savedPrompts;
        db::Database::disconnect(kDb);
    }

    int addRow(const QString& name, int parentId, qint32 size, const QString& action = "A") {
        db::Cursor files(kDb, QStringLiteral("files"));
        files.append();
        files.setString(u"Username", QString());
        files.setInteger(u"ParentId", parentId);
        files.setString(u"Name", name);
        files.setString(u"FileName", "/disk/" + name);
        files.setInteger(u"Attributes", size < 0 ? 1 : 0);
        files.setInteger(u"FileSize", size);
        files.setDateTime(u"FileDate", 45000.5);
        files.setString(u"Action", action);
        files.post();
        return static_cast<int>(files.asInteger(u"id"));
    }

    // (FileName, Attributes, Action) of the rows of a name.
    QList<QStringList> rowsNamed(const QString& name) const {
        QList<QStringList> out;
        db::Cursor files(kDb, QStringLiteral("files"));
        for (; !files.eof(); files.next()) {
            if (files.asString(u"Name") == name)
                out << QStringList{files.asString(u"FileName"),
                                   QString::number(files.asInteger(u"Attributes")),
                                   files.asString(u"Action")};
        }
        return out;
    }

    QTemporaryDir m_dir;
    TCatalogPrompts m_savedPrompts;
    QStringList m_asked;
    bool m_answer = false;
};

}  // namespace

TEST(FileListModel, SizeTexts) {
    EXPECT_EQ(TFileListModel::sizeText(-1), "");
    EXPECT_EQ(TFileListModel::sizeText(0), "0 ");
    EXPECT_EQ(TFileListModel::sizeText(1023), "1023 ");
    EXPECT_EQ(TFileListModel::sizeText(1024), "1K");
    EXPECT_EQ(TFileListModel::sizeText(1048575), "1023K");
    EXPECT_EQ(TFileListModel::sizeText(1048576), "1M");
    EXPECT_EQ(TFileListModel::sizeText(1073741823), "1023M");
    EXPECT_EQ(TFileListModel::sizeText(1073741824), "1G");
    EXPECT_EQ(TFileListModel::sizeText(2147483647), "1G");
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
    EXPECT_EQ(form.statusText(2), "");
    EXPECT_EQ(form.fileList()->columnCount(), 5);

    ASSERT_TRUE(form.navigateTo("/music"));
    EXPECT_EQ(form.pathBox()->text(), "/Music");
    EXPECT_EQ(rowNames(form), QStringList({"a.mp3"}));
    EXPECT_EQ(cell(form, "a.mp3", 1), "2K");
    EXPECT_FALSE(cell(form, "a.mp3", 2).isEmpty());
    EXPECT_EQ(cell(form, "a.mp3", 3), "???");
    EXPECT_EQ(cell(form, "a.mp3", 4), "/disk/a.mp3");
    EXPECT_EQ(form.statusText(0), "0 Folder(s)");
    EXPECT_EQ(form.statusText(1), "1 File(s)");
    EXPECT_FALSE(form.navigateTo("/Old"));

    // Refresh from the list lists the folder again from the table.
    addRow("b.mp3", music, 5);
    form.refreshView(false);
    EXPECT_EQ(rowNames(form), QStringList({"a.mp3", "b.mp3"}));
    EXPECT_EQ(cell(form, "b.mp3", 1), "5 ");
    // Refresh from the tree rebuilds everything and comes back to the same folder.
    form.refreshView(true);
    EXPECT_EQ(form.pathBox()->text(), "/Music");
    EXPECT_EQ(rowNames(form), QStringList({"a.mp3", "b.mp3"}));

    // Every view style shows the same model.
    for (QAction* style : {form.actLargeIcons, form.actSmallIcons, form.actList, form.actDetails}) {
        style->trigger();
        EXPECT_TRUE(style->isChecked());
        EXPECT_EQ(form.listView()->model(), form.fileList());
        EXPECT_TRUE(form.listView()->isVisible());
    }
    EXPECT_TRUE(form.actShareProperties->isEnabled());
}

TEST_F(LocalExplorerTest, NewFolderIsSharedAsAPureVirtualFolder) {
    const int music = addRow("Music", -1, -1);
    addRow("a.mp3", music, 2048);
    TfrmLocalExplorer form(nullptr);
    QString answer;
    form.setNamePrompt([&answer](QWidget*) { return answer; });

    answer = "Music";  // the name of a top-level share: stored as Music1
    form.actNewFolder->trigger();
    EXPECT_EQ(rowsNamed("Music1"), QList<QStringList>({{"(Pure Virtual)Music", "1", "A"}}));
    EXPECT_EQ(rowNames(form), QStringList({"Music", "Music1"}));
    EXPECT_EQ(treeChildren(form), QStringList({"Music", "Music1"}));

    answer = "";  // cancelled
    form.actNewFolder->trigger();
    EXPECT_EQ(rowNames(form), QStringList({"Music", "Music1"}));

    ASSERT_TRUE(form.navigateTo("/Music"));
    answer = "Docs";
    form.actNewFolder->trigger();
    EXPECT_EQ(rowsNamed("Docs"), QList<QStringList>({{"(Pure Virtual)Docs", "1", "A"}}));
    EXPECT_EQ(rowNames(form), QStringList({"Docs", "a.mp3"}));
    EXPECT_EQ(form.statusText(0), "1 Folder(s)");
    ASSERT_TRUE(form.navigateTo("/Music/Docs"));
    EXPECT_TRUE(rowNames(form).isEmpty());

    // A second virtual folder of the same name counts as already shared.
    ASSERT_TRUE(form.navigateTo("/"));
    form.actNewFolder->trigger();
    EXPECT_EQ(rowsNamed("Docs").size(), 1);
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
    EXPECT_EQ(rowsNamed("Music").value(0).value(2), "A");
    EXPECT_EQ(rowNames(form), QStringList({"a.mp3"}));

    m_answer = true;
    form.actRemove->trigger();
    EXPECT_EQ(m_asked.size(), 2);
    EXPECT_EQ(rowsNamed("Music").value(0).value(2), "D");
    EXPECT_TRUE(rowsNamed("a.mp3").isEmpty());
    ASSERT_TRUE(form.navigateTo("/"));
    ASSERT_TRUE(test::waitUntil([&] { return rowNames(form) == QStringList({"Video"}); }));
    EXPECT_EQ(treeChildren(form), QStringList({"Video"}));

    // A file selected in the list is removed rather than the folder on show, in every style.
    const QList<QAction*> styles{form.actLargeIcons, form.actSmallIcons, form.actList,
                                 form.actDetails};
    for (int i = 0; i < styles.size(); ++i) {
        SCOPED_TRACE(styles[i]->text().toStdString());
        ASSERT_TRUE(form.navigateTo("/Video"));
        styles[i]->trigger();
        const TFileListModel& model = *form.fileList();
        for (int row = 0; row < model.rowCount(); ++row) {
            if (model.index(row, 0).data().toString() == clips[i])
                form.listView()->setCurrentIndex(model.index(row, 0));
        }
        form.actRemove->trigger();
        EXPECT_EQ(m_asked.last(), removeConfirmationText("/Video/" + clips[i]));
        for (int j = 0; j < clips.size(); ++j)
            EXPECT_EQ(rowsNamed(clips[j]).value(0).value(2), j <= i ? "D" : "A");
        EXPECT_EQ(rowsNamed("Video").value(0).value(2), "A");
    }
}

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

bool dropOnList(TfrmExplorer& form, const QList<QUrl>& urls) {
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
    const TFileListModel& model = *form.fileList();
    QModelIndexList rows;
    for (int i = 0; i < model.rowCount(); ++i) {
        const QModelIndex index = model.index(i, 0);
        if (names.contains(index.data().toString())) {
            if (!model.flags(index).testFlag(Qt::ItemIsDragEnabled))
                return nullptr;
            // A view hands in every column of a selected row.
            for (int column = 0; column < model.columnCount(); ++column)
                rows << model.index(i, column);
        }
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

}  // namespace

TEST_F(LocalExplorerTest, ShareFromTheDiskExplorerAddsTheFolderAtTheTop) {
    QTemporaryDir disk;
    ASSERT_TRUE(disk.isValid());
    const QString music = makeDiskTree(disk, "Music", {"a.mp3", "Live/b.mp3"});
    QStringList many;
    for (int i = 0; i < kShareConfirmLimit + 1; ++i)
        many << QStringLiteral("f%1.txt").arg(i);
    const QString big = makeDiskTree(disk, "Big", many);
    addRow("Music", -1, -1);  // a top-level share of that name already

    TfrmLocalExplorer form(nullptr);
    TfrmActualExplorer* actual = form.actualExplorer();
    ASSERT_EQ(form.actualExplorer(), actual);
    EXPECT_EQ(actual->windowTitle(), "Share Files");

    ASSERT_TRUE(actual->navigateTo("/"));
    EXPECT_FALSE(actual->actShare->isEnabled());
    ASSERT_TRUE(actual->navigateTo(music));
    EXPECT_EQ(actual->pathBox()->text(), music);
    EXPECT_EQ(rowNames(*actual), QStringList({"Live", "a.mp3"}));
    EXPECT_EQ(actual->statusText(0), "1 Folder(s)");
    EXPECT_EQ(actual->statusText(1), "1 File(s)");
    ASSERT_TRUE(actual->actShare->isEnabled());
    actual->actShare->trigger();
    EXPECT_TRUE(m_asked.isEmpty());
    EXPECT_EQ(rowNames(form), QStringList({"Music", "Music1"}));
    EXPECT_EQ(rowsNamed("Music1").value(0).value(0), music);
    ASSERT_TRUE(form.navigateTo("/Music1/Live"));
    EXPECT_EQ(rowNames(form), QStringList({"b.mp3"}));

    // Sharing it again changes nothing.
    actual->actShare->trigger();
    EXPECT_EQ(rowsNamed("Music2").size(), 0);

    // Above the limit the user is asked; No shares nothing, Yes shares every file.
    ASSERT_TRUE(actual->navigateTo(big));
    m_answer = false;
    actual->actShare->trigger();
    EXPECT_EQ(m_asked, QStringList({shareConfirmationText(kShareConfirmLimit + 1)}));
    EXPECT_TRUE(rowsNamed("Big").isEmpty());
    m_answer = true;
    actual->actShare->trigger();
    EXPECT_EQ(rowsNamed("Big").size(), 1);
    ASSERT_TRUE(form.navigateTo("/Big"));
    EXPECT_EQ(form.fileList()->rowCount(), kShareConfirmLimit + 1);

    EXPECT_FALSE(actual->navigateTo(disk.filePath("missing")));
    EXPECT_FALSE(actual->navigateTo(disk.filePath("Music/a.mp3")));
}

TEST_F(LocalExplorerTest, GoToDownloadDirectoryAndTheFramesExplorerCommands) {
    QTemporaryDir disk;
    ASSERT_TRUE(disk.isValid());
    const QString downloads = makeDiskTree(disk, "My Downloads/new", {"x.zip"});
    const QString saved = UserInfo().downloadPath();
    UserInfo().setDownloadPath(downloads);

    TfrmLocalExplorer form(nullptr);
    form.actualExplorer()->actGoToDownloadDirectory->trigger();
    ASSERT_NE(form.actualExplorer()->selectedFolder(), nullptr);
    EXPECT_EQ(form.actualExplorer()->selectedFolder()->fsPath(), downloads);
    EXPECT_EQ(form.actualExplorer()->pathBox()->text(), downloads);
    EXPECT_EQ(rowNames(*form.actualExplorer()), QStringList({"x.zip"}));

    // Each of the frame's explorer commands, and Feedback, opens a new window.
    TfrmMain frame;
    TDesktopSession desktop(frame);
    frame.show();
    QApplication::setActiveWindow(&frame);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    const TdmCommands& c = frame.commands();
    for (QAction* command :
         {c.actLocalFiles, c.actMoonrakeExplorer, c.actMyDownloads, c.actFeedback, c.actLocalFiles,
          c.actMoonrakeExplorer, c.actMyDownloads, c.actFeedback})
        command->trigger();
    QList<TfrmLocalExplorer*> local;
    QList<TfrmActualExplorer*> atDownloads;
    int diskExplorers = 0;
    int feedback = 0;
    for (QMdiSubWindow* sub : frame.mdiArea()->subWindowList()) {
        if (auto* form = qobject_cast<TfrmLocalExplorer*>(sub->widget()))
            local << form;
        if (auto* form = qobject_cast<TfrmActualExplorer*>(sub->widget())) {
            ++diskExplorers;
            if (form->selectedFolder() && form->selectedFolder()->fsPath() == downloads)
                atDownloads << form;
        }
        feedback += qobject_cast<TfrmFeedBack*>(sub->widget()) != nullptr;
    }
    ASSERT_EQ(local.size(), 2);
    EXPECT_NE(local[0], local[1]);
    EXPECT_EQ(diskExplorers, 4);
    ASSERT_EQ(atDownloads.size(), 2);
    EXPECT_EQ(feedback, 2);
    // Sharing there puts the folder at the top of every catalog window.
    atDownloads[0]->actShare->trigger();
    EXPECT_EQ(rowNames(*local[0]), QStringList({"new"}));
    EXPECT_EQ(rowNames(*local[1]), QStringList({"new"}));
    // A "Share Files" window is the disk explorer on its own.
    EXPECT_EQ(frame.lblCaptionBar()->text(), "Moonrake - FeedBack");
    frame.mdiArea()->activatePreviousSubWindow();
    EXPECT_EQ(frame.lblCaptionBar()->text(), "Moonrake - Share Files");
    EXPECT_EQ(frame.lblMain()->text(), QString::fromLatin1(TfrmActualExplorer::kDescription));
    // The catalog window's own disk explorer comes up in its lower pane once it has room.
    ASSERT_TRUE(
        test::waitUntil([&] { return local[0]->findChild<TfrmActualExplorer*>() != nullptr; }));
    EXPECT_TRUE(local[0]->findChild<TfrmActualExplorer*>()->isVisible());
    frame.mdiArea()->closeAllSubWindows();
    ASSERT_TRUE(test::waitUntil([&] { return frame.mdiArea()->subWindowList().isEmpty(); }));
    UserInfo().setDownloadPath(saved);
}

TEST_F(LocalExplorerTest, DroppedDiskFoldersAreSharedIntoTheFolderOnShow) {
    QTemporaryDir disk;
    ASSERT_TRUE(disk.isValid());
    const QString live = makeDiskTree(disk, "Live", {"c.mp3", "Encore/d.mp3"});
    const QString loose = makeDiskTree(disk, "Loose", {"e.mp3"}) + "/e.mp3";
    const int music = addRow("Music", -1, -1);
    addRow("a.mp3", music, 2048);

    TfrmLocalExplorer form(nullptr);
    ASSERT_TRUE(form.navigateTo("/Music"));
    // A plain file is not a folder to share.
    EXPECT_FALSE(dropOnList(form, {QUrl::fromLocalFile(loose)}));
    EXPECT_FALSE(dropOnList(form, {QUrl("https://example.org/Live")}));
    EXPECT_EQ(rowNames(form), QStringList({"a.mp3"}));

    ASSERT_TRUE(dropOnList(form, {QUrl::fromLocalFile(loose), QUrl::fromLocalFile(live)}));
    EXPECT_EQ(form.pathBox()->text(), "/Music");
    EXPECT_EQ(rowNames(form), QStringList({"Live", "a.mp3"}));
    EXPECT_TRUE(rowsNamed("e.mp3").isEmpty());
    ASSERT_TRUE(form.navigateTo("/Music/Live/Encore"));
    EXPECT_EQ(rowNames(form), QStringList({"d.mp3"}));
    ASSERT_TRUE(form.navigateTo("/"));
    EXPECT_EQ(rowNames(form), QStringList({"Music"}));
}

TEST_F(LocalExplorerTest, DiskEntriesDragOutAsFileUrlsAndShareWhenDropped) {
    QTemporaryDir disk;
    ASSERT_TRUE(disk.isValid());
    const QString live = makeDiskTree(disk, "Live", {"c.mp3", "Encore/d.mp3"});
    const QString loose = makeDiskTree(disk, "Loose", {"e.mp3"}) + "/e.mp3";
    addRow("Music", -1, -1);

    TfrmLocalExplorer form(nullptr);
    TfrmActualExplorer* actual = form.actualExplorer();
    // The catalog's own list is a drop target only.
    EXPECT_FALSE(listDrag(form, {"Music"}));

    // The file system's root cannot be shared, so its tree node cannot be dragged.
    ASSERT_TRUE(actual->navigateTo("/"));
    ASSERT_FALSE(actual->actShare->isEnabled());
    EXPECT_FALSE(treeDrag(*actual));

    ASSERT_TRUE(actual->navigateTo(live));
    std::unique_ptr<QMimeData> fromTree = treeDrag(*actual);
    ASSERT_TRUE(fromTree);
    EXPECT_EQ(localFiles(fromTree.get()), QStringList({live}));
    ASSERT_NE(qobject_cast<TFileShareDrag*>(fromTree.get()), nullptr);
    EXPECT_EQ(qobject_cast<TFileShareDrag*>(fromTree.get())->paths(), QStringList({live}));

    // Rows of the list, folders and files alike, leave as one drag.
    ASSERT_TRUE(actual->navigateTo(disk.path()));
    std::unique_ptr<QMimeData> fromList = listDrag(*actual, {"Live", "Loose"});
    ASSERT_TRUE(fromList);
    EXPECT_EQ(localFiles(fromList.get()), QStringList({live, disk.filePath("Loose")}));
    ASSERT_TRUE(actual->navigateTo(disk.filePath("Loose")));
    EXPECT_EQ(localFiles(listDrag(*actual, {"e.mp3"}).get()), QStringList({loose}));

    // Dropped on a catalog sub-folder, the folders are shared inside it.
    ASSERT_TRUE(form.navigateTo("/Music"));
    ASSERT_TRUE(dropOnList(form, *fromList));
    EXPECT_EQ(rowNames(form), QStringList({"Live", "Loose"}));
    EXPECT_EQ(rowsNamed("Encore").size(), 1);
    ASSERT_TRUE(dropOnList(form, *fromTree));  // already shared: nothing new
    EXPECT_EQ(rowsNamed("Live").size(), 1);
}

TEST_F(LocalExplorerTest, ShareAndRemoveReloadEveryOtherCatalogWindow) {
    QTemporaryDir disk;
    ASSERT_TRUE(disk.isValid());
    const QString video = makeDiskTree(disk, "Video", {"v.avi"});
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
    EXPECT_EQ(rowNames(second), QStringList({"Music", "Video"}));
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

TEST_F(LocalExplorerTest, DiskExplorerDescribesItselfWhileItHasTheFocus) {
    TfrmMain frame;
    frame.show();
    QApplication::setActiveWindow(&frame);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    TfrmLocalExplorer* form = frame.server().ShowLocalFiles();
    ASSERT_TRUE(test::waitUntil([&] { return form->findChild<TfrmActualExplorer*>(); }));
    const QString local = QString::fromLatin1(TfrmLocalExplorer::kDescription);
    const QString disk = QString::fromLatin1(TfrmActualExplorer::kDescription);
    ASSERT_TRUE(test::waitUntil([&] { return frame.lblMain()->text() == local; }));

    form->actualExplorer()->folderTree()->setFocus();
    EXPECT_TRUE(test::waitUntil([&] { return frame.lblMain()->text() == disk; }));
    EXPECT_EQ(frame.lblCaptionBar()->text(), "Moonrake - My Shared Files");
    form->folderTree()->setFocus();
    EXPECT_TRUE(test::waitUntil([&] { return frame.lblMain()->text() == local; }));
    form->actualExplorer()->listView()->setFocus();
    EXPECT_TRUE(test::waitUntil([&] { return frame.lblMain()->text() == disk; }));

    // Another window in front takes the text; coming back shows the part that had the focus.
    auto* other = new TfrmRemoteExplorer(nullptr, "carol", 9);
    QMdiSubWindow* sub = frame.mdiArea()->addSubWindow(other);
    sub->show();
    frame.mdiArea()->setActiveSubWindow(sub);
    frame.server().UpdateCaption("carol", QString());
    frame.mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(form->parentWidget()));
    EXPECT_TRUE(test::waitUntil([&] { return frame.lblMain()->text() == disk; }));
    frame.mdiArea()->closeAllSubWindows();
    ASSERT_TRUE(test::waitUntil([&] { return frame.mdiArea()->subWindowList().isEmpty(); }));
}

TEST_F(LocalExplorerTest, NodesShowTheDesktopIconOfTheirType) {
    QTemporaryDir disk;
    ASSERT_TRUE(disk.isValid());
    const int music = addRow("Music", -1, -1);
    addRow("a.mp3", music, 2048);
    addRow("b.MP3", music, 10);
    addRow("c.txt", music, 10);

    TfrmLocalExplorer form(nullptr);
    auto* icons = dynamic_cast<TFileIcons*>(fileIconSource());
    ASSERT_NE(icons, nullptr);
    const int folder = icons->iconIndexForName(".", false);
    const int openFolder = icons->iconIndexForName(".", true);
    const int mp3 = icons->iconIndexForName("x.mp3", false);
    EXPECT_NE(folder, openFolder);
    EXPECT_NE(mp3, folder);
    EXPECT_EQ(icons->iconIndexForName("Y.Mp3", true), mp3);
    EXPECT_EQ(icons->iconIndexForPath(disk.path(), false), folder);
    EXPECT_EQ(icons->iconIndexForPath(disk.path(), true), openFolder);
    EXPECT_TRUE(icons->icon(-1).isNull());
    // Icons belong to the window side: another thread is told to ask again later.
    int fromWorker = 0;
    std::thread([&] { fromWorker = icons->iconIndexForName("z.mp3", false); }).join();
    EXPECT_EQ(fromWorker, -1);

    auto iconKey = [&](const QString& name) {
        const TFileListModel& model = *form.fileList();
        for (int i = 0; i < model.rowCount(); ++i) {
            if (model.index(i, 0).data().toString() == name)
                return model.index(i, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey();
        }
        return qint64(-1);
    };
    EXPECT_EQ(iconKey("Music"), icons->icon(folder).cacheKey());
    ASSERT_TRUE(form.navigateTo("/Music"));
    EXPECT_EQ(iconKey("a.mp3"), icons->icon(mp3).cacheKey());
    EXPECT_EQ(iconKey("b.MP3"), icons->icon(mp3).cacheKey());
    EXPECT_EQ(iconKey("c.txt"), icons->icon(icons->iconIndexForName("c.txt", false)).cacheKey());
    // The selected folder of the tree shows open, the others closed.
    QTreeWidgetItem* selected = form.folderTree()->currentItem();
    EXPECT_EQ(selected->icon(0).cacheKey(), icons->icon(openFolder).cacheKey());
    EXPECT_EQ(selected->parent()->icon(0).cacheKey(), icons->icon(folder).cacheKey());

    // The disk explorer's tree starts at the home folder with its own icon.
    TfrmActualExplorer* actual = form.actualExplorer();
    QTreeWidgetItem* home = nullptr;
    for (int i = 0; i < actual->folderTree()->topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = actual->folderTree()->topLevelItem(i);
        if (TfrmExplorer::nodeOf(top)->localPath() == QDir::homePath())
            home = top;
    }
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(home->icon(0).cacheKey(),
              icons->icon(icons->iconIndexForPath(QDir::homePath(), false)).cacheKey());
    EXPECT_NE(icons->iconIndexForPath(QDir::homePath(), false), folder);
}

TEST(RemoteExplorer, ShowsAListingAsItArrives) {
    TfrmRemoteExplorer form(nullptr, "alice", 7);
    form.resize(700, 600);
    form.show();
    EXPECT_EQ(form.windowTitle(), "alice");
    EXPECT_FALSE(form.actDownload->isEnabled());
    // Without a service the root's listing cannot be queued: it shows empty.
    ASSERT_TRUE(test::waitUntil([&] { return !form.loading() && !form.statusText(0).isEmpty(); }));
    EXPECT_EQ(form.statusText(0), "0 Folder(s)");
    EXPECT_EQ(form.statusText(1), "0 File(s)");
    EXPECT_EQ(form.folderTree()->currentItem()->text(0), "alice");

    const qint32 sizes[] = {5, 2048, 3 * 1048576, 2147483647};
    QByteArray reply =
        "F" + PackRecord("IIDWBAAA", {7, -1, 45000.5, 0, 0, "", "Sub", ""}).bytes + "X";
    for (int i = 0; i < 35; ++i) {
        reply += "F" + PackRecord("IIDWBAAA",
                                  {7, sizes[i % 4], 45000.5, 0, 0, "",
                                   QStringLiteral("f%1.mp3").arg(i, 2, 10, QLatin1Char('0')), ""})
                           .bytes;
    }
    reply += "F" + PackRecord("IIDWBAAA", {7, 1, 0.0, 0, 0, "Sub", "inner.txt", ""}).bytes;

    const int page = form.visiblePageRows();
    ASSERT_GE(page, 10);
    QList<int> counts;
    QStringList progress;
    const QMetaObject::Connection watch =
        QObject::connect(form.fileList(), &TFileListModel::rowCountChanged, &form, [&](int n) {
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
    EXPECT_EQ(form.statusText(0), "1 Folder(s)");
    EXPECT_EQ(form.statusText(1), "35 File(s)");
    EXPECT_EQ(form.statusText(2), "");
    EXPECT_EQ(treeChildren(form), QStringList({"Sub"}));
    EXPECT_EQ(cell(form, "Sub", 1), "");
    EXPECT_EQ(cell(form, "f00.mp3", 1), "5 ");
    EXPECT_EQ(cell(form, "f01.mp3", 1), "2K");
    EXPECT_EQ(cell(form, "f02.mp3", 1), "3M");
    EXPECT_EQ(cell(form, "f03.mp3", 1), "1G");
    EXPECT_EQ(form.fileList()->columnCount(), 4);

    // The entry of the folder path "Sub" landed in /Sub.
    ASSERT_TRUE(form.navigateTo("/Sub"));
    ASSERT_TRUE(
        test::waitUntil([&] { return !form.loading() && form.statusText(1) == "1 File(s)"; }));
    EXPECT_EQ(rowNames(form), QStringList({"inner.txt"}));
    EXPECT_EQ(cell(form, "inner.txt", 2), "");

    // "Download" queues the row's file once, under the folder's path.
    TMRWantedList wanted(1);
    form.setWantedList(&wanted);
    EXPECT_TRUE(form.actDownload->isEnabled());
    form.listView()->setCurrentIndex(form.fileList()->index(0, 0));
    EXPECT_TRUE(form.downloadCurrent());
    ASSERT_EQ(wanted.count(), 1);
    EXPECT_EQ(wanted.at(0)->Path, "/Sub/inner.txt");
    EXPECT_EQ(wanted.at(0)->UserName, "alice");
    EXPECT_EQ(wanted.at(0)->PeerId, 7);
    EXPECT_FALSE(form.downloadCurrent());
    EXPECT_EQ(wanted.count(), 1);
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
