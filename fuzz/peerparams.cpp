// The parameters of the peers' commands and answers: a file request, a data endpoint and the
// owner's verdict. What reads as a value must write and read back as the same value.
#include "fuzz.h"
#include "net/ftpwire.h"
#include "transfer/peerdialect.h"

using namespace mr;

namespace {

bool operator==(const ReqfParams& a, const ReqfParams& b) {
    return a.path == b.path && a.resumeOffset == b.resumeOffset &&
           a.callbackPort == b.callbackPort && a.requesterId == b.requesterId &&
           a.requesterName == b.requesterName;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input in = fuzz::split(data, size);
    switch (in.choice % 3) {
        case 0: {
            const QString owner = QStringLiteral("owner");
            const ReqfParse parsed = ParseReqfParameter(in.rest, owner);
            FUZZ_CHECK(parsed.params.has_value() == parsed.error.isEmpty());
            if (parsed.params) {
                const ReqfParse again =
                    ParseReqfParameter(BuildReqfParameter(*parsed.params), owner);
                FUZZ_CHECK(again.params && *again.params == *parsed.params);
                const auto [folder, file] = SplitSharePath(parsed.params->path);
                FUZZ_CHECK(folder + file == parsed.params->path);
                IsSafeLocalFileName(file);
            }
            break;
        }
        case 1:
            if (const auto endpoint = ParsePortArgument(in.rest)) {
                const auto again = ParsePortArgument(FormatPortArgument(*endpoint));
                FUZZ_CHECK(again && again->ipv4 == endpoint->ipv4 && again->port == endpoint->port);
            }
            break;
        default:
            if (const auto code = VerdictCode(in.rest)) {
                VerdictState(*code);
            }
            if (const auto total = VerdictSize(in.rest)) {
                FUZZ_CHECK(*total >= 0);
            }
            break;
    }
    return 0;
}
