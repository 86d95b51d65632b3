#include "patterns.h"
#include "serverfixture.h"
#include "store.h"

#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <gtest/gtest.h>

using namespace mr::server;

TEST(ServerPatterns, LikeIgnoresCaseAndHonoursWildcards) {
    const auto like = [](const QString& p, const QString& t) { return LikePattern(p).matches(t); };
    EXPECT_TRUE(like("%%", ""));
    EXPECT_FALSE(like("%a%b%", "bxa"));
    EXPECT_TRUE(like("_at", "Cat"));
    EXPECT_FALSE(like("_at", "at"));
    EXPECT_FALSE(like("abc", "abcd"));
    EXPECT_TRUE(like("a%c%c", "abcbcbc"));
    EXPECT_FALSE(like("", "a"));
    // "_" is one character, one outside the Basic Multilingual Plane too.
    EXPECT_TRUE(like("%a_b%", QStringLiteral("a\U0001F600b.mp3")));
    EXPECT_FALSE(like("%a__b%", QStringLiteral("a\U0001F600b.mp3")));
    // Backtracking over a long text stays linear enough to run here in no time.
    EXPECT_FALSE(like(QString(200, u'%') + "b", QString(10000, u'a')));

    const auto extension = [](const QString& list, const QString& name) {
        return ExtensionList(list).matches(name);
    };
    EXPECT_TRUE(extension("mp3:mp2", "x.MP2"));
    EXPECT_FALSE(extension("mp3:mp2", "mp3"));
    EXPECT_TRUE(extension(" *.jpg : .gif ", "a.b.GIF"));
    EXPECT_TRUE(extension("%", "noext"));
    EXPECT_TRUE(extension("", "noext"));
    EXPECT_FALSE(extension("exe", "exe.txt"));
}

// Accounts and catalogs surviving a restart are checked end to end; these are the rest.
TEST(ServerStore, EverythingSurvivesAReopen) {
    QTemporaryDir dir;
    int ann = 0, ben = 0;
    {
        Store store;
        ASSERT_TRUE(store.open(dir.path(), nullptr));
        ann = store.createAccount("Ann", "a&b=c d");
        ben = store.createAccount("Ben", "pw");
        ASSERT_TRUE(store.applyShareChanges(
            ann, {}, {{ann, "Music", "song.mp3", 1234, 37000.25, true, "best"}}));
        EXPECT_TRUE(store.addContact(ann, ben));
    }
    Store store;
    ASSERT_TRUE(store.open(dir.path(), nullptr));
    EXPECT_FALSE(store.checkPassword(ann, "A&B=C D"));
    const auto entries = store.listFolder(ann, "Music");
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].date, 37000.25);
    EXPECT_TRUE(entries[0].hasPassword);
    EXPECT_EQ(entries[0].description, "best");
    EXPECT_EQ(store.contacts(ann), QList<int>{ben});
}

class ServerCatalog : public mr::test::ServerFixture {};

TEST_F(ServerCatalog, ALimitRefusesTheWholeChange) {
    constexpr int kLimit = 1000;
    m_store.setMaxEntriesPerUser(kLimit);
    const int id = newAccount("big");
    QList<CatalogEntry> many;
    for (int i = 0; i <= kLimit; ++i) {
        many.append({id, "", QByteArray::number(i), 1, 0, false, " "});
    }
    EXPECT_FALSE(m_store.applyShareChanges(id, {}, many));
    EXPECT_EQ(m_store.fileCount(id), 0);
    many.removeLast();
    ASSERT_TRUE(m_store.applyShareChanges(id, {}, many));
    EXPECT_EQ(m_store.fileCount(id), kLimit);
}

namespace {

QStringList namesOf(const QList<CatalogEntry>& entries) {
    QStringList out;
    for (const CatalogEntry& e : entries) {
        out << QString::fromUtf8(e.name);
    }
    return out;
}

// Every query of names x descriptions, online-only or not, capped or not, gets from the index
// exactly what reading every entry gets.
void expectIndexAgreesWithScan(const Store& store, const QList<int>& present,
                               const QStringList& names, const QStringList& descriptions) {
    for (const QString& name : names) {
        for (const QString& description : descriptions) {
            for (const int variant : {0, 1, 2, 3}) {
                CatalogQuery q;
                q.name = name;
                q.description = description;
                q.onlineOnly = variant & 1;
                q.limit = variant & 2 ? 2 : 100;
                EXPECT_EQ(namesOf(store.search(q, present)),
                          namesOf(store.search(q, present, SearchPlan::Scan)))
                    << name.toStdString() << " / " << description.toStdString() << " " << variant;
            }
        }
    }
}

CatalogQuery named(const QString& name, const QString& description = "%") {
    CatalogQuery q;
    q.name = name;
    q.description = description;
    return q;
}

}  // namespace

TEST_F(ServerCatalog, IndexedSearchFindsWhatAScanFinds) {
    Store& store = m_store;
    const int ann = newAccount("ann");
    const int bob = newAccount("bob");
    const int cy = newAccount("cy");
    auto share = [&](int owner, const QList<CatalogEntry>& entries,
                     const QList<QByteArray>& removals = {}) {
        ASSERT_TRUE(store.applyShareChanges(owner, removals, entries));
    };
    share(ann, {{ann, "", "Music", -1, 0, false, " "},
                {ann, "Music", "Blue Moon.MP3", 10, 0, false, " "},
                {ann, "Music/Live", "moon river.mp3", 20, 0, false, "Live at \"the\" Hall"},
                {ann, "", "Été indien.ogg", 30, 0, false, "ÉTÉ"},
                {ann, "", "a_b%c.txt", 1, 0, false, " "}});
    share(bob, {{bob, "", "moonlight  sonata.flac", 40, 0, false, " "},
                {bob, "Docs", "The MOON landing.pdf", 50, 0, false, "Apollo 11"}});
    share(cy, {{cy, "", "honeymoon.mp3", 60, 0, false, "\"quoted\""}});
    const QList<int> present{bob};

    EXPECT_EQ(namesOf(store.search(named("%moon%"), present)),
              (QStringList{"moonlight  sonata.flac", "The MOON landing.pdf", "Blue Moon.MP3",
                           "moon river.mp3", "honeymoon.mp3"}));
    EXPECT_EQ(namesOf(store.search(named("%t  s%"), present)),
              QStringList{"moonlight  sonata.flac"});
    EXPECT_EQ(namesOf(store.search(named("%été%", "%été%"), present)),
              QStringList{"Été indien.ogg"});
    expectIndexAgreesWithScan(
        store, present,
        {"%moon%", "%MOON%", "%e mo%", "%moo%riv%", "%mo%n%", "%on_r%", "%mo%", "%%", "%%%",
         "%ÉTÉ IND%", "%t  s%", "%a_b%c%", "moon%", "%mp3", "%nothing like it%"},
        {"%", "%%", "%hall%", "%\"the\"%", "%\"quoted\"%", "%apo%11%"});

    // A removed folder takes its entries out of the index, and so does a removed file whose
    // number the next new entry gets; a replaced entry is found under its new description only.
    share(ann, {{ann, "", "Été indien.ogg", 31, 0, false, "summer"}}, {"Music"});
    share(cy, {{cy, "", "new moon.mp3", 61, 0, false, " "}}, {"honeymoon.mp3"});
    EXPECT_EQ(namesOf(store.search(named("%moon%"), present)),
              (QStringList{"moonlight  sonata.flac", "The MOON landing.pdf", "new moon.mp3"}));
    EXPECT_TRUE(store.search(named("%", "%été%"), present).isEmpty());
    const auto summer = store.search(named("%", "%summer%"), present);
    ASSERT_EQ(summer.size(), 1);
    EXPECT_EQ(summer[0].size, 31);
    expectIndexAgreesWithScan(store, present, {"%moon%", "%%", "%ind%"},
                              {"%", "%summer%", "%été%"});
}

TEST(ServerStore, AnOlderDataFolderIsUpgradedAndSearchable) {
    QTemporaryDir dir;
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(dir.filePath(Store::fileName())), &db), SQLITE_OK);
        // The layout the service kept before entries had ids of their own.
        ASSERT_EQ(sqlite3_exec(db, R"sql(
            CREATE TABLE catalog(owner INTEGER NOT NULL, folder BLOB NOT NULL,
                name BLOB NOT NULL, size INTEGER NOT NULL, date REAL NOT NULL,
                has_password INTEGER NOT NULL, description BLOB NOT NULL,
                PRIMARY KEY(owner, folder, name)) WITHOUT ROWID;
            INSERT INTO catalog VALUES
                (7, X'', X'4D75736963', -1, 0, 0, X'20'),
                (7, X'4D75736963', X'7A2D4D6F6F6E2E6D7033', 5, 0, 1, X'6F6C64'),
                (7, X'4D75736963', X'612D4D6F6F6E2E6D7033', 6, 0, 0, X'20'),
                (3, X'', X'6D6F6F6E2E747874', 1, 0, 0, X'20');
            )sql",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    Store store;
    QString error;
    ASSERT_TRUE(store.open(dir.path(), &error)) << error.toStdString();
    // Each member's entries keep their path order.
    EXPECT_EQ(namesOf(store.search(named("%moon%"), {})),
              (QStringList{"moon.txt", "a-Moon.mp3", "z-Moon.mp3"}));
    EXPECT_EQ(namesOf(store.search(named("%", "%old%"), {7})), QStringList{"z-Moon.mp3"});
    EXPECT_EQ(store.listFolder(7, "Music").size(), 2);
    EXPECT_EQ(store.fileCount(7), 2);
    EXPECT_EQ(store.fileCount(), 3);

    // New entries come after the old ones; removals reach the index.
    ASSERT_TRUE(store.applyShareChanges(7, {"Music/a-Moon.mp3"},
                                        {{7, "Music", "b-Moon.mp3", 9, 0, false, " "}}));
    store.close();
    ASSERT_TRUE(store.open(dir.path(), nullptr));
    EXPECT_EQ(namesOf(store.search(named("%moon.%"), {})),
              (QStringList{"moon.txt", "z-Moon.mp3", "b-Moon.mp3"}));
}
