#include "process.h"
#include "serverprocess.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace mr;

namespace {

constexpr int kTimeoutMs = 120000;

test::RunResult cli(const QString& profile, const QStringList& args) {
    return test::cli(profile, args, kTimeoutMs);
}

// The tab-separated fields of each result line of a search that ended with that status.
QList<QStringList> results(const test::RunResult& r, const QString& status) {
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    EXPECT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.isEmpty() ? QString() : lines.takeLast(), status) << r.out.toStdString();
    QList<QStringList> rows;
    for (const QString& line : lines)
        rows << line.split('\t');
    return rows;
}

}  // namespace

// Alice shares, one folder behind a password; Bob finds her files by part of their names, the
// protected one too, and fetches from the path the search printed.
TEST(SearchEndToEnd, FoundFilesAreDownloadedFromTheirResult) {
    test::TwoMembers m;
    ASSERT_TRUE(m.up());
    QTemporaryDir disk, downloads;
    ASSERT_EQ(cli(m.bob, {"set", "UserInfo/DownloadPath", downloads.path()}).exitCode, 0);
    const QByteArray song(1234567, 's');
    ASSERT_TRUE(test::writeFile(disk.filePath("Music/Sunny Day.mp3"), song));
    ASSERT_TRUE(test::writeFile(disk.filePath("Locked/secret.bin"), "k"));
    ASSERT_EQ(cli(m.alice, {"share", disk.filePath("Music"), "--yes"}).exitCode, 0);
    ASSERT_EQ(cli(m.alice, {"share", disk.filePath("Locked"), "--password", "Sesame"}).exitCode, 0);

    EXPECT_TRUE(test::ended(cli(m.bob, {"search", "unny"}), 0, "No items were found\n"));

    test::Serving serving(m.alice);
    ASSERT_TRUE(serving.ready()) << serving.err().toStdString();
    const QList<QStringList> sunny =
        results(cli(m.bob, {"search", "unny", "--type", "mp3", "--ping"}), "1 items found.");
    ASSERT_EQ(sunny.size(), 1);
    const QStringList row = sunny.first();
    ASSERT_EQ(row.size(), 8);
    EXPECT_EQ(row.mid(0, 6), QStringList({QString::number(m.aliceId), "alice", "Online", "1234KB",
                                          "Unknown", "Music/Sunny Day.mp3"}));
    EXPECT_TRUE(row[7].contains(QRegularExpression("^\\d+(\\.\\d+)?$"))) << row[7].toStdString();
    EXPECT_EQ(cli(m.bob, {"get", row[0], row[5]}).exitCode, 0);
    EXPECT_TRUE(test::readFile(downloads.filePath("Sunny Day.mp3")) == song);

    const QList<QStringList> locked =
        results(cli(m.bob, {"search", "ecre", "--filter", "bin"}), "1 items found.");
    ASSERT_EQ(locked.size(), 1);
    EXPECT_EQ(locked.first().value(5), "Locked/secret.bin");
    EXPECT_EQ(serving.stop(), 0);
}
