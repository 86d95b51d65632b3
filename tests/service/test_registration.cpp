#include "fakewebserver.h"

#include "core/hostinfo.h"
#include "core/profile.h"
#include "core/userinfo.h"
#include "service/registrationclient.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

using namespace mr;
using mr::test::FakeWebServer;

namespace {

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        setActiveProfile(m_dir.path());
    }

    // Runs one GET against the fake server named in the profile's web host list.
    std::optional<QByteArray> fetch(FakeWebServer& web, const QByteArray& path,
                                    int timeoutMs = 5000) {
        HostInfo().set(HostStore::Http, QStringLiteral("127.0.0.1:%1,10.9.9.9:1").arg(web.port()));
        RegistrationClient client;
        client.setTimeout(timeoutMs);
        EXPECT_EQ(client.host(), "127.0.0.1");
        return client.getAndWait(path);
    }

    QTemporaryDir m_dir;
};

TEST_F(RegistrationTest, QueriesCarryTheFieldsInOrderPercentEncoded) {
    EXPECT_EQ(
        RegistrationClient::registerPath(QStringLiteral("a&b c"), QStringLiteral("p=q\u00e9")),
        "/Search/mrSearch.dll?Register?username=a%26b%20c&password=p%3Dq%C3%A9");

    RegistrationProfile minimal;
    minimal.showInfo = false;
    EXPECT_EQ(RegistrationClient::setUserInfoPath(12, QStringLiteral("pw"), minimal),
              "/Search/mrSearch.dll?SetUserInfo?UserID=12&pass=pw&ShowInfo=0&Connection=0");

    RegistrationProfile full;
    full.firstName = QStringLiteral("Ann");
    full.lastName = QStringLiteral("Lee");
    full.email = QStringLiteral("a@b.c");
    full.dateOfBirth = 36526;
    full.sex = QStringLiteral("F");
    full.country = QStringLiteral("SN");
    full.homepage = QStringLiteral("http://x/?a=1");
    full.languages = QStringLiteral("en");
    full.info = QStringLiteral("hi\nthere");
    full.connection = 8;
    EXPECT_EQ(RegistrationClient::setUserInfoPath(3, QStringLiteral("p"), full),
              "/Search/mrSearch.dll?SetUserInfo?UserID=3&pass=p&ShowInfo=1&Firstname=Ann"
              "&Lastname=Lee&Email=a%40b.c&DateOfBirth=36526&Sex=F&Country=SN"
              "&Homepage=http%3A%2F%2Fx%2F%3Fa%3D1&Languages=en&Info=hi%0Athere&Connection=8");
}

TEST_F(RegistrationTest, ProfileFromSettingsLeavesUnsetFieldsOut) {
    UserInfo().setSex(QStringLiteral("U"));
    UserInfo().setConnection(3);
    RegistrationProfile p = RegistrationProfile::fromSettings(UserInfo());
    EXPECT_FALSE(p.dateOfBirth);  // no date stored: none sent
    EXPECT_TRUE(p.sex.isEmpty());
    EXPECT_EQ(p.connection, 3);
    UserInfo().setBDate(36526);
    UserInfo().setSex(QStringLiteral("M"));
    p = RegistrationProfile::fromSettings(UserInfo());
    EXPECT_EQ(p.dateOfBirth, 36526.0);
    EXPECT_EQ(p.sex, "M");
}

TEST_F(RegistrationTest, ReplyBodyGivesTheNewIdOrZero) {
    EXPECT_EQ(RegistrationClient::parseRegisterReply("42"), 42);
    EXPECT_EQ(RegistrationClient::parseRegisterReply("17\r\n"), 17);
    for (const char* refused : {"0", "taken", "-5", "99999999999", ""}) {
        EXPECT_EQ(RegistrationClient::parseRegisterReply(refused), 0) << refused;
    }
}

// The path goes out as built, never encoded a second time; an HTTP error or silence fails.
TEST_F(RegistrationTest, RequestLineReachesTheServerAsBuilt) {
    FakeWebServer web("42");
    const QByteArray path =
        RegistrationClient::registerPath(QStringLiteral("a&b c"), QStringLiteral("p=q\u00e9%20"));
    EXPECT_EQ(fetch(web, path), QByteArray("42"));
    EXPECT_EQ(web.lastRequestLine(),
              "GET /Search/mrSearch.dll?Register?username=a%26b%20c&password=p%3Dq%C3%A9%2520"
              " HTTP/1.1");

    FakeWebServer broken("1", "500 Internal Server Error");
    EXPECT_FALSE(fetch(broken, path));
    FakeWebServer silent;
    silent.setSilent(true);
    EXPECT_FALSE(fetch(silent, path, 300));
    EXPECT_EQ(silent.requests(), 1);
}

}  // namespace
