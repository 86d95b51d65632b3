#pragma once

#include <QAnyStringView>
#include <QList>
#include <QString>

namespace mr::db {

enum class ColumnType { Integer, Text, Real, Boolean };

struct Column {
    QString name;
    ColumnType type;
};

// One table of the local database: the file that holds it, its columns in their canonical
// spelling, and the SQL that creates it.
class TableSchema {
public:
    TableSchema(QString name, QString fileName, QList<Column> columns);

    const QString& name() const { return m_name; }
    const QString& fileName() const { return m_fileName; }
    const QList<Column>& columns() const { return m_columns; }
    int columnCount() const { return int(m_columns.size()); }

    // Index of the column, matched case-insensitively; -1 when the table has no such column.
    int columnIndex(QAnyStringView name) const;
    // Index of the column, or DbError naming the field and the table.
    int requireColumn(QAnyStringView name) const;
    // The column that aliases SQLite's rowid (`id` of files), or -1.
    int rowidColumn() const { return m_rowidColumn; }

    QString createSql() const;
    // Indexes the engine keeps for its own queries; their names start with internalPrefix().
    QStringList internalIndexSql() const;
    QStringList internalIndexNames() const;
    static QString internalPrefix();

    // Looks a table up by name: case-insensitive, a trailing ".db" ignored. Throws DbError.
    static const TableSchema& find(QAnyStringView tableName);
    // Every table, in the order start-up checks their files.
    static const QList<TableSchema>& all();

private:
    QString m_name;
    QString m_fileName;
    QList<Column> m_columns;
    int m_rowidColumn = -1;
};

// Identifier quoted for SQL; only ever applied to names of our own schema or validated names.
QString quotedIdentifier(const QString& name);

}  // namespace mr::db
