#include "net/ftpwire.h"

#include <gtest/gtest.h>

using namespace mr;

TEST(LineFramer, EndsLinesAtLfDroppingOnlyACrRightBeforeIt) {
    LineFramer f(16);
    ASSERT_TRUE(f.feed("NOOP a\r\nUSER b\nX\rY\r"));
    EXPECT_EQ(f.next(), QByteArray("NOOP a"));
    EXPECT_EQ(f.next(), QByteArray("USER b"));
    EXPECT_EQ(f.next(), std::nullopt);  // no LF yet
    ASSERT_TRUE(f.feed("\n\r\n"));
    EXPECT_EQ(f.next(), QByteArray("X\rY"));
    EXPECT_EQ(f.next(), QByteArray(""));
    // The raw abort "ABOR" LF CR: the CR stays in front of the next line.
    ASSERT_TRUE(f.feed(QByteArray("ABOR\n\rQUIT\r\n")));
    EXPECT_EQ(f.next(), QByteArray("ABOR"));
    EXPECT_EQ(f.next(), QByteArray("\rQUIT"));
}

TEST(LineFramer, APartialLineOverTheCapIsAFramingError) {
    LineFramer f(8);
    EXPECT_TRUE(f.feed("12345678"));
    EXPECT_FALSE(f.feed("9"));
    EXPECT_TRUE(f.overflowed());
    EXPECT_FALSE(f.feed("\n"));
    EXPECT_EQ(f.next(), std::nullopt);
    // Complete short lines in one big read are fine.
    LineFramer g(4);
    EXPECT_TRUE(g.feed("abc\nabcd\nab"));
    EXPECT_EQ(g.next(), QByteArray("abc"));
}

TEST(CommandLine, SkipsLeadingBlanksUpperCasesTheKeywordAndCapsParameters) {
    const FtpCommandLine c = SplitCommandLine(" \t noop  two words");
    EXPECT_EQ(c.keyword, QByteArray("NOOP"));
    EXPECT_EQ(c.params, QByteArray(" two words"));
    EXPECT_EQ(SplitCommandLine("QUIT").params, QByteArray());
    EXPECT_EQ(SplitCommandLine("USER " + QByteArray(300, 'x')).params.size(), kMaxParamLength);
    // A path loses the blanks in front of it, never a blank that ends its last name.
    EXPECT_EQ(PathParameter(" \t/Live /song "), u"/Live /song ");
}

TEST(PortArgument, ParsesSixBytesAndRejectsAnythingElse) {
    const auto e = ParsePortArgument("127,0,0,1,4,1");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ipv4, 0x7F000001u);
    EXPECT_EQ(e->port, 1025);
    EXPECT_EQ(FormatPortArgument(*e), QByteArray("127,0,0,1,4,1"));
    EXPECT_EQ(FormatPassiveReply({0xC0A80102u, 65535}),
              QByteArray("227 Entering Passive Mode (192,168,1,2,255,255)."));
    for (const char* bad : {"", "1,2,3,4,5", "1,2,3,4,5,6,7", "256,0,0,1,1,1", "1,2,3,4,5,-6",
                            "a,b,c,d,e,f", "1,2,3,4,5,0006", "1,,3,4,5,6"}) {
        EXPECT_FALSE(ParsePortArgument(bad)) << bad;
    }
}

TEST(LeadingNumber, ReadsTheDigitsAtTheStart) {
    EXPECT_EQ(LeadingNumber("220 ICS FTP Server ready."), 220);
    EXPECT_EQ(LeadingNumber("0 0 0 0 4096"), 0);
    EXPECT_EQ(LeadingNumber("6"), 6);
    EXPECT_EQ(LeadingNumber("x 1"), std::nullopt);
    EXPECT_EQ(LeadingNumber(""), std::nullopt);
    EXPECT_EQ(LeadingNumber("99999999999999"), std::nullopt);
}
