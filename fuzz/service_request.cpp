// The service's request reader over an arbitrary stream of requests, fed as a socket delivers
// it. Every request read must frame again into the same request.
#include "fuzz.h"
#include "service/wire.h"

using namespace mr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input in = fuzz::split(data, size);
    wire::RequestReader reader;
    fuzz::inPieces(in.rest, in.choice, [&](QByteArrayView piece) {
        while (!piece.isEmpty()) {
            const qsizetype took = reader.feed(piece);
            FUZZ_CHECK(took >= 0 && took <= piece.size());
            piece = piece.sliced(took);
            if (reader.status() == wire::RequestReader::Status::Broken) {
                return false;
            }
            if (reader.status() == wire::RequestReader::Status::Ready) {
                FUZZ_CHECK(reader.body().size() <= wire::kMaxRequestBody);
                wire::RequestReader again;
                const QByteArray framed =
                    wire::frameRequest(reader.path(), reader.body(), reader.keepAlive());
                FUZZ_CHECK(again.feed(framed) == framed.size());
                FUZZ_CHECK(again.status() == wire::RequestReader::Status::Ready);
                FUZZ_CHECK(again.path() == reader.path() && again.body() == reader.body() &&
                           again.keepAlive() == reader.keepAlive());
                reader.reset();
            } else {
                // A reader that wants more has taken everything it was given.
                FUZZ_CHECK(piece.isEmpty());
            }
        }
        return true;
    });
    return 0;
}
