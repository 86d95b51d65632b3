#include "core/record.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <cstring>

using mr::PackRecord;
using mr::PackValue;
using mr::UnpackRecord;
using mr::test::hex;

TEST(PackRecord, WritesLittleEndianUnpaddedFields) {
    const auto r = PackRecord("IBAW", {7, 2, "abc", 1000});
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.bytes, hex("07000000 02 61626300 E803"));

    EXPECT_EQ(PackRecord("A", {nullptr}).bytes, hex("00"));
    // B and W keep only their low byte / low 16 bits; I is two's complement.
    EXPECT_EQ(PackRecord("BWI", {0x1234, 0x12345, -1}).bytes, hex("34 4523 FFFFFFFF"));
    EXPECT_EQ(PackRecord("DF", {2, 1.5f}).bytes, hex("0000000000000040 0000C03F"));
    // Counted bytes skip the length letter after them.
    EXPECT_EQ(PackRecord("CIB", {PackValue::counted(QByteArray("\x00\x01\xff", 3)), 9}).bytes,
              hex("0001FF 09"));
}

TEST(PackRecord, ReportsWrongLettersAndValuesButGoesOn) {
    // T is read-only; X is no letter at all; each costs nothing and packing continues.
    auto r = PackRecord("ITXB", {1, 2});
    EXPECT_EQ(r.formatErrors, 2);
    EXPECT_EQ(r.bytes, hex("01000000 02"));
    r = PackRecord("IA", {"text", 5});
    EXPECT_EQ(r.formatErrors, 2);
    EXPECT_TRUE(r.bytes.isEmpty());
    EXPECT_EQ(PackRecord("II", {1}).formatErrors, 1);
    EXPECT_EQ(PackRecord("I", {1, 2}).formatErrors, 1);
}

TEST(UnpackRecord, ReadsEveryKindBack) {
    const QByteArray rec = PackRecord("IBAWDFA", {-5, 200, "héllo", 65535, 0.25, 2.5f, ""}).bytes;
    std::int32_t i = 0;
    std::uint8_t b = 0;
    QString a;
    std::uint16_t w = 0;
    double d = 0;
    float f = 0;
    QByteArray empty("x");
    const auto r = UnpackRecord(rec, "IBAWDFA", {&i, &b, &a, &w, &d, &f, &empty});
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.consumed, rec.size());
    EXPECT_EQ(r.fieldsRead, 7);
    EXPECT_EQ(i, -5);
    EXPECT_EQ(b, 200);
    EXPECT_EQ(a, QString::fromUtf8("héllo"));
    EXPECT_EQ(w, 65535);
    EXPECT_EQ(d, 0.25);
    EXPECT_EQ(f, 2.5f);
    EXPECT_TRUE(empty.isEmpty());
}

TEST(UnpackRecord, DateTimeFieldsAreRawBytes) {
    const QByteArray rec = hex("0102030405060708");
    QByteArray raw;
    double asDouble = 0;
    EXPECT_TRUE(UnpackRecord(rec + rec, "TT", {&raw, &asDouble}).ok());
    EXPECT_EQ(raw, rec);
    EXPECT_EQ(0, std::memcmp(&asDouble, rec.constData(), 8));
}

TEST(UnpackRecord, ShortRecordStopsAndLeavesTheRestUnchanged) {
    // 'AWW' with the second W cut off: the first two fields arrive, the third keeps its value.
    QString host = "old";
    std::uint16_t info = 1, server = 77;
    auto r = UnpackRecord(hex("31323700 5000 13"), "AWW", {&host, &info, &server});
    EXPECT_TRUE(r.truncated);
    EXPECT_EQ(r.consumed, 6);
    EXPECT_EQ(r.fieldsRead, 2);
    EXPECT_EQ(host, "127");
    EXPECT_EQ(info, 0x50);
    EXPECT_EQ(server, 77);

    // A text without its terminating zero is never read past the end.
    host = "keep";
    r = UnpackRecord(QByteArray("abc", 3), "A", {&host});
    EXPECT_TRUE(r.truncated);
    EXPECT_EQ(r.consumed, 0);
    EXPECT_EQ(host, "keep");

    std::int32_t n = 42;
    r = UnpackRecord(QByteArray(), "I", {&n});
    EXPECT_TRUE(r.truncated);
    EXPECT_EQ(n, 42);
}

TEST(UnpackRecord, WrongLettersAndTargetsAreReportedNotFatal) {
    std::int32_t n = 0;
    std::uint8_t b = 0;
    // C and X consume nothing; I then B still read in place.
    auto r = UnpackRecord(hex("05000000 09"), "CXIB", {&n, &b});
    EXPECT_EQ(r.formatErrors, 2);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(b, 9);

    // A destination of the wrong kind skips the field's bytes, keeping later fields aligned.
    QString s;
    b = 0;
    EXPECT_EQ(UnpackRecord(hex("05000000 09"), "IB", {&s, &b}).formatErrors, 1);
    EXPECT_EQ(b, 9);
    // More letters than destinations.
    r = UnpackRecord(hex("05000000 09"), "IB", {&n});
    EXPECT_EQ(r.formatErrors, 1);
    EXPECT_EQ(r.consumed, 4);
}
