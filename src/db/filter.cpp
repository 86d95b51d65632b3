#include "db/filter.h"

#include "db/lexer.h"
#include "db/schema.h"

namespace mr::db {

namespace {

const QString kWhat = QStringLiteral("filter");
// Deep enough for any real filter, shallow enough to keep recursion off the stack limit.
constexpr int kMaxDepth = 64;

}  // namespace

class FilterParser {
public:
    FilterParser(const QList<Token>& tokens, const TableSchema& table, Filter& filter)
        : m_tokens(tokens), m_table(table), m_filter(filter) {}

    void parse() {
        m_filter.m_sql = orExpression(0);
        if (current().kind != Token::Kind::End)
            fail(QStringLiteral("expected 'and', 'or' or end of filter, found %1")
                     .arg(describe(current())));
    }

private:
    const Token& current() const { return m_tokens[m_position]; }
    const Token& take() { return m_tokens[m_position++]; }
    static QString describe(const Token& token) { return token.describe(kWhat); }
    [[noreturn]] void fail(const QString& message) const {
        syntaxError(kWhat, current().column, message);
    }

    QString orExpression(int depth) {
        QString sql = andExpression(depth);
        while (current().isKeyword(u"or")) {
            take();
            sql += QStringLiteral(" OR ") + andExpression(depth);
        }
        return sql;
    }

    QString andExpression(int depth) {
        QString sql = factor(depth);
        while (current().isKeyword(u"and")) {
            take();
            sql += QStringLiteral(" AND ") + factor(depth);
        }
        return sql;
    }

    QString factor(int depth) {
        if (current().kind != Token::Kind::Open)
            return comparison();
        if (depth == kMaxDepth)
            fail(QStringLiteral("parentheses are nested too deeply"));
        take();
        const QString inner = orExpression(depth + 1);
        if (current().kind != Token::Kind::Close)
            fail(QStringLiteral("expected ')', found %1").arg(describe(current())));
        take();
        return u'(' + inner + u')';
    }

    QString comparison() {
        const Token& field = current();
        if (field.kind != Token::Kind::Identifier || field.isKeyword(u"and") ||
            field.isKeyword(u"or"))
            fail(QStringLiteral("expected a field name, found %1").arg(describe(field)));
        const int index = m_table.columnIndex(field.text);
        if (index < 0)
            fail(QStringLiteral("unknown field '%1' in table %2").arg(field.text, m_table.name()));
        const Column& column = m_table.columns()[index];
        take();

        const Token& op = current();
        if (op.kind != Token::Kind::Equal && op.kind != Token::Kind::NotEqual)
            fail(QStringLiteral("expected '=' or '<>', found %1").arg(describe(op)));
        const QString sqlOperator =
            op.kind == Token::Kind::Equal ? QStringLiteral(" = ?") : QStringLiteral(" <> ?");
        take();

        const Token& literal = current();
        Value value;
        QString lhs = quotedIdentifier(column.name);
        if (literal.kind == Token::Kind::Integer) {
            if (column.type == ColumnType::Text)
                fail(QStringLiteral("field %1 holds text; write the value in quotes")
                         .arg(column.name));
            value.kind = Value::Kind::Integer;
            value.integer = literal.integer;
        } else if (literal.kind == Token::Kind::String) {
            if (column.type != ColumnType::Text)
                fail(QStringLiteral("field %1 holds numbers, found %2")
                         .arg(column.name, describe(literal)));
            value.kind = Value::Kind::Text;
            if (m_filter.m_caseInsensitive) {
                value.text = literal.string.toCaseFolded();
                lhs = QStringLiteral("mr_fold(%1)").arg(lhs);
            } else {
                value.text = literal.string;
            }
        } else {
            fail(QStringLiteral("expected a value, found %1").arg(describe(literal)));
        }
        take();
        m_filter.m_values << value;
        return lhs + sqlOperator;
    }

    const QList<Token>& m_tokens;
    const TableSchema& m_table;
    Filter& m_filter;
    qsizetype m_position = 0;
};

Filter Filter::parse(const QString& text, const TableSchema& table, bool caseInsensitive) {
    Filter filter;
    filter.m_text = text;
    filter.m_caseInsensitive = caseInsensitive;
    const QList<Token> tokens = tokenize(text, kWhat);
    if (tokens.size() == 1)
        return filter;
    FilterParser parser(tokens, table, filter);
    parser.parse();
    return filter;
}

QString quoted(const QString& value) {
    QString result = value;
    result.replace(u'\'', QStringLiteral("''"));
    return u'\'' + result + u'\'';
}

}  // namespace mr::db
