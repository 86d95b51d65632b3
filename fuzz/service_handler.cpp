// Each request of the service fed an arbitrary body: the first input byte says whether the
// caller is signed on, over a keep-alive connection, to which program; the rest is the body
// (code, sequence number, payload). The store lives in a temporary folder made once.
#include "fuzz.h"
#include "presence.h"
#include "service/wire.h"
#include "servicehandler.h"
#include "store.h"

#include <QTemporaryDir>

using namespace mr;
using namespace mr::server;

namespace {

struct World {
    QTemporaryDir dir;
    Store store;
    int member = 0;
    int other = 0;

    World() {
        QString error;
        FUZZ_CHECK(dir.isValid() && store.open(dir.path(), &error));
        // Keeps the catalog, and each search through it, small.
        store.setMaxEntriesPerUser(200);
        member = store.createAccount(QStringLiteral("bob"), QStringLiteral("pw"));
        other = store.createAccount(QStringLiteral("cy"), QStringLiteral("pw"));
        FUZZ_CHECK(member > 0 && other > 0);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    const fuzz::Input in = fuzz::split(data, size);
    Presence presence;
    presence.signOn(world.other, {QStringLiteral("10.0.0.7"), 1111, 2222, 99}, 0);
    Session session{1, QStringLiteral("10.0.0.5"), 0};
    if (in.choice & 1) {
        session.userId = world.member;
        presence.signOn(world.member, {session.peerAddress, 1111, 2222, session.id}, 0);
    }
    ServiceRequest request;
    request.keepAlive = in.choice & 2;
    request.path = (in.choice & 4) ? wire::kSharePath : wire::kPingPath;
    request.body = in.rest;

    const Reply reply = handleRequest(world.store, presence, session, request);
    encodeReply(reply, request.keepAlive);
    // The store's threads answer these the same way, from a snapshot of who is present.
    if (const auto work = storeRequest(request); work && work->kind == StoreRequest::Kind::Read) {
        const Reply again = readStore(world.store, presence.snapshot(), *work);
        FUZZ_CHECK(again.kind == reply.kind && again.payload == reply.payload);
    }
    endSession(presence, session);
    return 0;
}
