// The info socket's message reader over arbitrary data. A message or chat request it reads,
// written again, reads as the same request.
#include "fuzz.h"
#include "messaging/infoprotocol.h"

#include <QRegularExpression>

using namespace mr;

namespace {

bool sameRequest(const InfoRequest& a, const InfoRequest& b) {
    return a.kind == b.kind && a.userId == b.userId && a.nickname == b.nickname &&
           a.port == b.port && a.text == b.text;
}

// The nickname travels as it is, so only one that needs no escaping can come back whole.
bool plainNickname(const QString& nickname) {
    return !nickname.isEmpty() && nickname != QLatin1String("*") &&
           !nickname.contains(QRegularExpression(QStringLiteral("[ \\\\*\\r\\n]")));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const InfoRequest request = ParseInfoRequest(bytes);
    FUZZ_CHECK((request.kind == InfoKind::Malformed) == !request.error.isEmpty());
    if (request.kind == InfoKind::Message && plainNickname(request.nickname)) {
        const QByteArray again =
            BuildMessageText(request.userId, request.nickname, request.port, request.text);
        FUZZ_CHECK(sameRequest(ParseInfoRequest(again), request));
    } else if (request.kind == InfoKind::ChatRequest && plainNickname(request.nickname)) {
        const QByteArray again = BuildChatRequestText(request.nickname, request.text);
        FUZZ_CHECK(sameRequest(ParseInfoRequest(again), request));
    }
    return 0;
}
