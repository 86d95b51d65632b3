#include "messaging/chatline.h"

namespace mr {
namespace {

bool isSeparator(char c) {
    return c == ' ' || c == '\t';
}

bool needsQuotes(const QByteArray& word) {
    return word.isEmpty() || word.contains(' ') || word.contains('\t') || word.contains('\'');
}

}  // namespace

QByteArray BuildChatCommand(int number, const QList<QByteArray>& words) {
    QByteArray line;
    if (number != 0) {
        line = QByteArray::number(number);
    }
    for (const QByteArray& word : words) {
        if (!line.isEmpty()) {
            line += ' ';
        }
        // A line break cannot travel inside a line: it would end it and start another command.
        QByteArray text = word;
        text.replace('\r', ' ').replace('\n', ' ');
        if (needsQuotes(text)) {
            line += '\'' + text.replace("'", "''") + '\'';
        } else {
            line += text;
        }
    }
    return line;
}

QList<QByteArray> SplitChatLine(const QByteArray& line) {
    QList<QByteArray> tokens;
    const qsizetype n = line.size();
    qsizetype i = 0;
    while (true) {
        while (i < n && isSeparator(line[i])) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        const qsizetype start = i;
        bool quoted = false;
        while (i < n && (quoted || !isSeparator(line[i]))) {
            if (line[i] == '\'') {
                quoted = !quoted;
            }
            ++i;
        }
        QByteArray token = line.mid(start, i - start);
        if (token.startsWith('\'')) {
            token.remove(0, 1);
            if (token.endsWith('\'')) {
                token.chop(1);
            }
            token.replace("''", "'");
        }
        tokens.append(token);
    }
    return tokens;
}

}  // namespace mr
