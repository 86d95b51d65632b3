#pragma once

#include "presence.h"
#include "store.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>

namespace mr::server {

// Every data record of a reply carries this kind; only "T" and "E" mean something to readers.
inline constexpr char kDataKind = 'R';
// Search results when a request asks for 0; the request's byte caps them at 255 anyway.
inline constexpr int kDefaultSearchResults = 100;
inline constexpr int kMaxUserResults = 500;

// What one service connection knows about its caller.
struct Session {
    std::uint64_t id = 0;
    QString peerAddress;
    int userId = 0;  // signed on over this connection; 0 when not
};

struct ServiceRequest {
    QByteArray path;
    bool keepAlive = false;
    QByteArray body;  // code, sequence number, payload
};

struct Reply {
    enum class Kind { Single, Multi, Error, None };
    Kind kind = Kind::Error;
    QByteArray payload;
    bool closeAfter = false;  // end the connection once the reply is out

    static Reply single(const QByteArray& payload) { return {Kind::Single, payload, false}; }
    static Reply multi(const QByteArray& payload = {}) { return {Kind::Multi, payload, false}; }
    static Reply error() { return {Kind::Error, {}, false}; }
};

// Answers one request. "L", "?", "C", "A", "D" and "Q" act for the member signed on over a
// keep-alive connection; "T" carries its own login record; "H", "F", "S", "V", "I" need
// nobody. Anything the request does not allow gets an error reply.
Reply handleRequest(Store& store, Presence& presence, Session& session,
                    const ServiceRequest& request);

// A request answered from the store alone, off the event loop: a file search, user search or
// folder listing (by a reader, with a snapshot of who is present) or a change of a member's
// catalog (by the writer).
struct StoreRequest {
    enum class Kind { Read, Change };
    Kind kind = Kind::Read;
    char code = 0;
    QByteArray payload;
};
// Nothing for any other request.
std::optional<StoreRequest> storeRequest(const ServiceRequest& request);

// Answers a read request from the store, which may be a reader connection of its own.
Reply readStore(const Store& store, const QHash<int, PresenceEntry>& present,
                const StoreRequest& request);
// A login record, then removal ("R", path) and addition ("A", entry) records.
Reply changeCatalog(Store& store, const QByteArray& payload);
// Once changeCatalog has succeeded, on the thread that keeps presence: the owner's files
// count anew among those present.
void catalogChanged(const Store& store, Presence& presence, const QByteArray& payload);

// The connection is gone: its member, if any, is no longer present.
void endSession(Presence& presence, Session& session);

// The reply as records: one data record for Single, data records then "T" for Multi, "E" for
// Error, nothing for None; "T" and "E" are followed by one more byte on a keep-alive channel.
QByteArray encodeReply(const Reply& reply, bool keepAlive);

// A folder path as the catalog keeps it: slashes at either end removed. Blanks belong to the
// names, so "Live " and " " are folders of their own.
QByteArray normalizeFolder(const QByteArray& path);

}  // namespace mr::server
