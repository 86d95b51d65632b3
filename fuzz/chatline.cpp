// The chat line splitter and the invitee's answer over arbitrary lines. Split tokens, written
// again as a command, split into the same tokens, but for line breaks, which travel as blanks.
#include "messaging/chatline.h"
#include "fuzz.h"
#include "messaging/ptpchat.h"

using namespace mr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray line(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<QByteArray> tokens = SplitChatLine(line);
    QList<QByteArray> expected = tokens;
    for (QByteArray& token : expected) {
        token.replace('\r', ' ').replace('\n', ' ');
    }
    FUZZ_CHECK(SplitChatLine(BuildChatCommand(0, tokens)) == expected);

    const ChatAnswer answer = ParseChatAnswer(line);
    if (answer.kind == ChatAnswer::Accepted) {
        FUZZ_CHECK(answer.port != 0);
        const ChatAnswer again = ParseChatAnswer(BuildChatAcceptText(answer.port));
        FUZZ_CHECK(again.kind == ChatAnswer::Accepted && again.port == answer.port);
    }
    return 0;
}
