#include "process.h"
#include "serverprocess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace mr;

namespace {

using mr::test::cli;

// What `browse` printed, its dates checked and taken out; only its exit code when that is not 0.
QStringList browsed(const test::RunResult& r) {
    static const QRegularExpression date(
        QStringLiteral("^(\\S+) \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d (.*)$"));
    if (r.exitCode != 0)
        return {"exit code " + QString::number(r.exitCode)};
    QStringList lines;
    for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts)) {
        const auto m = date.match(line);
        lines << (m.hasMatch() ? m.captured(1) + ' ' + m.captured(2) : "BAD: " + line);
    }
    return lines;
}

}  // namespace

TEST(CatalogEndToEnd, SharedTreeIsWhatAnotherUserBrowses) {
    test::TwoMembers m;
    ASSERT_TRUE(m.up());
    QTemporaryDir disk;

    ASSERT_TRUE(test::writeFile(disk.filePath("Music/a.mp3"), QByteArray(3, 'x')));
    ASSERT_TRUE(test::writeFile(disk.filePath("Music/Live/b.ogg"), QByteArray(4, 'x')));
    ASSERT_TRUE(test::writeFile(disk.filePath("Music/Live/.hidden"), QByteArray(1, 'x')));
    QDir().mkpath(disk.filePath("Music/Empty"));

    // Shared while the service is away: the rows wait as additions.
    ASSERT_EQ(cli(m.alice, {"set", "Host/Moonrake", "127.0.0.1:1"}).exitCode, 0);
    auto r = cli(m.alice, {"share", disk.filePath("Music")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.startsWith("Shared " + disk.filePath("Music") + " as /Music (6 entries)"))
        << r.out.toStdString();
    EXPECT_TRUE(test::ended(cli(m.alice, {"list"}), 0,
                            "A Dir /Music\nA Dir /Music/Empty\nA Dir /Music/Live\n"
                            "A 1 /Music/Live/.hidden\nA 4 /Music/Live/b.ogg\nA 3 /Music/a.mp3\n"));

    ASSERT_EQ(cli(m.alice, {"set", "Host/Moonrake", m.server.service().text()}).exitCode, 0);
    EXPECT_TRUE(
        test::ended(cli(m.alice, {"sync"}), 0, "Additions accepted: 6\nRemovals accepted: 0\n"));
    EXPECT_EQ(cli(m.alice, {"sync"}).out, "Nothing to send\n");
    EXPECT_TRUE(cli(m.alice, {"list", "/music/live"}).out.startsWith("- Dir /Music/Live\n"));

    const auto browse = [&](const QStringList& path) {
        return browsed(cli(m.bob, QStringList{"browse", QString::number(m.aliceId)} + path));
    };
    EXPECT_EQ(browse({}), QStringList{"Dir Music"});
    EXPECT_EQ(browse({"/Music"}), (QStringList{"Dir Empty", "Dir Live", "3 a.mp3"}));
    EXPECT_EQ(browse({"Music/Live"}), (QStringList{"1 .hidden", "4 b.ogg"}));
    EXPECT_EQ(browse({"/Music/Empty"}), QStringList());
    EXPECT_EQ(browse({"/Nope"}), QStringList{"exit code 1"});

    // A removal reaches the service and leaves nothing behind locally.
    EXPECT_TRUE(test::ended(cli(m.alice, {"unshare", "/Music/Live"}), 0,
                            "Removed /Music/Live\nAdditions accepted: 0\nRemovals accepted: 1\n"));
    EXPECT_EQ(browse({"/Music"}), (QStringList{"Dir Empty", "3 a.mp3"}));
    EXPECT_EQ(cli(m.alice, {"list"}).out, "- Dir /Music\n- Dir /Music/Empty\n- 3 /Music/a.mp3\n");
    EXPECT_EQ(cli(m.alice, {"unshare", "/Music/Live"}).exitCode, 1);

    // A folder whose name ends with a blank is another folder, browsed and removed as such.
    ASSERT_TRUE(test::writeFile(disk.filePath("Band/Live /b.ogg"), QByteArray(4, 'x')));
    ASSERT_TRUE(test::writeFile(disk.filePath("Band/Live/c.ogg"), QByteArray(2, 'x')));
    // A line break in a name is printed escaped: it could otherwise forge a line.
    ASSERT_TRUE(test::writeFile(disk.filePath("Band/x\ny.ogg"), QByteArray(1, 'x')));
    ASSERT_EQ(cli(m.alice, {"share", disk.filePath("Band")}).exitCode, 0);
    EXPECT_EQ(browse({"/Band"}), (QStringList{"Dir Live", "Dir Live ", "1 x\\ny.ogg"}));
    EXPECT_EQ(browse({"/Band/Live "}), QStringList{"4 b.ogg"});
    EXPECT_TRUE(test::ended(cli(m.alice, {"unshare", "/Band/Live "}), 0,
                            "Removed /Band/Live \nAdditions accepted: 0\nRemovals accepted: 1\n"));
    EXPECT_EQ(browse({"/Band"}), (QStringList{"Dir Live", "1 x\\ny.ogg"}));
    EXPECT_EQ(browse({"/Band/Live "}), QStringList{"exit code 1"});
    EXPECT_EQ(browse({"/Band/Live"}), QStringList{"2 c.ogg"});
}
