#include "core/fields.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

#include <limits>

using mr::EncodeField;
using mr::SplitFields;

namespace {

QList<QByteArray> split(const char* line) {
    return SplitFields(QByteArray(line));
}

QList<QByteArray> list(std::initializer_list<const char*> items) {
    QList<QByteArray> out;
    for (const char* i : items) {
        out.append(QByteArray(i));
    }
    return out;
}

}  // namespace

TEST(EncodeField, EscapesTheFiveSpecialBytes) {
    EXPECT_EQ(EncodeField(QByteArray()), "*");
    EXPECT_EQ(EncodeField(QByteArray("a b*")), "a\\ b\\*");
    EXPECT_EQ(EncodeField(QByteArray("\\\r\n")), "\\\\\\\r\\\n");
    EXPECT_EQ(EncodeField(QByteArray("plain")), "plain");
    EXPECT_EQ(EncodeField(QString()), QString("*"));
    EXPECT_EQ(EncodeField(QString::fromUtf8("é ü")), QString::fromUtf8("é\\ ü"));
}

TEST(SplitFields, BlanksAsterisksAndEscapes) {
    EXPECT_EQ(split("a b"), list({"a", "b"}));
    EXPECT_EQ(split("a * b"), list({"a", "", "b"}));
    EXPECT_EQ(split("a\\ b"), list({"a b"}));
    EXPECT_EQ(split("a \\ b"), list({"a", " b"}));
    EXPECT_EQ(split(" a"), list({"", "a"}));
    // Runs of blanks count once; trailing blanks add no field.
    EXPECT_EQ(split("a    b   "), list({"a", "b"}));
    // An asterisk inside a field starts the next one.
    EXPECT_EQ(split("ab*cd"), list({"ab", "*cd"}));
    EXPECT_EQ(split("ab*"), list({"ab", ""}));
    // Escaped asterisk stays literal, also alone.
    EXPECT_EQ(split("\\* x"), list({"*", "x"}));
    // Escaped line ends join the field; bare ones end the line.
    EXPECT_EQ(split("a\\\nb c\r\nignored"), list({"a\nb", "c"}));
    EXPECT_EQ(split("MSG hi\n"), list({"MSG", "hi"}));
    // A trailing lone backslash is dropped.
    EXPECT_EQ(split("a\\"), list({"a"}));
    EXPECT_TRUE(split("").isEmpty());
    EXPECT_TRUE(split("\r\n").isEmpty());
    EXPECT_EQ(split("* * *"), list({"", "", ""}));

    QStringList fields{"stale"};
    SplitFields(QString::fromUtf8("MSG h\\ é *"), fields);
    EXPECT_EQ(fields, QStringList({"MSG", QString::fromUtf8("h é"), ""}));
}

TEST(SplitFields, RoundTripsArbitraryBytes) {
    auto* rng = QRandomGenerator::global();
    const char alphabet[] = {' ', '\\', '*', '\r', '\n', 'a', 'Z', '\0', '\t', '\xC3', '\xA9'};
    for (int round = 0; round < 2000; ++round) {
        QList<QByteArray> values;
        const int count = rng->bounded(1, 6);
        for (int v = 0; v < count; ++v) {
            QByteArray value;
            const int len = rng->bounded(0, 6);
            for (int i = 0; i < len; ++i) {
                value.append(round % 2 ? alphabet[rng->bounded(int(sizeof alphabet))]
                                       : static_cast<char>(rng->bounded(256)));
            }
            values.append(value);
        }
        QList<QByteArray> encoded;
        for (const QByteArray& v : values) {
            encoded.append(EncodeField(v));
        }
        const QByteArray line = encoded.join(' ');
        ASSERT_EQ(SplitFields(line), values) << line.toHex(' ').constData();
    }
}

TEST(ParseDecimal, DigitsWithinTheRangeAndNothingElse) {
    constexpr qint64 lo = std::numeric_limits<qint64>::min();
    constexpr qint64 hi = std::numeric_limits<qint64>::max();
    EXPECT_EQ(mr::ParseDecimal("-9223372036854775808", lo, hi), lo);
    EXPECT_EQ(mr::ParseDecimal("9223372036854775807", lo, hi), hi);
    EXPECT_EQ(mr::ParseDecimal("+7", 0, 10, true), 7);
    EXPECT_EQ(mr::ParseDecimal("+7", 0, 10), std::nullopt);
    EXPECT_EQ(mr::ParseDecimal("11", 0, 10), std::nullopt);
    EXPECT_EQ(mr::ParseDecimal("-1", 0, 10), std::nullopt);
    for (const char* bad : {"9223372036854775808", "-9223372036854775809", "", "-", "+", " 1", "1 ",
                            "0x1", "1e3", "--1", "+-1"}) {
        EXPECT_EQ(mr::ParseDecimal(bad, lo, hi, true), std::nullopt) << bad;
    }
}
