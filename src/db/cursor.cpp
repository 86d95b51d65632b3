#include "db/cursor.h"

#include "db/connection.h"
#include "db/dberror.h"
#include "db/schema.h"
#include "db/tablelock.h"

#include <QLocale>

#include <sqlite3.h>

#include <algorithm>

namespace mr::db {

namespace {

// [A-Za-z_][A-Za-z0-9_]*, checked by hand: a regular expression here would load and compile
// the expression engine in every program that opens a table.
bool isPlainIdentifier(QStringView name) {
    const auto letter = [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
    };
    if (name.isEmpty() || !letter(name.front()))
        return false;
    return std::all_of(name.begin(), name.end(),
                       [&](QChar c) { return letter(c) || (c >= u'0' && c <= u'9'); });
}

Value blankValue(ColumnType type) {
    Value value;
    switch (type) {
        case ColumnType::Text:
            value.kind = Value::Kind::Text;
            break;
        case ColumnType::Real:
            value.kind = Value::Kind::Real;
            break;
        case ColumnType::Integer:
        case ColumnType::Boolean:
            value.kind = Value::Kind::Integer;
            break;
    }
    return value;
}

void fillBlank(std::vector<Value>& row, const TableSchema& table) {
    for (int i = 0; i < table.columnCount(); ++i)
        row[i] = blankValue(table.columns()[i].type);
}

QString columnList(const TableSchema& table) {
    QStringList names;
    for (const Column& column : table.columns())
        names << quotedIdentifier(column.name);
    return names.join(u", ");
}

}  // namespace

Cursor::Cursor(const QString& databaseName, const QString& tableName, OpenMode mode)
    : m_ownConnection(std::make_unique<Connection>(databaseName, tableName)) {
    open(*m_ownConnection, tableName, mode);
}

Cursor::Cursor(Connection& connection, const QString& tableName, OpenMode mode) {
    open(connection, tableName, mode);
}

Cursor::~Cursor() = default;

void Cursor::open(Connection& connection, const QString& tableName, OpenMode mode) {
    const TableSchema& table = TableSchema::find(tableName);
    if (&table != &connection.table())
        throw DbError(QStringLiteral("A connection to table %1 cannot open table %2")
                          .arg(connection.table().name(), table.name()));
    connection.checkThread();
    m_lock = std::make_unique<TableLock>(connection.filePath(), table.name(), &connection,
                                         mode == OpenMode::Exclusive);
    m_connection = &connection;
    m_table = &table;
    m_row.resize(table.columnCount());
    first();
}

Connection& Cursor::connection() const {
    requireOpen();
    return *m_connection;
}

void Cursor::close() {
    m_firstStatement = Prepared();
    m_nextStatement = Prepared();
    m_countStatement = Prepared();
    m_rowStatement = Prepared();
    m_deleteStatement = Prepared();
    m_aheadStatement = Prepared();
    m_ahead.clear();
    m_insertStatements.clear();
    m_updateStatements.clear();
    m_lock.reset();
    m_connection = nullptr;
    m_ownConnection.reset();
    m_state = State::Browse;
    m_eof = true;
}

void Cursor::requireOpen() const {
    if (!m_connection)
        throw DbError(QStringLiteral("The cursor is closed"));
    m_connection->checkThread();
}

void Cursor::requireBrowse() const {
    requireOpen();
    if (m_state != State::Browse)
        throw DbError(QStringLiteral("The cursor on table %1 has a pending %2; post() or cancel() "
                                     "it first")
                          .arg(m_table->name(), m_state == State::Insert ? QStringLiteral("append")
                                                                         : QStringLiteral("edit")));
}

void Cursor::requireCurrentRow(const char* operation) const {
    if (m_eof)
        throw DbError(QStringLiteral("Cannot %1: the cursor on table %2 has no current row")
                          .arg(QLatin1String(operation), m_table->name()));
}

void Cursor::requireChanging(QAnyStringView field) const {
    requireOpen();
    if (m_state == State::Browse)
        throw DbError(QStringLiteral("Cannot set field %1 of table %2: call append() or edit() "
                                     "first")
                          .arg(field.toString(), m_table->name()));
}

void Cursor::setFilter(const QString& text, bool caseInsensitive) {
    requireBrowse();
    m_filter = Filter::parse(text, *m_table, caseInsensitive);
    m_firstStatement = Prepared();
    m_nextStatement = Prepared();
    m_countStatement = Prepared();
    m_aheadStatement = Prepared();
    first();
}

void Cursor::clearFilter() {
    setFilter(QString());
}

QString Cursor::selectSql() const {
    return QStringLiteral("SELECT rowid, %1 FROM %2")
        .arg(columnList(*m_table), quotedIdentifier(m_table->name()));
}

void Cursor::bindFilter(Prepared& statement) const {
    const QList<Value>& values = m_filter.values();
    for (int i = 0; i < values.size(); ++i)
        statement.bind(i + 1, values[i]);
}

void Cursor::seek(bool from, qint64 after) {
    Prepared& statement = from ? m_nextStatement : m_firstStatement;
    if (statement.isNull()) {
        QStringList conditions;
        if (!m_filter.isEmpty())
            conditions << u'(' + m_filter.sql() + u')';
        if (from)
            conditions << QStringLiteral("rowid > ?");
        QString sql = selectSql();
        if (!conditions.isEmpty())
            sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
        sql += QStringLiteral(" ORDER BY rowid LIMIT 1");
        statement = Prepared(m_connection->handle(), sql);
    }
    bindFilter(statement);
    if (from)
        statement.bindInteger(int(m_filter.values().size()) + 1, after);
    Prepared::Run run(statement);
    m_stale = false;
    if (run.step()) {
        m_rowid = run.integer(0);
        for (int i = 0; i < m_table->columnCount(); ++i)
            m_row[i] = run.value(i + 1);
        m_eof = false;
    } else {
        m_rowid = 0;
        m_eof = true;
        fillBlank(m_row, *m_table);
    }
}

void Cursor::first() {
    requireBrowse();
    m_ahead.clear();
    seek(false, 0);
}

void Cursor::next() {
    requireBrowse();
    if (m_eof)
        return;
    if (m_readAhead <= 1) {
        seek(true, m_rowid);
        return;
    }
    if (m_ahead.empty())
        readAhead(m_rowid);
    if (!takeReadAhead()) {
        m_rowid = 0;
        m_eof = true;
        m_stale = false;
        fillBlank(m_row, *m_table);
    }
}

void Cursor::setReadAhead(int rows) {
    requireBrowse();
    m_readAhead = std::max(rows, 1);
    m_ahead.clear();
}

bool Cursor::takeReadAhead() {
    if (m_ahead.empty())
        return false;
    std::vector<Value>& row = m_ahead.front();
    m_rowid = row[0].integer;
    for (int i = 0; i < m_table->columnCount(); ++i)
        m_row[i] = std::move(row[i + 1]);
    m_ahead.pop_front();
    m_eof = false;
    m_stale = false;
    return true;
}

void Cursor::readAhead(qint64 after) {
    if (m_aheadStatement.isNull()) {
        QString sql = selectSql() + QStringLiteral(" WHERE ");
        if (!m_filter.isEmpty())
            sql += u'(' + m_filter.sql() + QStringLiteral(") AND ");
        sql += QStringLiteral("rowid > ? ORDER BY rowid LIMIT ?");
        m_aheadStatement = Prepared(m_connection->handle(), sql);
    }
    bindFilter(m_aheadStatement);
    const int parameter = int(m_filter.values().size()) + 1;
    m_aheadStatement.bindInteger(parameter, after);
    m_aheadStatement.bindInteger(parameter + 1, m_readAhead);
    Prepared::Run run(m_aheadStatement);
    while (run.step()) {
        std::vector<Value>& row = m_ahead.emplace_back(m_table->columnCount() + 1);
        row[0] = Value{Value::Kind::Integer, run.integer(0), 0, {}};
        for (int i = 0; i < m_table->columnCount(); ++i)
            row[i + 1] = run.value(i + 1);
    }
}

int Cursor::recordCount() {
    requireOpen();
    if (m_countStatement.isNull()) {
        QString sql = QStringLiteral("SELECT count(*) FROM ") + quotedIdentifier(m_table->name());
        if (!m_filter.isEmpty())
            sql += QStringLiteral(" WHERE ") + m_filter.sql();
        m_countStatement = Prepared(m_connection->handle(), sql);
    }
    bindFilter(m_countStatement);
    Prepared::Run run(m_countStatement);
    return run.step() ? int(run.integer(0)) : 0;
}

void Cursor::reload() const {
    m_stale = false;
    if (m_eof) {
        fillBlank(m_row, *m_table);
        return;
    }
    if (m_rowStatement.isNull()) {
        m_rowStatement =
            Prepared(m_connection->handle(), selectSql() + QStringLiteral(" WHERE rowid = ?"));
    }
    m_rowStatement.bindInteger(1, m_rowid);
    Prepared::Run run(m_rowStatement);
    if (run.step()) {
        for (int i = 0; i < m_table->columnCount(); ++i)
            m_row[i] = run.value(i + 1);
    } else {
        // Deleted meanwhile, or its insert was rolled back: reads like an empty row.
        fillBlank(m_row, *m_table);
    }
}

const Value& Cursor::field(QAnyStringView name) const {
    requireOpen();
    const int index = m_table->requireColumn(name);
    // The id of a freshly posted row is known without reading the row back.
    if (m_stale && index != m_table->rowidColumn())
        reload();
    return m_row[index];
}

qint64 Cursor::asInteger(QAnyStringView name) const {
    const Value& value = field(name);
    switch (value.kind) {
        case Value::Kind::Integer:
            return value.integer;
        case Value::Kind::Real:
            return qint64(value.real);
        case Value::Kind::Text:
            return value.text.trimmed().toLongLong();
        case Value::Kind::Null:
            break;
    }
    return 0;
}

QString Cursor::asString(QAnyStringView name) const {
    const Value& value = field(name);
    switch (value.kind) {
        case Value::Kind::Integer:
            return QString::number(value.integer);
        case Value::Kind::Real:
            return QString::number(value.real, 'g', QLocale::FloatingPointShortest);
        case Value::Kind::Text:
            return value.text;
        case Value::Kind::Null:
            break;
    }
    return QString();
}

bool Cursor::asBoolean(QAnyStringView name) const {
    const Value& value = field(name);
    switch (value.kind) {
        case Value::Kind::Integer:
            return value.integer != 0;
        case Value::Kind::Real:
            return value.real != 0;
        case Value::Kind::Text:
            return value.text.compare(u"true", Qt::CaseInsensitive) == 0 ||
                   value.text.trimmed().toLongLong() != 0;
        case Value::Kind::Null:
            break;
    }
    return false;
}

double Cursor::asFloat(QAnyStringView name) const {
    const Value& value = field(name);
    switch (value.kind) {
        case Value::Kind::Integer:
            return double(value.integer);
        case Value::Kind::Real:
            return value.real;
        case Value::Kind::Text:
            return value.text.trimmed().toDouble();
        case Value::Kind::Null:
            break;
    }
    return 0;
}

double Cursor::asDateTime(QAnyStringView name) const {
    return asFloat(name);
}

void Cursor::setField(QAnyStringView name, Value&& value) {
    requireChanging(name);
    const int index = m_table->requireColumn(name);
    m_row[index] = std::move(value);
    m_assigned |= 1u << index;
}

void Cursor::setInteger(QAnyStringView field, qint64 value) {
    setField(field, Value{Value::Kind::Integer, value, 0, {}});
}

void Cursor::setString(QAnyStringView field, const QString& value) {
    setField(field, Value{Value::Kind::Text, 0, 0, value});
}

void Cursor::setDateTime(QAnyStringView field, double value) {
    setField(field, Value{Value::Kind::Real, 0, value, {}});
}

void Cursor::setBoolean(QAnyStringView field, bool value) {
    setField(field, Value{Value::Kind::Integer, value ? 1 : 0, 0, {}});
}

void Cursor::append() {
    requireBrowse();
    m_ahead.clear();
    m_savedRowid = m_rowid;
    m_savedEof = m_eof;
    fillBlank(m_row, *m_table);
    m_stale = false;
    m_assigned = 0;
    m_state = State::Insert;
}

void Cursor::edit() {
    requireBrowse();
    requireCurrentRow("edit");
    m_ahead.clear();
    if (m_stale)
        reload();
    m_assigned = 0;
    m_state = State::Edit;
}

Prepared& Cursor::insertStatement() {
    // One statement per set of assigned fields: unassigned ones take the column default.
    const auto found = m_insertStatements.find(m_assigned);
    if (found != m_insertStatements.end())
        return found->second;
    QStringList names;
    QStringList marks;
    for (int i = 0; i < m_table->columnCount(); ++i) {
        if (m_assigned & (1u << i)) {
            names << quotedIdentifier(m_table->columns()[i].name);
            marks << QStringLiteral("?");
        }
    }
    const QString table = quotedIdentifier(m_table->name());
    const QString sql = names.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table)
                                        : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                              .arg(table, names.join(u", "), marks.join(u", "));
    return m_insertStatements.emplace(m_assigned, Prepared(m_connection->handle(), sql))
        .first->second;
}

Prepared& Cursor::updateStatement() {
    const auto found = m_updateStatements.find(m_assigned);
    if (found != m_updateStatements.end())
        return found->second;
    QStringList assignments;
    for (int i = 0; i < m_table->columnCount(); ++i) {
        if (m_assigned & (1u << i))
            assignments << quotedIdentifier(m_table->columns()[i].name) + QStringLiteral(" = ?");
    }
    const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                            .arg(quotedIdentifier(m_table->name()), assignments.join(u", "));
    return m_updateStatements.emplace(m_assigned, Prepared(m_connection->handle(), sql))
        .first->second;
}

void Cursor::post() {
    requireOpen();
    if (m_state == State::Browse)
        return;
    if (m_state == State::Insert || m_assigned != 0) {
        Prepared& statement = m_state == State::Insert ? insertStatement() : updateStatement();
        int parameter = 1;
        for (int i = 0; i < m_table->columnCount(); ++i) {
            if (m_assigned & (1u << i))
                statement.bind(parameter++, m_row[i]);
        }
        if (m_state == State::Edit)
            statement.bindInteger(parameter, m_rowid);
        Prepared::Run run(statement);
        run.step();
    }
    if (m_state == State::Insert) {
        m_rowid = sqlite3_last_insert_rowid(m_connection->handle());
        m_eof = false;
        if (m_table->rowidColumn() >= 0)
            m_row[m_table->rowidColumn()] = Value{Value::Kind::Integer, m_rowid, 0, {}};
    }
    m_state = State::Browse;
    m_assigned = 0;
    m_stale = true;
}

void Cursor::cancel() {
    requireOpen();
    if (m_state == State::Insert) {
        m_rowid = m_savedRowid;
        m_eof = m_savedEof;
    }
    m_state = State::Browse;
    m_assigned = 0;
    m_stale = true;
}

void Cursor::remove() {
    requireBrowse();
    requireCurrentRow("delete");
    m_ahead.clear();
    if (m_deleteStatement.isNull()) {
        m_deleteStatement =
            Prepared(m_connection->handle(), QStringLiteral("DELETE FROM %1 WHERE rowid = ?")
                                                 .arg(quotedIdentifier(m_table->name())));
    }
    m_deleteStatement.bindInteger(1, m_rowid);
    {
        Prepared::Run run(m_deleteStatement);
        run.step();
    }
    seek(true, m_rowid);
}

void Cursor::flush() {
    requireOpen();
    if (!m_connection->inTransaction()) {
        // Passive: never waits for readers; what it cannot fold now stays safely in the journal.
        sqlite3_wal_checkpoint_v2(m_connection->handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE,
                                  nullptr, nullptr);
    }
}

QStringList Cursor::indexNames() {
    requireOpen();
    Prepared statement(m_connection->handle(),
                       QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' AND "
                                      "tbl_name = ? COLLATE NOCASE ORDER BY name"));
    statement.bind(1, Value{Value::Kind::Text, 0, 0, m_table->name()});
    Prepared::Run run(statement);
    QStringList names;
    while (run.step()) {
        const QString name = run.value(0).text;
        if (!name.startsWith(u"sqlite_", Qt::CaseInsensitive) &&
            !name.startsWith(TableSchema::internalPrefix(), Qt::CaseInsensitive))
            names << name;
    }
    return names;
}

void Cursor::addIndex(const QString& name, const QStringList& fields, bool caseInsensitive) {
    requireOpen();
    if (!isPlainIdentifier(name))
        throw DbError(QStringLiteral("Invalid index name '%1'").arg(name));
    if (name.startsWith(u"sqlite_", Qt::CaseInsensitive) ||
        name.startsWith(TableSchema::internalPrefix(), Qt::CaseInsensitive))
        throw DbError(QStringLiteral("Index name '%1' is reserved").arg(name));
    if (fields.isEmpty())
        throw DbError(QStringLiteral("Index '%1' needs at least one field").arg(name));
    QStringList columns;
    for (const QString& field : fields) {
        QString column = quotedIdentifier(m_table->columns()[m_table->requireColumn(field)].name);
        if (caseInsensitive)
            column += QStringLiteral(" COLLATE NOCASE");
        columns << column;
    }
    execSql(
        m_connection->handle(),
        QStringLiteral("CREATE INDEX %1 ON %2 (%3)")
            .arg(quotedIdentifier(name), quotedIdentifier(m_table->name()), columns.join(u", ")));
}

}  // namespace mr::db
