#include "dbtestutil.h"

#include "db/connection.h"
#include "db/cursor.h"
#include "db/database.h"
#include "db/dberror.h"
#include "db/filters.h"
#include "db/statement.h"
#include "db/transaction.h"

using namespace mr::db;

namespace {

class DbStatement : public mr::test::DbTest {
protected:
    QString actions() const {
        return rawQuery(QStringLiteral("files.dat"),
                        QStringLiteral("SELECT group_concat(id || ':' || Action, ' ') FROM files"));
    }
};

}  // namespace

TEST_F(DbStatement, PublishBatchClearsExactlyTheListedIds) {
    QList<int> ids;
    for (int i = 0; i < 5; ++i)
        ids << int(addFile(QStringLiteral("f%1").arg(i), -1));
    Statement statement{QString::fromLatin1(kDatabaseName)};
    statement.setText(publishBatchStatement({ids[1], ids[3], 999}));
    EXPECT_EQ(statement.execute(), 2);
    EXPECT_EQ(actions(), u"1:A 2: 3:A 4: 5:A");

    // Keywords in other letter cases and line breaks between the pieces are the same statement.
    statement.setText(QStringLiteral("UPDATE Files SET Action = 'D' WHERE ID IN\n(1, 5)"));
    EXPECT_EQ(statement.execute(), 2);
    EXPECT_EQ(actions(), u"1:D 2: 3:A 4: 5:D");
    // The guard changes only rows still holding its value, compared without regard to case.
    statement.setText(
        QStringLiteral("update files set action = '' where id in (1,3,5) and "
                       "Action = 'd'"));
    EXPECT_EQ(statement.execute(), 2);
    EXPECT_EQ(actions(), u"1: 2: 3:A 4: 5:");
}

TEST_F(DbStatement, OtherShapesAreRejectedAndChangeNothing) {
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
        Statement statement{QString::fromLatin1(kDatabaseName)};
        statement.setText(QString::fromUtf8(text));
        EXPECT_THROW(statement.execute(), DbError) << text;
    }
    EXPECT_EQ(actions(), u"1:A");
}

TEST_F(DbStatement, RunsInsideTheTransactionOfASharedConnection) {
    const int id = int(addFile(QStringLiteral("f"), -1));
    Connection connection(QString::fromLatin1(kDatabaseName), QStringLiteral("files"));
    {
        Transaction transaction(connection);
        Statement statement(connection);
        statement.setText(publishBatchStatement({id}));
        EXPECT_EQ(statement.execute(), 1);
    }
    EXPECT_EQ(actions(), u"1:A");
}
