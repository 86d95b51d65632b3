// The FTP dialect's line reader over an arbitrary stream, fed as a socket delivers it, and each
// line split as the server and the client read it.
#include "fuzz.h"
#include "net/ftpwire.h"

using namespace mr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input in = fuzz::split(data, size);
    const int maxLength = 16 + in.choice * 4;
    LineFramer framer(maxLength);
    fuzz::inPieces(in.rest, in.choice, [&](QByteArrayView piece) {
        const bool fits = framer.feed(piece.toByteArray());
        while (const auto line = framer.next()) {
            FUZZ_CHECK(!line->contains('\n') && line->size() <= maxLength);
            const FtpCommandLine command = SplitCommandLine(*line);
            FUZZ_CHECK(command.params.size() <= kMaxParamLength);
            FUZZ_CHECK(!command.keyword.contains(' '));
            PathParameter(command.params);
            LeadingNumber(*line);
        }
        // An over-long line ends the stream, whether the framer sees it arriving or whole.
        FUZZ_CHECK(fits || framer.overflowed());
        return !framer.overflowed();
    });
    return 0;
}
