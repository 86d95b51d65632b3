#include "servicehandler.h"

#include "core/fields.h"
#include "core/record.h"
#include "patterns.h"
#include "service/wire.h"

#include <QHash>

#include <algorithm>
#include <limits>
#include <optional>

namespace mr::server {

namespace {

using Kind = Reply::Kind;

QByteArray pack(std::string_view format, std::initializer_list<PackValue> values) {
    return PackRecord(format, values).bytes;
}

// The catalog never holds an empty name or one that would read as a path.
bool validName(const QByteArray& name) {
    return !name.isEmpty() && name.size() <= kMaxEntryName && !name.contains('/');
}

bool validFolder(const QByteArray& folder) {
    if (folder.isEmpty()) {
        return true;
    }
    if (folder.size() > kMaxFolderPath) {
        return false;
    }
    return std::ranges::none_of(folder.split('/'),
                                [](const QByteArray& part) { return part.isEmpty(); });
}

bool signedOn(const Session& session, const ServiceRequest& request) {
    return request.keepAlive && session.userId != 0;
}

Reply login(Store& store, Presence& presence, Session& session, const ServiceRequest& request,
            const QByteArray& payload) {
    std::int32_t id = 0;
    QByteArray password;
    std::uint16_t infoPort = 0;
    std::uint16_t filePort = 0;
    // Presence lasts as long as the connection, so only a keep-alive one can carry it.
    if (!request.keepAlive ||
        !UnpackRecord(payload, "IAWW", {&id, &password, &infoPort, &filePort}).ok() || id <= 0 ||
        !store.checkPassword(id, TextFromPeer(password))) {
        return Reply::error();
    }
    if (session.userId != 0 && session.userId != id) {
        presence.signOff(session.userId, session.id);
    }
    session.userId = id;
    presence.signOn(id, {session.peerAddress, infoPort, filePort, session.id}, store.fileCount(id));
    return Reply::multi();
}

Reply profile(Store& store, const Session& session, const QByteArray& payload) {
    QString first, last, email, country, sex, message, languages, homepage;
    QByteArray password;
    std::uint8_t connection = 0;
    std::uint8_t showInfo = 0;
    double birthDate = 0;
    if (!UnpackRecord(payload, "AAAAABDAAAAB",
                      {&first, &last, &email, &country, &password, &connection, &birthDate, &sex,
                       &message, &languages, &homepage, &showInfo})
             .ok()) {
        return Reply::error();
    }
    ProfileUpdate u;
    u.firstName = first;
    u.lastName = last;
    u.email = email;
    u.country = country;
    // The preferences send the password with the profile: a new one replaces the old.
    if (!password.isEmpty()) {
        u.password = TextFromPeer(password);
    }
    u.connection = connection;
    u.birthDate = birthDate;
    u.sex = sex;
    u.message = message;
    u.languages = languages;
    u.homepage = homepage;
    u.showInfo = showInfo != 0;
    if (!u.withinLimits() || !store.updateProfile(session.userId, u)) {
        return Reply::error();
    }
    return Reply::single(pack("I", {session.userId}));
}

Reply locate(const Presence& presence, const QByteArray& payload) {
    std::int32_t id = 0;
    if (!UnpackRecord(payload, "I", {&id}).ok()) {
        return Reply::error();
    }
    const PresenceEntry* p = presence.find(id);
    if (!p) {
        return Reply::single(pack("AWW", {"", 0, 0}));
    }
    return Reply::single(pack("AWW", {p->address, p->infoPort, p->filePort}));
}

Reply listing(const Store& store, const QByteArray& payload) {
    std::int32_t owner = 0;
    QByteArray folder;
    if (!UnpackRecord(payload, "IA", {&owner, &folder}).ok()) {
        return Reply::error();
    }
    QByteArray out;
    for (const CatalogEntry& e : store.listFolder(owner, normalizeFolder(folder))) {
        out.append('F');
        out.append(pack("IIDWBAAA", {e.owner, e.size, e.date, 0, e.hasPassword ? 1 : 0, e.folder,
                                     e.name, e.description}));
    }
    return Reply::multi(out);
}

Reply search(const Store& store, const QHash<int, PresenceEntry>& present,
             const QByteArray& payload) {
    CatalogQuery q;
    std::uint8_t onlineOnly = 0;
    std::uint8_t limit = 0;
    std::uint8_t lineSpeed = 0;
    if (!UnpackRecord(payload, "AAIIABBB",
                      {&q.name, &q.description, &q.minSize, &q.maxSize, &q.extensions, &onlineOnly,
                       &limit, &lineSpeed})
             .ok() ||
        q.name.size() > kMaxPatternLength || q.description.size() > kMaxPatternLength ||
        q.extensions.size() > kMaxPatternLength) {
        return Reply::error();
    }
    q.onlineOnly = onlineOnly != 0;
    q.limit = limit == 0 ? kDefaultSearchResults : limit;

    QList<int> presentIds = present.keys();
    std::sort(presentIds.begin(), presentIds.end());
    QHash<int, std::optional<Account>> owners;
    QByteArray out;
    for (const CatalogEntry& e : store.search(q, presentIds)) {
        auto it = owners.find(e.owner);
        if (it == owners.end()) {
            it = owners.insert(e.owner, store.account(e.owner));
        }
        if (!*it) {
            continue;
        }
        const Account& a = **it;
        const auto p = present.constFind(e.owner);
        const bool online = p != present.constEnd();
        out.append(pack(
            "IIDWBAAAAAWWBB",
            {e.owner, e.size, e.date, 0, e.hasPassword ? 1 : 0, e.folder, e.name, e.description,
             online ? p->address : QString(), a.nickname, online ? p->filePort : 0,
             online ? p->infoPort : 0, a.connection, online ? 1 : 0}));
    }
    return Reply::multi(out);
}

Reply userSearch(const Store& store, const QHash<int, PresenceEntry>& present,
                 const QByteArray& payload) {
    QString nick, first, last, email;
    if (!UnpackRecord(payload, "AAAA", {&nick, &first, &last, &email}).ok()) {
        return Reply::error();
    }
    for (const QString* p : {&nick, &first, &last, &email}) {
        if (p->size() > kMaxPatternLength) {
            return Reply::error();
        }
    }
    const LikePattern byNick(nick);
    const LikePattern byFirst(first);
    const LikePattern byLast(last);
    const LikePattern byEmail(email);
    QByteArray out;
    int found = 0;
    store.forEachAccount([&](const Account& a) {
        // A member who hides his profile is found by nickname only.
        const QString f = a.showInfo ? a.firstName : QString();
        const QString l = a.showInfo ? a.lastName : QString();
        const QString m = a.showInfo ? a.email : QString();
        if (byNick.matches(a.nickname) && byFirst.matches(f) && byLast.matches(l) &&
            byEmail.matches(m)) {
            out.append(pack("IAAAAB", {a.id, a.nickname, f, l, m, present.contains(a.id) ? 1 : 0}));
            ++found;
        }
        return found < kMaxUserResults;
    });
    return Reply::multi(out);
}

Reply userInfo(const Store& store, const QByteArray& payload) {
    std::int32_t id = 0;
    if (!UnpackRecord(payload, "I", {&id}).ok()) {
        return Reply::error();
    }
    const auto a = store.account(id);
    if (!a) {
        return Reply::error();
    }
    const bool show = a->showInfo;
    auto visible = [show](const QString& v) { return show ? v : QString(); };
    const int gender = show && (a->sex == u"M" || a->sex == u"F") ? a->sex[0].toLatin1() : 0;
    return Reply::single(pack(
        "AAAAABDBAAAI",
        {visible(a->firstName), visible(a->lastName), a->nickname, a->country, visible(a->email),
         a->connection, show ? a->birthDate : 0.0, gender, visible(a->languages),
         visible(a->message), visible(a->homepage), store.fileCount(a->id)}));
}

Reply contactsPoll(const Store& store, const Presence& presence, const Session& session) {
    QByteArray out;
    for (int id : store.contacts(session.userId)) {
        out.append('C');
        out.append(pack("IB", {id, presence.isPresent(id) ? 1 : 0}));
    }
    out.append('Q');
    const auto onlineFiles = static_cast<std::int32_t>(
        std::min<qint64>(presence.onlineFiles(), std::numeric_limits<std::int32_t>::max()));
    out.append(
        pack("IIII", {onlineFiles, store.fileCount(), presence.count(), store.accountCount()}));
    return Reply::multi(out);
}

Reply addContact(Store& store, const Session& session, const QByteArray& payload) {
    QString nickname;
    if (!UnpackRecord(payload, "A", {&nickname}).ok()) {
        return Reply::error();
    }
    const int id = store.idOfNickname(nickname.trimmed());
    if (id != 0 && id != session.userId && !store.addContact(session.userId, id)) {
        return Reply::error();
    }
    return Reply::single(pack("I", {id}));
}

Reply removeContact(Store& store, const Session& session, const QByteArray& payload) {
    std::int32_t id = 0;
    if (!UnpackRecord(payload, "I", {&id}).ok() || !store.removeContact(session.userId, id)) {
        return Reply::error();
    }
    return Reply::multi();
}

}  // namespace

void catalogChanged(const Store& store, Presence& presence, const QByteArray& payload) {
    std::uint8_t tag = 0;
    std::int32_t owner = 0;
    if (UnpackRecord(payload, "BI", {&tag, &owner}).ok()) {
        presence.setFiles(owner, store.fileCount(owner));
    }
}

Reply changeCatalog(Store& store, const QByteArray& payload) {
    QByteArrayView rest(payload);
    std::uint8_t tag = 0;
    std::int32_t owner = 0;
    QByteArray password;
    UnpackResult r = UnpackRecord(rest, "BIA", {&tag, &owner, &password});
    if (!r.ok() || tag != 'L' || owner <= 0 ||
        !store.checkPassword(owner, TextFromPeer(password))) {
        return Reply::error();
    }
    rest = rest.sliced(r.consumed);
    QList<QByteArray> removals;
    QList<CatalogEntry> additions;
    while (!rest.isEmpty()) {
        tag = static_cast<std::uint8_t>(rest[0]);
        rest = rest.sliced(1);
        if (tag == 'R') {
            QByteArray path;
            r = UnpackRecord(rest, "A", {&path});
            path = normalizeFolder(path);
            if (!r.ok() || path.isEmpty() || !validFolder(path)) {
                return Reply::error();
            }
            removals.append(path);
        } else if (tag == 'A') {
            CatalogEntry e;
            std::uint16_t reserved = 0;
            std::uint8_t hasPassword = 0;
            r = UnpackRecord(
                rest, "IDWBAAA",
                {&e.size, &e.date, &reserved, &hasPassword, &e.folder, &e.name, &e.description});
            e.owner = owner;
            e.hasPassword = hasPassword != 0;
            e.folder = normalizeFolder(e.folder);
            if (!r.ok() || !validName(e.name) || !validFolder(e.folder) ||
                e.description.size() > kMaxDescription) {
                return Reply::error();
            }
            additions.append(e);
        } else {
            return Reply::error();
        }
        rest = rest.sliced(r.consumed);
    }
    const auto result = store.applyShareChanges(owner, removals, additions);
    if (!result) {
        return Reply::error();
    }
    return Reply::single(pack("II", {result->removed, result->added}));
}

std::optional<StoreRequest> storeRequest(const ServiceRequest& request) {
    const auto body = wire::parseRequestBody(request.body);
    if (!body) {
        return std::nullopt;
    }
    if (request.path.compare(wire::kSharePath, Qt::CaseInsensitive) == 0) {
        if (body->code == 'T') {
            return StoreRequest{StoreRequest::Kind::Change, body->code, body->payload};
        }
    } else if (request.path.compare(wire::kPingPath, Qt::CaseInsensitive) == 0) {
        if (body->code == 'S' || body->code == 'V' || body->code == 'F') {
            return StoreRequest{StoreRequest::Kind::Read, body->code, body->payload};
        }
    }
    return std::nullopt;
}

Reply readStore(const Store& store, const QHash<int, PresenceEntry>& present,
                const StoreRequest& request) {
    switch (request.code) {
        case 'S':
            return search(store, present, request.payload);
        case 'V':
            return userSearch(store, present, request.payload);
        case 'F':
            return listing(store, request.payload);
        default:
            return Reply::error();
    }
}

QByteArray normalizeFolder(const QByteArray& path) {
    qsizetype from = 0;
    qsizetype to = path.size();
    while (from < to && path[from] == '/') {
        ++from;
    }
    while (to > from && path[to - 1] == '/') {
        --to;
    }
    return path.mid(from, to - from);
}

Reply handleRequest(Store& store, Presence& presence, Session& session,
                    const ServiceRequest& request) {
    const auto body = wire::parseRequestBody(request.body);
    if (!body) {
        return Reply::error();
    }
    const bool toShare = request.path.compare(wire::kSharePath, Qt::CaseInsensitive) == 0;
    const bool toPing = request.path.compare(wire::kPingPath, Qt::CaseInsensitive) == 0;
    if (body->code == 'T') {
        if (!toShare) {
            return Reply::error();
        }
        Reply reply = changeCatalog(store, body->payload);
        if (reply.kind != Kind::Error) {
            catalogChanged(store, presence, body->payload);
        }
        return reply;
    }
    if (!toPing) {
        return Reply::error();
    }
    const QByteArray& payload = body->payload;
    switch (body->code) {
        case 'L':
            return login(store, presence, session, request, payload);
        case 'Q': {
            endSession(presence, session);
            return {Kind::None, {}, true};
        }
        case 'H':
            return locate(presence, payload);
        case 'F':
            return listing(store, payload);
        case 'S':
            return search(store, presence.snapshot(), payload);
        case 'V':
            return userSearch(store, presence.snapshot(), payload);
        case 'I':
            return userInfo(store, payload);
        default:
            break;
    }
    if (!signedOn(session, request)) {
        return Reply::error();
    }
    switch (body->code) {
        case '?':
            return profile(store, session, payload);
        case 'C':
            return contactsPoll(store, presence, session);
        case 'A':
            return addContact(store, session, payload);
        case 'D':
            return removeContact(store, session, payload);
        default:
            return Reply::error();
    }
}

void endSession(Presence& presence, Session& session) {
    if (session.userId != 0) {
        presence.signOff(session.userId, session.id);
        session.userId = 0;
    }
}

QByteArray encodeReply(const Reply& reply, bool keepAlive) {
    switch (reply.kind) {
        case Kind::Single:
            if (reply.payload.size() > wire::kMaxRecordPayload) {
                return wire::endRecord('E', keepAlive);
            }
            return wire::replyRecord(kDataKind, reply.payload);
        case Kind::Multi: {
            QByteArray out;
            if (!reply.payload.isEmpty()) {
                out = wire::dataRecords(kDataKind, reply.payload);
            }
            return out + wire::endRecord('T', keepAlive);
        }
        case Kind::Error:
            return wire::endRecord('E', keepAlive);
        case Kind::None:
            break;
    }
    return {};
}

}  // namespace mr::server
