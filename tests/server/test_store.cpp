#include "patterns.h"
#include "store.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace mr::server;

TEST(ServerPatterns, LikeIgnoresCaseAndHonoursWildcards) {
    EXPECT_TRUE(likeMatch("%%", ""));
    EXPECT_TRUE(likeMatch("%a%b%", "xAyyBz"));
    EXPECT_FALSE(likeMatch("%a%b%", "bxa"));
    EXPECT_TRUE(likeMatch("_at", "Cat"));
    EXPECT_FALSE(likeMatch("_at", "at"));
    EXPECT_TRUE(likeMatch("%ÉTÉ%", "un été"));
    EXPECT_FALSE(likeMatch("abc", "abcd"));
    EXPECT_TRUE(likeMatch("a%c%c", "abcbcbc"));
    // Backtracking over a long text stays linear enough to run here in no time.
    EXPECT_FALSE(likeMatch(QString(200, u'%') + "b", QString(10000, u'a')));

    EXPECT_TRUE(extensionListMatches("mp3:mp2", "x.MP2"));
    EXPECT_FALSE(extensionListMatches("mp3:mp2", "mp3"));
    EXPECT_TRUE(extensionListMatches(" *.jpg : .gif ", "a.b.GIF"));
    EXPECT_TRUE(extensionListMatches("%", "noext"));
    EXPECT_TRUE(extensionListMatches("", "noext"));
    EXPECT_FALSE(extensionListMatches("exe", "exe.txt"));
}

// Accounts and catalogs surviving a restart are checked end to end; these are the rest.
TEST(ServerStore, EverythingSurvivesAReopen) {
    QTemporaryDir dir;
    int ann = 0;
    int ben = 0;
    const CatalogEntry song{0, "Music", "song.mp3", 1234, 37000.25, true, "best"};
    {
        Store store;
        QString error;
        ASSERT_TRUE(store.open(dir.path(), &error)) << error.toStdString();
        ann = store.createAccount("Ann", "a&b=c d");
        ben = store.createAccount("Ben", "pw");
        CatalogEntry mine = song;
        mine.owner = ann;
        ASSERT_TRUE(store.applyShareChanges(ann, {}, {mine}));
        EXPECT_TRUE(store.addContact(ann, ben));
    }
    Store store;
    ASSERT_TRUE(store.open(dir.path(), nullptr));
    EXPECT_FALSE(store.checkPassword(ann, "A&B=C D"));
    const auto entries = store.listFolder(ann, "Music");
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].date, song.date);
    EXPECT_EQ(entries[0].hasPassword, song.hasPassword);
    EXPECT_EQ(entries[0].description, song.description);
    EXPECT_EQ(store.contacts(ann), QList<int>{ben});
}

TEST(ServerStore, CatalogLimitRefusesTheWholeChange) {
    QTemporaryDir dir;
    Store store;
    ASSERT_TRUE(store.open(dir.path(), nullptr));
    constexpr int kLimit = 1000;
    store.setMaxEntriesPerUser(kLimit);
    const int id = store.createAccount("big", "pw");
    QList<CatalogEntry> many;
    for (int i = 0; i <= kLimit; ++i) {
        many.append({id, "", QByteArray::number(i), 1, 0, false, " "});
    }
    EXPECT_FALSE(store.applyShareChanges(id, {}, many));
    EXPECT_EQ(store.fileCount(id), 0);
    many.removeLast();
    ASSERT_TRUE(store.applyShareChanges(id, {}, many));
    EXPECT_EQ(store.fileCount(id), kLimit);
}
