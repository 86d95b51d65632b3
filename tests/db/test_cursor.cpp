#include "dbtestutil.h"

#include "db/connection.h"
#include "db/cursor.h"
#include "db/database.h"
#include "db/dberror.h"
#include "db/filters.h"
#include "db/transaction.h"

#include <QStringList>

using namespace mr::db;

namespace {

class DbCursor : public mr::test::DbTest {
protected:
    static Cursor open(const QString& table = QStringLiteral("files")) {
        return Cursor(QString::fromLatin1(kDatabaseName), table);
    }

    static QStringList names(Cursor& cursor) {
        QStringList result;
        for (cursor.first(); !cursor.eof(); cursor.next())
            result << cursor.asString("Name");
        return result;
    }
};

}  // namespace

TEST_F(DbCursor, AppendPostStandsOnTheNewRowWithItsId) {
    Cursor files = open();
    EXPECT_TRUE(files.eof());
    files.append();
    files.setInteger("PARENTID", -1);  // field names in any letter case
    files.setString("Name", QStringLiteral("Music"));
    files.setInteger("FileSize", 5'000'000'000);
    files.setDateTime("FileDate", 45000.75);
    files.setBoolean("IsPassword", true);
    files.post();
    const qint64 first = files.asInteger("id");
    EXPECT_GT(first, 0);
    EXPECT_EQ(files.asString("Name"), u"Music");
    EXPECT_EQ(files.asInteger("FileSize"), 5'000'000'000);
    EXPECT_DOUBLE_EQ(files.asDateTime("FileDate"), 45000.75);
    EXPECT_TRUE(files.asBoolean("IsPassword"));
    // Never written: the blank value of the field's type.
    EXPECT_EQ(files.asInteger("RatioStyle"), 0);
    EXPECT_EQ(files.asString("Description"), u"");

    files.append();
    files.post();
    EXPECT_GT(files.asInteger("id"), first);
    EXPECT_THROW(files.asString("Nmae"), DbError);
}

TEST_F(DbCursor, FilterShowsOnlyMatchingRowsAndCountsThemLive) {
    const qint64 folder = addFile(QStringLiteral("folder"), -1);
    addFile(QStringLiteral("a"), folder);
    addFile(QStringLiteral("other"), -1);
    addFile(QStringLiteral("b"), folder, QStringLiteral("D"));
    addFile(QStringLiteral("remote"), folder, QString(), QStringLiteral("peer"));

    Cursor files = open();
    files.setFilter(childrenOf(int(folder)));
    EXPECT_EQ(files.recordCount(), 3);
    EXPECT_EQ(names(files), (QStringList{"a", "b", "remote"}));
    files.setFilter(childrenForDisplay(QString(), int(folder)), true);
    EXPECT_EQ(names(files), QStringList{"a"});

    addFile(QStringLiteral("c"), folder);
    EXPECT_EQ(files.recordCount(), 2);
    files.clearFilter();
    EXPECT_EQ(files.recordCount(), 6);

    // A bad filter leaves the old one in force.
    files.setFilter(childrenOf(int(folder)));
    EXPECT_THROW(files.setFilter(QStringLiteral("ParentId = ")), DbError);
    EXPECT_EQ(files.recordCount(), 4);
}

TEST_F(DbCursor, ReadAheadWalksTheSameRowsAndRestartsCleanly) {
    const qint64 folder = addFile(QStringLiteral("folder"), -1);
    QStringList expected;
    for (int i = 0; i < 7; ++i) {
        addFile(QStringLiteral("f%1").arg(i), folder);
        expected << QStringLiteral("f%1").arg(i);
        addFile(QStringLiteral("gone%1").arg(i), folder, QStringLiteral("D"));
    }
    Cursor files = open();
    files.setFilter(pendingAdditions(), true);
    files.setReadAhead(3);
    QStringList ids;
    for (; !files.eof(); files.next())
        ids << files.asString("id") + u':' + files.asString("Name");
    EXPECT_EQ(ids.size(), 8);  // the folder and its seven files, across three reads ahead
    EXPECT_TRUE(ids.last().endsWith(u":f6"));
    EXPECT_EQ(files.asString("Name"), QString());

    // first() drops what was read ahead; a row appended behind the reads is still reached.
    files.first();
    files.next();
    EXPECT_EQ(files.asString("Name"), QStringLiteral("f0"));
    addFile(QStringLiteral("late"), folder);
    QStringList rest;
    for (files.next(); !files.eof(); files.next())
        rest << files.asString("Name");
    EXPECT_EQ(rest, (QStringList{"f1", "f2", "f3", "f4", "f5", "f6", "late"}));

    // Removing goes on with the next matching row, read ahead or not, so removing until the
    // end empties the filtered set and nothing else.
    files.first();
    files.next();
    files.remove();
    EXPECT_EQ(files.asString("Name"), QStringLiteral("f1"));
    while (!files.eof())
        files.remove();
    files.first();
    EXPECT_EQ(files.asString("Name"), QStringLiteral("folder"));
    EXPECT_EQ(files.recordCount(), 1);
    files.clearFilter();
    EXPECT_EQ(files.recordCount(), 8);
}

TEST_F(DbCursor, CaseInsensitiveFiltersFoldUnicodeLetters) {
    const qint64 id = addFile(QStringLiteral("Äpfel"), -1);
    addFile(QStringLiteral("Bob's \"best\""), -1);
    Cursor files = open();

    files.setFilter(pathStep(QString(), -1, QStringLiteral("äPFEL")), true);
    ASSERT_FALSE(files.eof());
    EXPECT_EQ(files.asInteger("id"), id);
    files.setFilter(pathStep(QString(), -1, QStringLiteral("äPFEL")), false);
    EXPECT_TRUE(files.eof());
    files.setFilter(pathStep(QString(), 7, QStringLiteral("Äpfel")), true);
    EXPECT_TRUE(files.eof());

    files.setFilter(pathStep(QString(), -1, QStringLiteral("BOB'S \"BEST\"")), true);
    EXPECT_EQ(files.recordCount(), 1);
    files.setFilter(localFileByName(QStringLiteral("Bob's \"best\""), -1), false);
    EXPECT_EQ(files.recordCount(), 1);
}

TEST_F(DbCursor, MisuseIsRejectedAndEofReadsBlank) {
    Cursor files = open();
    EXPECT_THROW(files.setString("Name", QStringLiteral("x")), DbError);
    EXPECT_THROW(files.edit(), DbError);
    EXPECT_THROW(files.remove(), DbError);
    EXPECT_EQ(files.asString("Name"), u"");

    files.append();
    EXPECT_THROW(files.next(), DbError);
    EXPECT_THROW(files.setFilter(QString()), DbError);
    files.cancel();
    EXPECT_EQ(files.recordCount(), 0);

    files.close();
    EXPECT_THROW(files.first(), DbError);
}

TEST_F(DbCursor, RowsWrittenByThePlainSqliteToolReadAsBlank) {
    rawExec(QStringLiteral("files.dat"),
            QStringLiteral(
                "INSERT INTO files (Name) VALUES ('raw');"
                "INSERT INTO files (Name, Username, RatioStyle) VALUES ('nulls', NULL, NULL)"));
    Cursor files = open();
    files.setFilter(QStringLiteral("Username = '' and RatioStyle = 0"));
    EXPECT_EQ(names(files), (QStringList{"raw", "nulls"}));
    EXPECT_FALSE(files.asBoolean("IsPassword"));
}

TEST_F(DbCursor, TablesAreNamedWithoutCaseAndWithoutDbSuffix) {
    {
        Cursor contacts = open(QStringLiteral("Contacts.db"));
        contacts.append();
        contacts.setString("UserName", QStringLiteral("ann"));
        contacts.setInteger("userid", 17);
        contacts.post();
    }
    Cursor contacts = open(QStringLiteral("contacts"));
    contacts.setFilter(contactByName(QStringLiteral("ann")));
    EXPECT_EQ(contacts.asInteger("UserID"), 17);
    EXPECT_THROW(contacts.asInteger("id"), DbError);
    EXPECT_THROW(open(QStringLiteral("shares")), DbError);
    EXPECT_THROW(Cursor(QStringLiteral("nosuchdb"), QStringLiteral("files")), DbError);
}

TEST_F(DbCursor, IndexNamesAreCheckedAndTheEngineIndexStaysHidden) {
    Cursor files = open();
    files.addIndex(QStringLiteral("inxUsername"), {QStringLiteral("username")}, true);
    EXPECT_EQ(files.indexNames(), QStringList{"inxUsername"});
    const QStringList bad[] = {{"inxUsername", "Username"},
                               {"inxOwner", "Owner"},
                               {"mr_mine", "Name"},
                               {"x\"; drop", "Name"}};
    for (const QStringList& index : bad) {
        EXPECT_THROW(files.addIndex(index[0], {index[1]}, false), DbError)
            << index[0].toStdString();
    }
    // The engine's own ParentId index exists; the file stays plain SQLite.
    EXPECT_EQ(rawQuery(QStringLiteral("files.dat"),
                       QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'index'")),
              u"2");
    EXPECT_EQ(rawQuery(QStringLiteral("files.dat"), QStringLiteral("PRAGMA integrity_check")),
              u"ok");
}

TEST_F(DbCursor, TransactionRollbackLeavesNoRows) {
    Cursor files = open();
    {
        Transaction transaction(files);
        for (int i = 0; i < 3; ++i) {
            files.append();
            files.setString("Name", QStringLiteral("n%1").arg(i));
            files.post();
        }
        EXPECT_EQ(files.recordCount(), 3);
    }
    EXPECT_EQ(files.recordCount(), 0);

    Transaction outer(files);
    files.append();
    files.post();
    {
        Transaction inner(files);
        files.append();
        files.post();
        inner.rollback();
    }
    outer.commit();
    EXPECT_EQ(files.recordCount(), 1);
    EXPECT_THROW(outer.commit(), DbError);
}

TEST_F(DbCursor, CursorsOfOneConnectionShareItsTransaction) {
    Connection connection(QString::fromLatin1(kDatabaseName), QStringLiteral("files"));
    Transaction transaction(connection);
    Cursor writer(connection, QStringLiteral("files"), OpenMode::Exclusive);
    writer.append();
    writer.setString("FileName", QStringLiteral("/srv/a"));
    writer.setString("Action", QStringLiteral("A"));
    writer.post();
    {
        // The already-shared check of a share run, inside the same operation.
        Cursor check(connection, QStringLiteral("files"));
        check.setFilter(sharedFolder(QStringLiteral("/SRV/A")), true);
        EXPECT_EQ(check.recordCount(), 1);
    }
    EXPECT_THROW(Cursor(connection, QStringLiteral("credits")), DbError);
    transaction.commit();
    writer.close();
    EXPECT_EQ(open().recordCount(), 1);
}
