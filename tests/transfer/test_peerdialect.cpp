#include "transfer/peerdialect.h"

#include <gtest/gtest.h>

using namespace mr;

TEST(PeerDialect, TheFileRequestParameterRoundTripsByteForByte) {
    TReqfParams p;
    p.path = QStringLiteral("/Music/a b.mp3");
    p.resumeOffset = 1000;
    p.callbackPort = 4321;
    p.requesterId = 77;
    p.requesterName = QStringLiteral("Bob");
    const QByteArray wire = BuildReqfParameter(p);
    EXPECT_EQ(wire, QByteArray("/Music/a b.mp3*1000*4321*77\0*Bob*", 33));
    const TReqfParse back = ParseReqfParameter(wire, QStringLiteral("owner"));
    ASSERT_TRUE(back.params) << back.error.toStdString();
    EXPECT_EQ(back.params->path, p.path);
    EXPECT_EQ(back.params->resumeOffset, 1000);
    EXPECT_EQ(back.params->callbackPort, 4321);
    EXPECT_EQ(back.params->requesterId, 77);
    EXPECT_EQ(back.params->requesterName, QStringLiteral("Bob"));
    // Offsets beyond 32 bits survive.
    p.resumeOffset = 5'000'000'000;
    EXPECT_EQ(ParseReqfParameter(BuildReqfParameter(p), {}).params->resumeOffset, 5'000'000'000);
}

TEST(PeerDialect, AnOlderPeerWithoutTheFifthFieldGetsTheOwnersNickname) {
    const TReqfParse r = ParseReqfParameter(QByteArray("/f.txt*0*2000*5\0", 16), "Owner");
    ASSERT_TRUE(r.params);
    EXPECT_EQ(r.params->requesterId, 5);
    EXPECT_EQ(r.params->requesterName, QStringLiteral("Owner"));
    // Without the NUL, and with blanks around the whole parameter.
    const TReqfParse s = ParseReqfParameter("  /f.txt*0*2000*5*Ann*  ", "Owner");
    ASSERT_TRUE(s.params);
    EXPECT_EQ(s.params->requesterId, 5);
    EXPECT_EQ(s.params->requesterName, QStringLiteral("Ann"));
}

TEST(PeerDialect, MalformedFileRequestsAreRefusedWithAMessage) {
    struct Case {
        QByteArray param;
        const char* error;
    };
    const Case cases[] = {
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
        {"*0*2000*5*x*", "Missing path in file request"},
    };
    for (const Case& c : cases) {
        const TReqfParse r = ParseReqfParameter(c.param, "o");
        EXPECT_FALSE(r.params) << c.param.constData();
        EXPECT_EQ(r.error, QString::fromLatin1(c.error)) << c.param.constData();
    }
}

TEST(PeerDialect, VerdictLinesAndTheirReadings) {
    TRequestVerdict v;
    v.Code = 3;
    v.RatioStyle = 2;
    v.Credit = -40;
    v.Size = 4096;
    v.LocalPath = QStringLiteral("/secret/path");
    EXPECT_EQ(FormatVerdict(v), QByteArray("3 2 -40 0 4096"));
    EXPECT_EQ(VerdictCode("0 0 0 0 4096"), 0);
    EXPECT_EQ(VerdictCode("6"), 6);
    EXPECT_EQ(VerdictCode("220 ICS FTP Server ready."), 220);
    EXPECT_EQ(VerdictCode("x 0"), std::nullopt);
    EXPECT_EQ(VerdictSize("0 0 0 0 4096"), 4096);
    EXPECT_EQ(VerdictSize("0 0 0 0  4096 "), 4096);
    EXPECT_EQ(VerdictSize("0 0 0 0 8589934592"), 8589934592LL);
    EXPECT_EQ(VerdictSize("0 0 0 4096"), std::nullopt);
    EXPECT_EQ(VerdictSize("0 0 0 0 12 13"), std::nullopt);
    EXPECT_EQ(VerdictSize("0 0 0 0 -5"), std::nullopt);
    EXPECT_EQ(VerdictState(0).first, TTransferStatus::RemotelyQueued);
    EXPECT_EQ(VerdictState(1).second, TTransferError::Error);
    EXPECT_EQ(VerdictState(3).second, TTransferError::NotEnoughCredit);
    EXPECT_EQ(VerdictState(4).second, TTransferError::Banned);
    EXPECT_EQ(VerdictState(5).second, TTransferError::FileNotFound);
    EXPECT_EQ(VerdictState(6).second, TTransferError::IncorrectPassword);
    EXPECT_EQ(VerdictState(9).second, TTransferError::Error);
}

TEST(PeerDialect, SharePathsAndLocalNames) {
    EXPECT_EQ(JoinSharePath("/Music", "a.mp3"), QStringLiteral("/Music/a.mp3"));
    EXPECT_EQ(JoinSharePath("/Music/", "a.mp3"), QStringLiteral("/Music/a.mp3"));
    EXPECT_EQ(SplitSharePath("/Music/Live/a.mp3"),
              std::make_pair(QStringLiteral("/Music/Live/"), QStringLiteral("a.mp3")));
    EXPECT_EQ(SplitSharePath("noslash").second, QStringLiteral("noslash"));
    EXPECT_TRUE(IsSafeLocalFileName("a b.mp3"));
    EXPECT_TRUE(IsSafeLocalFileName("..hidden"));
    for (const QString& bad :
         {QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("a/b"),
          QStringLiteral("a\\b"), QStringLiteral("a\nb"), QStringLiteral("a") + QChar(0)}) {
        EXPECT_FALSE(IsSafeLocalFileName(bad)) << bad.toStdString();
    }
}
