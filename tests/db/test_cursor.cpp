#include "dbtestutil.h"

#include "db/connection.h"
#include "db/cursor.h"
#include "db/database.h"
#include "db/dberror.h"
#include "db/filters.h"
#include "db/statement.h"
#include "db/transaction.h"

#include <QDir>
#include <QFile>
#include <QStringList>

using namespace mr::db;

namespace {

const QString kDb = QString::fromLatin1(kDatabaseName);

class DbCursor : public mr::test::DbTest {
protected:
    static Cursor open(const QString& table = "files") { return Cursor(kDb, table); }

    // Every row of the files table as "id:Action".
    QString actions() const {
        return rawQuery("files.dat", "SELECT group_concat(id || ':' || Action, ' ') FROM files");
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
    for (int i = 0; i < 7; ++i) {
        addFile(QStringLiteral("f%1").arg(i), folder);
        addFile(QStringLiteral("gone%1").arg(i), folder, QStringLiteral("D"));
    }
    Cursor files = open();
    files.setFilter(pendingAdditions(), true);
    files.setReadAhead(3);
    // The folder and its seven files, across three reads ahead.
    EXPECT_EQ(names(files), (QStringList{"folder", "f0", "f1", "f2", "f3", "f4", "f5", "f6"}));
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
    rawExec("files.dat",
            "INSERT INTO files (Name) VALUES ('raw');"
            "INSERT INTO files (Name, Username, RatioStyle) VALUES ('nulls', NULL, NULL)");
    Cursor files = open();
    files.setFilter(QStringLiteral("Username = '' and RatioStyle = 0"));
    EXPECT_EQ(names(files), (QStringList{"raw", "nulls"}));
    EXPECT_FALSE(files.asBoolean("IsPassword"));
}

TEST_F(DbCursor, ATableFileThatIsNotSoundIsNamedByTheCheck) {
    EXPECT_EQ(Database::checkTables(dataDir()), QString());
    QFile credits(QDir(dataDir()).filePath("credits.dat"));
    ASSERT_TRUE(credits.open(QIODevice::WriteOnly | QIODevice::Truncate));
    credits.write(QByteArray(4096, 'x'));
    credits.close();
    EXPECT_TRUE(Database::checkTables(dataDir()).contains("credits.dat: "));
}

TEST_F(DbCursor, TablesAreNamedWithoutCaseAndWithoutDbSuffix) {
    Cursor written = open("Contacts.db");
    written.append();
    written.setString("UserName", QStringLiteral("ann"));
    written.setInteger("userid", 17);
    written.post();
    Cursor contacts = open("contacts");
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
    const QStringList bad[] = {
        {"inxUsername", "Username"}, {"inxOwner", "Owner"}, {"mr_mine", "Name"},
        {"x\"; drop", "Name"},       {"1inx", "Name"},      {"", "Name"},
        {"inx\u00e9", "Name"}};
    for (const QStringList& index : bad) {
        EXPECT_THROW(files.addIndex(index[0], {index[1]}, false), DbError)
            << index[0].toStdString();
    }
    // The engine's own ParentId index exists; the file stays plain SQLite.
    EXPECT_EQ(rawQuery("files.dat", "SELECT count(*) FROM sqlite_master WHERE type = 'index'"),
              u"2");
    EXPECT_EQ(rawQuery("files.dat", "PRAGMA integrity_check"), u"ok");
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
    Connection connection(kDb, QStringLiteral("files"));
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
    // A statement of the same operation goes through the connection, past the exclusive open.
    Statement publish(connection);
    publish.setText(publishBatchStatement({int(writer.asInteger("id"))}));
    EXPECT_EQ(publish.execute(), 1);
    transaction.commit();
    writer.close();
    EXPECT_EQ(actions(), u"1:");
}

// The tables are plain SQLite files that other tools read by these exact names.
TEST_F(DbCursor, TablesAndColumnsCarryTheirExactNames) {
    const auto columns = [this](const QString& file, const QString& table) {
        return rawQuery(file,
                        "SELECT group_concat(name, ',') FROM pragma_table_info('" + table + "')");
    };
    EXPECT_EQ(columns("files.dat", "files"),
              u"id,Username,ParentId,Name,FileName,Attributes,FileSize,FileDate,Media,Description,"
              u"Password,IsPassword,Action,RatioStyle,Download,Size");
    EXPECT_EQ(columns("credits.dat", "credits"),
              u"Username,Status,FilesUploaded,FilesDownloaded,BytesUploaded,BytesDownloaded");
    EXPECT_EQ(columns("contacts.dat", "Contacts"), u"Username,UserID");
    EXPECT_TRUE(rawQuery("files.dat", "SELECT sql FROM sqlite_master WHERE name = 'files'")
                    .contains(u"AUTOINCREMENT"));
}

TEST_F(DbCursor, APublishBatchClearsExactlyTheListedIds) {
    QList<int> ids;
    for (int i = 0; i < 5; ++i)
        ids << int(addFile(QStringLiteral("f%1").arg(i), -1));
    Statement statement{kDb};
    statement.setText(publishBatchStatement({ids[1], ids[3], 999}));
    EXPECT_EQ(statement.execute(), 2);
    EXPECT_EQ(actions(), u"1:A 2: 3:A 4: 5:A");

    // Keywords in other letter cases and line breaks between the pieces are the same statement.
    statement.setText("UPDATE Files SET Action = 'D' WHERE ID IN\n(1, 5)");
    EXPECT_EQ(statement.execute(), 2);
    EXPECT_EQ(actions(), u"1:D 2: 3:A 4: 5:D");
    // The guard changes only rows still holding its value, compared without regard to case.
    statement.setText("update files set action = '' where id in (1,3,5) and Action = 'd'");
    EXPECT_EQ(statement.execute(), 2);
    EXPECT_EQ(actions(), u"1: 2: 3:A 4: 5:");
}

TEST_F(DbCursor, StatementsOfOtherShapesAreRejectedAndChangeNothing) {
    addFile(QStringLiteral("f"), -1);
    const char* const texts[] = {
        "",
        "delete from files",
        "update files set action = '' where id in (1); drop table files",
        "update files set action = '' where id in (1) or 1 = 1",
        "update files set action = '' where id in ()",
        "update files set action = '' where id in (1,)",
        "update files set action = '' where id in (-1)",
        "update files set ParentId = '' where id in (1)",
        "update credits set Username = '' where id in (1)",
        "update files set action = '' where id in (1",
        "update files set action = '' where id in (1) and FileSize = '1'",
    };
    for (const char* text : texts) {
        Statement statement{kDb};
        statement.setText(QString::fromUtf8(text));
        EXPECT_THROW(statement.execute(), DbError) << text;
    }
    EXPECT_EQ(actions(), u"1:A");
}
