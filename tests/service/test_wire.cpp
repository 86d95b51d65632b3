#include "service/wire.h"

#include "testutil.h"

#include <gtest/gtest.h>

using namespace mr::wire;
using mr::test::hex;

namespace {

// Feeds a stream to a reader in pieces of the given size, as a socket might deliver it.
qsizetype feedInPieces(ReplyReader& r, const QByteArray& stream, int piece) {
    qsizetype used = 0;
    while (r.bytesWanted() > 0 && used < stream.size()) {
        used += r.feed(
            QByteArrayView(stream).sliced(used, std::min<qsizetype>(piece, stream.size() - used)));
    }
    return used;
}

}  // namespace

TEST(WireRequest, FramesExactlyAsTheServiceExpects) {
    EXPECT_EQ(frameRequest(kSharePath, requestBody('T', 0x1234, "ab"), false),
              QByteArray("POST /sharing/mrsharev1.dll\r\nContent-Length: 5\r\n\r\nT\x34\x12"
                         "ab"));
    const auto parsed = parseRequestBody(requestBody('H', 65535, hex("07000000")));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->code, 'H');
    EXPECT_EQ(parsed->sequence, 65535);
    EXPECT_EQ(parsed->payload, hex("07000000"));
}

TEST(WireReply, RecordsAndSplitting) {
    EXPECT_EQ(replyRecord('R', "abc"), hex("0600 52 0000 616263"));
    EXPECT_EQ(endRecord('T', true), hex("0300 54 0000 00"));
    EXPECT_EQ(endRecord('E', false), hex("0300 45 0000"));
    EXPECT_FALSE(parseReplyHeader(hex("0200 52 0000")));

    // A payload larger than one record's 16-bit length is spread over several records.
    const QByteArray big(200000, 'x');
    ReplyReader r(true, false);
    const QByteArray stream = dataRecords('R', big) + endRecord('T', false);
    EXPECT_EQ(feedInPieces(r, stream, 70000), stream.size());
    ASSERT_TRUE(r.complete());
    EXPECT_EQ(r.data(), big);
}

TEST(WireReply, MultiRecordConcatenatesUpToTheEnd) {
    const QByteArray stream = replyRecord('R', QByteArray(10, 'a')) +
                              replyRecord('R', QByteArray(20, 'b')) + endRecord('T', true) + "next";
    for (int piece : {1, 3, 1000}) {
        ReplyReader r(true, true);
        EXPECT_EQ(feedInPieces(r, stream, piece), stream.size() - 4) << piece;
        EXPECT_TRUE(r.complete());
        EXPECT_FALSE(r.errorEnd());
        EXPECT_EQ(r.kind(), 'T');
        EXPECT_EQ(r.data().size(), 30);
    }
}

TEST(WireReply, SingleRecordStopsAfterOneDataRecord) {
    const QByteArray stream = replyRecord('R', "xyz") + replyRecord('R', "more");
    ReplyReader r(false, true);
    EXPECT_EQ(r.feed(stream), 8);
    EXPECT_TRUE(r.complete());
    EXPECT_EQ(r.data(), "xyz");
}

TEST(WireReply, ErrorEndKeepsEarlierDataAndReadsTheExtraByteOnKeepAliveOnly) {
    ReplyReader single(false, true);
    const QByteArray e = endRecord('E', true);
    EXPECT_EQ(single.feed(e), e.size());
    EXPECT_TRUE(single.complete());
    EXPECT_TRUE(single.errorEnd());
    EXPECT_TRUE(single.data().isEmpty());

    ReplyReader oneShot(true, false);
    const QByteArray stream = replyRecord('R', "kept") + endRecord('E', false) + "x";
    EXPECT_EQ(oneShot.feed(stream), stream.size() - 1);
    EXPECT_TRUE(oneShot.errorEnd());
    EXPECT_EQ(oneShot.data(), "kept");
}

TEST(WireReply, HostileRepliesBreakCleanly) {
    ReplyReader shortLength(true, true);
    shortLength.feed(hex("0100 52 0000"));
    EXPECT_TRUE(shortLength.broken());
    EXPECT_EQ(shortLength.bytesWanted(), 0);

    // Growth beyond the cap fails before anything is allocated for it.
    ReplyReader capped(true, false, 100);
    capped.feed(replyRecord('R', QByteArray(90, 'a')));
    capped.feed(hex("1000 52 0000"));
    EXPECT_TRUE(capped.broken());
    EXPECT_LE(capped.data().capacity(), 200);

    // An end record that carries bytes anyway is skipped whole.
    ReplyReader padded(true, true);
    const QByteArray stream = hex("0500 54 0000 AAAA 00");
    EXPECT_EQ(padded.feed(stream), stream.size());
    EXPECT_TRUE(padded.complete());
}

TEST(WireRequestReader, ParsesRequestsBackToBackByteByByte) {
    const QByteArray one = frameRequest(kPingPath, requestBody('?', 2, "p"), true);
    const QByteArray stream = one + "POST /x\ncontent-length: 0\n\n";
    RequestReader r;
    qsizetype used = 0;
    for (qsizetype i = 0; i < stream.size() && r.status() == RequestReader::Status::NeedMore; ++i) {
        used += r.feed(QByteArrayView(stream).sliced(i, 1));
    }
    ASSERT_EQ(r.status(), RequestReader::Status::Ready);
    EXPECT_EQ(used, one.size());
    EXPECT_EQ(r.path(), kPingPath);
    EXPECT_TRUE(r.keepAlive());
    EXPECT_EQ(r.body(), requestBody('?', 2, "p"));
    // Header names in any case, lines ended by a bare LF.
    r.reset();
    EXPECT_EQ(r.feed(QByteArrayView(stream).sliced(used)), stream.size() - used);
    EXPECT_EQ(r.status(), RequestReader::Status::Ready);
    EXPECT_FALSE(r.keepAlive());
}

TEST(WireRequestReader, RejectsMalformedAndOversizedRequests) {
    const char* bad[] = {
        "GET / HTTP/1.0\r\n\r\n",
        "POST /x\r\n\r\n",                              // no length
        "POST /x\r\nContent-Length: 16777217\r\n\r\n",  // above the cap
        "POST /x\r\nContent-Length: -1\r\n\r\n",
        "POST /x\r\nContent-Length: 12abc\r\n\r\n",
        "POST /x\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\n",
        "POST /x\r\nno colon here\r\n\r\n",
    };
    for (const char* text : bad) {
        RequestReader r;
        r.feed(text);
        EXPECT_EQ(r.status(), RequestReader::Status::Broken) << text;
        EXPECT_FALSE(r.error().isEmpty());
    }
    RequestReader longLine;
    longLine.feed(QByteArray("POST /") + QByteArray(kMaxHeaderLine + 10, 'a'));
    EXPECT_EQ(longLine.status(), RequestReader::Status::Broken);
}
