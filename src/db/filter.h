#pragma once

#include "db/value.h"

#include <QList>
#include <QString>

namespace mr::db {

class TableSchema;

// A cursor filter compiled to a parameterised SQL condition.
//
// Grammar: comparisons `field = value` and `field <> value`, joined by `and` / `or` (any
// letter case, `and` binding tighter), grouped by parentheses. A value is a decimal integer
// (possibly negative) or a single-quoted string in which '' stands for one quote. Fields are
// the table's columns, matched case-insensitively. With caseInsensitive, text comparisons
// ignore letter case (Unicode case folding); integer comparisons are unaffected.
class Filter {
public:
    // The empty filter: every row matches.
    Filter() = default;

    // Throws DbError naming the column of the first character that does not fit the grammar.
    // Blank text gives the empty filter.
    static Filter parse(const QString& text, const TableSchema& table,
                        bool caseInsensitive = false);

    bool isEmpty() const { return m_sql.isEmpty(); }
    const QString& text() const { return m_text; }
    bool caseInsensitive() const { return m_caseInsensitive; }
    // Condition for a WHERE clause with one `?` per bound value; empty for the empty filter.
    const QString& sql() const { return m_sql; }
    const QList<Value>& values() const { return m_values; }

private:
    friend class FilterParser;

    QString m_text;
    bool m_caseInsensitive = false;
    QString m_sql;
    QList<Value> m_values;
};

// The system's quoting routine: wraps a value in single quotes, doubling each quote inside.
QString quoted(const QString& value);

}  // namespace mr::db
