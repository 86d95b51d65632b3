#include "core/fields.h"

#include <QStringDecoder>

#include <limits>

namespace mr {

QByteArray EncodeField(const QByteArray& text) {
    if (text.isEmpty()) {
        return QByteArrayLiteral("*");
    }
    QByteArray out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == ' ' || c == '\\' || c == '*' || c == '\r' || c == '\n') {
            out.append('\\');
        }
        out.append(c);
    }
    return out;
}

QString EncodeField(const QString& text) {
    return QString::fromUtf8(EncodeField(text.toUtf8()));
}

QList<QByteArray> SplitFields(const QByteArray& line) {
    QList<QByteArray> fields;
    QByteArray field;
    // A field is open once anything of it was read; the line's start and the blanks after a
    // field leave none open, so trailing blanks add no field.
    bool open = false;
    bool atFieldStart = true;  // an unescaped asterisk here is an ordinary byte
    bool loneStar = false;     // the open field is exactly one unescaped asterisk

    auto finish = [&] {
        fields.append(loneStar ? QByteArray() : field);
        field.clear();
        open = false;
        loneStar = false;
    };

    const qsizetype n = line.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = line[i];
        if (c == '\r' || c == '\n') {
            break;
        }
        if (c == '\\') {
            if (i + 1 < n) {
                field.append(line[++i]);
            }
            open = true;
            atFieldStart = false;
            loneStar = false;
            continue;
        }
        if (c == ' ') {
            finish();
            while (i + 1 < n && line[i + 1] == ' ') {
                ++i;
            }
            atFieldStart = true;
            continue;
        }
        if (c == '*' && !atFieldStart) {
            finish();
            field.append('*');
            open = true;
            loneStar = true;
            continue;
        }
        loneStar = (c == '*' && field.isEmpty());
        field.append(c);
        open = true;
        atFieldStart = false;
    }
    if (open) {
        finish();
    }
    return fields;
}

void SplitFields(const QString& line, QStringList& fields) {
    fields.clear();
    for (const QByteArray& f : SplitFields(line.toUtf8())) {
        fields.append(QString::fromUtf8(f));
    }
}

QStringList SplitFields(const QString& line) {
    QStringList fields;
    SplitFields(line, fields);
    return fields;
}

QString ReplaceChar(const QString& text, QChar from, QChar to) {
    QString out = text;
    out.replace(from, to);
    return out;
}

QString TextFromPeer(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

std::optional<qint64> ParseDecimal(const QByteArray& text, qint64 min, qint64 max, bool allowPlus) {
    qsizetype i = 0;
    const bool negative = !text.isEmpty() && text[0] == '-';
    if (negative || (allowPlus && !text.isEmpty() && text[0] == '+')) {
        i = 1;
    }
    if (i >= text.size()) {
        return std::nullopt;
    }
    // Accumulated as a negative number, whose range is the larger one.
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const int digit = c - '0';
        if (value < (lowest + digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest) {
            return std::nullopt;
        }
        value = -value;
    }
    if (value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

}  // namespace mr
