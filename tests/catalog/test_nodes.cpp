#include "catalogtest.h"

#include "catalog/actualfilenode.h"
#include "catalog/logicaltree.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace mr;

namespace {

std::unique_ptr<TFileItem> item(const QString& name, const QString& path, qint32 size = 5) {
    auto i = std::make_unique<TFileItem>(name, path);
    i->size = size;
    return i;
}

}  // namespace

TEST(LogicalTree, WalksAndAddsLikeAFolderTree) {
    TLogicalTree tree;
    tree.Initialize();
    TFileNode* root = tree.root();
    EXPECT_EQ(tree.FindNode(root, "/"), root);
    EXPECT_EQ(tree.FindNode(root, ""), root);
    EXPECT_EQ(tree.FindNode(nullptr, ""), nullptr);

    // Missing folders on the way are made as local folder nodes.
    TFileNode* song = tree.Add(item("Song.mp3", "/Music/Live/"));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->fullPath(), "/Music/Live/Song.mp3");
    TFileNode* live = tree.FindNode(root, "/music/LIVE");
    ASSERT_TRUE(live);
    EXPECT_TRUE(live->isFolder());
    EXPECT_NE(dynamic_cast<TLocalFileNode*>(live), nullptr);
    EXPECT_EQ(tree.FindNode(live, "song.MP3"), song);
    EXPECT_EQ(tree.FindNode(root, "/Music/Nope/Song.mp3"), nullptr);

    // Same name in another letter case: the tree keeps the first.
    EXPECT_EQ(tree.Add(item("SONG.MP3", "/Music/Live/")), nullptr);
    EXPECT_EQ(live->Children().count(), 1);

    // Size -1 is a folder, anything else (0 too) a file.
    EXPECT_TRUE(tree.Add(item("Empty", "/", -1))->isFolder());
    EXPECT_FALSE(tree.Add(item("zero", "/", 0))->isFolder());
    EXPECT_EQ(root->count(), 3);
    EXPECT_EQ(root->count(true), 5);

    tree.Remove(TFileItem("Live", "/Music/"));
    tree.Remove(TFileItem("Ghost", "/Music/"));
    EXPECT_EQ(tree.FindNode(root, "/Music/Live"), nullptr);
}

TEST(LogicalTree, ChildrenAreLoadedOnceOnFirstUse) {
    TLogicalTree tree;
    QStringList asked;
    tree.setGetItems([&](TFileNode* node) {
        asked << node->fullPath();
        if (node->fullPath() == u"/")
            tree.Add(item("a", "/", -1));
    });
    tree.Initialize();
    EXPECT_FALSE(tree.root()->childrenLoaded());
    TFileNode* a = tree.FindNode(tree.root(), "/a");
    ASSERT_TRUE(a);
    EXPECT_TRUE(tree.root()->childrenLoaded());
    EXPECT_EQ(tree.FindNode(tree.root(), "/a/b"), nullptr);
    EXPECT_EQ(asked, (QStringList{"/", "/a"}));
    tree.root()->freeChildren();
    EXPECT_FALSE(tree.root()->childrenLoaded());
    tree.FindNode(tree.root(), "a");
    EXPECT_EQ(asked.count("/"), 2);
}

TEST(FileNodes, TheNameIndexFollowsAddsAndRemoves) {
    TLocalFileNode folder(nullptr, "/");
    TFileNodes& list = folder.Children();
    for (const char* n : {"beta", "Alpha", "gamma"})
        list.add(std::make_unique<TLocalFileNode>(&folder, item(n, "/"), false));
    EXPECT_EQ(list.get(-1), nullptr);
    EXPECT_EQ(list.get(3), nullptr);
    EXPECT_EQ(list.findByName("ALPHA"), list.get(1));

    // The index follows adds and removes made after the first look-up; a removed name falls
    // to the next child of the same name.
    TFileNode* second =
        list.add(std::make_unique<TLocalFileNode>(&folder, item("BETA", "/"), false));
    EXPECT_NE(list.findByName("beta"), second);
    EXPECT_TRUE(list.remove(list.findByName("beta")));
    EXPECT_EQ(list.findByName("Beta"), second);
    EXPECT_TRUE(list.remove(second));
    EXPECT_EQ(list.findByName("beta"), nullptr);
    list.add(std::make_unique<TLocalFileNode>(&folder, item("delta", "/"), false));
    EXPECT_EQ(list.findByName("DELTA"), list.get(list.count() - 1));
}

class DiskTree : public test::CatalogTest {};

TEST_F(DiskTree, ListsFoldersFirstHiddenIncluded) {
    for (const char* f : {"b.txt", ".hidden", "A.txt"})
        makeFile(f, 5);
    makeDir("zeta/inner");
    makeDir("Alpha");
    QFile::link(scratch("zeta"), scratch("loop"));
    auto node = TActualFileNode::fromPath(scratch());
    ASSERT_TRUE(node);
    QStringList names;
    for (const auto& child : node->Children())
        names << child->item()->Name;
    EXPECT_EQ(names, (QStringList{"Alpha", "loop", "zeta", ".hidden", "A.txt", "b.txt"}));
    const TFileNode* file = node->Children().findByName("a.txt");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->item()->size, 5);
    EXPECT_GT(file->item()->date, 40000);
    EXPECT_EQ(file->item()->Path, scratch() + "/");
    EXPECT_EQ(file->localPath(), scratch("A.txt"));
    // A link to a folder is shown but never walked, so it cannot loop.
    EXPECT_FALSE(node->Children().findByName("loop")->walkable());
    EXPECT_EQ(node->count(true), 7);
}
