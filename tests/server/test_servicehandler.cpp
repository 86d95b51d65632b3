#include "core/record.h"
#include "serverfixture.h"
#include "service/wire.h"
#include "serviceserver.h"
#include "storeworkers.h"
#include "testutil.h"

#include <QTcpSocket>

#include <array>

using namespace mr;
using server::Reply;
using test::hex;
using test::pack;
using Kind = Reply::Kind;

namespace {

class ServiceHandler : public test::ServerFixture {
protected:
    // A share-list body: the login record, then the given records.
    QByteArray share(int user, const PackValue& password, const QByteArray& records) {
        return pack("BIA", {'L', user, password}) + records;
    }
    QByteArray addition(const QByteArray& folder, const QByteArray& name, int size,
                        const QByteArray& description = " ", int hasPassword = 0, double date = 0) {
        return pack("BIDWBAAA", {'A', size, date, 0, hasPassword, folder, name, description});
    }
    QByteArray removal(const QByteArray& path) { return pack("BA", {'R', path}); }

    QStringList names(int user, const QByteArray& folder) {
        QStringList out;
        for (const auto& e : m_store.listFolder(user, folder)) {
            out << QString::fromUtf8(e.name);
        }
        return out;
    }

    QStringList searchNames(const QByteArray& payload) {
        const Reply r = ask('S', payload);
        EXPECT_EQ(r.kind, Kind::Multi);
        QStringList out;
        std::int32_t i = 0;
        double d = 0;
        std::uint16_t w = 0;
        std::uint8_t b = 0;
        QByteArray skip;
        QString name;
        QByteArrayView rest(r.payload);
        UnpackResult u;
        while (!rest.isEmpty() && (u = UnpackRecord(rest, "IITWBAAAAAWWBB",
                                                    {&i, &i, &d, &w, &b, &skip, &name, &skip, &skip,
                                                     &skip, &w, &w, &b, &b}))
                                      .ok()) {
            out << name;
            rest = rest.sliced(u.consumed);
        }
        EXPECT_TRUE(rest.isEmpty()) << "a broken search record";
        return out;
    }

    // A '?' payload: names, e-mail, country, password, connection, birth date, sex, message,
    // languages, home page, shown.
    static QByteArray profile(std::initializer_list<PackValue> fields) {
        return pack("AAAAABDAAAAB", fields);
    }

    static QByteArray criteria(const QString& name, const QString& description = "%%",
                               int minSize = -2, int maxSize = -2, const QString& ext = "%",
                               int onlineOnly = 0, int limit = 100) {
        return pack("AAIIABBB", {name, description, minSize, maxSize, ext, onlineOnly, limit, 0});
    }
};

// A member is present from a keep-alive sign-on until its connection ends; the most recent
// live sign-on is located, and when it ends his previous one is again.
TEST_F(ServiceHandler, PresenceIsKeptPerConnection) {
    const int bob = newAccount("bob", "secret");
    const int cy = newAccount("cy");
    auto where = [this](int user) { return ask('H', pack("I", {user})).payload; };
    // What searches see off the event loop is what a look-up sees.
    auto snapshotAgrees = [this] {
        const auto snapshot = m_presence.snapshot();
        bool same = snapshot.size() == m_presence.count();
        for (auto it = snapshot.constBegin(); it != snapshot.constEnd(); ++it) {
            const server::PresenceEntry* entry = m_presence.find(it.key());
            same = same && entry && entry->session == it->session &&
                   entry->address == it->address && entry->infoPort == it->infoPort;
        }
        return same;
    };
    server::Session first{1, "192.168.1.20", 0};
    EXPECT_EQ(server::encodeReply(call(first, 'L', pack("IAWW", {bob, "wrong", 10, 11})), true),
              hex("0300 45 0000 00"));
    EXPECT_EQ(call(first, 'L', pack("IAWW", {bob, "secret", 10, 11}), false).kind, Kind::Error);
    EXPECT_EQ(where(bob), hex("00 0000 0000"));
    const Reply ok = call(first, 'L', pack("IAWW", {bob, "secret", 4000, 4001}));
    EXPECT_EQ(server::encodeReply(ok, true), hex("0300 54 0000 00"));
    EXPECT_EQ(server::encodeReply(ask('H', pack("I", {bob})), false),
              hex("1400 52 0000") + QByteArray("192.168.1.20", 13) + hex("A00F A10F"));

    // A second sign-on, then its sign-off: the first connection is present again.
    server::Session second = signOn(bob, "10.0.0.2", 20, 21);
    EXPECT_EQ(where(bob), pack("AWW", {"10.0.0.2", 20, 21}));
    EXPECT_TRUE(server::encodeReply(call(second, 'Q', {}), true).isEmpty());  // no reply
    EXPECT_EQ(where(bob), pack("AWW", {"192.168.1.20", 4000, 4001}));
    server::endSession(m_presence, second);
    EXPECT_EQ(where(bob), pack("AWW", {"192.168.1.20", 4000, 4001}));
    EXPECT_TRUE(snapshotAgrees());

    // The older connection ending leaves the newer one; signing on again over a connection
    // replaces its own entry, and signing on as somebody else there ends the former member.
    server::Session third = signOn(bob, "10.0.0.3", 30, 31);
    call(first, 'L', pack("IAWW", {bob, "secret", 12, 13}));
    EXPECT_EQ(where(bob), pack("AWW", {"192.168.1.20", 12, 13}));
    server::endSession(m_presence, first);
    EXPECT_EQ(where(bob), pack("AWW", {"10.0.0.3", 30, 31}));
    EXPECT_TRUE(snapshotAgrees());
    call(third, 'L', pack("IAWW", {cy, "pw", 40, 41}));
    EXPECT_FALSE(m_presence.isPresent(bob));
    EXPECT_EQ(m_presence.count(), 1);
    EXPECT_TRUE(snapshotAgrees());
    server::endSession(m_presence, third);
    EXPECT_EQ(m_presence.count(), 0);
}

TEST_F(ServiceHandler, RepliesAreFramedAsReadersExpect) {
    // A long multi-record reply is split to fit the 16-bit length and read back whole.
    const QByteArray big(150000, 'x');
    wire::ReplyReader reader(true, true);
    const QByteArray bytes = server::encodeReply(Reply::multi(big), true);
    EXPECT_EQ(reader.feed(bytes), bytes.size());
    EXPECT_EQ(reader.data(), big);
    // A single-record reply is exactly one data record; one too long for it is an error.
    EXPECT_EQ(server::encodeReply(Reply::single("ab"), true), hex("0500 52 0000 6162"));
    EXPECT_EQ(server::encodeReply(Reply::single(QByteArray(70000, 'y')), false),
              hex("0300 45 0000"));
}

TEST_F(ServiceHandler, MalformedRequestsGetAnError) {
    const int carol = newAccount("carol");
    server::Session s = signOn(carol);
    server::ServiceRequest shortBody{wire::kPingPath, true, hex("48 01")};
    EXPECT_EQ(server::handleRequest(m_store, m_presence, s, shortBody).kind, Kind::Error);
    // Unknown codes, and payloads too short for their layout in every request that carries one.
    for (char code : {'Z', 'h', '\0', 'E', 'L', '?', 'H', 'F', 'S', 'V', 'I', 'A', 'D', 'T'}) {
        EXPECT_EQ(call(s, code, {}).kind, Kind::Error) << code;
        EXPECT_EQ(call(s, code, hex("01")).kind, Kind::Error) << code;
    }
    // Each program answers only its own requests.
    EXPECT_EQ(call(s, 'H', pack("I", {carol}), true, wire::kSharePath).kind, Kind::Error);
    EXPECT_EQ(call(s, 'T', share(carol, "pw", {}), true, wire::kPingPath).kind, Kind::Error);
    EXPECT_EQ(call(s, 'H', pack("I", {carol}), true, "/other").kind, Kind::Error);
    EXPECT_EQ(call(s, 'S', criteria(QString(2000, '%'))).kind, Kind::Error);

    // A password in an 8-bit code page is its own bytes: another letter there is no match, as
    // every byte that is not UTF-8 once read as the same replacement character.
    const int dee = newAccount("dee");
    server::Session d = signOn(dee);
    ASSERT_EQ(call(d, '?', profile({"", "", "", "", "p\xe4ss", 0, 0.0, "", "", "", "", 1})).kind,
              Kind::Single);
    EXPECT_EQ(call(s, 'L', pack("IAWW", {dee, "p\xf6ss", 1, 2})).kind, Kind::Error);
    EXPECT_EQ(call(s, 'T', share(dee, "p\xf6ss", {})).kind, Kind::Error);
    EXPECT_EQ(call(s, 'L', pack("IAWW", {dee, "p\xe4ss", 1, 2})).kind, Kind::Multi);
}

TEST_F(ServiceHandler, ShareListAddsAndRemovesSubtrees) {
    const int dave = newAccount("dave");
    const Reply added =
        ask('T', share(dave, "pw",
                       addition("", "Music", -1) + addition("Music", "Live", -1) +
                           addition("Music/Live", "gig.mp3", 100) + addition("Music", "a.mp3", 5) +
                           addition("", "Music2", -1) + addition("Music2", "b.mp3", 7) +
                           addition("", "top.txt", 1)));
    ASSERT_EQ(added.kind, Kind::Single);
    EXPECT_EQ(added.payload, pack("II", {0, 7}));
    EXPECT_EQ(names(dave, ""), (QStringList{"Music", "Music2", "top.txt"}));
    EXPECT_EQ(names(dave, "Music"), (QStringList{"Live", "a.mp3"}));

    // Removing a folder takes everything below it, and nothing that merely shares its prefix.
    const Reply removed = ask('T', share(dave, "pw", removal("Music")));
    EXPECT_EQ(removed.payload, pack("II", {4, 0}));
    EXPECT_EQ(names(dave, ""), (QStringList{"Music2", "top.txt"}));
    EXPECT_TRUE(names(dave, "Music/Live").isEmpty());
    EXPECT_EQ(ask('T', share(dave, "pw", removal("Music2/b.mp3"))).payload, pack("II", {1, 0}));
    EXPECT_TRUE(names(dave, "Music2").isEmpty());

    // A bad login, an unknown record or a broken one changes nothing at all.
    const int erin = newAccount("erin");
    EXPECT_EQ(ask('T', share(dave, "bad", removal("top.txt"))).kind, Kind::Error);
    EXPECT_EQ(ask('T', share(erin, "pw", {}).replace(0, 1, "X")).kind, Kind::Error);
    EXPECT_EQ(ask('T', share(dave, "pw", removal("top.txt") + "Zjunk")).kind, Kind::Error);
    EXPECT_EQ(ask('T', share(dave, "pw", removal("top.txt") + addition("", "x", 1).left(9))).kind,
              Kind::Error);
    EXPECT_EQ(ask('T', share(dave, "pw", addition("", "a/b", 1))).kind, Kind::Error);
    EXPECT_EQ(ask('T', share(dave, "pw", addition("a//b", "c", 1))).kind, Kind::Error);
    // Each part within its bound: a name too long would swell every search that finds it.
    for (const QByteArray& record :
         {addition("", QByteArray(server::kMaxEntryName + 1, 'n'), 1),
          addition(QByteArray(server::kMaxFolderPath + 1, 'f'), "x", 1),
          addition("", "x", 1, QByteArray(server::kMaxDescription + 1, 'd'))}) {
        EXPECT_EQ(ask('T', share(dave, "pw", record)).kind, Kind::Error);
    }
    EXPECT_EQ(names(dave, ""), (QStringList{"Music2", "top.txt"}));
    // Nobody reaches another member's catalog with his own password.
    EXPECT_EQ(ask('T', share(erin, "pw", removal("top.txt"))).payload, pack("II", {0, 0}));
    EXPECT_EQ(names(dave, ""), (QStringList{"Music2", "top.txt"}));
}

TEST_F(ServiceHandler, NamesKeepTheirBlanks) {
    const int ada = newAccount("ada");
    ASSERT_EQ(ask('T', share(ada, "pw",
                             addition("", "Live ", -1) + addition("Live ", "gig.mp3", 5) +
                                 addition("", "Live", -1) + addition("", " ", -1) +
                                 addition(" ", "x", 1) + addition("", "x", 2)))
                  .payload,
              pack("II", {0, 6}));
    EXPECT_EQ(names(ada, ""), (QStringList{" ", "Live", "Live ", "x"}));
    EXPECT_EQ(ask('F', pack("IA", {ada, "Live "})).payload,
              "F" + pack("IIDWBAAA", {ada, 5, 0.0, 0, 0, "Live ", "gig.mp3", " "}));
    EXPECT_EQ(ask('F', pack("IA", {ada, "/ /"})).payload,
              "F" + pack("IIDWBAAA", {ada, 1, 0.0, 0, 0, " ", "x", " "}));

    // Each removal takes its own entry and what is below it, nothing else.
    EXPECT_EQ(ask('T', share(ada, "pw", removal(" /x"))).payload, pack("II", {1, 0}));
    EXPECT_EQ(ask('T', share(ada, "pw", removal("Live "))).payload, pack("II", {2, 0}));
    EXPECT_EQ(ask('T', share(ada, "pw", removal(" "))).payload, pack("II", {1, 0}));
    EXPECT_EQ(names(ada, ""), (QStringList{"Live", "x"}));
    EXPECT_TRUE(names(ada, "Live ").isEmpty());

    // An empty name is refused, and with it the whole request.
    EXPECT_EQ(ask('T', share(ada, "pw", addition("", "y", 1) + addition("Live", "", 1))).kind,
              Kind::Error);
    EXPECT_EQ(ask('T', share(ada, "pw", removal("/"))).kind, Kind::Error);
    EXPECT_EQ(names(ada, ""), (QStringList{"Live", "x"}));
}

TEST_F(ServiceHandler, FolderListingIsTaggedRecords) {
    const int fay = newAccount("fay");
    ask('T', share(fay, "pw",
                   addition("", "z.mp3", 5, " ", 1, 1.5) + addition("", "Docs", -1) +
                       addition("Docs", "cv.txt", 9, "my cv")));
    const Reply root = ask('F', pack("IA", {fay, ""}));
    ASSERT_EQ(root.kind, Kind::Multi);
    EXPECT_EQ(root.payload, hex("46") + hex("01000000 FFFFFFFF 0000000000000000 0000 00 00") +
                                "Docs" + hex("00 2000") + hex("46") +
                                hex("01000000 05000000 000000000000F83F 0000 01 00") + "z.mp3" +
                                hex("00 2000"));
    const Reply docs = ask('F', pack("IA", {fay, "/Docs/"}));
    EXPECT_EQ(docs.payload, hex("46 01000000 09000000 0000000000000000 0000 00") + "Docs" +
                                hex("00") + "cv.txt" + hex("00") + "my cv" + hex("00"));
    EXPECT_EQ(server::encodeReply(ask('F', pack("IA", {fay, "Nothing"})), false),
              hex("0300 54 0000"));
    EXPECT_EQ(ask('F', pack("IA", {999, ""})).kind, Kind::Multi);
}

TEST_F(ServiceHandler, FileSearchMatchingRules) {
    const int gil = newAccount("gil");
    const int hal = newAccount("hal");
    server::ProfileUpdate line;
    line.connection = 8;
    m_store.updateProfile(gil, line);
    ask('T', share(gil, "pw",
                   addition("", "Songs", -1) + addition("Songs", "Blue Moon.MP3", 3000000) +
                       addition("Songs", "blues.wav", 500, "Live at Ronnie's") +
                       addition("", "photo.JPG", 20000) + addition("", "readme", 10)));
    ask('T', share(hal, "pw", addition("", "moonlight.mp3", 4000)));

    EXPECT_EQ(searchNames(criteria("%MOON%")), (QStringList{"Blue Moon.MP3", "moonlight.mp3"}));
    EXPECT_EQ(searchNames(criteria("%%", "%ronnie%%")), (QStringList{"blues.wav"}));
    EXPECT_EQ(searchNames(criteria("%%", "%%", -2, -2, "mp3:mp2")),
              (QStringList{"Blue Moon.MP3", "moonlight.mp3"}));
    EXPECT_EQ(searchNames(criteria("%%", "%%", -2, -2, "")).size(), 6);

    // Size ranges: minimum and maximum inclusive, maximum 0 = none, folders never in a range.
    // A member's entries come in the order he published them.
    EXPECT_EQ(searchNames(criteria("%%", "%%", 4000, 20000)),
              (QStringList{"photo.JPG", "moonlight.mp3"}));
    EXPECT_EQ(searchNames(criteria("%%", "%%", 10000, 0)),
              (QStringList{"Blue Moon.MP3", "photo.JPG"}));
    EXPECT_EQ(searchNames(criteria("%%", "%%", 0, 0)).size(), 5);
    EXPECT_EQ(searchNames(criteria("%%", "%%", -2, 100)).size(), 6);

    // Online owners first; online-only leaves the others out; the cap holds.
    signOn(hal, "10.1.1.1", 7000, 7001);
    EXPECT_EQ(searchNames(criteria("%%", "%%", -2, -2, "%", 1)), (QStringList{"moonlight.mp3"}));
    const QStringList capped = searchNames(criteria("%%", "%%", -2, -2, "%", 0, 2));
    EXPECT_EQ(capped.size(), 2);
    EXPECT_EQ(capped.first(), "moonlight.mp3");

    EXPECT_EQ(ask('S', criteria("moon%")).payload,
              pack("IIDWBAAAAAWWBB", {hal, 4000, 0.0, 0, 0, "", "moonlight.mp3", " ", "10.1.1.1",
                                      "hal", 7001, 7000, 0, 1}));
    EXPECT_EQ(ask('S', criteria("%blue moon%")).payload,
              pack("IIDWBAAAAAWWBB", {gil, 3000000, 0.0, 0, 0, "Songs", "Blue Moon.MP3", " ", "",
                                      "gil", 0, 0, 8, 0}));
}

TEST_F(ServiceHandler, StoreThreadsAnswerInTheOrderOfTheRequests) {
    const int ivy = newAccount("ivy");
    server::StoreWorkers readers;
    server::StoreWorkers writer;
    QString error;
    ASSERT_TRUE(readers.start(m_dir.path(), server::Store::Access::ReadOnly, 1, &error));
    ASSERT_TRUE(writer.start(m_dir.path(), server::Store::Access::ReadWrite, 1, &error));
    server::ServiceServer service(m_store, m_presence, {&readers, &writer});
    ASSERT_TRUE(service.listen(QHostAddress::LocalHost, 0));

    // A share, a search and a sign-on sent together on one keep-alive connection: each waits
    // for the reply before it, so the search finds the file and sees its owner as he was.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, service.port());
    auto frame = [](const char* path, char code, const QByteArray& payload) {
        return wire::frameRequest(path, wire::requestBody(code, 1, payload), true);
    };
    socket.write(frame(wire::kSharePath, 'T', share(ivy, "pw", addition("", "moonbeam.ogg", 7))) +
                 frame(wire::kPingPath, 'S', criteria("%MOONB%")) +
                 frame(wire::kPingPath, 'L', pack("IAWW", {ivy, "pw", 4000, 4001})));
    QList<wire::ReplyReader> replies{{false, true}, {true, true}, {true, true}};
    ASSERT_TRUE(test::waitUntil([&] {
        for (auto& reply : replies) {
            while (!reply.complete() && socket.bytesAvailable() > 0) {
                reply.feed(socket.read(reply.bytesWanted()));
            }
            if (!reply.complete()) {
                return false;
            }
        }
        return true;
    }));
    EXPECT_EQ(replies[0].data(), pack("II", {0, 1}));
    EXPECT_EQ(replies[1].data(), pack("IIDWBAAAAAWWBB", {ivy, 7, 0.0, 0, 0, "", "moonbeam.ogg", " ",
                                                         "", "ivy", 0, 0, 0, 0}));
    EXPECT_FALSE(replies[2].errorEnd());
    EXPECT_TRUE(m_presence.isPresent(ivy));
}

// Requests still arriving share one budget: the connection that would take it past its limit
// is dropped, and the others are served.
TEST_F(ServiceHandler, RequestsBeingReadShareOneBudget) {
    server::ServiceServer service(m_store, m_presence, {}, 100000);
    ASSERT_TRUE(service.listen(QHostAddress::LocalHost, 0));
    const QByteArray head = "POST /mrPing/mrpingserver.dll\r\nContent-Length: 90000\r\n\r\n";
    std::array<QTcpSocket, 3> sockets;
    for (QTcpSocket& socket : sockets) {
        socket.connectToHost(QHostAddress::LocalHost, service.port());
    }
    sockets[0].write(head + QByteArray(60000, 'a'));
    sockets[1].write(head + QByteArray(60000, 'b'));
    ASSERT_TRUE(test::waitUntil([&] {
        return sockets[0].state() == QTcpSocket::UnconnectedState ||
               sockets[1].state() == QTcpSocket::UnconnectedState;
    }));
    sockets[2].write(
        wire::frameRequest(wire::kPingPath, wire::requestBody('H', 1, pack("I", {1})), false));
    ASSERT_TRUE(test::waitUntil([&] { return sockets[2].bytesAvailable() > 0; }));
    EXPECT_NE(sockets[0].state(), sockets[1].state());
}

// Only the signed-on member changes his profile, over his keep-alive connection; the user
// search and the information request then show it, and a hidden profile keeps its fields.
TEST_F(ServiceHandler, ProfilesAreChangedByTheirMemberAndShownByUserSearch) {
    const int ian = newAccount("Ian", "old");
    const int jo = newAccount("jo");
    server::Session s = signOn(ian);
    const auto ians = [](const QString& first, const QString& password) {
        return profile({first, "Gray", "ian@x.org", "UK", password, 3, 26000.0, "M", "hi", "en",
                        "http://ian", 1});
    };
    EXPECT_EQ(call(s, '?', ians("Ian", "pw"), false).kind, Kind::Error);
    server::Session stranger{99, "10.0.0.9", 0};
    EXPECT_EQ(call(stranger, '?', ians("Ian", "pw")).kind, Kind::Error);
    const Reply r = call(s, '?', ians("Ian", "pw"));
    EXPECT_EQ(r.kind, Kind::Single);
    EXPECT_EQ(r.payload, pack("I", {ian}));
    EXPECT_EQ(m_store.account(ian)->password, "pw");
    // An empty password keeps the current one; an over-long field is refused.
    call(s, '?', ians("Ian", ""));
    EXPECT_EQ(m_store.account(ian)->password, "pw");
    EXPECT_EQ(call(s, '?', ians(QString(300, 'x'), "")).kind, Kind::Error);
    server::endSession(m_presence, s);
    ask('T',
        share(ian, "pw", addition("", "a", 1) + addition("", "D", -1) + addition("D", "b", 2)));
    s = signOn(jo);
    call(s, '?', profile({"", "", "jo@x.org", "", "", 0, 0.0, "", "", "", "", 0}));

    const QByteArray ianRecord = pack("IAAAAB", {ian, "Ian", "Ian", "Gray", "ian@x.org", 0});
    EXPECT_EQ(ask('V', pack("AAAA", {"%", "%", "%", "%"})).payload,
              ianRecord + pack("IAAAAB", {jo, "jo", "", "", "", 1}));
    EXPECT_EQ(ask('V', pack("AAAA", {"IAN", "%", "%", "%"})).payload, ianRecord);
    EXPECT_EQ(ask('V', pack("AAAA", {"%", "%", "%", "%@x.org"})).payload, ianRecord);

    EXPECT_EQ(ask('I', pack("I", {ian})).payload,
              pack("AAAAABDBAAAI", {"Ian", "Gray", "Ian", "UK", "ian@x.org", 3, 26000.0, 'M', "en",
                                    "hi", "http://ian", 2}));
    EXPECT_EQ(ask('I', pack("I", {jo})).payload,
              pack("AAAAABDBAAAI", {"", "", "jo", "", "", 0, 0.0, 0, "", "", "", 0}));
    EXPECT_EQ(ask('I', pack("I", {4242})).kind, Kind::Error);
}

TEST_F(ServiceHandler, ContactsPollAddAndRemove) {
    const int lou = newAccount("lou");
    const int max = newAccount("Max");
    const int ned = newAccount("ned");
    ask('T', share(max, "pw", addition("", "m1", 1) + addition("", "m2", 2)));
    ask('T', share(ned, "pw", addition("", "n1", 1) + addition("", "F", -1)));

    EXPECT_EQ(ask('A', pack("A", {"max"})).kind, Kind::Error);
    server::Session s = signOn(lou);
    server::Session m = signOn(max);
    EXPECT_EQ(call(s, 'A', pack("A", {"MAX"})).payload, pack("I", {max}));
    EXPECT_EQ(call(s, 'A', pack("A", {"ned"})).payload, pack("I", {ned}));
    EXPECT_EQ(call(s, 'A', pack("A", {"nobody"})).payload, pack("I", {0}));
    EXPECT_EQ(call(s, 'A', pack("A", {"max"})).payload, pack("I", {max}));

    const Reply poll = call(s, 'C', {});
    ASSERT_EQ(poll.kind, Kind::Multi);
    // Online files are those of present members (lou has none, max two); folders don't count.
    EXPECT_EQ(poll.payload, "C" + pack("IB", {max, 1}) + "C" + pack("IB", {ned, 0}) + "Q" +
                                pack("IIII", {2, 3, 2, 3}));
    EXPECT_EQ(call(m, 'C', {}).payload, "Q" + pack("IIII", {2, 3, 2, 3}));

    EXPECT_EQ(server::encodeReply(call(s, 'D', pack("I", {max})), true), hex("0300 54 0000 00"));
    EXPECT_EQ(call(s, 'D', pack("I", {max})).kind, Kind::Multi);
    EXPECT_EQ(m_store.contacts(lou), QList<int>{ned});
    EXPECT_EQ(call(s, 'C', {}, false).kind, Kind::Error);

    // Online files follow the catalogs of those present, and their leaving.
    ask('T', share(max, "pw", addition("", "m3", 3)));
    EXPECT_EQ(call(m, 'C', {}).payload, "Q" + pack("IIII", {3, 4, 2, 3}));
    server::endSession(m_presence, m);
    EXPECT_EQ(call(s, 'C', {}).payload,
              "C" + pack("IB", {ned, 0}) + "Q" + pack("IIII", {0, 4, 1, 3}));
}

}  // namespace
