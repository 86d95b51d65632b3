#include "fakewebserver.h"

#include "core/hostinfo.h"
#include "core/profile.h"
#include "core/userinfo.h"
#include "service/motd.h"
#include "service/registrationclient.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The two plain GETs against the web host: the message of the day and the registration.
using namespace mr;
using mr::test::FakeWebServer;

namespace {

using Motd = MessageOfTheDay;

class WebClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        setActiveProfile(m_dir.path());
        m_ini = m_dir.filePath(QStringLiteral("update.ini"));
        qputenv("MOONRAKE_UPDATE_INI", m_ini.toLocal8Bit());
        m_motd.setTimeout(5000);
        m_motd.setLauncher([this](const QString& program) {
            m_started << program;
            return true;
        });
        QObject::connect(&m_motd, &Motd::updateAvailable,
                         [this](const QString& text, const QString& title) {
                             m_announced << title + QLatin1Char('|') + text;
                         });
    }
    void TearDown() override { qunsetenv("MOONRAKE_UPDATE_INI"); }

    void install(const QByteArray& iniText) {
        QFile f(m_ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(iniText);
    }
    QTemporaryDir m_dir;
    QString m_ini;
    Motd m_motd;
    QStringList m_started;
    QStringList m_announced;
};

TEST(MotdParsing, LinesSplitOnEveryBreakAndVersionsCompareAsFourDecimalFixedPoint) {
    EXPECT_EQ(Motd::splitLines("\n\r\nb\nc\rcaf\xc3\xa9\n"),
              (QStringList{"", "", "b", "c", QStringLiteral("caf\u00e9")}));
    EXPECT_EQ(Motd::splitLines(""), QStringList{});

    EXPECT_EQ(Motd::fixedPoint4(" -1.5 "), -15000);
    EXPECT_EQ(Motd::fixedPoint4("1.00005"), 10001);  // rounded at the fifth place
    EXPECT_EQ(Motd::fixedPoint4("1.00004"), 10000);
    for (const char* bad : {"", ".", "1,05", "1.0.5", "v1", "1e3", "123456789012345", "- 1"}) {
        EXPECT_FALSE(Motd::fixedPoint4(QString::fromLatin1(bad))) << bad;
    }

    EXPECT_TRUE(Motd::isNewer("1.06", "1.05"));
    EXPECT_TRUE(Motd::isNewer("10", "9.9999"));
    // Equal to the fourth decimal, older, or unreadable: not newer.
    for (const char* offered : {"1.05", "1.050", "1.05004", "1.04", "garbage"}) {
        EXPECT_FALSE(Motd::isNewer(offered, "1.05")) << offered;
    }
    EXPECT_FALSE(Motd::isNewer("1.06", ""));
}

// The reply as a web server may frame it, fed a byte at a time where framing could split.
TEST(MotdParsing, RepliesAreReadByLengthChunksOrCloseAndAnythingCutOrFailedIsNothing) {
    using State = Motd::ReplyReader::State;
    const auto read = [](const QByteArray& reply, bool closed, bool bytewise) {
        Motd::ReplyReader r;
        if (bytewise) {
            for (char c : reply) {
                r.feed(QByteArrayView(&c, 1));
            }
        } else {
            r.feed(reply);
        }
        if (closed) {
            r.end();
        }
        return r.state() == State::Done ? r.body() : QByteArray("<none>");
    };
    const QByteArray chunked =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 99\r\n\r\n"
        "3;x=y\r\nab\n\r\nA\r\n0123456789\r\n0\r\nTrailer: t\r\n\r\n";
    for (bool bytewise : {false, true}) {
        EXPECT_EQ(read(chunked, false, bytewise), "ab\n0123456789");
        EXPECT_EQ(read("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef", false, bytewise),
                  "abc");
        EXPECT_EQ(read("HTTP/1.0 204 No Content\r\nServer: s\r\n\r\nab", true, bytewise), "ab");
        EXPECT_EQ(read("HTTP/1.0 200 OK\nContent-Length: 4\n\nab\r\n", false, bytewise), "ab\r\n");
    }
    EXPECT_EQ(read("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, false), "");
    for (const char* bad :
         {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nabc",  // cut short
          "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc",
          "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcX\r\n0\r\n\r\n",
          "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
          "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFF\r\n",
          "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n",
          "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab",
          "HTTP/1.1 200 OK\r\nContent-Length: 99999999\r\n\r\n",
          "HTTP/1.1 301 Moved\r\nContent-Length: 2\r\n\r\nab", "HTTP/1.1 2000 OK\r\n\r\n",
          "ICY 200 OK\r\n\r\nab", "HTTP/1.1 200 OK\r\nno colon\r\n\r\nab", "HTTP/1.1 200"}) {
        EXPECT_EQ(read(bad, true, false), "<none>") << bad;
    }
    EXPECT_EQ(read("HTTP/1.1 200 OK\r\n" + QByteArray(70000, 'x'), false, false), "<none>");
    EXPECT_EQ(read("HTTP/1.1 200 OK\r\n\r\n" + QByteArray(Motd::kMaxBytes + 1, 'x'), false, false),
              "<none>");
}

// Each host line replaces its list unless it is blank; a newer version than the installed one
// is announced and starts the update program.
TEST_F(WebClientTest, MessageOfTheDayReplacesHostsAndAnnouncesOnlyANewerVersion) {
    install("[Apps/Moonrake]\nVersion=1.05\n");
    FakeWebServer web;
    HostInfo().set(HostStore::Http, web.host());
    web.body = "\nsvc.new:7000,b:2\n  \n1.06\n<b>Hello</b>\r\nsecond line\n";
    HostInfo().set(HostStore::Chat, QStringLiteral("chat.old:6667"));

    m_motd.fetchAndApply(HostInfo());
    EXPECT_EQ(web.lastRequestLine, "GET /motd/motd.txt HTTP/1.1");
    EXPECT_EQ(m_motd.lines().size(), 6);
    EXPECT_EQ(m_motd.message(), "<b>Hello</b>\nsecond line");
    EXPECT_EQ(HostInfo().get(HostStore::Chat, 0)->host, "chat.old");
    EXPECT_EQ(HostInfo().get(HostStore::Http, 0)->port, web.serverPort());
    EXPECT_EQ(HostInfo().count(HostStore::Moonrake), 2);
    EXPECT_EQ(HostInfo().get(HostStore::Moonrake, 0)->host, "svc.new");
    EXPECT_EQ(HostInfo().get(HostStore::Moonrake, 1)->port, 2);
    EXPECT_EQ(m_announced, QStringList{"Moonrake update|A new version of Moonrake is available! "
                                       "The update wizard will run now."});
    ASSERT_EQ(m_started.size(), 1);
    EXPECT_TRUE(m_started.first().endsWith(QStringLiteral("/wiseupdt")));

    // An equal or unreadable version, or none installed: nothing more; each fetch replaces the
    // kept lines.
    const std::pair<QByteArray, QByteArray> cases[] = {{"[Apps/Moonrake]\nVersion=1.05\n", "1.050"},
                                                       {"[Apps/Moonrake]\nVersion=1.05\n", "soon"},
                                                       {"", "9.99"},
                                                       {"[Other]\nVersion=9\n", "9.99"}};
    for (const auto& [ini, offered] : cases) {
        install(ini);
        web.body = "\n\n\n" + offered + "\n";
        m_motd.fetchAndApply(HostInfo());
        EXPECT_EQ(m_motd.lines().size(), 4) << offered.constData();
        EXPECT_TRUE(m_motd.message().isEmpty());
    }
    EXPECT_EQ(m_started.size(), 1);
    EXPECT_EQ(m_announced.size(), 1);
}

// No web host, a missing file, one beyond the cap and no answer: nothing is kept, no host list
// changes.
TEST_F(WebClientTest, FailedFetchesLeaveHostsAloneAndKeepNoMessage) {
    install("[Apps/Moonrake]\nVersion=1.00\n");
    HostInfo().set(HostStore::Moonrake, QStringLiteral("svc.old:7000"));
    m_motd.fetchAndApply(HostInfo());
    EXPECT_TRUE(m_motd.lines().isEmpty());

    FakeWebServer missing("\nsvc.new:1\n\n2.0\n", "404 Not Found");
    FakeWebServer huge("\nsvc.new:1\n\n2.0\n" + QByteArray(Motd::kMaxBytes, 'x'));
    // A server that never answers: once after the time-out, once ended by abort().
    FakeWebServer timedOut, aborted;
    timedOut.silent = aborted.silent = true;
    for (FakeWebServer* web : {&missing, &huge, &timedOut, &aborted}) {
        HostInfo().set(HostStore::Http, web->host());
        m_motd.setTimeout(web == &timedOut ? 300 : 60000);
        if (web == &aborted) {
            // Once the request is in, so that only abort() can end the fetch.
            QObject::connect(web, &QTcpServer::newConnection, web, [this, web] {
                QTcpSocket* s = web->findChildren<QTcpSocket*>().value(0);
                QObject::connect(s, &QTcpSocket::readyRead, &m_motd, &Motd::abort,
                                 Qt::QueuedConnection);
            });
        }
        m_motd.fetchAndApply(HostInfo());
        EXPECT_EQ(web->requests, 1);
        EXPECT_TRUE(m_motd.lines().isEmpty());
        EXPECT_FALSE(m_motd.fetching());
    }
    EXPECT_EQ(HostInfo().get(HostStore::Moonrake, 0)->host, "svc.old");
    EXPECT_TRUE(m_started.isEmpty());
}

TEST(Registration, QueriesCarryTheFieldsInOrderPercentEncoded) {
    RegistrationProfile p;
    p.showInfo = false;
    EXPECT_EQ(RegistrationClient::setUserInfoPath(12, QStringLiteral("pw"), p),
              "/Search/mrSearch.dll?SetUserInfo?UserID=12&pass=pw&ShowInfo=0&Connection=0");
    p.showInfo = true;
    p.firstName = QStringLiteral("Ann");
    p.lastName = QStringLiteral("Lee");
    p.email = QStringLiteral("a@b.c");
    p.dateOfBirth = 36526;
    p.sex = QStringLiteral("F");
    p.country = QStringLiteral("SN");
    p.homepage = QStringLiteral("http://x/?a=1");
    p.languages = QStringLiteral("en");
    p.info = QStringLiteral("hi\nthere");
    p.connection = 8;
    EXPECT_EQ(RegistrationClient::setUserInfoPath(3, QStringLiteral("p"), p),
              "/Search/mrSearch.dll?SetUserInfo?UserID=3&pass=p&ShowInfo=1&Firstname=Ann"
              "&Lastname=Lee&Email=a@b.c&DateOfBirth=36526&Sex=F&Country=SN"
              "&Homepage=http://x/?a%3D1&Languages=en&Info=hi%0Athere&Connection=8");

    EXPECT_EQ(RegistrationClient::parseRegisterReply("42"), 42);
    EXPECT_EQ(RegistrationClient::parseRegisterReply("17\r\n"), 17);
    for (const char* refused : {"0", "taken", "-5", "99999999999", ""}) {
        EXPECT_EQ(RegistrationClient::parseRegisterReply(refused), 0) << refused;
    }
}

// Only what would break the query is percent-encoded, once, and the path goes out as built;
// an HTTP error or silence fails.
TEST_F(WebClientTest, RegistrationRequestLineReachesTheServerAsBuilt) {
    FakeWebServer web("42"), broken("1", "500 Internal Server Error"), silent;
    silent.silent = true;
    const auto fetch = [](FakeWebServer& server, int timeoutMs = 5000) {
        HostInfo().set(HostStore::Http, server.host());
        RegistrationClient client;
        client.setTimeout(timeoutMs);
        return client.getAndWait(RegistrationClient::registerPath(
            QStringLiteral("a&b c"), QStringLiteral("p@!=q\u00e9%20")));
    };
    EXPECT_EQ(fetch(web), QByteArray("42"));
    EXPECT_EQ(web.lastRequestLine,
              "GET /Search/mrSearch.dll?Register?username=a%26b%20c&password=p@!%3Dq%C3%A9%2520"
              " HTTP/1.1");
    EXPECT_FALSE(fetch(broken));
    EXPECT_FALSE(fetch(silent, 300));
    EXPECT_EQ(silent.requests, 1);
}

}  // namespace
