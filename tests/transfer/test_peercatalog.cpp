#include "catalogtest.h"

#include "transfer/passwordcache.h"
#include "transfer/peercatalog.h"

#include <QFile>

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

using namespace mr;
using mr::test::RowFields;

namespace {

class PeerCatalogTest : public test::CatalogTest {
protected:
    void SetUp() override {
        CatalogTest::SetUp();
        m_music = addRow("Music", -1, true, {.action = "", .fileName = scratch()});
    }

    // "/Music/<name>", published and backed by a real file of n bytes.
    void share(const QString& name, RowFields f, int n = 10) {
        f.fileName = makeFile(name, n);
        addRow(name, m_music, false, f);
    }

    RequestVerdict check(const QString& path, const QString& user = "bob",
                         const QString& password = {}) {
        return FileRequestCheck(user, path, "10.0.0.9", password);
    }

    int m_music = 0;
};

TEST_F(PeerCatalogTest, RequestsAreJudgedByTheEntryAndTheRequestersAccount) {
    share("open.mp3", {.action = ""});
    share("open1.mp3", {.action = "", .ratioStyle = 1});
    share("restricted.mp3", {.action = "", .download = 2});
    share("other.mp3", {.action = "", .download = 4});
    share("unknown.mp3", {.action = "", .download = 3});
    share("secret.mp3", {.action = "", .password = "Sesame"});
    share("ratio.mp3", {.action = "", .ratioStyle = 2});
    share("big.iso", {.action = "", .ratioStyle = 4, .size = 1000}, 3);
    share("bigother.iso", {.action = "", .ratioStyle = 4, .download = 4, .size = 100}, 3);
    share("gone.mp3", {.action = ""});
    ASSERT_TRUE(QFile::remove(scratch("gone.mp3")));
    // Unshared by the user, not yet confirmed by the service.
    share("removed.mp3", {.action = "D"});
    rawExec("credits.dat",
            "insert into credits (Username, Status, FilesUploaded, FilesDownloaded, "
            "BytesUploaded, BytesDownloaded) values ('short', 1, 3, 6, 0, 0), "
            "('even', 1, 4, 6, 0, 0), ('carol', 1, 0, 0, 700, 500), ('mallory', 2, 0, 0, 0, 0), "
            "('nobody', 0, 0, 0, 0, 0), ('friend', 1, 0, 0, 0, 0)");

    // Without an account the entry's download setting decides, an unknown one never opening;
    // with one, the credit balance and the status.
    const std::tuple<const char*, const char*, const char*, int> cases[] = {
        {"bob", "open.mp3", "", 0},          {"bob", "open1.mp3", "", 0},
        {"bob", "restricted.mp3", "", 1},    {"bob", "other.mp3", "", 2},
        {"bob", "unknown.mp3", "", 1},       {"bob", "secret.mp3", "sESAME", 0},
        {"bob", "secret.mp3", "sesame!", 6}, {"bob", "secret.mp3", "", 6},
        {"bob", "ratio.mp3", "", 3},         {"SHORT", "ratio.mp3", "", 3},
        {"even", "ratio.mp3", "", 0},        {"carol", "bigother.iso", "", 2},
        {"mallory", "open.mp3", "", 4},      {"nobody", "open.mp3", "", 4},
        {"friend", "open.mp3", "", 0},       {"friend", "restricted.mp3", "", 1},
        {"friend", "secret.mp3", "", 6},     {"friend", "secret.mp3", "SESAME", 0},
        {"bob", "nothere.mp3", "", 5},       {"bob", "gone.mp3", "", 5},
        {"bob", "removed.mp3", "", 5}};
    for (const auto& [user, name, password, code] : cases) {
        EXPECT_EQ(check(QStringLiteral("/Music/") + name, user, password).Code, code)
            << user << " " << name;
    }

    const RequestVerdict open = check("/music/OPEN.mp3");
    EXPECT_EQ(open.LocalPath, scratch("open.mp3"));
    EXPECT_EQ(open.Size, 10);
    for (const char* user : {"bob", "short"}) {
        const RequestVerdict ratio = check("/Music/ratio.mp3", user);
        EXPECT_EQ(std::pair(ratio.RatioStyle, ratio.Credit), std::pair(2, 0)) << user;
    }
    // A byte ratio charges the catalog's size, while the size sent is the file's.
    const RequestVerdict big = check("/Music/big.iso", "carol");
    EXPECT_EQ(big.Code, 3);
    EXPECT_EQ(big.Credit, 900);
    EXPECT_EQ(big.Size, 3);
    // A folder is not a file.
    EXPECT_EQ(check("/Music").Code, 5);
    EXPECT_EQ(check("/").Code, 5);
    EXPECT_TRUE(check("/Music/gone.mp3").LocalPath.isEmpty());
    EXPECT_EQ(LocalPathOfShare("/MUSIC/open.mp3"), scratch("open.mp3"));
    EXPECT_TRUE(LocalPathOfShare("/Music/removed.mp3").isEmpty());
    EXPECT_TRUE(LocalPathOfShare("/").isEmpty());

    // An unbanned user has an account, and still needs the password.
    SetUserStatus("bob", kUserStatusBanned);
    EXPECT_EQ(check("/Music/secret.mp3", "bob", "sesame").Code, 4);
    SetUserStatus("bob", kUserStatusNormal);
    EXPECT_EQ(check("/Music/secret.mp3", "bob", "wrong").Code, 6);
}

TEST_F(PeerCatalogTest, CreditRowsAreAppendedOnceAndCountWhatEachUserGaveAndTook) {
    for (const char* name : {"Bob", "carol", "o'brien"})
        SetUserStatus(name, kUserStatusBanned);
    SetUserStatus("BOB", kUserStatusNormal);
    EXPECT_EQ(rawQuery("credits.dat", "select count(*) from credits"), "3");
    EXPECT_EQ(BannedUserNames(), QStringList({"carol", "o'brien"}));
    EXPECT_EQ(rawQuery("credits.dat", "select Status from credits where Username = 'Bob'"), "1");

    // Dave may take up to twice what he gave.
    share("ratio.mp3", {.action = "", .ratioStyle = 2});
    const auto verdict = [this] { return check("/Music/ratio.mp3", "dave").Code; };
    CountTransfer("dave", 1000, CreditDirection::GaveUs);
    EXPECT_EQ(verdict(), 0);
    CountTransfer("dave", 10, CreditDirection::TookFromUs);
    EXPECT_EQ(verdict(), 0);
    CountTransfer("DAVE", 20, CreditDirection::TookFromUs);
    EXPECT_EQ(verdict(), 3);
    CountTransfer("Dave", 500, CreditDirection::GaveUs);
    EXPECT_EQ(verdict(), 0);
    const CreditAccount dave = CreditAccounts().last();
    EXPECT_EQ(dave.userName, "dave");
    EXPECT_EQ(dave.status, kUserStatusNormal);
    EXPECT_EQ(std::tuple(dave.filesUploaded, dave.filesDownloaded, dave.bytesUploaded,
                         dave.bytesDownloaded),
              std::tuple(2, 2, 1500, 30));
}

TEST_F(PeerCatalogTest, AFolderListingEncodesEveryChildOfAPublishedFolderForItsPassword) {
    const int docs = addRow("Docs dir", -1, true, {.action = ""});
    addRow("my notes.txt", docs, false,
           {.action = "", .description = "a*b", .fileSize = 12, .fileDate = 45000.25});
    addRow("plain", docs, false, {.action = "", .fileSize = 0, .fileDate = 45123.123456789012});
    addRow("sub", docs, true, {.action = "", .description = "folder", .fileDate = 0});
    addRow("theirs", docs, false, {.action = "", .user = "someone"});
    addRow("Empty", -1, true, {.action = ""});
    const int locked = addRow("Locked", -1, true, {.action = "", .password = "Key"});
    addRow("a", locked, false, {.action = "", .fileSize = 1, .fileDate = 0});
    addRow("Pending", -1, true);

    EXPECT_EQ(FolderListing("bob", "/Docs dir", ""),
              "my\\ notes.txt /Docs\\ dir 12 45000.25 a\\*b plain /Docs\\ dir 0 45123.123456789 * "
              "sub /Docs\\ dir -1 0 folder");
    EXPECT_EQ(FolderListing("bob", "/Empty", ""), QByteArray());
    EXPECT_EQ(FolderListing("bob", "/Locked", "kEY"), "a /Locked 1 0 *");
    // A blank after a name is part of it; the root has no row; an unprotected folder's password
    // is empty, so the login of a downloader without a file password does not open it.
    const std::pair<const char*, const char*> refused[] = {{"/Locked ", "kEY"},
                                                           {"/Locked", "nope"},
                                                           {"/Locked", ""},
                                                           {"/Pending", ""},
                                                           {"/Nowhere", ""},
                                                           {"/", ""},
                                                           {"/Empty", "qlmtvokrenbhxa"}};
    for (const auto& [folder, password] : refused)
        EXPECT_FALSE(FolderListing("bob", folder, password)) << folder << " " << password;
    // A banned user sees no folder; nobody else is refused for it.
    SetUserStatus("BOB", kUserStatusBanned);
    EXPECT_FALSE(FolderListing("bob", "/Empty", ""));
    EXPECT_EQ(FolderListing("carol", "/Empty", ""), QByteArray());
}

// Answers with a fixed password, or gives up; records every question.
class ScriptedPrompt : public PasswordPrompt {
public:
    std::optional<QString> ask(qint32 ownerId, const QString& ownerNick, const QString& fileName,
                               const QString& path) override {
        asked.push_back(QStringLiteral("%1 %2 %3 %4").arg(ownerId).arg(ownerNick, fileName, path));
        return answer;
    }
    std::optional<QString> answer;
    std::vector<QString> asked;
};

TEST(PasswordCache, AFolderPasswordServesItsOwnersFilesBelowItUntilAskedAgain) {
    TPasswordCache cache;
    ScriptedPrompt prompt;
    cache.setPrompt(&prompt);
    prompt.answer = "wrong";
    EXPECT_EQ(cache.GetPassword(7, "/Music", "ann", "Music", false), "wrong");
    EXPECT_EQ(prompt.asked, std::vector<QString>{"7 ann Music /Music"});
    prompt.answer = "pw8";
    EXPECT_EQ(cache.GetPassword(7, "/Music/a/song.mp3", "ann", "song.mp3", false), "wrong");
    EXPECT_EQ(cache.GetPassword(8, "/Music/song.mp3", "ben", "song.mp3", false), "pw8");
    EXPECT_EQ(prompt.asked.size(), 2u);

    // Asked again, the new password replaces the old one.
    prompt.answer = "right";
    EXPECT_EQ(cache.GetPassword(7, "/music", "ann", "Music", true), "right");
    EXPECT_EQ(cache.GetPassword(7, "/Music/x", "ann", "x", false), "right");
    EXPECT_EQ(prompt.asked.size(), 3u);

    // An abandoned prompt caches nothing.
    prompt.answer.reset();
    try {
        cache.GetPassword(9, "/Music", "cy", "Music", false);
        FAIL() << "no EPasswordAbort";
    } catch (const EPasswordAbort& e) {
        EXPECT_STREQ(e.what(), "Authorization User Abort");
    }
    EXPECT_EQ(cache.items().size(), 2);
}

}  // namespace
