#include "ui/richtext.h"

#include <QStringDecoder>
#include <QTextCharFormat>
#include <QTextCursor>

#include <algorithm>
#include <array>
#include <vector>

namespace mr {

namespace {

// Deeper nesting adds nothing to a message; it only costs memory.
constexpr std::size_t kMaxDepth = 256;
constexpr int kMaxHalfPoints = 400;
constexpr qsizetype kMaxColors = 256;

// Groups whose text is not part of the document.
bool isHiddenDestination(QStringView word) {
    static const std::array<const char*, 15> names{
        "fonttbl", "stylesheet", "info",      "pict",         "header",
        "footer",  "object",     "themedata", "datastore",    "listtable",
        "rsidtbl", "generator",  "xmlnstbl",  "latentstyles", "listoverridetable"};
    return std::any_of(names.begin(), names.end(),
                       [&](const char* n) { return word == QLatin1String(n); });
}

bool isAsciiLetter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

bool isSpace(QChar c) {
    return c.isSpace();
}

// White space at the two ends of the document is not part of the message.
void trimRuns(QList<RichRun>& runs) {
    while (!runs.isEmpty()) {
        QString& text = runs.first().text;
        const auto first = std::find_if_not(text.cbegin(), text.cend(), isSpace);
        text.remove(0, first - text.cbegin());
        if (!text.isEmpty())
            break;
        runs.removeFirst();
    }
    while (!runs.isEmpty()) {
        QString& text = runs.last().text;
        qsizetype end = text.size();
        while (end > 0 && text.at(end - 1).isSpace())
            --end;
        text.truncate(end);
        if (!text.isEmpty())
            break;
        runs.removeLast();
    }
}

}  // namespace

bool RichRun::sameFormat(const RichRun& other) const {
    return bold == other.bold && italic == other.italic && underline == other.underline &&
           halfPoints == other.halfPoints && color == other.color;
}

bool isRtf(QStringView text) {
    return text.trimmed().startsWith(u"{\\rtf");
}

QList<RichRun> parseRtf(QStringView rtf) {
    struct Group {
        bool hidden = false;
        bool colorTable = false;
        int unicodeSkip = 1;
        RichRun format;
    };
    std::vector<Group> stack{Group{}};
    // Groups opened past the depth limit; their closing braces are not ours to pop.
    std::size_t excess = 0;
    QList<QColor> colors;
    std::array<int, 3> rgb{-1, -1, -1};

    QStringDecoder cp1252("windows-1252");
    const auto decodeByte = [&cp1252](char byte) {
        const QString s = cp1252.isValid() ? cp1252.decode(QByteArray(1, byte)) : QString();
        return s.isEmpty() ? QString(QChar::fromLatin1(byte)) : s;
    };
    QList<RichRun> runs;
    int pendingSkip = 0;
    const auto emitText = [&](const QString& text) {
        if (pendingSkip > 0) {
            --pendingSkip;
            return;
        }
        const Group& group = stack.back();
        if (group.hidden)
            return;
        if (runs.isEmpty() || !runs.last().sameFormat(group.format)) {
            runs.append(group.format);
            runs.last().text.clear();
        }
        runs.last().text.append(text);
    };

    const qsizetype n = rtf.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = rtf.at(i);
        if (c == u'{') {
            if (stack.size() >= kMaxDepth) {
                ++excess;
                continue;
            }
            stack.push_back(stack.back());
            if (i + 2 < n && rtf.at(i + 1) == u'\\' && rtf.at(i + 2) == u'*')
                stack.back().hidden = true;
        } else if (c == u'}') {
            if (excess > 0) {
                --excess;
                continue;
            }
            if (stack.size() <= 1)
                break;
            stack.pop_back();
        } else if (c == u'\\' && i + 1 < n) {
            const QChar next = rtf.at(++i);
            if (next == u'\\' || next == u'{' || next == u'}') {
                emitText(QString(next));
            } else if (next == u'\'') {
                bool ok = false;
                const int value = i + 2 < n ? rtf.mid(i + 1, 2).toInt(&ok, 16) : 0;
                if (ok) {
                    emitText(decodeByte(static_cast<char>(value)));
                    i += 2;
                }
            } else if (next == u'~') {
                emitText(QString(QChar(0xA0)));
            } else if (next == u'\n' || next == u'\r') {
                emitText(QStringLiteral("\n"));
            } else if (isAsciiLetter(next)) {
                qsizetype end = i;
                while (end < n && isAsciiLetter(rtf.at(end)))
                    ++end;
                const QStringView word = rtf.mid(i, end - i);
                qsizetype digits = end;
                if (digits < n && rtf.at(digits) == u'-')
                    ++digits;
                while (digits < n && isAsciiDigit(rtf.at(digits)))
                    ++digits;
                const bool hasParam = digits > end;
                const int param = rtf.mid(end, digits - end).left(8).toInt();
                i = digits < n && rtf.at(digits) == u' ' ? digits : digits - 1;
                Group& group = stack.back();
                RichRun& format = group.format;
                if (word == u"par" || word == u"line") {
                    emitText(QStringLiteral("\n"));
                } else if (word == u"tab") {
                    emitText(QStringLiteral("\t"));
                } else if (word == u"uc") {
                    group.unicodeSkip = std::clamp(param, 0, 4);
                } else if (word == u"u") {
                    emitText(
                        QString(QChar(static_cast<char16_t>(param < 0 ? param + 65536 : param))));
                    pendingSkip = group.unicodeSkip;
                } else if (word == u"b") {
                    format.bold = !hasParam || param != 0;
                } else if (word == u"i") {
                    format.italic = !hasParam || param != 0;
                } else if (word == u"ul") {
                    format.underline = !hasParam || param != 0;
                } else if (word == u"ulnone") {
                    format.underline = false;
                } else if (word == u"fs") {
                    format.halfPoints = std::clamp(param, 0, kMaxHalfPoints);
                } else if (word == u"cf") {
                    format.color =
                        param >= 0 && param < colors.size() ? colors.at(param) : QColor();
                } else if (word == u"plain") {
                    format = RichRun{};
                } else if (word == u"colortbl") {
                    group.hidden = true;
                    group.colorTable = true;
                } else if (group.colorTable &&
                           (word == u"red" || word == u"green" || word == u"blue")) {
                    const int at = word == u"red" ? 0 : word == u"green" ? 1 : 2;
                    rgb[at] = std::clamp(param, 0, 255);
                } else if (isHiddenDestination(word)) {
                    group.hidden = true;
                }
            }
        } else if (c == u';' && stack.back().colorTable) {
            if (colors.size() >= kMaxColors)
                continue;
            // An entry without components is the view's own colour.
            colors.append(
                rgb[0] < 0 && rgb[1] < 0 && rgb[2] < 0
                    ? QColor()
                    : QColor(std::max(rgb[0], 0), std::max(rgb[1], 0), std::max(rgb[2], 0)));
            rgb = {-1, -1, -1};
        } else if (c != u'\r' && c != u'\n') {
            emitText(QString(c));
        }
    }
    trimRuns(runs);
    return runs;
}

QString rtfToPlainText(QStringView rtf) {
    QString text;
    for (const RichRun& run : parseRtf(rtf))
        text += run.text;
    return text;
}

void insertRichRuns(QTextCursor& cursor, const QList<RichRun>& runs) {
    for (const RichRun& run : runs) {
        QTextCharFormat format;
        format.setFontWeight(run.bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(run.italic);
        format.setFontUnderline(run.underline);
        if (run.halfPoints > 0)
            format.setFontPointSize(run.halfPoints / 2.0);
        if (run.color.isValid())
            format.setForeground(run.color);
        cursor.insertText(run.text, format);
    }
}

}  // namespace mr
