#include "catalog/listing.h"
#include "core/record.h"
#include "testutil.h"

#include <gtest/gtest.h>

using namespace mr;

namespace {

QByteArray entry(qint32 owner, qint32 size, double date, int flag, const char* folder,
                 const char* name, const char* description) {
    return "F" +
           PackRecord("IIDWBAAA", {owner, size, date, 0, flag, folder, name, description}).bytes;
}

}  // namespace

TEST(Listing, ReadsEntriesWithFolderPathsTrimmedButForTheFolderAskedFor) {
    const QByteArray reply = entry(7, -1, 0, 0, "Music", "Live ", "") +
                             entry(7, 1234, 45000.25, 1, "Music/", "a.mp3", "nice") +
                             entry(7, 5, 1, 0, "", "top.txt", " ");
    const auto items = parseListing(reply, "alice");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0]->Path, "/Music/");
    // Blanks around a path are padding, except in the folder asked for when its name ends
    // with a blank.
    const QByteArray live = entry(7, 1, 0, 0, "Music/Live ", "b", "");
    EXPECT_EQ(parseListing(live, "u")[0]->Path, "/Music/Live/");
    EXPECT_EQ(parseListing(live, "u", "Music/Live ")[0]->Path, "/Music/Live /");
    EXPECT_EQ(parseListing(entry(7, 1, 0, 0, " Music  ", "b", ""), "u", "Music")[0]->Path,
              "/Music/");
    EXPECT_EQ(items[1]->fullPath(), "/Music/a.mp3");
    const TRemoteFileItem& a = *items[1];
    EXPECT_EQ(std::tuple(a.date, a.passwordFlag, a.description, a.userName, a.userId),
              std::tuple(45000.25, true, QString("nice"), QString("alice"), 7));
    EXPECT_EQ(items[2]->Path, "/");
}

TEST(Listing, ByteExactRecordLayout) {
    // 'F', owner 2, size 3, date 1.0, reserved, flag 0, "a", "b", "".
    const QByteArray reply =
        mr::test::hex("46 02000000 03000000 000000000000F03F 0000 00 6100 6200 00");
    const auto items = parseListing(reply, "u");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->fullPath(), "/a/b");
    EXPECT_DOUBLE_EQ(items[0]->date, 1.0);
}

TEST(Listing, SkipsUnknownTagsAndStopsAtATruncatedRecord) {
    const QByteArray good = entry(1, 10, 0, 0, "", "x", "");
    QByteArray reply = "\x01Z" + good + "Q" + good.left(good.size() - 3);
    auto items = parseListing(reply, "u");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->Name, "x");
    EXPECT_TRUE(parseListing(QByteArray("F"), "u").empty());
    EXPECT_TRUE(parseListing(QByteArray(), "u").empty());
    // A record whose last text never ends is cut short, never read past the end.
    reply = entry(1, 10, 0, 0, "", "y", "desc");
    reply.chop(1);
    EXPECT_TRUE(parseListing(reply, "u").empty());
    // Names that cannot stand in a folder are dropped, the rest kept.
    items =
        parseListing(entry(1, 1, 0, 0, "", "", "") + entry(1, 1, 0, 0, "", "a/b", "") + good, "u");
    ASSERT_EQ(items.size(), 1u);
}
