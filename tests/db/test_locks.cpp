#include "dbtestutil.h"

#include "db/cursor.h"
#include "db/database.h"
#include "db/dberror.h"
#include "db/filters.h"
#include "db/statement.h"
#include "db/transaction.h"

#include <future>
#include <thread>

using namespace mr::db;

namespace {

const QString kDb = QString::fromLatin1(kDatabaseName);

class DbLocks : public mr::test::DbTest {
protected:
    // Tries to open the table in another thread; returns the error text, empty on success.
    static QString openInThread(const QString& table, OpenMode mode) {
        auto attempt = [&]() -> QString {
            try {
                Cursor cursor(kDb, table, mode);
            } catch (const DbError& error) {
                return error.message();
            }
            return {};
        };
        return std::async(std::launch::async, attempt).get();
    }
};

}  // namespace

TEST_F(DbLocks, ExclusiveCursorKeepsOtherThreadsOutUntilClosed) {
    Cursor exclusive(kDb, QStringLiteral("files"), OpenMode::Exclusive);
    EXPECT_EQ(openInThread(QStringLiteral("files"), OpenMode::Shared),
              u"Table files is open exclusively by another cursor");
    EXPECT_FALSE(openInThread(QStringLiteral("files"), OpenMode::Exclusive).isEmpty());
    // A cursor by name has its own connection: the same thread is kept out as well.
    EXPECT_THROW(Cursor(kDb, QStringLiteral("files")), DbError);
    Statement statement{kDb};
    statement.setText(publishBatchStatement({1}));
    EXPECT_THROW(statement.execute(), DbError);
    // Other tables are not affected.
    EXPECT_EQ(openInThread(QStringLiteral("credits"), OpenMode::Exclusive), u"");

    exclusive.close();
    EXPECT_EQ(openInThread(QStringLiteral("files"), OpenMode::Shared), u"");
}

TEST_F(DbLocks, SharedCursorInAnotherThreadBlocksAnExclusiveOpen) {
    std::promise<void> opened;
    std::promise<void> release;
    std::thread holder([&] {
        Cursor cursor(kDb, QStringLiteral("credits"));
        opened.set_value();
        release.get_future().wait();
    });
    opened.get_future().wait();
    EXPECT_THROW(Cursor(kDb, QStringLiteral("credits"), OpenMode::Exclusive), DbError);
    EXPECT_NO_THROW(Cursor(kDb, QStringLiteral("credits")));
    release.set_value();
    holder.join();
    EXPECT_NO_THROW(Cursor(kDb, QStringLiteral("credits"), OpenMode::Exclusive));
}

TEST_F(DbLocks, ThreadsWriteTheSameTableAtOnce) {
    constexpr int kRows = 100;
    auto writer = [](const QString& user) {
        Cursor credits(kDb, QStringLiteral("credits"));
        for (int i = 0; i < kRows; ++i) {
            // Half in one transaction, half row by row, so writers really interleave.
            std::optional<Transaction> transaction;
            if (i % 2)
                transaction.emplace(credits);
            credits.append();
            credits.setString("Username", user);
            credits.setInteger("FilesUploaded", i);
            credits.post();
            if (transaction)
                transaction->commit();
        }
    };
    std::thread a(writer, QStringLiteral("a"));
    std::thread b(writer, QStringLiteral("b"));
    a.join();
    b.join();
    Cursor credits(kDb, QStringLiteral("credits"));
    credits.setFilter(creditAccount(QStringLiteral("A")), true);
    EXPECT_EQ(credits.recordCount(), kRows);
    credits.clearFilter();
    EXPECT_EQ(credits.recordCount(), 2 * kRows);
}

TEST_F(DbLocks, ACursorStaysWithTheThreadThatOpenedIt) {
    Cursor cursor(kDb, "files");
    std::async(std::launch::async, [&] { EXPECT_THROW(cursor.first(), DbError); }).get();
}
