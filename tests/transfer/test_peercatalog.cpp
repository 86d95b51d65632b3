#include "dbtestutil.h"

#include "core/fields.h"
#include "db/cursor.h"
#include "db/database.h"
#include "transfer/passwordcache.h"
#include "transfer/peercatalog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

using namespace mr;

namespace {

// What a test file row carries besides its place in the tree.
struct Share {
    QString password{};
    int ratioStyle = 0;
    int download = 0;
    int size = 0;
    QString action{};
    QString description{};
    int fileSize = 0;
    double fileDate = 0;
};

struct Account {
    int status = 1;
    int filesUp = 0;
    int filesDown = 0;
    qint64 bytesUp = 0;
    qint64 bytesDown = 0;
};

class PeerCatalog : public test::DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        ASSERT_TRUE(m_disk.isValid());
        m_music = addRow("Music", -1, true, m_disk.path(), {});
    }

    // A local catalog row under parentId; returns its id.
    int addRow(const QString& name, int parentId, bool folder, const QString& fileName,
               const Share& share, const QString& user = {}) {
        db::Cursor files(QString::fromLatin1(db::kDatabaseName), QStringLiteral("files"));
        files.append();
        files.setString(u"Username", user);
        files.setInteger(u"ParentId", parentId);
        files.setString(u"Name", name);
        files.setString(u"FileName", fileName);
        files.setInteger(u"Attributes", folder ? 1 : 0);
        files.setInteger(u"FileSize", folder ? -1 : share.fileSize);
        files.setDateTime(u"FileDate", share.fileDate);
        files.setString(u"Description", share.description);
        files.setString(u"Password", share.password);
        files.setString(u"Action", share.action);
        files.setInteger(u"RatioStyle", share.ratioStyle);
        files.setInteger(u"Download", share.download);
        files.setInteger(u"Size", share.size);
        files.post();
        return static_cast<int>(files.asInteger(u"id"));
    }

    // "/Music/<name>" backed by a real file of n bytes.
    void share(const QString& name, const Share& settings, int n = 10) {
        const QString path = QDir(m_disk.path()).filePath(name);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(n, 'x'));
        file.close();
        addRow(name, m_music, false, path, settings);
    }

    void account(const QString& user, const Account& a) {
        db::Cursor credits(QString::fromLatin1(db::kDatabaseName), QStringLiteral("credits"));
        credits.append();
        credits.setString(u"Username", user);
        credits.setInteger(u"Status", a.status);
        credits.setInteger(u"FilesUploaded", a.filesUp);
        credits.setInteger(u"FilesDownloaded", a.filesDown);
        credits.setInteger(u"BytesUploaded", a.bytesUp);
        credits.setInteger(u"BytesDownloaded", a.bytesDown);
        credits.post();
    }

    int code(const QString& name, const QString& user = QStringLiteral("bob"),
             const QString& password = QStringLiteral("qlmtvokrenbhxa")) {
        return FileRequestCheck(user, QStringLiteral("/Music/") + name, QStringLiteral("10.0.0.9"),
                                password)
            .Code;
    }

    int countCredits() const {
        return rawQuery(QStringLiteral("credits.dat"),
                        QStringLiteral("select count(*) from credits"))
            .toInt();
    }

    QTemporaryDir m_disk;
    int m_music = 0;
};

TEST_F(PeerCatalog, RequesterWithoutAccountFollowsTheDownloadSetting) {
    share("open.mp3", {});
    share("restricted.mp3", {.download = 2});
    share("other.mp3", {.download = 4});
    share("open1.mp3", {.ratioStyle = 1});
    share("unknown.mp3", {.download = 3});

    const TRequestVerdict open = FileRequestCheck(
        QStringLiteral("bob"), QStringLiteral("/music/OPEN.mp3"), QString(), QString());
    EXPECT_EQ(open.Code, 0);
    EXPECT_EQ(open.LocalPath, QDir(m_disk.path()).filePath(QStringLiteral("open.mp3")));
    EXPECT_EQ(open.Size, 10);
    EXPECT_EQ(code("open1.mp3"), 0);
    EXPECT_EQ(code("restricted.mp3"), 1);
    EXPECT_EQ(code("other.mp3"), 2);
    // A setting this client does not know never opens the file.
    EXPECT_EQ(code("unknown.mp3"), 1);
}

TEST_F(PeerCatalog, FilePasswordIsComparedWithoutCase) {
    share("secret.mp3", {.password = QStringLiteral("Sesame")});
    EXPECT_EQ(code("secret.mp3", "bob", "sESAME"), 0);
    EXPECT_EQ(code("secret.mp3", "bob", "sesame!"), 6);
    EXPECT_EQ(code("secret.mp3", "bob", ""), 6);
}

TEST_F(PeerCatalog, RatioStyleWithoutAccountAsksForCredit) {
    share("ratio.mp3", {.ratioStyle = 2});
    const TRequestVerdict v =
        FileRequestCheck(QStringLiteral("bob"), QStringLiteral("/Music/ratio.mp3"), {}, {});
    EXPECT_EQ(v.Code, 3);
    EXPECT_EQ(v.RatioStyle, 2);
    EXPECT_EQ(v.Credit, 0);
}

TEST_F(PeerCatalog, CreditBalanceDecidesRatioFiles) {
    share("ratio.mp3", {.ratioStyle = 2});
    account(QStringLiteral("short"), {.status = 1, .filesUp = 3, .filesDown = 6});
    account(QStringLiteral("even"), {.status = 1, .filesUp = 4, .filesDown = 6});

    const TRequestVerdict poor =
        FileRequestCheck(QStringLiteral("SHORT"), QStringLiteral("/Music/ratio.mp3"), {}, {});
    EXPECT_EQ(poor.Code, 3);
    EXPECT_EQ(poor.RatioStyle, 2);
    EXPECT_EQ(poor.Credit, 0);
    EXPECT_EQ(code("ratio.mp3", "even"), 0);
}

TEST_F(PeerCatalog, ByteRatioChargesTheCatalogSize) {
    share("big.iso", {.ratioStyle = 4, .size = 1000}, 3);
    share("bigother.iso", {.ratioStyle = 4, .download = 4, .size = 100}, 3);
    account(QStringLiteral("carol"), {.status = 1, .bytesUp = 700, .bytesDown = 500});

    const TRequestVerdict v =
        FileRequestCheck(QStringLiteral("carol"), QStringLiteral("/Music/big.iso"), {}, {});
    EXPECT_EQ(v.Code, 3);
    EXPECT_EQ(v.Credit, 900);
    EXPECT_EQ(v.Size, 3);
    EXPECT_EQ(code("bigother.iso", "carol"), 2);
}

TEST_F(PeerCatalog, BannedAndZeroStatusAreRefused) {
    share("open.mp3", {});
    share("restricted.mp3", {.download = 2});
    account(QStringLiteral("mallory"), {.status = 2});
    account(QStringLiteral("nobody"), {.status = 0});
    account(QStringLiteral("friend"), {.status = 1});
    EXPECT_EQ(code("open.mp3", "mallory"), 4);
    EXPECT_EQ(code("open.mp3", "nobody"), 4);
    EXPECT_EQ(code("open.mp3", "friend"), 0);
    EXPECT_EQ(code("restricted.mp3", "friend"), 1);
}

TEST_F(PeerCatalog, AnUnbannedUserIsJudgedByHisAccountNotByThePassword) {
    share("secret.mp3", {.password = QStringLiteral("Sesame")});
    EXPECT_EQ(code("secret.mp3", "bob", "wrong"), 6);
    SetUserStatus(QStringLiteral("bob"), kUserStatusBanned);
    EXPECT_EQ(code("secret.mp3", "bob", "sesame"), 4);
    SetUserStatus(QStringLiteral("bob"), kUserStatusNormal);
    EXPECT_EQ(code("secret.mp3", "bob", "wrong"), 0);
}

TEST_F(PeerCatalog, MissingEntriesAndFilesAreNotFound) {
    share("gone.mp3", {});
    ASSERT_TRUE(QFile::remove(QDir(m_disk.path()).filePath(QStringLiteral("gone.mp3"))));
    share("removed.mp3", {.action = QStringLiteral("D")});

    EXPECT_EQ(code("nothere.mp3"), 5);
    EXPECT_EQ(code("gone.mp3"), 5);
    // Unshared by the user, not yet confirmed by the service.
    EXPECT_EQ(code("removed.mp3"), 5);
    // A folder is not a file.
    EXPECT_EQ(FileRequestCheck("bob", "/Music", {}, {}).Code, 5);
    EXPECT_EQ(FileRequestCheck("bob", "/", {}, {}).Code, 5);
    EXPECT_TRUE(FileRequestCheck("bob", "/Music/gone.mp3", {}, {}).LocalPath.isEmpty());
}

TEST_F(PeerCatalog, SetUserStatusAppendsOnceThenEdits) {
    SetUserStatus(QStringLiteral("Bob"), kUserStatusBanned);
    SetUserStatus(QStringLiteral("carol"), kUserStatusBanned);
    SetUserStatus(QStringLiteral("o'brien"), kUserStatusBanned);
    EXPECT_EQ(BannedUserNames(), QStringList({"Bob", "carol", "o'brien"}));

    SetUserStatus(QStringLiteral("BOB"), kUserStatusNormal);
    EXPECT_EQ(countCredits(), 3);
    EXPECT_EQ(BannedUserNames(), QStringList({"carol", "o'brien"}));
    EXPECT_EQ(rawQuery("credits.dat", "select Status from credits where Username = 'Bob'"), "1");
}

TEST_F(PeerCatalog, LocalPathOfShareResolvesLocalRows) {
    share("song.mp3", {});
    EXPECT_EQ(LocalPathOfShare(QStringLiteral("/MUSIC/song.mp3")),
              QDir(m_disk.path()).filePath(QStringLiteral("song.mp3")));
    EXPECT_TRUE(LocalPathOfShare(QStringLiteral("/Music/none.mp3")).isEmpty());
    EXPECT_TRUE(LocalPathOfShare(QStringLiteral("/")).isEmpty());
}

TEST_F(PeerCatalog, ListingEncodesEveryFieldOfEveryChild) {
    const int folder = addRow("Docs", -1, true, m_disk.path(), {});
    addRow("my notes.txt", folder, false, "/x/my notes.txt",
           {.description = QStringLiteral("a*b"), .fileSize = 12, .fileDate = 45000.25});
    addRow("plain", folder, false, "/x/plain", {.fileSize = 0, .fileDate = 45123.123456789012});
    addRow("sub", folder, true, "/x/sub", {.description = QStringLiteral("folder")});
    addRow("theirs", folder, false, "/y/theirs", {}, QStringLiteral("someone"));

    QByteArray out;
    BuildMRDirectory(folder, QStringLiteral("/Docs dir"), out);
    EXPECT_EQ(out,
              "my\\ notes.txt /Docs\\ dir 12 45000.25 a\\*b "
              "plain /Docs\\ dir 0 45123.123456789 * "
              "sub /Docs\\ dir -1 0 folder");
    EXPECT_EQ(SplitFields(out).size(), 15);

    const int empty = addRow("Empty", -1, true, m_disk.path(), {});
    QByteArray none;
    BuildMRDirectory(empty, QStringLiteral("/Empty"), none);
    EXPECT_TRUE(none.isEmpty());
}

TEST_F(PeerCatalog, FolderListingNeedsAPublishedFolderAndItsPassword) {
    const int locked = addRow("Locked", -1, true, m_disk.path(), {.password = "Key"});
    addRow("a", locked, false, "/x/a", {.fileSize = 1});
    addRow("Pending", -1, true, m_disk.path(), {.action = QStringLiteral("A")});
    share("x.mp3", {});

    const std::optional<QByteArray> open = FolderListing(QStringLiteral("/Locked"), "kEY");
    ASSERT_TRUE(open.has_value());
    EXPECT_EQ(*open, "a /Locked 1 0 *");
    // A blank after a name is part of it: "/Locked " is another folder.
    EXPECT_FALSE(FolderListing("/Locked ", "kEY"));
    EXPECT_FALSE(FolderListing("/Locked", "nope"));
    EXPECT_FALSE(FolderListing("/Locked", ""));
    EXPECT_FALSE(FolderListing("/Pending", ""));
    EXPECT_FALSE(FolderListing("/Nowhere", ""));
    // The catalog root has no row of its own.
    EXPECT_FALSE(FolderListing("/", ""));
    // An unprotected folder is open to a login with any password.
    EXPECT_FALSE(FolderListing("/Music", "qlmtvokrenbhxa"));
    EXPECT_EQ(FolderListing("/Music", "").value_or("?").left(6), "x.mp3 ");
}

// Answers with a fixed password, or gives up; records every question.
class ScriptedPrompt : public TPasswordPrompt {
public:
    std::optional<QString> ask(qint32 ownerId, const QString& ownerNick, const QString& fileName,
                               const QString& path) override {
        asked.push_back(QStringLiteral("%1 %2 %3 %4").arg(ownerId).arg(ownerNick, fileName, path));
        return answer;
    }
    std::optional<QString> answer;
    std::vector<QString> asked;
};

class PasswordCacheTest : public ::testing::Test {
protected:
    void SetUp() override { cache.setPrompt(&prompt); }
    TPasswordCache cache;
    ScriptedPrompt prompt;
};

TEST_F(PasswordCacheTest, FolderPasswordServesFilesBelowItForTheSameOwnerOnly) {
    prompt.answer = QStringLiteral("pw7");
    EXPECT_EQ(cache.GetPassword(7, "/Music", "ann", "Music", false), "pw7");
    ASSERT_EQ(prompt.asked.size(), 1u);
    EXPECT_EQ(prompt.asked[0], "7 ann Music /Music");

    EXPECT_EQ(cache.GetPassword(7, "/Music/a/song.mp3", "ann", "song.mp3", false), "pw7");
    EXPECT_EQ(prompt.asked.size(), 1u);

    prompt.answer = QStringLiteral("pw8");
    EXPECT_EQ(cache.GetPassword(8, "/Music/song.mp3", "ben", "song.mp3", false), "pw8");
    EXPECT_EQ(prompt.asked.size(), 2u);
}

TEST_F(PasswordCacheTest, ForceAsksAgainAndReplacesTheOldPassword) {
    prompt.answer = QStringLiteral("wrong");
    cache.GetPassword(7, "/Music", "ann", "Music", false);
    prompt.answer = QStringLiteral("right");
    EXPECT_EQ(cache.GetPassword(7, "/music", "ann", "Music", true), "right");
    EXPECT_EQ(prompt.asked.size(), 2u);
    EXPECT_EQ(cache.items().size(), 1);
    EXPECT_EQ(cache.GetPassword(7, "/Music/x", "ann", "x", false), "right");
}

TEST_F(PasswordCacheTest, ItemsAreSortedByOwnerThenPathIgnoringCase) {
    for (auto [id, path] :
         std::vector<std::pair<qint32, QString>>{{9, "/b"}, {3, "/Z"}, {9, "/A"}, {3, "/a"}}) {
        prompt.answer = path;
        cache.GetPassword(id, path, "x", "y", true);
    }
    QStringList order;
    for (const TPasswordItem& item : cache.items())
        order << QStringLiteral("%1%2").arg(item.UserId).arg(item.Path);
    EXPECT_EQ(order, QStringList({"3/a", "3/Z", "9/A", "9/b"}));
}

TEST_F(PasswordCacheTest, AbandonedPromptThrowsAndCachesNothing) {
    prompt.answer.reset();
    try {
        cache.GetPassword(7, "/Music", "ann", "Music", false);
        FAIL() << "no EPasswordAbort";
    } catch (const EPasswordAbort& e) {
        EXPECT_STREQ(e.what(), "Authorization User Abort");
    }
    EXPECT_TRUE(cache.items().isEmpty());

    cache.setPrompt(nullptr);
    EXPECT_THROW(cache.GetPassword(7, "/Music", "ann", "Music", false), EPasswordAbort);
}

}  // namespace
