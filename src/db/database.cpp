#include "db/database.h"

#include "db/dberror.h"
#include "db/journalfolder.h"
#include "db/prepared.h"
#include "db/schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <sqlite3.h>

namespace mr::db {

namespace {

QMutex& registryMutex() {
    static QMutex mutex;
    return mutex;
}

QHash<QString, QString>& registry() {
    static QHash<QString, QString> directories;
    return directories;
}

// Database names are matched without regard to case.
QString registryKey(const QString& name) {
    return name.toCaseFolded();
}

// Builds the file under a temporary name and renames it into place, so a failure never leaves
// a half-made table file behind and an existing file is never replaced.
void createTableFile(const QString& path, const TableSchema& table) {
    const QString temporary = path + QStringLiteral(".new");
    QFile::remove(temporary);
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(temporary).constData(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    try {
        if (rc != SQLITE_OK)
            throwSqlite(db, rc, QStringLiteral("cannot create %1").arg(path));
        execSql(db, QStringLiteral("PRAGMA journal_mode=WAL"));
        execSql(db, QStringLiteral("BEGIN"));
        execSql(db, table.createSql());
        for (const QString& sql : table.internalIndexSql())
            execSql(db, sql);
        execSql(db, QStringLiteral("COMMIT"));
    } catch (...) {
        sqlite3_close(db);
        QFile::remove(temporary);
        throw;
    }
    rc = sqlite3_close(db);
    if (rc != SQLITE_OK || !QFile::rename(temporary, path)) {
        QFile::remove(temporary);
        if (!QFileInfo::exists(path))
            throw DbError(QStringLiteral("Cannot create the table file %1").arg(path));
    }
}

}  // namespace

void Database::connect(const QString& name, const QString& directory) {
    const QString absolute = QDir::cleanPath(QDir(directory).absolutePath());
    QMutexLocker lock(&registryMutex());
    registry().insert(registryKey(name), absolute);
}

void Database::disconnect(const QString& name) {
    {
        QMutexLocker lock(&registryMutex());
        registry().remove(registryKey(name));
    }
    // Whoever disconnects may move or remove the files next.
    waitForJournalFolds();
}

bool Database::isConnected(const QString& name) {
    QMutexLocker lock(&registryMutex());
    return registry().contains(registryKey(name));
}

QString Database::directory(const QString& name) {
    QMutexLocker lock(&registryMutex());
    const auto it = registry().constFind(registryKey(name));
    if (it == registry().constEnd())
        throw DbError(QStringLiteral("Database '%1' is not connected").arg(name));
    return it.value();
}

QStringList Database::tableFiles() {
    QStringList files;
    for (const TableSchema& table : TableSchema::all())
        files << table.fileName();
    return files;
}

void Database::createTables(const QString& directory) {
    QDir dir(directory);
    if (!dir.mkpath(QStringLiteral(".")))
        throw DbError(QStringLiteral("Cannot create the data folder %1").arg(directory));
    for (const TableSchema& table : TableSchema::all()) {
        const QString path = dir.filePath(table.fileName());
        if (!QFileInfo::exists(path))
            createTableFile(path, table);
    }
}

QString Database::checkTables(const QString& directory) {
    const QDir dir(directory);
    for (const QString& name : tableFiles()) {
        const QString path = dir.filePath(name);
        sqlite3* db = nullptr;
        sqlite3_stmt* check = nullptr;
        QString verdict;
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY,
                            nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &check, nullptr) == SQLITE_OK &&
            sqlite3_step(check) == SQLITE_ROW) {
            verdict =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)));
        } else {
            verdict = QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
        }
        sqlite3_finalize(check);
        sqlite3_close(db);
        if (verdict != u"ok")
            return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), verdict);
    }
    return {};
}

}  // namespace mr::db
