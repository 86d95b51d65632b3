#include "core/record.h"
#include "process.h"
#include "serverprocess.h"
#include "service/wire.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

using namespace mr;

namespace {

using test::Endpoint;
using test::Server;
constexpr int kTimeoutMs = test::kServerTimeoutMs;

std::unique_ptr<QTcpSocket> connectTo(const Endpoint& e) {
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(e.host, e.port);
    EXPECT_TRUE(s->waitForConnected(kTimeoutMs));
    return s;
}

bool send(QTcpSocket& s, const QByteArray& bytes) {
    s.write(bytes);
    while (s.bytesToWrite() > 0 && s.waitForBytesWritten(kTimeoutMs)) {
    }
    return s.bytesToWrite() == 0;
}

// The server has closed the connection, or does so in time.
bool closed(QTcpSocket& s) {
    return s.state() == QAbstractSocket::UnconnectedState || s.waitForDisconnected(kTimeoutMs);
}

// Reads one reply with the client's own reader; it is complete() when all of it arrived.
wire::ReplyReader readReply(QTcpSocket& s, bool multi, bool keepAlive) {
    wire::ReplyReader r(multi, keepAlive);
    QDeadlineTimer deadline(kTimeoutMs);
    while (r.bytesWanted() > 0 && !deadline.hasExpired()) {
        if (s.bytesAvailable() == 0 && !s.waitForReadyRead(deadline.remainingTime()))
            break;
        r.feed(s.read(r.bytesWanted()));
    }
    return r;
}

QByteArray request(char code, const QByteArray& payload, bool keepAlive,
                   const char* path = wire::kPingPath) {
    return wire::frameRequest(path, wire::requestBody(code, 1, payload), keepAlive);
}

// One request on a fresh one-shot connection, which the server closes after the reply.
wire::ReplyReader oneShot(const Endpoint& service, char code, const QByteArray& payload, bool multi,
                          const char* path = wire::kPingPath) {
    auto s = connectTo(service);
    send(*s, request(code, payload, false, path));
    wire::ReplyReader r = readReply(*s, multi, false);
    EXPECT_TRUE(closed(*s));
    return r;
}

QByteArray locate(const Endpoint& service, int user) {
    const wire::ReplyReader r = oneShot(service, 'H', PackRecord("I", {user}).bytes, false);
    EXPECT_TRUE(r.complete());
    return r.data();
}

// The status line and the body of one GET; `rest`, when given, follows the request's first
// bytes after a pause.
QPair<QByteArray, QByteArray> webGet(const Endpoint& web, const QByteArray& rawRequest,
                                     const QByteArray& rest = {}) {
    auto s = connectTo(web);
    send(*s, rawRequest);
    if (!rest.isEmpty()) {
        QThread::msleep(100);
        send(*s, rest);
    }
    QByteArray all;
    QDeadlineTimer deadline(kTimeoutMs);
    while (s->state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        s->waitForReadyRead(100);
        all += s->readAll();
    }
    all += s->readAll();
    return {all.left(all.indexOf("\r\n")), all.mid(all.indexOf("\r\n\r\n") + 4)};
}

QByteArray get(const Endpoint& web, const QByteArray& target) {
    return webGet(web, "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n").second;
}

}  // namespace

TEST(ServerProcess, UsageErrorsOneServerPerDataFolderAndTheMessageOfTheDay) {
    EXPECT_EQ(test::runProgram("moonrake-server", {}).exitCode, 2);
    QTemporaryDir dir;
    const QString data = dir.filePath("data");
    for (const QStringList& bad : {QStringList{"--web-port", "70000"},
                                   {"--listen", "nowhere"},
                                   {"extra"},
                                   // Clients split a host at its first colon.
                                   {"--public-host", "::1"}}) {
        const auto r = test::runProgram("moonrake-server", QStringList{"--data", data} + bad);
        EXPECT_EQ(r.exitCode, 2) << bad.join(' ').toStdString();
    }

    ASSERT_TRUE(test::writeFile(dir.filePath("motd.txt"), "Hello from the test"));
    Server server({"--data", data, "--latest-version", "1.07", "--motd", dir.filePath("motd.txt"),
                   "--public-host", "moon.example", "--chat-port", "0"});
    ASSERT_TRUE(server.ready()) << server.readyLine().toStdString();
    const qsizetype chatAt = server.readyLine().indexOf(" chat=127.0.0.1:");
    ASSERT_GE(chatAt, 0) << server.readyLine().toStdString();
    const Endpoint chat = test::endpoint(server.readyLine().mid(chatAt + 6).section(u' ', 0, 0));
    const auto second = test::runProgram("moonrake-server", {"--data", data});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_TRUE(second.err.contains("in use")) << second.err.toStdString();

    const auto [status, body] =
        webGet(server.web(), "GET /motd/motd.txt HTTP/1.0\r\nUser-Agent: t\r\n\r\n");
    EXPECT_EQ(status, "HTTP/1.0 200 OK");
    EXPECT_EQ(QString::fromUtf8(body),
              QStringLiteral("moon.example:%1\nmoon.example:%2\nmoon.example:%3\n1.07\n"
                             "Hello from the test")
                  .arg(chat.port)
                  .arg(server.service().port)
                  .arg(server.web().port));
    auto talk = connectTo(chat);
    send(*talk, "login 1 x\r\n");
    EXPECT_TRUE(closed(*talk));
    EXPECT_EQ(webGet(server.web(), "GET /nothing HTTP/1.0\r\n\r\n").first,
              "HTTP/1.0 404 Not Found");
    EXPECT_EQ(webGet(server.web(), "\x16\x03\x01 garbage\r\n\r\n").first,
              "HTTP/1.0 400 Bad Request");
    // A client that leaves before its request, and one whose request comes in pieces, are
    // both served as they should be.
    connectTo(server.web())->abort();
    EXPECT_EQ(webGet(server.web(), "GET /nothing HT", "TP/1.0\r\n\r\n").first,
              "HTTP/1.0 404 Not Found");
    EXPECT_EQ(server.terminate(), 0);
}

TEST(ServerProcess, StateSurvivesARestartAndPresenceFollowsTheKeepAliveConnection) {
    QTemporaryDir dir;
    int id = 0;
    // Signs on over a keep-alive connection; the service then knows the announced ports.
    auto signOn = [&](const Endpoint& service) {
        auto keep = connectTo(service);
        send(*keep, request('L', PackRecord("IAWW", {id, "s e&c", 4100, 4200}).bytes, true));
        EXPECT_FALSE(readReply(*keep, true, true).errorEnd());
        EXPECT_EQ(locate(service, id), PackRecord("AWW", {"127.0.0.1", 4100, 4200}).bytes);
        return keep;
    };
    {
        Server server({"--data", dir.path()});
        ASSERT_TRUE(server.ready()) << server.readyLine().toStdString();
        // The blank comes raw, as clients send it; the escaped "&" is decoded.
        id = get(server.web(), "/Search/mrSearch.dll?Register?username=alice&password=s e%26c")
                 .toInt();
        ASSERT_GT(id, 0);
        const QByteArray share =
            PackRecord("BIA", {'L', id, "s e&c"}).bytes +
            PackRecord("BIDWBAAA", {'A', 42, 0.0, 0, 0, "", "x.mp3", " "}).bytes;
        EXPECT_FALSE(oneShot(server.service(), 'T', share, false, wire::kSharePath).errorEnd());
        signOn(server.service())->abort();  // a dropped connection ends presence too
        EXPECT_TRUE(
            test::waitUntil([&] { return locate(server.service(), id) == QByteArray(5, 0); }));
        EXPECT_EQ(server.terminate(), 0);
    }
    Server again({"--data", dir.path()});
    ASSERT_TRUE(again.ready());
    EXPECT_EQ(get(again.web(), "/Search/mrSearch.dll?Register?username=Alice&password=x"), "0");
    const wire::ReplyReader listing =
        oneShot(again.service(), 'F', PackRecord("IA", {id, ""}).bytes, true);
    ASSERT_TRUE(listing.complete());
    EXPECT_TRUE(listing.data().contains("x.mp3"));

    auto keep = signOn(again.service());
    // Signing off ends presence and the connection.
    send(*keep, request('Q', {}, true));
    EXPECT_TRUE(closed(*keep));
    EXPECT_EQ(locate(again.service(), id), QByteArray(5, 0));
}

TEST(ServerProcess, HostileInputsLeaveItServing) {
    QTemporaryDir dir;
    Server server({"--data", dir.path()});
    ASSERT_TRUE(server.ready());
    const Endpoint service = server.service();

    // Garbage, a huge Content-Length and a missing one close that connection only.
    for (const QByteArray& bad :
         {QByteArray("\x00\xff garbage that is not a request\r\n\r\n", 37),
          QByteArray("POST /mrPing/mrpingserver.dll\r\nContent-Length: 999999999999\r\n\r\n"),
          QByteArray("POST /mrPing/mrpingserver.dll\r\nContent-Length: 16777217\r\n\r\n"),
          QByteArray("POST /mrPing/mrpingserver.dll\r\n\r\nH\x01\x00"),
          QByteArray("POST /x\r\n" + QByteArray(20000, 'h') + "\r\n")}) {
        auto s = connectTo(service);
        send(*s, bad);
        EXPECT_TRUE(closed(*s)) << bad.left(40).toStdString();
    }

    // A half-sent request does not hold up anybody else.
    auto slow = connectTo(service);
    send(*slow, "POST /mrPing/mrpingserver.dll\r\nContent-Le");

    // A flood of pipelined requests on one keep-alive connection is answered in order.
    const int user =
        get(server.web(), "/Search/mrSearch.dll?Register?username=bob&password=pw").toInt();
    auto flood = connectTo(service);
    QByteArray many;
    for (int i = 0; i < 2000; ++i)
        many += request('H', PackRecord("I", {user}).bytes, true);
    many += request('Z', {}, true);
    ASSERT_TRUE(send(*flood, many));
    for (int i = 0; i < 2000; ++i) {
        const wire::ReplyReader r = readReply(*flood, false, true);
        ASSERT_TRUE(r.complete()) << i;
        ASSERT_EQ(r.data(), QByteArray(5, 0)) << i;
    }
    const wire::ReplyReader unknown = readReply(*flood, false, true);
    EXPECT_TRUE(unknown.complete());
    EXPECT_TRUE(unknown.errorEnd());

    // A one-shot connection ends after its one reply, whatever else was sent behind it.
    auto once = connectTo(service);
    send(*once, request('H', PackRecord("I", {user}).bytes, false) + QByteArray(5000, 'j'));
    EXPECT_TRUE(readReply(*once, false, false).complete());
    EXPECT_TRUE(closed(*once));

    EXPECT_EQ(locate(service, user), QByteArray(5, 0));
    EXPECT_EQ(get(server.web(), "/Search/mrSearch.dll?Register?username=carl&password=pw").toInt(),
              user + 1);
    EXPECT_EQ(server.terminate(), 0);
}

TEST(ServerProcess, NoMemberWritesAnotherMembersCatalogContactsOrProfile) {
    QTemporaryDir dir;
    Server server({"--data", dir.path()});
    ASSERT_TRUE(server.ready());
    const Endpoint service = server.service();
    const auto registered = [&](const QByteArray& nick) {
        return get(server.web(),
                   "/Search/mrSearch.dll?Register?username=" + nick + "&password=pw" + nick)
            .toInt();
    };
    const int alice = registered("alice");
    const int bob = registered("bob");
    ASSERT_GT(alice, 0);
    ASSERT_GT(bob, 0);
    const auto signOn = [&](int id, const QString& password) {
        auto keep = connectTo(service);
        send(*keep, request('L', PackRecord("IAWW", {id, password, 4100, 4200}).bytes, true));
        EXPECT_FALSE(readReply(*keep, true, true).errorEnd());
        return keep;
    };
    // One request over a signed-on connection; true when the service refused it.
    const auto refused = [](QTcpSocket& keep, char code, const QByteArray& payload, bool multi,
                            const char* path = wire::kPingPath) {
        send(keep, wire::frameRequest(path, wire::requestBody(code, 1, payload), true));
        const wire::ReplyReader r = readReply(keep, multi, true);
        EXPECT_TRUE(r.complete());
        return r.errorEnd();
    };
    const QByteArray song = PackRecord("BIDWBAAA", {'A', 42, 0.0, 0, 0, "", "x.mp3", " "}).bytes;
    const auto catalog = [&](int owner) {
        return oneShot(service, 'F', PackRecord("IA", {owner, ""}).bytes, true).data();
    };
    const auto profile = [&](int id) {
        return oneShot(service, 'I', PackRecord("I", {id}).bytes, false).data();
    };

    // Alice publishes a file, keeps bob as a contact and fills in her profile.
    auto aliceKeep = signOn(alice, "pwalice");
    EXPECT_FALSE(refused(*aliceKeep, 'T', PackRecord("BIA", {'L', alice, "pwalice"}).bytes + song,
                         false, wire::kSharePath));
    EXPECT_FALSE(refused(*aliceKeep, 'A', PackRecord("A", {"bob"}).bytes, false));
    EXPECT_EQ(get(server.web(), "/Search/mrSearch.dll?SetUserInfo?userid=" +
                                    QByteArray::number(alice) + "&pass=pwalice&firstname=Alice"),
              "1");
    const QByteArray aliceCatalog = catalog(alice);
    const QByteArray aliceProfile = profile(alice);
    ASSERT_TRUE(aliceCatalog.contains("x.mp3"));
    ASSERT_TRUE(aliceProfile.contains("Alice"));

    // Bob, signed on as himself, names alice in every request that writes.
    auto bobKeep = signOn(bob, "pwbob");
    for (const char* password : {"pwbob", "", "PWALICE"}) {
        const QByteArray as = PackRecord("BIA", {'L', alice, password}).bytes;
        EXPECT_TRUE(refused(*bobKeep, 'T', as + PackRecord("BA", {'R', "x.mp3"}).bytes, false,
                            wire::kSharePath));
        EXPECT_TRUE(refused(*bobKeep, 'T', as + song, false, wire::kSharePath));
        EXPECT_TRUE(refused(*bobKeep, 'T', as + song, false));  // the presence program
        EXPECT_TRUE(
            refused(*bobKeep, 'L', PackRecord("IAWW", {alice, password, 1, 2}).bytes, true));
    }
    // His own profile, contacts and password are all that these can reach, whatever he names.
    EXPECT_FALSE(refused(*bobKeep, '?',
                         PackRecord("AAAAABDAAAAB", {"Alice", "alice", "alice@x", "", "stolen", 0,
                                                     0.0, "", "", "", "", 1})
                             .bytes,
                         false));
    EXPECT_FALSE(refused(*bobKeep, 'D', PackRecord("I", {bob}).bytes, true));
    EXPECT_FALSE(refused(*bobKeep, 'D', PackRecord("I", {alice}).bytes, true));
    EXPECT_EQ(get(server.web(), "/Search/mrSearch.dll?SetUserInfo?userid=" +
                                    QByteArray::number(alice) + "&pass=stolen&firstname=Mallory"),
              "0");

    EXPECT_EQ(catalog(alice), aliceCatalog);
    EXPECT_EQ(profile(alice), aliceProfile);
    send(*aliceKeep, request('C', {}, true));
    const wire::ReplyReader contacts = readReply(*aliceKeep, true, true);
    EXPECT_TRUE(contacts.data().startsWith('C' + PackRecord("IB", {bob, 1}).bytes));
    // Her password is still hers, and bob's new one is his.
    signOn(alice, "pwalice");
    signOn(bob, "stolen");
}
