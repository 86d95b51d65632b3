#pragma once

#include <QString>

#include <thread>

struct sqlite3;

namespace mr::db {

class TableSchema;

// One SQLite handle on the file of one table, for use by one thread. A cursor opened by
// database name gets a private connection; the cursors, transactions and statements of one
// operation may share a connection instead, and then take part in the same transaction and
// never lock each other out of the table.
class Connection {
public:
    // Opens the table's file in the directory bound to the database name. Throws DbError when
    // the name is not connected, the table is unknown or its file is missing.
    Connection(const QString& databaseName, const QString& tableName);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const TableSchema& table() const { return *m_table; }
    // Canonical path of the table file; the key of the in-process table locks.
    const QString& filePath() const { return m_filePath; }
    sqlite3* handle() const { return m_db; }
    // The rowid of the last row inserted through this connection.
    qint64 lastInsertRowid() const;

    bool inTransaction() const { return m_transactionDepth > 0; }
    // Throws DbError when called from a thread other than the one that opened the connection.
    void checkThread() const;

    // Nested levels become savepoints. Used by Transaction.
    int beginTransaction();
    void endTransaction(int level, bool commit);

    // Asks the system to start writing what a long transaction has put in the journal so far,
    // without waiting: the sync that folds the journal into the table at the end then finds
    // most of it on disk. Changes nothing of what reaches the disk or when it is safe.
    void startJournalWriteback();

    // For a long write: neither its commit nor closing the connection folds the journal into
    // the table file while this thread waits for the disk. Once the connection is closed, the
    // journal folder (db/journalfolder.h) folds it on a thread of its own.
    void deferJournalFold();

private:
    const TableSchema* m_table = nullptr;
    QString m_filePath;
    sqlite3* m_db = nullptr;
    std::thread::id m_thread;
    int m_transactionDepth = 0;
    int m_journalFd = -1;
    bool m_foldWhenClosed = false;
};

}  // namespace mr::db
