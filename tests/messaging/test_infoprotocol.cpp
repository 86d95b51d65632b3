#include "messaging/infoprotocol.h"

#include <gtest/gtest.h>

#include <limits>

namespace mr {
namespace {

TEST(InfoProtocol, MessageTextIsByteExact) {
    EXPECT_EQ(BuildMessageText(42, QStringLiteral("bob"), 1234, QString()),
              QByteArray("MSG 42 bob 1234 *"));
    EXPECT_EQ(BuildMessageText(-7, QStringLiteral("bob"), 65535,
                               MessageBodyFromLines({QStringLiteral("hi there")})),
              QByteArray("MSG -7 bob 65535 hi\\ there\\\r\\\n"));
    EXPECT_EQ(BuildChatRequestText(QStringLiteral("ann"), QStringLiteral("a*b")),
              QByteArray("PTPCHAT ann a\\*b"));
    EXPECT_EQ(BuildChatRequestText(QStringLiteral("ann"), QString()), QByteArray("PTPCHAT ann *"));
}

TEST(InfoProtocol, BodyLinesEachEndWithCrLf) {
    EXPECT_EQ(MessageBodyFromLines({}), QString());
    EXPECT_EQ(MessageBodyFromLines({QStringLiteral("a"), QString(), QStringLiteral("b")}),
              QStringLiteral("a\r\n\r\nb\r\n"));
}

// Texts at the edges of the escaping; blanks, backslashes, asterisks and line breaks inside a
// message are also carried end to end by the messenger tests.
TEST(InfoProtocol, MessageTextsRoundTrip) {
    for (const QString& text :
         {QString(), QStringLiteral("*"), QStringLiteral("\\leading backslash"),
          QStringLiteral("a  b\\\\c**d\r\n\r\n"), QStringLiteral("trailing blank "),
          QString::fromUtf8("gr\xc3\xbc\xc3\x9f dich \xe2\x82\xac")}) {
        const InfoRequest r =
            ParseInfoRequest(BuildMessageText(12345, QStringLiteral("zed"), 40000, text));
        ASSERT_EQ(r.kind, InfoKind::Message) << text.toStdString();
        EXPECT_EQ(r.text, text);
        const InfoRequest chat =
            ParseInfoRequest(BuildChatRequestText(QStringLiteral("ann"), text));
        ASSERT_EQ(chat.kind, InfoKind::ChatRequest);
        EXPECT_EQ(chat.text, text);
    }
    // A peer writing an 8-bit code page keeps its letters.
    const InfoRequest latin = ParseInfoRequest("MSG 1 Jos\xe9 2 caf\xe9\\\r\\\n");
    EXPECT_EQ(latin.nickname, QString::fromUtf8("Jos\xc3\xa9"));
    EXPECT_EQ(latin.text, QString::fromUtf8("caf\xc3\xa9\r\n"));
    EXPECT_EQ(ParseInfoRequest("MSG 1 a 2 cut\xc3").text, QString::fromLatin1("cut\xc3"));
}

TEST(InfoProtocol, KindIsTheCaseSensitiveFirstField) {
    EXPECT_EQ(ParseInfoRequest("PING!").kind, InfoKind::Ping);
    EXPECT_EQ(ParseInfoRequest("PING! 1 2 3").kind, InfoKind::Ping);
    for (const QByteArray& other :
         {QByteArray("ping!"), QByteArray("PONG!"), QByteArray("msg 1 bob 2 hi"),
          QByteArray("ptpchat bob hi"), QByteArray(), QByteArray("\0\xff\x01", 3)}) {
        EXPECT_EQ(ParseInfoRequest(other).kind, InfoKind::Other) << other.toStdString();
    }
    // Extra fields after a complete request are ignored.
    const InfoRequest r = ParseInfoRequest("MSG 5 bob 6 hi extra");
    ASSERT_EQ(r.kind, InfoKind::Message);
    EXPECT_EQ(r.text, QStringLiteral("hi"));
}

TEST(InfoProtocol, MalformedRequestsSayWhy) {
    const char* bad[] = {
        "MSG",
        "MSG 1 bob 2",              // too few fields
        "MSG x bob 2 hi",           // user id not decimal
        "MSG 0x10 bob 2 hi",        // hex is not decimal
        "MSG +1 bob 2 hi",          // nor a plus sign
        "MSG 2147483648 bob 2 hi",  // beyond 32 bits
        "MSG 99999999999999 bob 2 hi",
        "MSG 1 bob port hi",        // port not decimal
        "MSG 1 bob 4294967296 hi",  // port beyond 32 bits
        "MSG - bob 2 hi",
        "MSG * bob 2 hi",  // the empty field
        "PTPCHAT",
        "PTPCHAT bob",
    };
    for (const char* text : bad) {
        const InfoRequest r = ParseInfoRequest(QByteArray(text));
        EXPECT_EQ(r.kind, InfoKind::Malformed) << text;
        EXPECT_FALSE(r.error.isEmpty()) << text;
    }
    const InfoRequest lowest = ParseInfoRequest("MSG -2147483648 bob 0 hi");
    ASSERT_EQ(lowest.kind, InfoKind::Message);
    EXPECT_EQ(lowest.userId, std::numeric_limits<qint32>::min());
    EXPECT_EQ(lowest.port, 0);
    // A port past 16 bits keeps its low 16 bits, and the message arrives.
    EXPECT_EQ(ParseInfoRequest("MSG 1 bob 70000 hi").port, 70000 - 65536);
    EXPECT_EQ(ParseInfoRequest("MSG 1 bob -1 hi").port, 65535);
}

}  // namespace
}  // namespace mr
