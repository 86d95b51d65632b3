// One SMTP dialogue with arbitrary input, fed as a socket delivers it: every reply is a line
// with a three-digit code, and a kept mail stays within the sink's limits.
#include "fuzz.h"
#include "smtpsink.h"

using namespace mr;
using namespace mr::server;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input in = fuzz::split(data, size);
    int kept = 0;
    SmtpSession session("sink.test", [&](const ReceivedMail& mail) -> std::optional<QString> {
        FUZZ_CHECK(mail.recipients.size() >= 1 && mail.recipients.size() <= kMaxMailRecipients);
        FUZZ_CHECK(mail.data.size() <= kMaxMailBytes);
        if (in.choice & 1) {
            return std::nullopt;
        }
        return QString::number(++kept);
    });
    QByteArray replies = session.greeting();
    fuzz::inPieces(in.rest, in.choice, [&](QByteArrayView piece) {
        replies += session.feed(piece);
        return true;
    });
    FUZZ_CHECK(replies.endsWith("\r\n"));
    const QList<QByteArray> lines = replies.split('\n');
    for (qsizetype n = 0; n + 1 < lines.size(); ++n) {
        const QByteArray& line = lines[n];
        FUZZ_CHECK(line.size() >= 5 && line.indexOf('\r') == line.size() - 1);
        for (int i = 0; i < 3; ++i) {
            FUZZ_CHECK(line[i] >= '0' && line[i] <= '9');
        }
        FUZZ_CHECK(line[3] == ' ' || line[3] == '-');
    }
    return 0;
}
