#include "net/rawpeer.h"
#include "testutil.h"
#include "transfer/peerdialect.h"
#include "transfer/peerfixture.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <memory>

using namespace mr;
using namespace mr::test;

namespace {

const QByteArray kReqf = "REQF ";

QByteArray reqf(const QString& path, quint16 port, const QString& name = QStringLiteral("Bobby"),
                qint64 offset = 0) {
    ReqfParams p;
    p.path = path;
    p.resumeOffset = offset;
    p.callbackPort = port;
    p.requesterId = 42;
    p.requesterName = name;
    return kReqf + BuildReqfParameter(p);
}

// A scripted pusher's data side: accepts the server's data connection and sends bytes on it.
struct PushData {
    PushData() { server.listen(QHostAddress(QHostAddress::LocalHost), 0); }
    QByteArray port() const {
        return "PORT " + FormatPortArgument({QHostAddress(QHostAddress::LocalHost).toIPv4Address(),
                                             server.serverPort()});
    }
    QTcpSocket* accept() {
        waitUntil([&] { return server.hasPendingConnections(); }, 5000);
        return server.nextPendingConnection();
    }
    QTcpServer server;
};

// Plays the requester's server when the owner connects back: checks the dialect's login as
// user, takes the PORT and returns its endpoint once the PUTBR for path has come.
std::optional<FtpEndpoint> answerPush(RawPeer& down, const QByteArray& user,
                                      const QByteArray& path) {
    down.send("220 ICS FTP Server ready.\r\n");
    EXPECT_EQ(down.line(), "USER " + user);
    down.send("331 Password required for " + user + ".\r\n");
    EXPECT_EQ(down.line(), "PASS Pargo");
    down.send("230 User " + user + " logged in.\r\n");
    const QByteArray port = down.line();
    const auto endpoint = ParsePortArgument(port.mid(5));
    EXPECT_TRUE(port.startsWith("PORT ") && endpoint) << port.toStdString();
    down.send("200 Port command successful.\r\n");
    EXPECT_EQ(down.line(), "PUTBR " + path);
    return endpoint;
}

}  // namespace

TEST(PeerServer, AnAcceptedRequestIsQueuedAndPushedBackWithTheDialectsLogin) {
    PeerSide owner(QStringLiteral("Olga"), 1);
    const QByteArray content = pattern(5000);
    owner.share(QStringLiteral("/Music/a.mp3"), content);
    owner.share(QStringLiteral("/Music/b.txt"), "hello");
    QTcpServer callback;  // the scripted downloader's own peer server
    ASSERT_TRUE(callback.listen(QHostAddress(QHostAddress::LocalHost), 0));

    RawPeer peer;
    ASSERT_TRUE(peer.connectTo(owner.server->port()));
    EXPECT_EQ(peer.line(), "220 ICS FTP Server ready.");
    EXPECT_EQ(peer.ask(reqf("/Music/a.mp3", callback.serverPort())),
              "530 Please login with USER and PASS.");
    EXPECT_EQ(peer.ask("USER bob"), "331 Password required for bob.");
    EXPECT_EQ(peer.ask("PASS qlmtvokrenbhxa"), "230 User bob logged in.");
    EXPECT_EQ(peer.ask(reqf("/Music/none.mp3", callback.serverPort())), "5 0 0 0 0");
    EXPECT_EQ(peer.ask("REQF /Music/a.mp3*abc*1*2*x*"), "501 'abc' is not a valid integer value");
    EXPECT_EQ(peer.ask("CHKP /Music/a.mp3"), "0 0 0 0 5000");
    EXPECT_EQ(owner.server->waitingList().count(), 0);  // refusals and checks queue nothing
    EXPECT_EQ(peer.ask(reqf("/Music/a.mp3", callback.serverPort(), "Bobby", 1000)), "0 0 0 0 5000");
    // An older peer's request, without the fifth field, queues under the owner's nickname;
    // nobody listens on port 1, so its push fails.
    EXPECT_EQ(peer.ask(QByteArray("REQF /Music/b.txt*0*1*42\0", 25)), "0 0 0 0 5");
    EXPECT_EQ(peer.ask("QUIT"), "221 Goodbye.");

    ASSERT_EQ(owner.server->waitingList().count(), 2);
    const TMRQueItem& older = *owner.server->waitingList().at(1);
    EXPECT_EQ(older.LoginName, QStringLiteral("Olga"));
    EXPECT_TRUE(waitUntil([&] { return older.Error == TTransferError::UserOffline; }));
    const TMRQueItem& entry = *owner.server->waitingList().at(0);
    EXPECT_EQ(entry.UserName, QStringLiteral("bob"));
    EXPECT_EQ(entry.PeerId, 42);
    EXPECT_EQ(entry.LoginName, QStringLiteral("Bobby"));
    EXPECT_EQ(entry.ResumeOffset, 1000);
    EXPECT_EQ(entry.Size, 5000);
    EXPECT_EQ(entry.Address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(entry.Port, callback.serverPort());

    // The owner connects back, logs in as the requester-side name and pushes from the offset.
    ASSERT_TRUE(waitUntil([&] { return callback.hasPendingConnections(); }));
    RawPeer down(callback.nextPendingConnection());
    const auto endpoint = answerPush(down, "Bobby", "/Music/a.mp3");
    ASSERT_TRUE(endpoint);
    EXPECT_EQ(entry.Status, TTransferStatus::Resuming);
    QTcpSocket data;
    data.connectToHost(QHostAddress(endpoint->ipv4), endpoint->port);
    down.send("150 APPE supported.  Ready to append file \"/Music/a.mp3\" at offset 1000.\r\n");
    QByteArray received;
    EXPECT_TRUE(waitUntil([&] {
        received += data.readAll();
        return data.state() == QAbstractSocket::UnconnectedState;
    }));
    received += data.readAll();
    EXPECT_EQ(received, content.mid(1000));
    down.send("226 File received ok\r\n");
    EXPECT_EQ(down.line(), "QUIT");
    EXPECT_TRUE(waitUntil([&] { return entry.Status == TTransferStatus::Completed; }));
    EXPECT_EQ(entry.Transferred, 5000);
    EXPECT_EQ(owner.uploadStates.front().first, TTransferStatus::Negotiating);
}

TEST(PeerServer, AKickSendsTheAbortWhileTheDataConnectionStillStands) {
    PeerSide owner(QStringLiteral("Olga"), 1);
    owner.share(QStringLiteral("/a.bin"), pattern(100000));
    QTcpServer callback;
    ASSERT_TRUE(callback.listen(QHostAddress(QHostAddress::LocalHost), 0));
    RawPeer peer;
    ASSERT_TRUE(peer.connectTo(owner.server->port()));
    ASSERT_TRUE(peer.login("dora", "x"));
    EXPECT_EQ(peer.ask(reqf("/a.bin", callback.serverPort())), "0 0 0 0 100000");
    ASSERT_TRUE(waitUntil([&] { return callback.hasPendingConnections(); }));
    RawPeer down(callback.nextPendingConnection());
    const auto endpoint = answerPush(down, "Bobby", "/a.bin");
    ASSERT_TRUE(endpoint);
    QTcpSocket data;
    bool dataEnded = false;
    QObject::connect(&data, &QTcpSocket::disconnected, [&] { dataEnded = true; });
    data.connectToHost(QHostAddress(endpoint->ipv4), endpoint->port);
    ASSERT_TRUE(waitUntil([&] { return data.state() == QAbstractSocket::ConnectedState; }));

    // Nothing is in flight on the data connection: its end would be seen at once.
    owner.server->AbortClientTransfer(owner.server->waitingList().at(0)->Id);
    EXPECT_EQ(down.line(), "ABOR");
    EXPECT_FALSE(dataEnded);
    // Once the receiver has dropped the data connection, the owner says no more.
    data.abort();
    EXPECT_TRUE(down.closedByServer());
}

TEST(PeerServer, ARequestRepeatedWhileWaitingIsPushedToWhereTheRequesterNowListens) {
    PeerSide owner(QStringLiteral("Olga"), 1, 1);  // one upload slot
    const QByteArray content = pattern(300000, 5);
    owner.share(QStringLiteral("/a.bin"), content);
    owner.share(QStringLiteral("/busy.bin"), "x");
    // A requester that takes the push connection and never answers keeps the slot busy.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress(QHostAddress::LocalHost), 0));
    RawPeer zed;
    ASSERT_TRUE(zed.connectTo(owner.server->port()));
    ASSERT_TRUE(zed.login("zed", "x"));
    EXPECT_EQ(zed.ask(reqf("/busy.bin", silent.serverPort())), "0 0 0 0 1");
    ASSERT_TRUE(waitUntil([&] { return silent.hasPendingConnections(); }));
    std::unique_ptr<QTcpSocket> held(silent.nextPendingConnection());

    // The downloader asks, restarts (its old callback port dies with it) and asks again.
    PeerSide down(QStringLiteral("Dora"), 2);
    const qint32 id = down.wanted.Add(1, QStringLiteral("Olga"), QStringLiteral("/a.bin"), {}).Id;
    down.wanted.SetStatus(id, TTransferStatus::RemotelyQueued);
    quint16 dead = 0;
    {
        QTcpServer gone;
        ASSERT_TRUE(gone.listen(QHostAddress(QHostAddress::LocalHost), 0));
        dead = gone.serverPort();
    }
    RawPeer dora;
    ASSERT_TRUE(dora.connectTo(owner.server->port()));
    ASSERT_TRUE(dora.login("dora", "x"));
    EXPECT_EQ(dora.ask(reqf("/a.bin", dead, "Old", 1000)), "0 0 0 0 300000");
    EXPECT_EQ(dora.ask(reqf("/a.bin", down.server->port(), "Olga", 0)), "0 0 0 0 300000");
    EXPECT_EQ(owner.server->waitingList().count(), 2);

    held->abort();  // the slot frees
    const TMRQueItem& item = *down.wanted.find(id);
    ASSERT_TRUE(waitUntil([&] {
        return item.Status == TTransferStatus::Completed || item.Status == TTransferStatus::Error;
    }));
    EXPECT_EQ(item.Status, TTransferStatus::Completed);
    EXPECT_TRUE(down.downloaded(QStringLiteral("a.bin")) == content);
}

// Asks for a folder listing over a data connection of its own; what arrived on it.
QByteArray listing(RawPeer& peer, const QByteArray& request) {
    DataSink sink;
    EXPECT_EQ(peer.ask("PORT " + sink.portArgument()), "200 Port command successful.");
    EXPECT_EQ(peer.ask(request), "150 Opening data connection for directory list.");
    EXPECT_TRUE(sink.waitClosed());
    EXPECT_EQ(peer.line(), "226 File sent ok");
    return sink.received;
}

TEST(PeerServer, PasswordsDecideChecksAndFolderListings) {
    PeerSide owner(QStringLiteral("Olga"), 1);
    owner.share(QStringLiteral("/p/locked.txt"), "12345678", QStringLiteral("Sesame"));
    owner.folders.insert(QStringLiteral("/p/"), "locked.txt /p/ 8 45000.5 *");
    owner.passwords.insert(QStringLiteral("/p/"), QStringLiteral("sesame"));
    owner.folders.insert(QStringLiteral("/empty/"), QByteArray());

    RawPeer wrong;
    ASSERT_TRUE(wrong.connectTo(owner.server->port()));
    ASSERT_TRUE(wrong.login("bob", "qlmtvokrenbhxa"));
    EXPECT_EQ(wrong.ask("CHKP /p/locked.txt"), "6 0 0 0 8");
    EXPECT_EQ(wrong.ask("REQD /p/"), "");  // wrong password: a bare line, no data
    EXPECT_EQ(wrong.ask("REQD /nowhere/"), "");
    EXPECT_EQ(wrong.ask(reqf("/p/locked.txt", 1)), "6 0 0 0 8");
    EXPECT_EQ(owner.server->waitingList().count(), 0);

    RawPeer right;
    ASSERT_TRUE(right.connectTo(owner.server->port()));
    ASSERT_TRUE(right.login("bob", "SESAME"));
    EXPECT_EQ(right.ask("CHKP /p/locked.txt"), "0 0 0 0 8");
    EXPECT_EQ(listing(right, "REQD  /p/"), "locked.txt /p/ 8 45000.5 *");
    // A second listing on the same session is built again.
    owner.folders.insert(QStringLiteral("/p/"), "changed");
    EXPECT_EQ(listing(right, "REQD /p/"), "changed");
    RawPeer anyone;
    ASSERT_TRUE(anyone.connectTo(owner.server->port()));
    ASSERT_TRUE(anyone.login("ann", ""));
    EXPECT_TRUE(listing(anyone, "REQD /empty/").isEmpty());
}

namespace {

// A downloader whose item for (owner "olga", path) waits in Remotely Queued, and a logged-in
// pusher talking to its server.
struct PushTarget {
    // asked: the resume offset the item's request sent.
    explicit PushTarget(const QString& path, qint64 size = 0, qint64 asked = 0) {
        QDir().mkpath(side.downloadDir);
        id = side.wanted.Add(9, QStringLiteral("Olga"), path, {}).Id;
        side.wanted.SetStatus(id, TTransferStatus::RemotelyQueued);
        side.wanted.SetSize(id, size);
        side.wanted.find(id)->ResumeOffset = asked;
        EXPECT_TRUE(pusher.connectTo(side.server->port()));
        EXPECT_TRUE(pusher.login("olga", "Pargo"));
    }
    const TMRQueItem& item() const { return *side.wanted.find(id); }
    // Announces the push of path and takes its data connection.
    QTcpSocket* push(const QByteArray& path) {
        EXPECT_EQ(pusher.ask(data.port()), "200 Port command successful.");
        EXPECT_TRUE(pusher.ask("PUTBR " + path).startsWith("150 "));
        return data.accept();
    }
    QStringList downloads() const {
        return QDir(side.downloadDir)
            .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System | QDir::Hidden);
    }

    PeerSide side{QStringLiteral("Dora"), 2};
    qint32 id = -1;
    RawPeer pusher;
    PushData data;
};

}  // namespace

TEST(PeerServer, PushesThatCannotBeSavedSafelyEndTheirItemAndWriteNothing) {
    // "partial.txt" holds bytes its request did not count: appending would corrupt it.
    const QString refused[] = {
        QStringLiteral("/x/"),
        QStringLiteral("/x/.."),
        QStringLiteral("/x/."),
        QStringLiteral("/x/a\\..\\b"),
        QStringLiteral("/x/a\tb"),
        QStringLiteral("/x/link.txt"),
        QStringLiteral("/x/partial.txt"),
    };
    for (const QString& path : refused) {
        PushTarget t(path);
        const QString outside = t.side.root.filePath(QStringLiteral("outside.txt"));
        QFile(outside).open(QIODevice::WriteOnly);
        QFile::link(outside, t.side.downloadFile(QStringLiteral("link.txt")));
        ASSERT_TRUE(t.side.writeDownload(QStringLiteral("partial.txt"), "abc"));
        EXPECT_EQ(t.pusher.ask(t.data.port()), "200 Port command successful.");
        EXPECT_EQ(t.pusher.ask("PUTBR " + path.toUtf8()), "500 Cannot APPE.") << path.toStdString();
        // Left waiting, the item would hold its download slot for ever.
        EXPECT_EQ(t.item().Status, TTransferStatus::Error) << path.toStdString();
        EXPECT_EQ(t.item().Error, TTransferError::CannotSave);
        EXPECT_EQ(t.downloads().size(), 2) << path.toStdString();
        EXPECT_EQ(QFileInfo(outside).size(), 0);
        EXPECT_EQ(t.side.downloaded(QStringLiteral("partial.txt")), "abc");
    }

    // Pushes no item expects change nothing: another path, another user, a failed item.
    PushTarget t(QStringLiteral("/x/f.txt"));
    EXPECT_EQ(t.pusher.ask(t.data.port()), "200 Port command successful.");
    EXPECT_EQ(t.pusher.ask("PUTBR /x/other.txt"), "500 Cannot APPE.");
    RawPeer stranger;
    ASSERT_TRUE(stranger.connectTo(t.side.server->port()));
    ASSERT_TRUE(stranger.login("mallory", "Pargo"));
    EXPECT_EQ(stranger.ask(t.data.port()), "200 Port command successful.");
    EXPECT_EQ(stranger.ask("PUTBR /x/f.txt"), "500 Cannot APPE.");
    EXPECT_EQ(t.item().Status, TTransferStatus::RemotelyQueued);
    t.side.wanted.SetStatus(t.id, TTransferStatus::Error, TTransferError::Aborted);
    EXPECT_EQ(t.pusher.ask("PUTBR /x/f.txt"), "500 Cannot APPE.");
    EXPECT_EQ(t.item().Error, TTransferError::Aborted);
    EXPECT_TRUE(t.downloads().isEmpty());
}

TEST(PeerServer, APushAppendsFromTheSizeOfThePartialFile) {
    PushTarget t(QStringLiteral("/x/F.TXT"), 8, 3);
    ASSERT_TRUE(t.side.writeDownload(QStringLiteral("F.TXT"), "abc"));
    EXPECT_EQ(t.pusher.ask(t.data.port()), "200 Port command successful.");
    // The path matches without regard to case; the file is the one the item asked for.
    EXPECT_EQ(t.pusher.ask("PUTBR /x/f.txt"),
              "150 APPE supported.  Ready to append file \"/x/f.txt\" at offset 3.");
    QTcpSocket* data = t.data.accept();
    ASSERT_TRUE(data);
    EXPECT_TRUE(waitUntil([&] { return t.item().Status == TTransferStatus::Resuming; }));
    data->write("defgh");
    data->disconnectFromHost();
    EXPECT_EQ(t.pusher.line(), "226 File received ok");
    EXPECT_EQ(t.side.downloaded(QStringLiteral("F.TXT")), "abcdefgh");
    EXPECT_EQ(t.item().Status, TTransferStatus::Completed);
    EXPECT_EQ(t.item().Transferred, 8);
    // A second push of the same path finds no waiting item.
    EXPECT_EQ(t.pusher.ask("PUTBR /x/f.txt"), "500 Cannot APPE.");
}

TEST(PeerServer, AbortedAndShortPushesEndInError) {
    {
        PushTarget t(QStringLiteral("/x/a.bin"), 100);
        QTcpSocket* data = t.push("/x/a.bin");
        ASSERT_TRUE(data);
        data->write("12345");
        EXPECT_TRUE(waitUntil([&] { return t.item().Transferred == 5; }));
        // The owner's raw abort: "ABOR" LF CR.
        t.pusher.send(QByteArray("ABOR\n\r", 6));
        EXPECT_EQ(t.pusher.line(), "426 Connection closed; ABORT requested by client.");
        EXPECT_EQ(t.pusher.line(), "225 ABOR command successful.");
        EXPECT_EQ(t.item().Status, TTransferStatus::Error);
        EXPECT_EQ(t.item().Error, TTransferError::Aborted);
        data->write("more");  // after the abort nothing more is written
        waitUntil([] { return false; }, 100);
        EXPECT_EQ(t.side.downloaded(QStringLiteral("a.bin")), "12345");
    }
    {
        PushTarget t(QStringLiteral("/x/b.bin"), 100);
        QTcpSocket* data = t.push("/x/b.bin");
        ASSERT_TRUE(data);
        data->write("only ten b");
        data->disconnectFromHost();
        EXPECT_EQ(t.pusher.line(), "226 File received ok");
        EXPECT_EQ(t.item().Status, TTransferStatus::Error);  // 10 of 100 bytes is no success
        EXPECT_EQ(t.item().Error, TTransferError::Error);
    }
    {
        // The local user aborts the incoming push.
        PushTarget t(QStringLiteral("/x/c.bin"), 100);
        ASSERT_TRUE(t.push("/x/c.bin"));
        EXPECT_TRUE(waitUntil([&] { return t.item().Status == TTransferStatus::Transfering; }));
        t.side.server->AbortTransfer(t.id);
        EXPECT_EQ(t.pusher.line(), "426 Connection closed; transfer aborted.");
        EXPECT_EQ(t.item().Error, TTransferError::Aborted);
    }
}
