#include "dbtestutil.h"

#include "db/cursor.h"
#include "db/database.h"

#include <QDir>
#include <QFile>

#include <sqlite3.h>

namespace mr::test {

namespace {

sqlite3* openRaw(const QString& path) {
    sqlite3* db = nullptr;
    EXPECT_EQ(
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr),
        SQLITE_OK);
    // A journal being folded after a share locks the file for a moment.
    sqlite3_busy_timeout(db, 10000);
    return db;
}

}  // namespace

void DbTest::SetUp() {
    ASSERT_TRUE(m_dir.isValid());
    db::Database::createTables(m_dir.path());
    db::Database::connect(QString::fromLatin1(db::kDatabaseName), m_dir.path());
}

void DbTest::TearDown() {
    db::Database::disconnect(QString::fromLatin1(db::kDatabaseName));
}

void DbTest::rawExec(const QString& file, const QString& sql) const {
    sqlite3* db = openRaw(QDir(m_dir.path()).filePath(file));
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

QString DbTest::rawQuery(const QString& file, const QString& sql) const {
    sqlite3* db = openRaw(QDir(m_dir.path()).filePath(file));
    sqlite3_stmt* stmt = nullptr;
    QString result;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    if (stmt && sqlite3_step(stmt) == SQLITE_ROW)
        result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

qint64 DbTest::addFile(const QString& name, qint64 parentId, const QString& action,
                       const QString& user) const {
    db::Cursor files(QString::fromLatin1(db::kDatabaseName), QStringLiteral("files"));
    files.append();
    files.setString("Username", user);
    files.setInteger("ParentId", parentId);
    files.setString("Name", name);
    files.setString("FileName", QStringLiteral("/home/u/") + name);
    files.setInteger("Attributes", 0);
    files.setString("Action", action);
    files.post();
    return files.asInteger("id");
}

}  // namespace mr::test
