#pragma once

#include "db/filter.h"
#include "db/prepared.h"
#include "db/value.h"

#include <QAnyStringView>
#include <QString>
#include <QStringList>

#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

namespace mr::db {

class Connection;
class TableLock;
class TableSchema;

enum class OpenMode { Shared, Exclusive };

// A cursor over one table: a filtered, live view of its rows in id (insertion) order, with a
// buffer for the current row.
//
// A cursor is used by one thread and lives for one operation. Opening fails while another
// connection holds the table exclusively; an exclusive open fails while another connection has
// it open. Cursors sharing one Connection never conflict with each other.
//
// Reading a field with no current row (at end of data) gives 0, '' or false, like a field never
// written. Navigation, edit() and append() require browse mode: finish a pending append() or
// edit() with post() or cancel() first.
class Cursor {
public:
    // Opens the table on a private connection and stands on the first row.
    Cursor(const QString& databaseName, const QString& tableName, OpenMode mode = OpenMode::Shared);
    // Opens the table on a connection shared with other cursors of the same thread, taking part
    // in its transaction. The connection must be for the same table and outlive the cursor.
    Cursor(Connection& connection, const QString& tableName, OpenMode mode = OpenMode::Shared);
    ~Cursor();
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    const TableSchema& table() const { return *m_table; }
    Connection& connection() const;
    // Releases the table; any further use throws.
    void close();
    bool isOpen() const { return m_connection != nullptr; }

    // Parses the filter (DbError on bad text, the old filter then stays) and moves to the first
    // matching row. Blank text shows every row.
    void setFilter(const QString& text, bool caseInsensitive = false);
    void clearFilter();
    QString filter() const { return m_filter.text(); }

    void first();
    void next();
    // Lets next() read up to `rows` matching rows with one query and hand them out from memory.
    // For a reader that walks forward and need not see later changes to the rows ahead of it.
    void setReadAhead(int rows);
    bool eof() const { return m_eof; }
    // Number of rows matching the filter now.
    int recordCount();

    // Field names are matched case-insensitively; an unknown name throws DbError.
    qint64 asInteger(QAnyStringView field) const;
    QString asString(QAnyStringView field) const;
    bool asBoolean(QAnyStringView field) const;
    // Days since 1899-12-30, local time.
    double asDateTime(QAnyStringView field) const;
    double asFloat(QAnyStringView field) const;

    // Only between append() or edit() and post().
    void setInteger(QAnyStringView field, qint64 value);
    void setString(QAnyStringView field, const QString& value);
    void setDateTime(QAnyStringView field, double value);
    void setBoolean(QAnyStringView field, bool value);

    // Starts a new row with every field blank (0, '', false).
    void append();
    // Starts changing the current row.
    void edit();
    // Stores the appended or edited row; after an append the cursor stands on the new row and
    // its id can be read.
    void post();
    // Drops a pending append or edit.
    void cancel();
    // Deletes the current row and moves to the next matching one.
    void remove();
    // Folds the write-ahead journal into the table file. Posted rows are durable without it.
    void flush();

    // Indexes of the table, without the engine's own.
    QStringList indexNames();
    // Adds a non-unique index; caseInsensitive uses SQLite's NOCASE collation so that the file
    // stays readable by any SQLite client. Throws DbError when the index exists.
    void addIndex(const QString& name, const QStringList& fields, bool caseInsensitive);

private:
    enum class State { Browse, Insert, Edit };

    void open(Connection& connection, const QString& tableName, OpenMode mode);
    void requireOpen() const;
    void requireBrowse() const;
    void requireCurrentRow(const char* operation) const;
    void requireChanging(QAnyStringView field) const;
    const Value& field(QAnyStringView name) const;
    void setField(QAnyStringView name, Value&& value);
    void reload() const;
    // Moves to the first matching row after `after` (all rows when `from` is false).
    void seek(bool from, qint64 after);
    QString selectSql() const;
    bool takeReadAhead();
    void readAhead(qint64 after);
    void bindFilter(Prepared& statement) const;
    Prepared& insertStatement();
    Prepared& updateStatement();

    std::unique_ptr<Connection> m_ownConnection;
    Connection* m_connection = nullptr;
    const TableSchema* m_table = nullptr;
    std::unique_ptr<TableLock> m_lock;
    Filter m_filter;

    State m_state = State::Browse;
    qint64 m_rowid = 0;
    bool m_eof = true;
    qint64 m_savedRowid = 0;
    bool m_savedEof = true;
    // Current row; after a post it is re-read lazily, on the first field access.
    mutable std::vector<Value> m_row;
    mutable bool m_stale = false;
    // Columns set since append() or edit(), one bit per column.
    quint32 m_assigned = 0;

    Prepared m_firstStatement;
    Prepared m_nextStatement;
    Prepared m_countStatement;
    mutable Prepared m_rowStatement;
    Prepared m_deleteStatement;
    Prepared m_aheadStatement;
    int m_readAhead = 1;
    // Rows after the current one, in rowid order, each with its rowid first.
    std::deque<std::vector<Value>> m_ahead;
    std::unordered_map<quint32, Prepared> m_insertStatements;
    std::unordered_map<quint32, Prepared> m_updateStatements;
};

}  // namespace mr::db
