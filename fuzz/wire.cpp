// The agent's reply reader over an arbitrary stream, fed as a socket delivers it, on either
// channel and for single- and multi-record requests.
#include "service/wire.h"
#include "fuzz.h"

using namespace mr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input in = fuzz::split(data, size);
    constexpr qsizetype kMax = 64 * 1024;
    wire::ReplyReader reader(in.choice & 1, in.choice & 2, kMax);
    fuzz::inPieces(in.rest, in.choice, [&](QByteArrayView piece) {
        const qsizetype took = reader.feed(piece);
        FUZZ_CHECK(took >= 0 && took <= piece.size());
        // Bytes after the end of the reply belong to the next one and stay unread.
        FUZZ_CHECK(took == piece.size() || reader.bytesWanted() == 0);
        return reader.bytesWanted() > 0;
    });
    const bool open = reader.bytesWanted() > 0;
    FUZZ_CHECK(open || reader.feed("more") == 0);
    FUZZ_CHECK(reader.data().size() <= kMax);
    FUZZ_CHECK(!(reader.complete() && reader.broken()));
    // A multi-record reply ends only with its end record.
    if (reader.complete() && (in.choice & 1)) {
        FUZZ_CHECK(reader.kind() == 'T' || reader.kind() == 'E');
    }

    if (const auto body = wire::parseRequestBody(in.rest)) {
        FUZZ_CHECK(wire::requestBody(body->code, body->sequence, body->payload) == in.rest);
    }
    if (const auto header = wire::parseReplyHeader(in.rest)) {
        FUZZ_CHECK(header->length >= 3);
    }
    return 0;
}
