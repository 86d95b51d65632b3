#include "db/connection.h"

#include "db/database.h"
#include "db/dberror.h"
#include "db/journalfolder.h"
#include "db/prepared.h"
#include "db/schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <new>

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

namespace mr::db {

namespace {

// Writers of other threads wait this long for a running transaction (a share of a large folder
// tree) before giving up.
constexpr int kBusyTimeoutMs = 30000;

// mr_fold(text): the Unicode case folding used by case-insensitive filters. Registered on every
// connection and never stored in a schema, so the files stay readable by the plain sqlite3 tool.
void foldFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    if (sqlite3_value_type(arguments[0]) != SQLITE_TEXT) {
        sqlite3_result_value(context, arguments[0]);
        return;
    }
    const auto* text = static_cast<const QChar*>(sqlite3_value_text16(arguments[0]));
    const int bytes = sqlite3_value_bytes16(arguments[0]);
    const QString folded = QString::fromRawData(text, bytes / int(sizeof(QChar))).toCaseFolded();
    sqlite3_result_text16(context, folded.constData(), int(folded.size() * sizeof(QChar)),
                          SQLITE_TRANSIENT);
}

QString singleValue(sqlite3* db, const QString& sql) {
    Prepared statement(db, sql);
    Prepared::Run run(statement);
    return run.step() ? run.value(0).text : QString();
}

}  // namespace

Connection::Connection(const QString& databaseName, const QString& tableName)
    : m_table(&TableSchema::find(tableName)), m_thread(std::this_thread::get_id()) {
    const QString path = QDir(Database::directory(databaseName)).filePath(m_table->fileName());
    if (!QFileInfo::exists(path))
        throw DbError(QStringLiteral("Table file %1 does not exist").arg(path));
    // Each connection is confined to one thread, so SQLite's own mutexes are not needed.
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    try {
        if (rc != SQLITE_OK)
            throwSqlite(m_db, rc, QStringLiteral("cannot open %1").arg(path));
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        // WAL lets readers in other threads go on while a writer holds a transaction.
        if (singleValue(m_db, QStringLiteral("PRAGMA journal_mode"))
                .compare(u"wal", Qt::CaseInsensitive) != 0) {
            try {
                execSql(m_db, QStringLiteral("PRAGMA journal_mode=WAL"));
            } catch (const DbError&) {
                // Another process holds the file; it works in its current mode as well.
            }
        }
        execSql(m_db, QStringLiteral("PRAGMA synchronous=NORMAL"));
        const int frc =
            sqlite3_create_function_v2(m_db, "mr_fold", 1, SQLITE_UTF16 | SQLITE_DETERMINISTIC,
                                       nullptr, foldFunction, nullptr, nullptr, nullptr);
        if (frc != SQLITE_OK)
            throwSqlite(m_db, frc, QStringLiteral("cannot register mr_fold"));
        const QStringList indexNames = m_table->internalIndexNames();
        const QStringList indexSql = m_table->internalIndexSql();
        for (int i = 0; i < indexNames.size(); ++i) {
            Prepared check(m_db, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'index' "
                                                "AND name = ?"));
            Value name{Value::Kind::Text, 0, 0, indexNames[i]};
            check.bind(1, name);
            Prepared::Run run(check);
            if (!run.step()) {
                try {
                    execSql(m_db, indexSql[i]);
                } catch (const DbError&) {
                    // Only a speed-up: a file we cannot write to still works without it.
                }
            }
        }
    } catch (...) {
        sqlite3_close(m_db);
        throw;
    }
    m_filePath = QFileInfo(path).canonicalFilePath();
}

// close_v2: statements a careless owner still holds do not keep the file open forever.
Connection::~Connection() {
    if (m_journalFd >= 0)
        ::close(m_journalFd);
    sqlite3_close_v2(m_db);
    if (m_foldWhenClosed) {
        try {
            foldJournalInBackground(m_filePath);
        } catch (const std::bad_alloc&) {
            // The journal stays as it is, safe, until the table is next closed.
        }
    }
}

void Connection::startJournalWriteback() {
    if (m_journalFd < 0) {
        const char* path = sqlite3_filename_wal(sqlite3_db_filename(m_db, "main"));
        if (!path || !*path)
            return;
        m_journalFd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (m_journalFd < 0)
            return;
    }
    // Only a head start: a failure leaves the work to the sync, as without it.
    ::sync_file_range(m_journalFd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void Connection::deferJournalFold() {
    sqlite3_wal_autocheckpoint(m_db, 0);
    // Nor does closing fold it, which the last connection to a file otherwise does.
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    m_foldWhenClosed = true;
}

void Connection::checkThread() const {
    if (std::this_thread::get_id() != m_thread)
        throw DbError(QStringLiteral("A connection to table %1 was used from another thread")
                          .arg(m_table->name()));
}

qint64 Connection::lastInsertRowid() const {
    return sqlite3_last_insert_rowid(m_db);
}

int Connection::beginTransaction() {
    checkThread();
    const int level = m_transactionDepth + 1;
    // IMMEDIATE takes the write lock at once, so two threads never deadlock upgrading a read.
    execSql(m_db, level == 1 ? QStringLiteral("BEGIN IMMEDIATE")
                             : QStringLiteral("SAVEPOINT mr_level%1").arg(level));
    m_transactionDepth = level;
    return level;
}

void Connection::endTransaction(int level, bool commit) {
    if (level != m_transactionDepth)
        throw DbError(QStringLiteral("Transactions on table %1 must end innermost first")
                          .arg(m_table->name()));
    m_transactionDepth = level - 1;
    if (level == 1) {
        if (commit) {
            try {
                execSql(m_db, QStringLiteral("COMMIT"));
            } catch (...) {
                // A failed COMMIT may leave the transaction open; never leave it dangling.
                if (!sqlite3_get_autocommit(m_db))
                    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
                throw;
            }
        } else {
            execSql(m_db, QStringLiteral("ROLLBACK"));
        }
    } else if (commit) {
        execSql(m_db, QStringLiteral("RELEASE mr_level%1").arg(level));
    } else {
        execSql(m_db, QStringLiteral("ROLLBACK TO mr_level%1; RELEASE mr_level%1").arg(level));
    }
}

}  // namespace mr::db
