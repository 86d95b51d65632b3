#include "db/statement.h"

#include "db/connection.h"
#include "db/dberror.h"
#include "db/lexer.h"
#include "db/prepared.h"
#include "db/schema.h"
#include "db/tablelock.h"
#include "db/transaction.h"

#include <sqlite3.h>

#include <memory>

namespace mr::db {

namespace {

const QString kWhat = QStringLiteral("statement");

struct BatchUpdate {
    const TableSchema* table = nullptr;
    int column = -1;
    QString value;
    QList<qint64> ids;
    // The optional guard "and FIELD = 'value'": only rows still holding that value change.
    int guardColumn = -1;
    QString guardValue;
};

class StatementParser {
public:
    explicit StatementParser(const QList<Token>& tokens) : m_tokens(tokens) {}

    BatchUpdate parse() {
        BatchUpdate update;
        keyword(u"update");
        const Token& tableToken = identifier(QStringLiteral("a table name"));
        try {
            update.table = &TableSchema::find(tableToken.text);
        } catch (const DbError&) {
            syntaxError(kWhat, tableToken.column,
                        QStringLiteral("unknown table '%1'").arg(tableToken.text));
        }
        if (update.table->rowidColumn() < 0)
            syntaxError(kWhat, tableToken.column,
                        QStringLiteral("table %1 has no id field").arg(update.table->name()));
        keyword(u"set");
        const Token& columnToken = identifier(QStringLiteral("a field name"));
        update.column = update.table->columnIndex(columnToken.text);
        if (update.column < 0 || update.table->columns()[update.column].type != ColumnType::Text)
            syntaxError(kWhat, columnToken.column,
                        QStringLiteral("'%1' is not a text field of table %2")
                            .arg(columnToken.text, update.table->name()));
        expect(Token::Kind::Equal, QStringLiteral("'='"));
        update.value = expect(Token::Kind::String, QStringLiteral("a quoted string")).string;
        keyword(u"where");
        const Token& idToken = identifier(QStringLiteral("'id'"));
        if (update.table->columnIndex(idToken.text) != update.table->rowidColumn())
            syntaxError(kWhat, idToken.column,
                        QStringLiteral("expected 'id', found '%1'").arg(idToken.text));
        keyword(u"in");
        expect(Token::Kind::Open, QStringLiteral("'('"));
        while (true) {
            const Token& id = expect(Token::Kind::Integer, QStringLiteral("an id"));
            if (id.integer <= 0)
                syntaxError(kWhat, id.column,
                            QStringLiteral("ids are positive, found %1").arg(id.text));
            update.ids << id.integer;
            if (current().kind == Token::Kind::Close)
                break;
            expect(Token::Kind::Comma, QStringLiteral("',' or ')'"));
        }
        take();
        if (current().isKeyword(u"and")) {
            take();
            const Token& guardToken = identifier(QStringLiteral("a field name"));
            update.guardColumn = update.table->columnIndex(guardToken.text);
            if (update.guardColumn < 0 ||
                update.table->columns()[update.guardColumn].type != ColumnType::Text)
                syntaxError(kWhat, guardToken.column,
                            QStringLiteral("'%1' is not a text field of table %2")
                                .arg(guardToken.text, update.table->name()));
            expect(Token::Kind::Equal, QStringLiteral("'='"));
            update.guardValue =
                expect(Token::Kind::String, QStringLiteral("a quoted string")).string;
        }
        if (current().kind != Token::Kind::End)
            fail(QStringLiteral("expected end of statement, found %1")
                     .arg(current().describe(kWhat)));
        return update;
    }

private:
    const Token& current() const { return m_tokens[m_position]; }
    const Token& take() { return m_tokens[m_position++]; }
    [[noreturn]] void fail(const QString& message) const {
        syntaxError(kWhat, current().column, message);
    }

    const Token& expect(Token::Kind kind, const QString& expected) {
        if (current().kind != kind)
            fail(QStringLiteral("expected %1, found %2").arg(expected, current().describe(kWhat)));
        return take();
    }

    const Token& identifier(const QString& expected) {
        return expect(Token::Kind::Identifier, expected);
    }

    void keyword(QStringView word) {
        if (!current().isKeyword(word))
            fail(QStringLiteral("expected '%1', found %2")
                     .arg(word.toString(), current().describe(kWhat)));
        take();
    }

    const QList<Token>& m_tokens;
    qsizetype m_position = 0;
};

}  // namespace

Statement::Statement(const QString& databaseName) : m_databaseName(databaseName) {}

Statement::Statement(Connection& connection) : m_connection(&connection) {}

int Statement::execute() {
    const QList<Token> tokens = tokenize(m_text, kWhat);
    const BatchUpdate update = StatementParser(tokens).parse();

    std::unique_ptr<Connection> own;
    Connection* connection = m_connection;
    if (!connection) {
        own = std::make_unique<Connection>(m_databaseName, update.table->name());
        connection = own.get();
    } else if (&connection->table() != update.table) {
        throw DbError(QStringLiteral("A connection to table %1 cannot update table %2")
                          .arg(connection->table().name(), update.table->name()));
    }
    connection->checkThread();
    // A statement is one more user of the table: it too must respect an exclusive holder.
    TableLock lock(connection->filePath(), update.table->name(), connection, false);

    const Column& column = update.table->columns()[update.column];
    const Column& id = update.table->columns()[update.table->rowidColumn()];
    QString sql = QStringLiteral("UPDATE %1 SET %2 = ? WHERE %3 = ?")
                      .arg(quotedIdentifier(update.table->name()), quotedIdentifier(column.name),
                           quotedIdentifier(id.name));
    if (update.guardColumn >= 0) {
        sql += QStringLiteral(" AND mr_fold(%1) = mr_fold(?)")
                   .arg(quotedIdentifier(update.table->columns()[update.guardColumn].name));
    }
    Prepared statement(connection->handle(), sql);
    const Value value{Value::Kind::Text, 0, 0, update.value};
    const Value guard{Value::Kind::Text, 0, 0, update.guardValue};
    int changed = 0;
    Transaction transaction(*connection);
    for (const qint64 rowId : update.ids) {
        statement.bind(1, value);
        statement.bindInteger(2, rowId);
        if (update.guardColumn >= 0)
            statement.bind(3, guard);
        Prepared::Run run(statement);
        run.step();
        changed += sqlite3_changes(connection->handle());
    }
    transaction.commit();
    return changed;
}

}  // namespace mr::db
