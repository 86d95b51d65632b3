#include "process.h"
#include "serverprocess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace mr;

namespace {

using mr::test::cli;
using mr::test::registerUser;

void setHost(const QString& profile, const QString& key, const QString& value) {
    ASSERT_EQ(cli(profile, {"set", key, value}).exitCode, 0);
}

// The browse lines with their dates checked and taken out.
QStringList withoutDates(const QString& out) {
    static const QRegularExpression date(
        QStringLiteral("^(\\S+) \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d (.*)$"));
    QStringList lines;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        const auto m = date.match(line);
        lines << (m.hasMatch() ? m.captured(1) + ' ' + m.captured(2) : "BAD: " + line);
    }
    return lines;
}

}  // namespace

TEST(CatalogEndToEnd, SharedTreeIsWhatAnotherUserBrowses) {
    QTemporaryDir data, alice, bob, disk;
    test::Server server({"--data", data.path()});
    ASSERT_TRUE(server.ready()) << server.readyLine().toStdString();
    const int aliceId = registerUser(alice.path(), server, "alice");
    ASSERT_GT(aliceId, 0);
    ASSERT_GT(registerUser(bob.path(), server, "bob"), 0);

    ASSERT_TRUE(test::writeFile(disk.filePath("Music/a.mp3"), QByteArray(3, 'x')));
    ASSERT_TRUE(test::writeFile(disk.filePath("Music/Live/b.ogg"), QByteArray(4, 'x')));
    ASSERT_TRUE(test::writeFile(disk.filePath("Music/Live/.hidden"), QByteArray(1, 'x')));
    QDir().mkpath(disk.filePath("Music/Empty"));

    // Shared while the service is away: the rows wait as additions.
    setHost(alice.path(), "Host/Moonrake", "127.0.0.1:1");
    auto r = cli(alice.path(), {"share", disk.filePath("Music")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.startsWith("Shared " + disk.filePath("Music") + " as /Music (6 entries)"))
        << r.out.toStdString();
    r = cli(alice.path(), {"list"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out,
              "A Dir /Music\n"
              "A Dir /Music/Empty\n"
              "A Dir /Music/Live\n"
              "A 1 /Music/Live/.hidden\n"
              "A 4 /Music/Live/b.ogg\n"
              "A 3 /Music/a.mp3\n");

    setHost(alice.path(), "Host/Moonrake", server.service().text());
    r = cli(alice.path(), {"sync"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Additions accepted: 6\nRemovals accepted: 0\n");
    EXPECT_EQ(cli(alice.path(), {"sync"}).out, "Nothing to send\n");
    EXPECT_TRUE(cli(alice.path(), {"list", "/music/live"}).out.startsWith("- Dir /Music/Live\n"));

    const QString id = QString::number(aliceId);
    r = cli(bob.path(), {"browse", id});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(withoutDates(r.out), QStringList{"Dir Music"});
    r = cli(bob.path(), {"browse", id, "/Music"});
    EXPECT_EQ(withoutDates(r.out), (QStringList{"Dir Empty", "Dir Live", "3 a.mp3"}));
    r = cli(bob.path(), {"browse", id, "Music/Live"});
    EXPECT_EQ(withoutDates(r.out), (QStringList{"1 .hidden", "4 b.ogg"}));
    EXPECT_EQ(cli(bob.path(), {"browse", id, "/Music/Empty"}).out, "");
    EXPECT_EQ(cli(bob.path(), {"browse", id, "/Nope"}).exitCode, 1);

    // A removal reaches the service and leaves nothing behind locally.
    r = cli(alice.path(), {"unshare", "/Music/Live"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Removed /Music/Live\nAdditions accepted: 0\nRemovals accepted: 1\n");
    r = cli(bob.path(), {"browse", id, "/Music"});
    EXPECT_EQ(withoutDates(r.out), (QStringList{"Dir Empty", "3 a.mp3"}));
    EXPECT_EQ(cli(alice.path(), {"list"}).out,
              "- Dir /Music\n- Dir /Music/Empty\n- 3 /Music/a.mp3\n");
    EXPECT_EQ(cli(alice.path(), {"unshare", "/Music/Live"}).exitCode, 1);

    // A folder whose name ends with a blank is another folder, browsed and removed as such.
    ASSERT_TRUE(test::writeFile(disk.filePath("Band/Live /b.ogg"), QByteArray(4, 'x')));
    ASSERT_TRUE(test::writeFile(disk.filePath("Band/Live/c.ogg"), QByteArray(2, 'x')));
    ASSERT_EQ(cli(alice.path(), {"share", disk.filePath("Band")}).exitCode, 0);
    EXPECT_EQ(withoutDates(cli(bob.path(), {"browse", id, "/Band"}).out),
              (QStringList{"Dir Live", "Dir Live "}));
    EXPECT_EQ(withoutDates(cli(bob.path(), {"browse", id, "/Band/Live "}).out),
              QStringList{"4 b.ogg"});
    r = cli(alice.path(), {"unshare", "/Band/Live "});
    EXPECT_EQ(r.out, "Removed /Band/Live \nAdditions accepted: 0\nRemovals accepted: 1\n");
    EXPECT_EQ(withoutDates(cli(bob.path(), {"browse", id, "/Band"}).out), QStringList{"Dir Live"});
    EXPECT_EQ(cli(bob.path(), {"browse", id, "/Band/Live "}).exitCode, 1);
    EXPECT_EQ(withoutDates(cli(bob.path(), {"browse", id, "/Band/Live"}).out),
              QStringList{"2 c.ogg"});
}

TEST(CatalogEndToEnd, OfflineSharesAskAboveAThousandEntriesAndRefuseMisplacingNames) {
    QTemporaryDir profile, disk;
    ASSERT_EQ(cli(profile.path(), {"init"}).exitCode, 0);
    for (int i = 0; i < 1001; ++i)
        ASSERT_TRUE(test::writeFile(disk.filePath(QString("big/f%1").arg(i)), QByteArray()));
    auto r = cli(profile.path(), {"share", disk.filePath("big")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.trimmed(),
              "You are about to share 1001 file(s)\nThis operation may take a long while, since a "
              "very large amount of data\nwill be sent to Moonrake Server\n\nDo you wish to "
              "continue?");
    EXPECT_EQ(cli(profile.path(), {"list"}).out, "");
    // With --yes it goes ahead; with no service to reach, the rows wait for a sync.
    setHost(profile.path(), "Host/Moonrake", "127.0.0.1:1");
    r = cli(profile.path(), {"share", disk.filePath("big"), "--yes", "--name", "Many"});
    EXPECT_TRUE(r.out.startsWith("Shared " + disk.filePath("big") + " as /Many (1002 entries)"))
        << r.out.toStdString();

    ASSERT_TRUE(test::writeFile(disk.filePath("Music/a.mp3"), QByteArray(3, 'x')));
    ASSERT_TRUE(test::writeFile(disk.filePath("Music/Live/b.ogg"), QByteArray(4, 'x')));
    ASSERT_TRUE(test::writeFile(disk.filePath("Other/c.txt"), QByteArray(1, 'x')));
    EXPECT_EQ(cli(profile.path(), {"share", disk.filePath("Music")}).exitCode, 1);
    EXPECT_EQ(cli(profile.path(), {"unshare", "/Music/Live"}).exitCode, 1);
    const QString before = cli(profile.path(), {"list"}).out;
    ASSERT_TRUE(before.contains("D Dir /Music/Live\n")) << before.toStdString();

    for (const char* name : {"/Music/", "//Other", "/Music//Other", "/Music/a.mp3/Other",
                             "/Music/Live/Other", "/Nope/Other"}) {
        r = cli(profile.path(), {"share", disk.filePath("Other"), "--name", name});
        EXPECT_EQ(r.exitCode, 1) << name;
        EXPECT_FALSE(r.err.isEmpty()) << name;
        EXPECT_FALSE(r.out.contains("Shared")) << name;
    }
    EXPECT_EQ(cli(profile.path(), {"list"}).out, before);
    // A live folder takes it.
    EXPECT_TRUE(cli(profile.path(), {"share", disk.filePath("Other"), "--name", "/Music/Other"})
                    .out.startsWith("Shared "));
}
