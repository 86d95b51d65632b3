#pragma once

#include <QByteArray>
#include <QList>

namespace mr {

// The lines of channel chat, both directions: tokens separated by blanks or tabs, a token that
// holds a blank written in single quotes with its inner quotes doubled, each line ended by CR LF
// (added and removed by the connection, not here).

// The number in decimal when it is not 0, then each word after one blank. A word is quoted when
// it holds a blank, and also when it holds a tab or a quote or is empty: unquoted, those would
// come apart into other tokens on the far side, or vanish. A line break in a word becomes a
// blank, since it would end the line.
QByteArray BuildChatCommand(int number, const QList<QByteArray>& words);

// Skips blanks and tabs; a token runs to the next blank or tab outside single quotes (each quote
// switches in and out). A token that begins with a quote loses its outer quotes and has its
// doubled quotes made single; others stand as they are.
QList<QByteArray> SplitChatLine(const QByteArray& line);

}  // namespace mr
