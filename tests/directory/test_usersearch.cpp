#include "core/datetime.h"
#include "core/record.h"
#include "directory/usersearch.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <limits>

namespace mr {
namespace {

using test::hex;

TEST(UserSearch, OnlyTheSearchedFieldCarriesItsTextWithStarsMadePercent) {
    const auto all = UserSearchPatterns::byNickname(QStringLiteral("*"));
    EXPECT_EQ(QStringList({all.nickname, all.firstName, all.lastName, all.email}),
              QStringList({"%", "%", "%", "%"}));
    const auto bob = UserSearchPatterns::byNickname(QStringLiteral("bob"));
    EXPECT_EQ(QStringList({bob.nickname, bob.firstName, bob.lastName, bob.email}),
              QStringList({"bob", "%", "%", "%"}));
    const auto mail = UserSearchPatterns::byEmail(QStringLiteral("*@ex*.org"));
    EXPECT_EQ(QStringList({mail.nickname, mail.firstName, mail.lastName, mail.email}),
              QStringList({"%", "%", "%", "%@ex%.org"}));
    const auto name = UserSearchPatterns::byName(QStringLiteral("Jo*"), QStringLiteral("Smith"));
    EXPECT_EQ(QStringList({name.nickname, name.firstName, name.lastName, name.email}),
              QStringList({"%", "Jo%", "Smith", "%"}));
    const auto first = UserSearchPatterns::byName(QStringLiteral("Jo"), QString());
    EXPECT_EQ(QStringList({first.firstName, first.lastName}), QStringList({"Jo", "%"}));
}

TEST(UserSearch, ReplyRecordsAreReadUntilTheDataIsUsedUp) {
    // id 7 "bob" "Bob" "" "b@x" online; id -1 "ann" "" "" "" offline; then a cut record.
    const QByteArray reply =
        hex("07000000 626F6200 426F6200 00 624078 00 02"
            "FFFFFFFF 616E6E00 00 00 00 00"
            "09000000 7A6F6500");
    const QList<FoundUser> users = ParseUserSearchReply(reply);
    ASSERT_EQ(users.size(), 2);
    EXPECT_EQ(users[0].userId, 7);
    EXPECT_EQ(users[0].nickname, "bob");
    EXPECT_EQ(users[0].firstName, "Bob");
    EXPECT_EQ(users[0].lastName, "");
    EXPECT_EQ(users[0].email, "b@x");
    EXPECT_TRUE(users[0].online);
    EXPECT_EQ(users[1].userId, -1);
    EXPECT_EQ(users[1].nickname, "ann");
    EXPECT_FALSE(users[1].online);
    EXPECT_TRUE(ParseUserSearchReply({}).isEmpty());
    EXPECT_TRUE(ParseUserSearchReply(hex("070000")).isEmpty());
}

TEST(UserSearch, UserInformationIsReadAndShownWithItsConversions) {
    const double birth = toDateTime(QDateTime(QDate(1971, 3, 5), QTime(0, 0)));
    const QByteArray reply =
        PackRecord("AAAAABDBAAAI", {"Bob", "Builder", "bob", "Ireland", "b@x", 8, birth, int{'M'},
                                    "English", "hi\r\nthere", "http://b", 42})
            .bytes;
    const auto info = ParseUserInformation(reply);
    ASSERT_TRUE(info.has_value());
    const UserInfoTexts t = UserInformationTexts(QStringLiteral("bobby"), *info, QLocale::English);
    EXPECT_EQ(QStringList(t.begin(), t.end()),
              QStringList({"bobby", "b@x", "42", "DSL", "hi\nthere", "Bob", "Builder", "5/Mar/1971",
                           "English", "Male", "Ireland", "http://b"}));
    EXPECT_EQ(UserInfoLabel(UserInfoField::MoreInfo), "Greeting Message");
    EXPECT_FALSE(ParseUserInformation(reply.chopped(1)).has_value());
    EXPECT_FALSE(ParseUserInformation({}).has_value());

    EXPECT_EQ(BirthDateText(0), "Unknown");
    EXPECT_EQ(BirthDateText(std::numeric_limits<double>::quiet_NaN()), "Unknown");
    EXPECT_EQ(BirthDateText(1e300), "Unknown");
    EXPECT_EQ(
        BirthDateText(toDateTime(QDateTime(QDate(2001, 12, 31), QTime(23, 59))), QLocale::English),
        "31/Dec/2001");
    EXPECT_EQ(GenderText('F'), "Female");
    for (const int other : {0, int{'m'}, int{'X'}, 255}) {
        EXPECT_EQ(GenderText(static_cast<std::uint8_t>(other)), "Unknown") << other;
    }
    EXPECT_EQ(ConnectionText(0), "Unknown");
    EXPECT_EQ(ConnectionText(1), "14,400");
    EXPECT_EQ(ConnectionText(2), "28.800");
    EXPECT_EQ(ConnectionText(10), "T3");
    EXPECT_EQ(ConnectionText(11), "Unknown");
}

}  // namespace
}  // namespace mr
