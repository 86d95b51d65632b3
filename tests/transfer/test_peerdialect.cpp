#include "transfer/peerdialect.h"

#include <gtest/gtest.h>

using namespace mr;

TEST(PeerDialect, TheFileRequestParameterRoundTripsByteForByte) {
    // An offset beyond 32 bits.
    const QByteArray wire = BuildReqfParameter({"/Music/a b.mp3", 5'000'000'000, 4321, 77, "Bob"});
    EXPECT_EQ(wire, QByteArray("/Music/a b.mp3*5000000000*4321*77\0*Bob*", 39));
    const ReqfParse back = ParseReqfParameter(wire, "owner");
    ASSERT_TRUE(back.params) << back.error.toStdString();
    EXPECT_EQ(BuildReqfParameter(*back.params), wire);

    // Without the NUL, and with blanks around the whole parameter.
    const ReqfParse s = ParseReqfParameter("  /f.txt*0*2000*5*Ann*  ", "Owner");
    ASSERT_TRUE(s.params);
    EXPECT_EQ(s.params->path, "/f.txt");
    EXPECT_EQ(s.params->requesterName, "Ann");
}

TEST(PeerDialect, MalformedFileRequestsAreRefusedWithAMessage) {
    const std::pair<QByteArray, const char*> cases[] = {
        {"/f.txt", "Missing fields in file request"},
        {"/f.txt*0*2000", "Missing fields in file request"},
        {"/f.txt*abc*2000*5*x*", "'abc' is not a valid integer value"},
        {"/f.txt*0*port*5*x*", "'port' is not a valid integer value"},
        {"/f.txt*0*2000*5x*x*", "'5x' is not a valid integer value"},
        {"/f.txt**2000*5*x*", "'' is not a valid integer value"},
        {"/f.txt*-1*2000*5*x*", "Invalid resume offset -1"},
        {"/f.txt*0*70000*5*x*", "Invalid callback port 70000"},
        {"/f.txt*0*0*5*x*", "Invalid callback port 0"},
        {"/f.txt*0*2000*99999999999*x*", "'99999999999' is not a valid integer value"},
        {"*0*2000*5*x*", "Missing path in file request"}};
    for (const auto& [param, error] : cases) {
        const ReqfParse r = ParseReqfParameter(param, "o");
        EXPECT_FALSE(r.params) << param.constData();
        EXPECT_EQ(r.error, QString::fromLatin1(error)) << param.constData();
    }
}

TEST(PeerDialect, VerdictLinesAndTheirReadings) {
    // The owner's local path is never sent.
    EXPECT_EQ(FormatVerdict({3, 2, -40, 0, 4096, "/secret/path"}), "3 2 -40 0 4096");
    EXPECT_EQ(VerdictCode("6"), 6);
    EXPECT_EQ(VerdictCode("220 ICS FTP Server ready."), 220);
    EXPECT_EQ(VerdictCode("x 0"), std::nullopt);
    EXPECT_EQ(VerdictSize("0 0 0 0  4096 "), 4096);
    EXPECT_EQ(VerdictSize("0 0 0 0 8589934592"), 8589934592LL);
    for (const char* bad : {"0 0 0 4096", "0 0 0 0 12 13", "0 0 0 0 -5"})
        EXPECT_EQ(VerdictSize(bad), std::nullopt) << bad;
}

TEST(PeerDialect, LocalNamesNeverLeaveTheDownloadFolder) {
    EXPECT_TRUE(IsSafeLocalFileName("a b.mp3"));
    EXPECT_TRUE(IsSafeLocalFileName("..hidden"));
    for (const QString& bad :
         {QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("a/b"),
          QStringLiteral("a\\b"), QStringLiteral("a\nb"), QStringLiteral("a") + QChar(0)}) {
        EXPECT_FALSE(IsSafeLocalFileName(bad)) << bad.toStdString();
    }
}
