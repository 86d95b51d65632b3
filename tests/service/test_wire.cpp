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
}

// A multi-record reply runs to its end record, a single-record one stops after one data record,
// however the bytes arrive.
TEST(WireReply, MultiRecordRunsToTheEndSingleRecordStopsAfterOne) {
    const QByteArray stream = replyRecord('R', QByteArray(10, 'a')) +
                              replyRecord('R', QByteArray(20, 'b')) + endRecord('T', true) + "next";
    for (int piece : {1, 3, 1000}) {
        ReplyReader r(true, true);
        EXPECT_EQ(feedInPieces(r, stream, piece), stream.size() - 4) << piece;
        EXPECT_TRUE(r.complete());
        EXPECT_FALSE(r.errorEnd());
        EXPECT_EQ(r.kind(), 'T');
        EXPECT_EQ(r.data(), QByteArray(10, 'a') + QByteArray(20, 'b'));
        ReplyReader single(false, true);
        EXPECT_EQ(feedInPieces(single, stream, piece), 15);
        EXPECT_EQ(single.data(), QByteArray(10, 'a'));
    }
}

// A one-shot error end has no extra byte; what came before it is kept.
TEST(WireReply, OneShotErrorEndKeepsEarlierData) {
    ReplyReader oneShot(true, false);
    const QByteArray stream = replyRecord('R', "kept") + endRecord('E', false) + "x";
    EXPECT_EQ(oneShot.feed(stream), stream.size() - 1);
    EXPECT_TRUE(oneShot.errorEnd());
    EXPECT_EQ(oneShot.data(), "kept");
}

TEST(WireReply, HostileRepliesBreakCleanly) {
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

TEST(WireRequestReader, RejectsMalformedAndOversizedRequests) {
    const char* bad[] = {
        "GET / HTTP/1.0\r\n\r\n",
        "POST /x\r\n\r\n",                              // no length
        "POST /x\r\nContent-Length: 16777217\r\n\r\n",  // above the cap
        "POST /x\r\nContent-Length: -1\r\n\r\n",
        "POST /x\r\nContent-Length: 12abc\r\n\r\n",
        "POST /x\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\n",
        "POST /x\r\nno colon here\r\n\r\n",
        "POST  \t \r\nContent-Length: 0\r\n\r\n",  // blanks where the path belongs
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
