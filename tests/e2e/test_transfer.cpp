#include "net/rawpeer.h"
#include "process.h"
#include "serverprocess.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <memory>

using namespace mr;

namespace {

constexpr int kTransferTimeoutMs = 120000;

test::RunResult cli(const QString& profile, const QStringList& args) {
    return test::cli(profile, args, kTransferTimeoutMs);
}

QByteArray randomBytes(qsizetype size) {
    QList<quint32> words(size / 4 + 1);
    QRandomGenerator(static_cast<quint32>(size)).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), size);
}

// One service, an owner sharing a folder and a downloader, each with its own profile.
class TransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m.up());
        ASSERT_EQ(cli(downloader, {"set", "UserInfo/DownloadPath", downloads.path()}).exitCode, 0);
    }

    // Shares one of the owner's folders (published to the service at once).
    void share(const QString& folder = QStringLiteral("Music"), const QStringList& extra = {}) {
        const auto r = cli(owner, QStringList{"share", disk.filePath(folder), "--yes"} + extra);
        ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    }

    test::RunResult get(const QString& path, const QStringList& extra = {}) {
        return cli(downloader, QStringList{"get", QString::number(m.aliceId), path} + extra);
    }

    test::TwoMembers m;
    const QString& owner = m.alice;
    const QString& downloader = m.bob;
    QTemporaryDir disk, downloads;
};

}  // namespace

TEST_F(TransferTest, DownloadArrivesByteIdenticalAndBothSidesCountIt) {
    const QByteArray content = randomBytes(6 * 1024 * 1024 + 123);
    ASSERT_TRUE(test::writeFile(disk.filePath("Music/big.bin"), content));
    share();
    test::Serving serving(owner);
    ASSERT_TRUE(serving.ready()) << serving.err().toStdString();

    EXPECT_TRUE(test::ended(get("/Music/big.bin"), 0,
                            "Negotiating\nRemotely Queued\nTransfering\nCompleted\n"));
    EXPECT_TRUE(test::readFile(downloads.filePath("big.bin")) == content);
    EXPECT_TRUE(serving.waitFor("Upload /Music/big.bin bob: Completed", kTransferTimeoutMs))
        << serving.out().toStdString();
    EXPECT_EQ(serving.stop(), 0);

    // Each side counts the file: bob took it, the owner (known by his id here) gave it.
    const QString bytes = QString::number(content.size());
    // Columns: nick, status, files and bytes he gave, files and bytes he took.
    EXPECT_EQ(cli(owner, {"credits"}).out, "bob\t1\t0\t0\t1\t" + bytes + "\n");
    EXPECT_EQ(cli(downloader, {"credits"}).out,
              QString::number(m.aliceId) + "\t1\t1\t" + bytes + "\t0\t0\n");
}

TEST_F(TransferTest, TheQueueOutlivesExitsAndCrashesAndIsRetriedUntilTheOwnerIsBack) {
    const QByteArray song = randomBytes(3 * 1024 * 1024 + 7);
    const QByteArray secret = randomBytes(70000);
    ASSERT_TRUE(test::writeFile(disk.filePath("Music/song.bin"), song));
    ASSERT_TRUE(test::writeFile(disk.filePath("Locked/secret.bin"), secret));
    share();
    share("Locked", {"--password", "Sesame"});
    ASSERT_TRUE(test::writeFile(downloads.filePath("song.bin"), song.left(100000)));

    // The owner is away: both downloads fail and stay queued, in a file only bob may read.
    const QString queueFile = downloader + "/data/queue.dat";
    ASSERT_FALSE(QFileInfo::exists(queueFile));
    EXPECT_TRUE(test::ended(get("/Music/song.bin"), 1, "Negotiating\nUser is offline\n"));
    EXPECT_TRUE(test::ended(get("/Locked/secret.bin", {"--password", "sesame"}), 1,
                            "Negotiating\nUser is offline\n"));
    const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    EXPECT_EQ(QFileInfo(queueFile).permissions() & others, 0);
    const QString id = QString::number(m.aliceId);
    const QString prefix = id + '\t' + id + '\t';
    EXPECT_EQ(cli(downloader, {"queue"}).out, prefix + "/Music/song.bin\tLocal Queue\t100000\t0\n" +
                                                  prefix +
                                                  "/Locked/secret.bin\tUser is offline\t0\t0\n");

    // Killed while both wait for their next attempt; the next run takes them up again, tries
    // twice more in vain, and gets both, the partial file resumed, once the owner is back.
    ASSERT_EQ(cli(downloader, {"set", "UserInfo/RetrySeconds", "1"}).exitCode, 0);
    ASSERT_EQ(cli(downloader, {"set", "UserInfo/RetryMaxSeconds", "2"}).exitCode, 0);
    const QString songFailed = "Download /Music/song.bin " + id + ": User is offline";
    {
        test::Serving crashing(downloader);
        ASSERT_TRUE(crashing.waitFor(songFailed, kTransferTimeoutMs))
            << crashing.out().toStdString();
        crashing.kill();
    }
    {
        test::Serving retrying(downloader);
        ASSERT_TRUE(retrying.waitFor(songFailed, kTransferTimeoutMs, 2))
            << retrying.out().toStdString();
        EXPECT_EQ(retrying.stop(), 0);
    }
    // With the owner back, the next start takes both up at once, with no retry to wait for.
    test::Serving alice(owner);
    ASSERT_TRUE(alice.ready()) << alice.err().toStdString();
    ASSERT_EQ(cli(downloader, {"set", "UserInfo/RetrySeconds", "0"}).exitCode, 0);
    test::Serving bob(downloader);
    EXPECT_TRUE(bob.waitFor(": Completed", kTransferTimeoutMs, 2)) << bob.out().toStdString();
    EXPECT_TRUE(bob.out().contains("Download /Music/song.bin " + id + ": Resuming"));
    EXPECT_EQ(bob.stop(), 0);
    EXPECT_TRUE(test::readFile(downloads.filePath("song.bin")) == song);
    EXPECT_TRUE(test::readFile(downloads.filePath("secret.bin")) == secret);
    EXPECT_EQ(cli(downloader, {"queue"}).out, prefix + "/Music/song.bin\tCompleted\t" +
                                                  QString::number(song.size()) + '\t' +
                                                  QString::number(song.size()) + '\n' + prefix +
                                                  "/Locked/secret.bin\tCompleted\t70000\t70000\n");
}

TEST_F(TransferTest, RefusalsReachTheDownloaderAsTheirTexts) {
    ASSERT_TRUE(test::writeFile(disk.filePath("Music/a.bin"), randomBytes(5000)));
    const QByteArray secret = randomBytes(70000);
    ASSERT_TRUE(test::writeFile(disk.filePath("Locked/secret.bin"), secret));
    share();
    share("Locked", {"--password", "Sesame"});
    EXPECT_TRUE(test::ended(get("/Music/a.bin"), 1, "Negotiating\nUser is offline\n"));

    test::Serving serving(owner);
    ASSERT_TRUE(serving.ready()) << serving.err().toStdString();
    EXPECT_TRUE(test::ended(get("/Music/missing.bin"), 1, "Negotiating\nFile Not Found\n"));
    EXPECT_TRUE(
        test::ended(get("/Locked/secret.bin"), 1, "Negotiating\nIncorrect Password for file\n"));
    EXPECT_EQ(get("/Locked/secret.bin", {"--password", "sesame"}).exitCode, 0);
    EXPECT_TRUE(test::readFile(downloads.filePath("secret.bin")) == secret);

    ASSERT_EQ(cli(owner, {"ban", "bob"}).exitCode, 0);
    EXPECT_TRUE(test::ended(get("/Music/a.bin"), 1, "Negotiating\nBanned\n"));
    EXPECT_FALSE(QFileInfo::exists(downloads.filePath("a.bin")));

    // Lifting the ban lets the same request through.
    ASSERT_EQ(cli(owner, {"unban", "bob"}).exitCode, 0);
    EXPECT_EQ(get("/Music/a.bin").exitCode, 0);
    EXPECT_EQ(test::readFile(downloads.filePath("a.bin")).size(), 5000);
}

TEST_F(TransferTest, WithOneUploadSlotTheSecondDownloaderWaitsForTheFirst) {
    // Carol never chose a download folder: hers is the default one, kept in her settings.
    QTemporaryDir carol, carolHome;
    ASSERT_GT(test::registerUser(carol.path(), m.server, "carol"), 0);
    const QString carolDownloads = carolHome.filePath("Downloads/Moonrake");
    ASSERT_EQ(cli(owner, {"set", "UserInfo/MaxUploads", "1"}).exitCode, 0);
    const QByteArray content = randomBytes(8 * 1024 * 1024);
    ASSERT_TRUE(test::writeFile(disk.filePath("Music/big.bin"), content));
    share();
    test::Serving serving(owner);
    ASSERT_TRUE(serving.ready()) << serving.err().toStdString();

    const QStringList args{"get", QString::number(m.aliceId), "/Music/big.bin"};
    std::unique_ptr<QProcess> first(
        test::startProgram("moonrake-cli", QStringList{"--profile", downloader} + args));
    std::unique_ptr<QProcess> second(test::startProgram(
        "moonrake-cli", QStringList{"--profile", carol.path()} + args,
        {"HOME=" + carolHome.path(), "XDG_CONFIG_HOME=" + carolHome.filePath(".config")}));
    ASSERT_TRUE(first->waitForFinished(kTransferTimeoutMs));
    ASSERT_TRUE(second->waitForFinished(kTransferTimeoutMs));
    EXPECT_EQ(first->exitCode(), 0);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(test::readFile(downloads.filePath("big.bin")) == content);
    EXPECT_TRUE(test::readFile(carolDownloads + "/big.bin") == content);
    EXPECT_EQ(cli(carol.path(), {"get", "UserInfo/DownloadPath"}).out.trimmed(), carolDownloads);

    // The owner's log: the second upload starts only after the first has ended.
    ASSERT_TRUE(serving.waitFor("carol: Completed", kTransferTimeoutMs));
    ASSERT_TRUE(serving.waitFor("bob: Completed", kTransferTimeoutMs));
    const QString log = serving.out();
    EXPECT_LT(log.indexOf(": Completed"),
              log.indexOf(": Negotiating", log.indexOf(": Negotiating") + 1))
        << log.toStdString();
}

TEST_F(TransferTest, ProtectedSharesAndBansHoldAgainstAPeerWrittenFromTheWire) {
    for (const char* file : {"Music/a.bin", "Locked/secret.bin", "Locked/Inner/deep.bin"})
        ASSERT_TRUE(test::writeFile(disk.filePath(file), randomBytes(5000)));
    share();
    share("Locked", {"--password", "Sesame"});
    test::Serving serving(owner);
    ASSERT_TRUE(serving.ready()) << serving.err().toStdString();
    const quint16 port = serving.out().section("file server port ", 1).trimmed().toUShort();
    const auto reqf = [](const QByteArray& path) {
        return "REQF " + path + QByteArray("*0*1*7\0*bob*", 13);
    };
    const auto loggedIn = [&](const QByteArray& user, const QByteArray& password) {
        auto peer = std::make_unique<test::RawPeer>();
        EXPECT_TRUE(peer->connectTo(port));
        EXPECT_TRUE(peer->login(user, password));
        return peer;
    };
    // The listing a REQD sends, or "refused" when its reply is the bare line.
    const auto reqd = [](test::RawPeer& peer, const QByteArray& folder) -> QByteArray {
        test::DataSink sink;
        EXPECT_EQ(peer.ask("PORT " + sink.portArgument()), "200 Port command successful.");
        const QByteArray reply = peer.ask("REQD " + folder);
        if (reply.isEmpty())
            return "refused";
        EXPECT_TRUE(sink.waitClosed());
        EXPECT_EQ(peer.line(), "226 File sent ok");
        return reply + ": " + sink.received;
    };

    // No password (the fixed stand-in, or none at all) and a wrong one, however the path is
    // spelt: files and folders below the protected share stay shut.
    for (const QByteArray password : {"qlmtvokrenbhxa", "", "Sesame2"}) {
        const auto bob = loggedIn("bob", password);
        for (const QByteArray path : {"/Locked/secret.bin", "/Locked/Inner/deep.bin"}) {
            EXPECT_TRUE(bob->ask(reqf(path)).startsWith("6 ")) << path.constData();
            EXPECT_TRUE(bob->ask("CHKP " + path).startsWith("6 ")) << path.constData();
        }
        for (const QByteArray path :
             {"/LOCKED/Secret.bin", "//Locked/secret.bin", "/Music/../Locked/secret.bin",
              "/Locked/./secret.bin", "Locked/secret.bin"})
            EXPECT_FALSE(bob->ask(reqf(path)).startsWith("0 ")) << path.constData();
        for (const QByteArray folder : {"/Locked", "/Locked/", "/locked", "/Locked/Inner"})
            EXPECT_EQ(reqd(*bob, folder), "refused") << folder.constData();
    }
    const auto withPassword = loggedIn("bob", "sesame");
    EXPECT_EQ(withPassword->ask("CHKP /Locked/Inner/deep.bin"), "0 0 0 0 5000");
    EXPECT_TRUE(reqd(*withPassword, "/Locked").contains("secret.bin"));

    // Banned, bob gets no file, no permission and no listing, password or not.
    ASSERT_EQ(cli(owner, {"ban", "bob"}).exitCode, 0);
    const auto banned = loggedIn("bob", "");
    EXPECT_TRUE(banned->ask(reqf("/Music/a.bin")).startsWith("4 "));
    EXPECT_TRUE(banned->ask("CHKP /Music/a.bin").startsWith("4 "));
    EXPECT_EQ(reqd(*banned, "/Music"), "refused");
    EXPECT_TRUE(withPassword->ask(reqf("/Locked/secret.bin")).startsWith("4 "));
    EXPECT_EQ(reqd(*withPassword, "/Locked"), "refused");
    EXPECT_TRUE(reqd(*loggedIn("carol", ""), "/Music").contains("a.bin"));

    // Nothing refused was queued: the one upload the owner ever starts is carol's.
    EXPECT_EQ(loggedIn("carol", "")->ask(reqf("/Music/a.bin")), "0 0 0 0 5000");
    ASSERT_TRUE(serving.waitFor("Upload /Music/a.bin carol:", kTransferTimeoutMs));
    EXPECT_EQ(serving.out().count("Upload "), serving.out().count("Upload /Music/a.bin carol:"))
        << serving.out().toStdString();
}
