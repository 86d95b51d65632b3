#include "db/schema.h"

#include "db/dberror.h"

namespace mr::db {

namespace {

const char kInternalPrefix[] = "mr_";

QString columnSql(const Column& column) {
    // NOT NULL ... ON CONFLICT REPLACE turns an explicit NULL (say from the sqlite3 tool) into
    // the default, so a field never written always reads as 0, '' or false and `Username = ''`
    // matches it.
    switch (column.type) {
        case ColumnType::Text:
            return quotedIdentifier(column.name) +
                   QStringLiteral(" TEXT NOT NULL ON CONFLICT REPLACE DEFAULT ''");
        case ColumnType::Real:
            return quotedIdentifier(column.name) +
                   QStringLiteral(" REAL NOT NULL ON CONFLICT REPLACE DEFAULT 0");
        case ColumnType::Integer:
        case ColumnType::Boolean:
            break;
    }
    return quotedIdentifier(column.name) +
           QStringLiteral(" INTEGER NOT NULL ON CONFLICT REPLACE DEFAULT 0");
}

QList<TableSchema> makeTables() {
    using T = ColumnType;
    return {
        TableSchema(
            QStringLiteral("Contacts"), QStringLiteral("contacts.dat"),
            {{QStringLiteral("Username"), T::Text}, {QStringLiteral("UserID"), T::Integer}}),
        TableSchema(QStringLiteral("files"), QStringLiteral("files.dat"),
                    {{QStringLiteral("id"), T::Integer},
                     {QStringLiteral("Username"), T::Text},
                     {QStringLiteral("ParentId"), T::Integer},
                     {QStringLiteral("Name"), T::Text},
                     {QStringLiteral("FileName"), T::Text},
                     {QStringLiteral("Attributes"), T::Integer},
                     {QStringLiteral("FileSize"), T::Integer},
                     {QStringLiteral("FileDate"), T::Real},
                     {QStringLiteral("Media"), T::Text},
                     {QStringLiteral("Description"), T::Text},
                     {QStringLiteral("Password"), T::Text},
                     {QStringLiteral("IsPassword"), T::Boolean},
                     {QStringLiteral("Action"), T::Text},
                     {QStringLiteral("RatioStyle"), T::Integer},
                     {QStringLiteral("Download"), T::Integer},
                     {QStringLiteral("Size"), T::Integer}}),
        TableSchema(QStringLiteral("credits"), QStringLiteral("credits.dat"),
                    {{QStringLiteral("Username"), T::Text},
                     {QStringLiteral("Status"), T::Integer},
                     {QStringLiteral("FilesUploaded"), T::Integer},
                     {QStringLiteral("FilesDownloaded"), T::Integer},
                     {QStringLiteral("BytesUploaded"), T::Integer},
                     {QStringLiteral("BytesDownloaded"), T::Integer}}),
    };
}

}  // namespace

TableSchema::TableSchema(QString name, QString fileName, QList<Column> columns)
    : m_name(std::move(name)), m_fileName(std::move(fileName)), m_columns(std::move(columns)) {
    m_rowidColumn = columnIndex(u"id");
}

int TableSchema::columnIndex(QAnyStringView name) const {
    // Callers nearly always spell the name canonically: try the cheap exact match first.
    for (int i = 0; i < m_columns.size(); ++i) {
        if (QAnyStringView::equal(name, m_columns[i].name))
            return i;
    }
    for (int i = 0; i < m_columns.size(); ++i) {
        if (QAnyStringView::compare(name, m_columns[i].name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int TableSchema::requireColumn(QAnyStringView name) const {
    const int index = columnIndex(name);
    if (index < 0)
        throw DbError(
            QStringLiteral("Unknown field '%1' in table %2").arg(name.toString(), m_name));
    return index;
}

QString TableSchema::createSql() const {
    QStringList parts;
    for (const Column& column : m_columns) {
        if (&column - m_columns.constData() == m_rowidColumn)
            parts << quotedIdentifier(column.name) +
                         QStringLiteral(" INTEGER PRIMARY KEY AUTOINCREMENT");
        else
            parts << columnSql(column);
    }
    return QStringLiteral("CREATE TABLE %1 (%2)").arg(quotedIdentifier(m_name), parts.join(u", "));
}

QStringList TableSchema::internalIndexSql() const {
    // Catalog look-ups filter on ParentId all the time.
    if (m_name == u"files")
        return {
            QStringLiteral("CREATE INDEX IF NOT EXISTS mr_files_parent ON files (\"ParentId\")")};
    return {};
}

QStringList TableSchema::internalIndexNames() const {
    if (m_name == u"files")
        return {QStringLiteral("mr_files_parent")};
    return {};
}

QString TableSchema::internalPrefix() {
    return QString::fromLatin1(kInternalPrefix);
}

const TableSchema& TableSchema::find(QAnyStringView tableName) {
    QString name = tableName.toString();
    if (name.endsWith(u".db", Qt::CaseInsensitive))
        name.chop(3);
    for (const TableSchema& table : all()) {
        if (table.name().compare(name, Qt::CaseInsensitive) == 0)
            return table;
    }
    throw DbError(QStringLiteral("Unknown table '%1'").arg(tableName.toString()));
}

const QList<TableSchema>& TableSchema::all() {
    static const QList<TableSchema> tables = makeTables();
    return tables;
}

QString quotedIdentifier(const QString& name) {
    QString result = name;
    result.replace(u'"', QStringLiteral("\"\""));
    return u'"' + result + u'"';
}

}  // namespace mr::db
