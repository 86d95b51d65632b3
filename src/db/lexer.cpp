#include "db/lexer.h"

#include "db/dberror.h"

namespace mr::db {

namespace {

bool isIdentifierStart(QChar c) {
    return c.isLetter() || c == u'_';
}
bool isIdentifierPart(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

}  // namespace

bool Token::isKeyword(QStringView keyword) const {
    return kind == Kind::Identifier && text.compare(keyword, Qt::CaseInsensitive) == 0;
}

QString Token::describe(const QString& what) const {
    if (kind == Kind::End)
        return QStringLiteral("end of %1").arg(what);
    if (kind == Kind::String)
        return QStringLiteral("the string %1").arg(text);
    return u'\'' + text + u'\'';
}

QList<Token> tokenize(const QString& text, const QString& what) {
    QList<Token> tokens;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (true) {
        while (i < n && text[i].isSpace())
            ++i;
        Token token;
        token.column = int(i + 1);
        if (i == n) {
            tokens << token;
            return tokens;
        }
        const QChar c = text[i];
        const qsizetype start = i;
        if (isIdentifierStart(c)) {
            while (i < n && isIdentifierPart(text[i]))
                ++i;
            token.kind = Token::Kind::Identifier;
        } else if (isDigit(c) || (c == u'-' && i + 1 < n && isDigit(text[i + 1]))) {
            ++i;
            while (i < n && isDigit(text[i]))
                ++i;
            bool ok = false;
            token.integer = text.mid(start, i - start).toLongLong(&ok);
            if (!ok)
                syntaxError(
                    what, token.column,
                    QStringLiteral("integer %1 is out of range").arg(text.mid(start, i - start)));
            token.kind = Token::Kind::Integer;
        } else if (c == u'\'') {
            ++i;
            while (true) {
                if (i == n)
                    syntaxError(what, token.column, QStringLiteral("unterminated string literal"));
                if (text[i] == u'\'') {
                    // A doubled quote stands for one quote character.
                    if (i + 1 < n && text[i + 1] == u'\'') {
                        token.string += u'\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                token.string += text[i++];
            }
            token.kind = Token::Kind::String;
        } else if (c == u'<' && i + 1 < n && text[i + 1] == u'>') {
            i += 2;
            token.kind = Token::Kind::NotEqual;
        } else if (c == u'=') {
            ++i;
            token.kind = Token::Kind::Equal;
        } else if (c == u'(') {
            ++i;
            token.kind = Token::Kind::Open;
        } else if (c == u')') {
            ++i;
            token.kind = Token::Kind::Close;
        } else if (c == u',') {
            ++i;
            token.kind = Token::Kind::Comma;
        } else {
            syntaxError(what, token.column, QStringLiteral("unexpected character '%1'").arg(c));
        }
        token.text = text.mid(start, i - start);
        tokens << token;
    }
}

void syntaxError(const QString& what, int column, const QString& message) {
    QString title = what;
    if (!title.isEmpty())
        title[0] = title[0].toUpper();
    throw DbError(QStringLiteral("%1 error at column %2: %3").arg(title).arg(column).arg(message));
}

}  // namespace mr::db
