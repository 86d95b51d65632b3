#pragma once

#include <QList>
#include <QString>

namespace mr::db {

// One token of a filter or statement text. Columns count characters from 1.
struct Token {
    enum class Kind { Identifier, Integer, String, Equal, NotEqual, Open, Close, Comma, End };

    Kind kind = Kind::End;
    int column = 0;
    QString text;    // as written
    QString string;  // value of a string literal
    qint64 integer = 0;

    bool isKeyword(QStringView keyword) const;
    // The token as an error message shows it: 'text', or "end of <what>".
    QString describe(const QString& what) const;
};

// Splits text into tokens. `what` ("filter", "statement") names the text in error messages.
// Throws DbError on a character outside the grammar, an unterminated string or an integer
// out of range.
QList<Token> tokenize(const QString& text, const QString& what);

// "Filter error at column 12: <message>"
[[noreturn]] void syntaxError(const QString& what, int column, const QString& message);

}  // namespace mr::db
