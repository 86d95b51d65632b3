// The web server's request parser over an arbitrary stream, fed as a socket delivers it; a
// request it reads is answered against a store in a temporary folder made once.
#include "fuzz.h"
#include "httprequest.h"
#include "store.h"
#include "webhandler.h"

#include <QTemporaryDir>

using namespace mr;
using namespace mr::server;

namespace {

struct World {
    QTemporaryDir dir;
    Store store;

    World() {
        QString error;
        FUZZ_CHECK(dir.isValid() && store.open(dir.path(), &error));
        FUZZ_CHECK(store.createAccount(QStringLiteral("bob"), QStringLiteral("pw")) > 0);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    static const WebSite site;
    const fuzz::Input in = fuzz::split(data, size);
    HttpRequestParser parser;
    qsizetype used = 0;
    fuzz::inPieces(in.rest, in.choice, [&](QByteArrayView piece) {
        const qsizetype took = parser.feed(piece);
        FUZZ_CHECK(took >= 0 && took <= piece.size());
        used += took;
        return parser.status() == HttpRequestParser::Status::NeedMore;
    });
    // The byte that passes the limit is the last one taken.
    FUZZ_CHECK(used <= kMaxHttpHead + 1);
    if (parser.status() == HttpRequestParser::Status::Ready) {
        parser.header("host");
        const HttpResponse response =
            handleWebRequest(world.store, site, parser.method(), parser.target());
        FUZZ_CHECK(response.status >= 100 && response.status <= 599);
        encodeResponse(response);
    }
    percentDecode(in.rest);
    return 0;
}
