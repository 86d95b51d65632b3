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

QByteArray reqf(const QString& path, quint16 port, const QString& name = "Bobby",
                qint64 offset = 0) {
    return "REQF " + BuildReqfParameter({path, offset, port, 42, name});
}

// An owner's peer server, a requester connected to it and the requester's own server, which the
// owner connects back to.
struct Upload {
    explicit Upload(int slotCount = 2) : owner("Olga", 1, slotCount) {
        EXPECT_TRUE(callback.listen(QHostAddress(QHostAddress::LocalHost), 0));
        EXPECT_TRUE(peer.connectTo(owner.server->port()));
    }
    // Plays the requester's server when the owner connects back: checks the dialect's login as
    // user and, once the PUTBR for path has come, connects `data` to the owner's PORT.
    std::unique_ptr<RawPeer> acceptPush(const QByteArray& user, const QByteArray& path,
                                        QTcpSocket& data) {
        if (!waitUntil([&] { return callback.hasPendingConnections(); }))
            return nullptr;
        auto down = std::make_unique<RawPeer>(callback.nextPendingConnection());
        down->send("220 ICS FTP Server ready.\r\n");
        EXPECT_EQ(down->line(), "USER " + user);
        down->send("331 Password required for " + user + ".\r\n");
        EXPECT_EQ(down->line(), "PASS Pargo");
        down->send("230 User " + user + " logged in.\r\n");
        const QByteArray port = down->line();
        const auto endpoint = ParsePortArgument(port.mid(5));
        EXPECT_TRUE(port.startsWith("PORT ") && endpoint) << port.toStdString();
        down->send("200 Port command successful.\r\n");
        EXPECT_EQ(down->line(), "PUTBR " + path);
        if (endpoint)
            data.connectToHost(QHostAddress(endpoint->ipv4), endpoint->port);
        return down;
    }
    TMRWaitingList& waiting() { return owner.server->waitingList(); }

    PeerSide owner;
    QTcpServer callback;
    RawPeer peer;
};

}  // namespace

TEST(PeerServer, AnAcceptedRequestIsQueuedAndPushedBackWithTheDialectsLogin) {
    Upload u;
    const QByteArray content = pattern(5000);
    u.owner.share("/Music/a.mp3", content);
    u.owner.share("/Music/b.txt", "hello");
    const quint16 back = u.callback.serverPort();
    EXPECT_EQ(u.peer.line(), "220 ICS FTP Server ready.");
    EXPECT_EQ(u.peer.ask(reqf("/Music/a.mp3", back)), "530 Please login with USER and PASS.");
    EXPECT_EQ(u.peer.ask("USER bob"), "331 Password required for bob.");
    EXPECT_EQ(u.peer.ask("PASS qlmtvokrenbhxa"), "230 User bob logged in.");
    EXPECT_EQ(u.peer.ask(reqf("/Music/none.mp3", back)), "5 0 0 0 0");
    EXPECT_EQ(u.peer.ask("REQF /Music/a.mp3*abc*1*2*x*"), "501 'abc' is not a valid integer value");
    EXPECT_EQ(u.peer.ask("CHKP /Music/a.mp3"), "0 0 0 0 5000");
    EXPECT_EQ(u.waiting().count(), 0);  // refusals and checks queue nothing
    EXPECT_EQ(u.peer.ask(reqf("/Music/a.mp3", back, "Bobby", 1000)), "0 0 0 0 5000");
    // An older peer's request, without the fifth field, queues under the owner's nickname;
    // nobody listens on port 1, so its push fails.
    EXPECT_EQ(u.peer.ask(QByteArray("REQF /Music/b.txt*0*1*42\0", 25)), "0 0 0 0 5");
    EXPECT_EQ(u.peer.ask("QUIT"), "221 Goodbye.");

    ASSERT_EQ(u.waiting().count(), 2);
    const TMRQueItem& older = *u.waiting().at(1);
    EXPECT_EQ(older.LoginName, "Olga");
    EXPECT_TRUE(waitUntil([&] { return older.Error == TTransferError::UserOffline; }));
    const TMRQueItem& entry = *u.waiting().at(0);
    EXPECT_EQ(entry.UserName, "bob");

    // The owner connects back, logs in as the requester-side name and pushes from the offset.
    QTcpSocket data;
    const auto down = u.acceptPush("Bobby", "/Music/a.mp3", data);
    ASSERT_TRUE(down);
    EXPECT_EQ(entry.Status, TTransferStatus::Resuming);
    down->send("150 APPE supported.  Ready to append file \"/Music/a.mp3\" at offset 1000.\r\n");
    QByteArray received;
    EXPECT_TRUE(waitUntil([&] {
        received += data.readAll();
        return data.state() == QAbstractSocket::UnconnectedState;
    }));
    EXPECT_EQ(received + data.readAll(), content.mid(1000));
    down->send("226 File received ok\r\n");
    EXPECT_EQ(down->line(), "QUIT");
    EXPECT_TRUE(waitUntil([&] { return entry.Status == TTransferStatus::Completed; }));
    EXPECT_EQ(entry.Transferred, 5000);
}

TEST(PeerServer, AKickSendsTheAbortWhileTheDataConnectionStillStands) {
    Upload u;
    u.owner.share("/a.bin", pattern(100000));
    ASSERT_TRUE(u.peer.login("dora", "x"));
    EXPECT_EQ(u.peer.ask(reqf("/a.bin", u.callback.serverPort())), "0 0 0 0 100000");
    QTcpSocket data;
    bool dataEnded = false;
    QObject::connect(&data, &QTcpSocket::disconnected, [&] { dataEnded = true; });
    const auto down = u.acceptPush("Bobby", "/a.bin", data);
    ASSERT_TRUE(down);
    ASSERT_TRUE(waitUntil([&] { return data.state() == QAbstractSocket::ConnectedState; }));

    // Nothing is in flight on the data connection: its end would be seen at once.
    u.owner.server->AbortClientTransfer(u.waiting().at(0)->Id);
    EXPECT_EQ(down->line(), "ABOR");
    EXPECT_FALSE(dataEnded);
    // Once the receiver has dropped the data connection, the owner says no more.
    data.abort();
    EXPECT_TRUE(down->closedByServer());
}

TEST(PeerServer, AReceiverThatResetsThePushMidwayEndsOnlyThatUpload) {
    Upload u;
    const QByteArray content = pattern(32 << 20, 7);
    u.owner.share("/big.bin", content);
    ASSERT_TRUE(u.peer.login("dora", "x"));
    EXPECT_EQ(u.peer.ask(reqf("/big.bin", u.callback.serverPort())), "0 0 0 0 33554432");
    QTcpSocket data;
    const auto down = u.acceptPush("Bobby", "/big.bin", data);
    ASSERT_TRUE(down);
    down->send("150 Ready.\r\n");
    const TMRQueItem& entry = *u.waiting().at(0);
    ASSERT_TRUE(waitUntil([&] { return data.bytesAvailable() > 0; }));
    // A reset while the owner still has megabytes to send: its next write meets a dead
    // connection, which must end the upload, not the program.
    data.abort();
    waitUntil([] { return false; }, 200);
    EXPECT_LT(entry.Transferred, content.size());
    down->send("426 Connection closed; transfer aborted.\r\n");
    EXPECT_TRUE(waitUntil([&] { return entry.Error == TTransferError::Aborted; }));

    // The owner serves on: the same file, asked again, arrives whole.
    EXPECT_EQ(u.peer.ask(reqf("/big.bin", u.callback.serverPort())), "0 0 0 0 33554432");
    QTcpSocket again;
    const auto second = u.acceptPush("Bobby", "/big.bin", again);
    ASSERT_TRUE(second);
    second->send("150 Ready.\r\n");
    QByteArray received;
    EXPECT_TRUE(waitUntil([&] {
        received += again.readAll();
        return again.state() == QAbstractSocket::UnconnectedState;
    }));
    EXPECT_TRUE(received + again.readAll() == content);
}

TEST(PeerServer, ARequestRepeatedWhileWaitingIsPushedToWhereTheRequesterNowListens) {
    Upload u(1);  // one upload slot, which a requester that never answers the push keeps busy
    const QByteArray content = pattern(300000, 5);
    u.owner.share("/a.bin", content);
    u.owner.share("/busy.bin", "x");
    ASSERT_TRUE(u.peer.login("zed", "x"));
    EXPECT_EQ(u.peer.ask(reqf("/busy.bin", u.callback.serverPort())), "0 0 0 0 1");
    ASSERT_TRUE(waitUntil([&] { return u.callback.hasPendingConnections(); }));
    std::unique_ptr<QTcpSocket> held(u.callback.nextPendingConnection());

    // The downloader asks, restarts (its old callback port, here 1, dies with it) and asks again.
    PeerSide down("Dora", 2);
    const qint32 id = down.wanted.Add(1, "Olga", "/a.bin", {}).Id;
    down.wanted.SetStatus(id, TTransferStatus::RemotelyQueued);
    RawPeer dora;
    ASSERT_TRUE(dora.connectTo(u.owner.server->port()));
    ASSERT_TRUE(dora.login("dora", "x"));
    EXPECT_EQ(dora.ask(reqf("/a.bin", 1, "Old", 1000)), "0 0 0 0 300000");
    EXPECT_EQ(dora.ask(reqf("/a.bin", down.server->port(), "Olga", 0)), "0 0 0 0 300000");
    EXPECT_EQ(u.waiting().count(), 2);

    held->abort();  // the slot frees
    const TMRQueItem& item = *down.wanted.find(id);
    EXPECT_TRUE(waitUntil([&] { return item.Status == TTransferStatus::Completed; }));
    EXPECT_TRUE(down.downloaded("a.bin") == content);
}

TEST(PeerServer, AFolderListingGoesOverADataConnectionOnlyWithItsPassword) {
    PeerSide owner("Olga", 1);
    owner.folders.insert("/p/", "locked.txt /p/ 8 45000.5 *");
    owner.passwords.insert("/p/", "sesame");
    RawPeer wrong, right;
    ASSERT_TRUE(wrong.connectTo(owner.server->port()));
    ASSERT_TRUE(wrong.login("bob", "qlmtvokrenbhxa"));
    EXPECT_EQ(wrong.ask("REQD /p/"), "");  // a bare line, no data
    ASSERT_TRUE(right.connectTo(owner.server->port()));
    ASSERT_TRUE(right.login("bob", "SESAME"));
    for (const QByteArray listing : {"locked.txt /p/ 8 45000.5 *", "changed"}) {
        // A second listing on the same session is built again.
        owner.folders.insert("/p/", listing);
        DataSink sink;
        EXPECT_EQ(right.ask("PORT " + sink.portArgument()), "200 Port command successful.");
        EXPECT_EQ(right.ask("REQD  /p/"), "150 Opening data connection for directory list.");
        EXPECT_TRUE(sink.waitClosed());
        EXPECT_EQ(right.line(), "226 File sent ok");
        EXPECT_EQ(sink.received, listing);
    }
}

namespace {

// A downloader whose items wait in Remotely Queued for owner "olga", and a logged-in pusher
// talking to its server.
class Push : public ::testing::Test {
protected:
    void SetUp() override {
        QDir().mkpath(side.downloadDir);
        ASSERT_TRUE(pusher.connectTo(side.server->port()));
        ASSERT_TRUE(pusher.login("olga", "Pargo"));
    }
    // An item for path of that size whose request asked for the offset; its id.
    qint32 expect(const QString& path, qint64 size = 0, qint64 asked = 0) {
        const qint32 id = side.wanted.Add(9, "Olga", path, {}).Id;
        side.wanted.SetStatus(id, TTransferStatus::RemotelyQueued);
        side.wanted.SetSize(id, size);
        side.wanted.find(id)->ResumeOffset = asked;
        return id;
    }
    const TMRQueItem& item(qint32 id) const { return *side.wanted.find(id); }
    // Announces a data connection of its own, then the push of path; the reply.
    QByteArray push(const QByteArray& path, RawPeer& from) {
        data = std::make_unique<DataSink>();
        EXPECT_EQ(from.ask("PORT " + data->portArgument()), "200 Port command successful.");
        return from.ask("PUTBR " + path);
    }
    // The last push's data connection, once the receiver has made it.
    QTcpSocket* pushing() {
        waitUntil([&] { return data->connection() != nullptr; });
        return data->connection();
    }
    QStringList downloads() const {
        return QDir(side.downloadDir)
            .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System | QDir::Hidden);
    }

    PeerSide side{"Dora", 2};
    RawPeer pusher;
    std::unique_ptr<DataSink> data;
};

}  // namespace

TEST_F(Push, PushesThatCannotBeSavedSafelyEndTheirItemAndWriteNothing) {
    const QString outside = side.root.filePath("outside.txt");
    QFile(outside).open(QIODevice::WriteOnly);
    QFile::link(outside, side.downloadFile("link.txt"));
    // "partial.txt" holds bytes its request did not count: appending would corrupt it.
    ASSERT_TRUE(writeFile(side.downloadFile("partial.txt"), "abc"));
    for (const char* path :
         {"/x/", "/x/..", "/x/.", "/x/a\\..\\b", "/x/a\tb", "/x/link.txt", "/x/partial.txt"}) {
        const qint32 id = expect(QString::fromUtf8(path));
        EXPECT_EQ(push(path, pusher), "500 Cannot APPE.") << path;
        // Left waiting, the item would hold its download slot for ever.
        EXPECT_EQ(item(id).Error, TTransferError::CannotSave) << path;
    }
    EXPECT_EQ(downloads().size(), 2);
    EXPECT_EQ(QFileInfo(outside).size(), 0);
    EXPECT_EQ(side.downloaded("partial.txt"), "abc");
    // A file longer than the one announced cannot be its beginning: nothing is "completed".
    ASSERT_TRUE(writeFile(side.downloadFile("longer.txt"), "abcde"));
    const qint32 longer = expect("/x/longer.txt", 3, 5);
    EXPECT_EQ(push("/x/longer.txt", pusher), "500 Cannot APPE.");
    EXPECT_EQ(item(longer).Error, TTransferError::CannotSave);

    // Pushes no item expects change nothing: another path, another user, a failed item.
    const qint32 id = expect("/x/f.txt");
    EXPECT_EQ(push("/x/other.txt", pusher), "500 Cannot APPE.");
    RawPeer stranger;
    ASSERT_TRUE(stranger.connectTo(side.server->port()));
    ASSERT_TRUE(stranger.login("mallory", "Pargo"));
    EXPECT_EQ(push("/x/f.txt", stranger), "500 Cannot APPE.");
    EXPECT_EQ(item(id).Status, TTransferStatus::RemotelyQueued);
    side.wanted.SetStatus(id, TTransferStatus::Error, TTransferError::Aborted);
    EXPECT_EQ(push("/x/f.txt", pusher), "500 Cannot APPE.");
    EXPECT_EQ(item(id).Error, TTransferError::Aborted);
    EXPECT_EQ(downloads().size(), 3);
    EXPECT_EQ(side.downloaded("longer.txt"), "abcde");
}

TEST_F(Push, PushesAppendToThePartialFileAndEndAsTheirDataEnds) {
    // The path matches without regard to case; the file is the one the item asked for.
    const qint32 cut = expect("/x/B.BIN", 100, 3);
    ASSERT_TRUE(writeFile(side.downloadFile("B.BIN"), "abc"));
    EXPECT_EQ(push("/x/b.bin", pusher),
              "150 APPE supported.  Ready to append file \"/x/b.bin\" at offset 3.");
    ASSERT_TRUE(pushing());
    EXPECT_TRUE(waitUntil([&] { return item(cut).Status == TTransferStatus::Resuming; }));
    pushing()->write("only ten b");
    pushing()->disconnectFromHost();
    // 13 of 100 bytes is no success, on either side: the owner may push the rest again.
    EXPECT_EQ(pusher.line(), "426 Connection closed; transfer aborted. Error #10054");
    EXPECT_EQ(side.downloaded("B.BIN"), "abconly ten b");
    EXPECT_EQ(item(cut).Error, TTransferError::Error);
    // A second push of the same path finds no waiting item.
    EXPECT_EQ(push("/x/b.bin", pusher), "500 Cannot APPE.");

    // More than announced fails, and nothing past the announced size is written.
    const qint32 over = expect("/x/o.bin", 4);
    EXPECT_TRUE(push("/x/o.bin", pusher).startsWith("150 "));
    ASSERT_TRUE(pushing());
    pushing()->write("12");
    EXPECT_TRUE(waitUntil([&] { return item(over).Transferred == 2; }));
    pushing()->write("34567");
    EXPECT_EQ(pusher.line(), "426 Connection closed; more bytes than the file announced.");
    EXPECT_EQ(item(over).Error, TTransferError::Error);
    EXPECT_EQ(side.downloaded("o.bin"), "12");

    // The local user aborts an incoming push.
    const qint32 local = expect("/x/c.bin", 100);
    EXPECT_TRUE(push("/x/c.bin", pusher).startsWith("150 "));
    EXPECT_TRUE(waitUntil([&] { return item(local).Status == TTransferStatus::Transfering; }));
    side.server->AbortTransfer(local);
    EXPECT_EQ(pusher.line(), "426 Connection closed; transfer aborted.");
    EXPECT_EQ(item(local).Error, TTransferError::Aborted);

    const qint32 aborted = expect("/x/a.bin", 100);
    EXPECT_TRUE(push("/x/a.bin", pusher).startsWith("150 "));
    ASSERT_TRUE(pushing());
    pushing()->write("12345");
    EXPECT_TRUE(waitUntil([&] { return item(aborted).Transferred == 5; }));
    // The owner's raw abort: "ABOR" LF CR.
    pusher.send(QByteArray("ABOR\n\r", 6));
    EXPECT_EQ(pusher.line(), "426 Connection closed; ABORT requested by client.");
    EXPECT_EQ(pusher.line(), "225 ABOR command successful.");
    EXPECT_EQ(item(aborted).Error, TTransferError::Aborted);
    // After the abort nothing more is written, and the end of both connections changes nothing.
    pushing()->write("more");
    pushing()->disconnectFromHost();
    pusher.socket().disconnectFromHost();
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(side.downloaded("a.bin"), "12345");
    EXPECT_EQ(item(aborted).Error, TTransferError::Aborted);
}
