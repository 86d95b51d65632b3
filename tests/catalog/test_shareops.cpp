#include "catalogtest.h"

#include "catalog/actualfilenode.h"
#include "catalog/localmrtree.h"
#include "db/journalfolder.h"

#include <QDir>
#include <QFileInfo>

using namespace mr;
using mr::test::CatalogRow;

namespace {

class ShareOps : public mr::test::CatalogTest {
protected:
    ShareOutcome share(const QString& relative, bool subfolders = true,
                       const QStringList& extensions = {}, const QString& name = {}) {
        auto node = TActualFileNode::fromPath(scratch(relative));
        EXPECT_TRUE(node);
        return m_tree.ShareFolder(node.get(), name.isEmpty() ? "/" + node->item()->Name : name,
                                  subfolders, extensions);
    }

    TLocalMRTree m_tree{nullptr, nullptr};
};

}  // namespace

TEST_F(ShareOps, PathLookupsIgnoreCaseAndQuoteNames) {
    const int folder = addRow("Bob's Music", -1, true);
    const int live = addRow("Live", folder, true);
    const int song = addRow("It's.mp3", live, false, {.fileName = "/disk/its.mp3"});
    addRow("Live", -1, true, {.user = "someone"});
    EXPECT_EQ(m_tree.IdOf("/"), -1);
    EXPECT_EQ(m_tree.IdOf("/bob'S MUSIC/live/it'S.MP3"), song);
    EXPECT_EQ(m_tree.IdOf("/Live"), -999);  // another user's row
    EXPECT_EQ(m_tree.IdOf("/Nope/Live"), -999);
    EXPECT_EQ(m_tree.ParentIdOf("/Bob's Music/Live/x"), live);
    EXPECT_EQ(m_tree.ParentIdOf("/Bob's Music"), -1);
    EXPECT_EQ(m_tree.PathOf(-1), "/");
    EXPECT_EQ(m_tree.PathOf(song), "/Bob's Music/Live/It's.mp3");
    EXPECT_EQ(m_tree.PathOf(folder), "/Bob's Music");
    EXPECT_EQ(m_tree.PathOf(9999), "");
    EXPECT_EQ(m_tree.LocalFileName("/bob's music/LIVE", "it's.mp3"), "/disk/its.mp3");
    EXPECT_EQ(m_tree.LocalFileName("/bob's music", "Live"), "");
}

TEST_F(ShareOps, SharesATreeWithUniqueTopLevelNames) {
    makeFile("Music/a.mp3", 3);
    makeFile("Music/Live/b.ogg", 4);
    makeFile("Music/Live/ça 日本 🎵.txt");
    makeDir("Music/Empty");
    makeFile("other/Music/z.mp3");
    makeFile("third/Music/q");

    test::RecordingView view;
    m_tree.setProgressView(&view);
    EXPECT_EQ(share("Music").rows, 6);
    // The bar moves in steps of six percent and ends full.
    ASSERT_FALSE(view.percents.isEmpty());
    EXPECT_EQ(view.percents.last(), -1);
    for (int p : view.percents)
        EXPECT_TRUE(p == -1 || (p % 6 == 0 && p <= 95)) << p;
    EXPECT_EQ(m_tree.progressTotal(), -1);
    const CatalogRow* b = find("b.ogg");
    ASSERT_TRUE(b);
    EXPECT_EQ(m_tree.PathOf(b->id), "/Music/Live/b.ogg");
    EXPECT_EQ(b->fileName, scratch("Music/Live/b.ogg"));
    // Names and paths beyond ASCII, a pair of UTF-16 units among them, arrive unchanged.
    const CatalogRow* c = find("ça 日本 🎵.txt");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->fileName, scratch("Music/Live/ça 日本 🎵.txt"));

    // The same folder again: nothing new; another of the same name: Music1, then Music2.
    EXPECT_EQ(share("Music").kind, ShareOutcome::Kind::AlreadyShared);
    EXPECT_EQ(catalog().size(), 6u);
    EXPECT_EQ(share("other/Music").name, "/Music1");
    EXPECT_EQ(m_tree.PathOf(find("z.mp3")->id), "/Music1/z.mp3");
    EXPECT_EQ(share("third/Music").name, "/Music2");
    EXPECT_TRUE(isForest());
}

TEST_F(ShareOps, SkipsSubfoldersThatAreAlreadyShared) {
    makeFile("top/sub/deep/x");
    makeFile("top/sub/y");
    makeFile("top/z");
    ASSERT_EQ(share("top/sub").rows, 4);
    const auto outcome = share("top");
    EXPECT_EQ(outcome.rows, 2);  // top and z
    EXPECT_EQ(catalog().size(), 6u);
    EXPECT_EQ(m_tree.IdOf("/top/sub"), -999);
    EXPECT_NE(m_tree.IdOf("/sub/deep/x"), -999);

    // Folders whose paths differ only in letter case are different folders, each shared once.
    makeFile("Music/a");
    makeFile("music/b");
    makeFile("top/Sub/c");
    EXPECT_EQ(share("Music").kind, ShareOutcome::Kind::Shared);
    const auto lower = share("music");
    EXPECT_EQ(lower.kind, ShareOutcome::Kind::Shared);
    EXPECT_EQ(lower.name, "/music1");
    EXPECT_EQ(share("music").kind, ShareOutcome::Kind::AlreadyShared);
    EXPECT_EQ(share("top/Sub").rows, 2);
}

TEST_F(ShareOps, WithSubfoldersTheMatchingFilesLandUnderTheSharedFolder) {
    for (const char* f :
         {"f/a.MP3", "f/b.txt", "f/noext", "f/in/c.mp3", "f/in/deeper/d.ogg", "f/in/e.wav"})
        makeFile(f);
    EXPECT_EQ(share("f", true, {"mp3", "ogg"}, "/Tunes").rows, 4);
    const int tunes = m_tree.IdOf("/Tunes");
    for (const char* name : {"a.MP3", "c.mp3", "d.ogg"}) {
        const CatalogRow* row = find(name);
        ASSERT_TRUE(row) << name;
        EXPECT_EQ(row->parentId, tunes) << name;
    }
    EXPECT_TRUE(isForest());
}

TEST_F(ShareOps, RemovalDeletesTheSubtreeAndMarksTheEntry) {
    for (const char* f : {"m/a", "m/s/b", "m/s/t/c", "n/d"})
        makeFile(f);
    share("m");
    share("n");
    ASSERT_EQ(catalog().size(), 8u);
    EXPECT_EQ(m_tree.RemoveShare(*m_tree.ItemAt("/m/s")), RemoveOutcome::Removed);
    EXPECT_EQ(catalog().size(), 5u);
    EXPECT_EQ(countAction("D"), 1);
    EXPECT_EQ(find("s")->action, "D");
    EXPECT_FALSE(find("b"));
    EXPECT_FALSE(find("t"));
    EXPECT_TRUE(isForest());
    EXPECT_EQ(m_tree.RemoveShare(TFileItem("gone", "/m/")), RemoveOutcome::NotFound);

    // The root: only the files directly in it are marked.
    addRow("loose.txt", -1, false, {.action = ""});
    EXPECT_EQ(m_tree.RemoveShare(*m_tree.ItemAt("/")), RemoveOutcome::Removed);
    EXPECT_EQ(countAction("D"), 2);
    EXPECT_EQ(find("loose.txt")->action, "D");
    EXPECT_EQ(find("m")->action, "A");
}

TEST_F(ShareOps, CancelKeepsAConsistentPrefix) {
    for (int i = 0; i < 40; ++i)
        makeFile(QString("c/d%1/f").arg(i));
    test::CancellingView view;
    m_tree.setProgressView(&view);
    const auto outcome = share("c");
    EXPECT_EQ(outcome.kind, ShareOutcome::Kind::Cancelled);
    EXPECT_EQ(static_cast<int>(catalog().size()), outcome.rows);
    EXPECT_TRUE(isForest());
}

TEST_F(ShareOps, LargeSharesKeepEveryRowUnderItsFolderAndNeverReuseIds) {
    makeFile("n/d");
    share("n");
    const int deleted = find("d")->id;
    ASSERT_EQ(m_tree.RemoveShare(*m_tree.ItemAt("/n")), RemoveOutcome::Removed);
    ASSERT_FALSE(find("d"));
    // More rows than one statement takes, the last of them in a folder written before them.
    for (int i = 0; i < 150; ++i)
        makeFile(QString("big/%1/f%2").arg(i % 2 ? "x" : "y").arg(i), i);
    const QString table = QDir(dataDir()).filePath("files.dat");
    const qint64 sizeBefore = QFileInfo(table).size();
    EXPECT_EQ(share("big").rows, 153);
    // The share does not wait for its journal to be folded into the table file: another thread
    // does that afterwards.
    db::waitForJournalFolds();
    EXPECT_GT(QFileInfo(table).size(), sizeBefore);
    for (const CatalogRow& row : catalog()) {
        if (row.name != "n") {
            EXPECT_GT(row.id, deleted) << row.name.toStdString();
        }
    }
    const CatalogRow* last = find("f98");
    ASSERT_TRUE(last);
    EXPECT_EQ(m_tree.PathOf(last->id), "/big/y/f98");
    EXPECT_EQ(last->fileName, scratch("big/y/f98"));
    EXPECT_EQ(m_tree.ItemAt("/big/y/f98")->size, 98);
    EXPECT_TRUE(isForest());

    // A folder the caller has listed (a view showing it) keeps its children.
    makeFile("listed/a");
    auto node = TActualFileNode::fromPath(scratch("listed"));
    ASSERT_EQ(node->Children().count(), 1);
    EXPECT_EQ(m_tree.ShareFolder(node.get(), "/listed", true, {}).rows, 2);
    EXPECT_TRUE(node->childrenLoaded());
}
