#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QStringView>

class QTextCursor;

namespace mr {

// A stretch of a rich-text document's text written in one character format.
struct RichRun {
    QString text;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int halfPoints = 0;  // font size in half points; 0 keeps the view's own
    QColor color;        // invalid keeps the view's own

    bool sameFormat(const RichRun& other) const;
};

// True for an RTF document: "{\rtf" after any leading white space.
bool isRtf(QStringView text);
// The text of an RTF document in runs of one format: bold, italic, underline, size and colour
// are kept; tables, pictures and other groups that are not text are left out, and so is the
// white space at both ends. Characters above 0x7F in the input stand for themselves.
QList<RichRun> parseRtf(QStringView rtf);
// The text of an RTF document without its formatting.
QString rtfToPlainText(QStringView rtf);
// Writes the runs at the cursor, each in its own format.
void insertRichRuns(QTextCursor& cursor, const QList<RichRun>& runs);

}  // namespace mr
