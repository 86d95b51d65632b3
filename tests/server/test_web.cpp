#include "httprequest.h"
#include "limitedlistener.h"
#include "store.h"
#include "testutil.h"
#include "webhandler.h"
#include "webserver.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include <gtest/gtest.h>

using namespace mr::server;

namespace {

HttpRequestParser::Status parse(const QByteArray& text, HttpRequestParser* out = nullptr,
                                int piece = 1 << 20) {
    HttpRequestParser p;
    for (qsizetype at = 0; at < text.size() && p.status() == HttpRequestParser::Status::NeedMore;
         at += piece) {
        p.feed(QByteArrayView(text).sliced(at, std::min<qsizetype>(piece, text.size() - at)));
    }
    if (out) {
        *out = p;
    }
    return p.status();
}

class Web : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_store.open(m_dir.path(), nullptr)); }

    QByteArray get(const QByteArray& target) {
        const HttpResponse r = handleWebRequest(m_store, m_site, "GET", target);
        EXPECT_EQ(r.status, 200) << target.constData();
        return r.body;
    }

    QTemporaryDir m_dir;
    Store m_store;
    WebSite m_site;
};

}  // namespace

TEST(WebParser, ReadsGoodRequestsInAnyPieces) {
    const QByteArray one = "GET /motd/motd.txt HTTP/1.0\r\n\r\n";
    const QByteArray eleven = "GET /a?b=%20 HTTP/1.1\nHost: x\nUser-Agent: t\n\n";
    for (int piece : {1, 3, 1000}) {
        HttpRequestParser p;
        EXPECT_EQ(parse(one, &p, piece), HttpRequestParser::Status::Ready);
        EXPECT_EQ(p.target(), "/motd/motd.txt");
        EXPECT_EQ(parse(eleven, &p, piece), HttpRequestParser::Status::Ready);
        EXPECT_EQ(p.target(), "/a?b=%20");
        EXPECT_EQ(p.header("user-agent"), "t");
    }
    HttpRequestParser p;
    EXPECT_EQ(p.feed(one + "tail"), one.size());
}

TEST(WebParser, BreaksOnMalformedRequests) {
    for (const char* bad : {
             "GET /x\r\n\r\n",                                // no version
             "GET /x HTTP/2.0\r\n\r\n",                       // unknown version
             "GET  /x HTTP/1.0\r\n\r\n",                      // double blank
             "GET x HTTP/1.0\r\n\r\n",                        // not a path
             "G(T /x HTTP/1.0\r\n\r\n",                       // not a method
             "GET /x HTTP/1.1\r\n\r\n",                       // 1.1 without Host
             "GET /x HTTP/1.0\r\nNoColon\r\n\r\n",            //
             "GET /x HTTP/1.0\r\nA: b\r\n folded\r\n\r\n",    //
             "GET /x HTTP/1.0\r\nBad Name: b\r\n\r\n",        //
             "GET /x HTTP/1.0 \r\n\r\n",                      // blank after the version
             "GET /x HTTP/1.0\r\nContent-Length: 5\r\n\r\n",  // a body
             "GET /x HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n",
             "GET /x\x01 HTTP/1.0\r\n\r\n",
         }) {
        EXPECT_EQ(parse(bad), HttpRequestParser::Status::Broken) << bad;
    }
    EXPECT_EQ(parse("GET /" + QByteArray(kMaxHttpLine, 'a') + " HTTP/1.0\r\n\r\n"),
              HttpRequestParser::Status::Broken);
    QByteArray many = "GET / HTTP/1.0\r\n";
    for (int i = 0; i <= kMaxHttpHeaders; ++i) {
        many += "X-" + QByteArray::number(i) + ": y\r\n";
    }
    EXPECT_EQ(parse(many + "\r\n"), HttpRequestParser::Status::Broken);
    // Without its blank line a head is never complete, however long it waits.
    EXPECT_EQ(parse("GET / HTTP/1.0\r\nA: b\r\n"), HttpRequestParser::Status::NeedMore);
}

TEST(WebParser, PercentDecoding) {
    EXPECT_EQ(percentDecode("a%26b%3Dc%20d%25"), "a&b=c d%");
    EXPECT_EQ(percentDecode("100%"), "100%");
    EXPECT_EQ(percentDecode("%zz%4"), "%zz%4");
    EXPECT_EQ(percentDecode("a+b"), "a+b");
    EXPECT_EQ(percentDecode("%C3%A9"), "\xC3\xA9");
}

TEST_F(Web, AnnouncesOnlyHostsAClientCanSplitAtItsColon) {
    WebServer web(m_store);
    ASSERT_TRUE(web.listen(QHostAddress::LocalHost, 0));
    web.setServicePort(5000);
    // Without a public host: the name the client asked for, else the address it reached.
    EXPECT_EQ(web.siteFor(QHostAddress("192.168.1.5"), "moon.example:80").serviceEndpoint,
              "moon.example:5000");
    EXPECT_EQ(web.siteFor(QHostAddress("::ffff:10.0.0.7"), "[::1]:80").serviceEndpoint,
              "10.0.0.7:5000");
    EXPECT_EQ(web.siteFor(QHostAddress("10.0.0.7"), "a,b:80").serviceEndpoint, "10.0.0.7:5000");
    // Nothing usable: empty lines, which clients skip and so keep the lists they have.
    const WebSite none = web.siteFor(QHostAddress::LocalHostIPv6, "[::1]:80");
    EXPECT_TRUE(none.serviceEndpoint.isEmpty());
    EXPECT_TRUE(none.webEndpoint.isEmpty());

    EXPECT_TRUE(isAnnounceableHost(u"moon-1.example"));
    for (const char16_t* bad : {u"", u"::1", u"a:1", u"a,b", u"a b", u"0.0.0.0"}) {
        EXPECT_FALSE(isAnnounceableHost(bad)) << QString::fromUtf16(bad).toStdString();
    }
    EXPECT_EQ(announceableHost(QHostAddress("::ffff:127.0.0.1")), "127.0.0.1");
    for (const QHostAddress& a : {QHostAddress(QHostAddress::LocalHostIPv6),
                                  QHostAddress(QHostAddress::AnyIPv4), QHostAddress("fe80::1")}) {
        EXPECT_TRUE(announceableHost(a).isEmpty()) << a.toString().toStdString();
    }
}

TEST_F(Web, RegisterRefusesTakenEmptyAndBlankNames) {
    const QByteArray first =
        get("/Search/mrSearch.dll?Register?username=Zoe&password=p%26q%3Dr%20s");
    const int id = first.toInt();
    ASSERT_GT(id, 0);
    EXPECT_TRUE(m_store.checkPassword(id, "p&q=r s"));
    for (const QByteArray& query : std::initializer_list<QByteArray>{
             "username=zOE&password=x", "username=&password=x", "password=x",
             "username=two%20words&password=x", "username=tab%09&password=x",
             "username=nopass&password=", "username=" + QByteArray(65, 'n') + "&password=x"}) {
        EXPECT_EQ(get("/Search/mrSearch.dll?Register?" + query), "0") << query.constData();
    }
    const int yuk = get("/search/MRSEARCH.DLL?Register?username=Y%C3%BCk&password=x").toInt();
    EXPECT_GT(yuk, id);
    const auto a = m_store.account(yuk);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->nickname, QString::fromUtf8("Yük"));
}

TEST_F(Web, SetUserInfoNeedsThePasswordAndKeepsWhatIsNotSent) {
    const int id = get("/Search/mrSearch.dll?Register?username=Uma&password=pw").toInt();
    const QByteArray base = "/Search/mrSearch.dll?SetUserInfo?UserID=" + QByteArray::number(id);
    EXPECT_EQ(get(base + "&pass=wrong&Firstname=X"), "0");
    EXPECT_EQ(get("/Search/mrSearch.dll?SetUserInfo?UserID=abc&pass=pw"), "0");
    EXPECT_EQ(get(base + "&pass=pw&ShowInfo=0&Firstname=Uma%20May&DateOfBirth=25999.5"
                         "&Info=a%0D%0Ab&Connection=8"),
              "1");
    EXPECT_EQ(get(base + "&pass=pw&Lastname=Lo&ShowInfo=1&Connection=x"), "1");
    EXPECT_EQ(get(base + "&pass=pw&Info=" + QByteArray(5000, 'i')), "0");
    const auto a = m_store.account(id);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->firstName, "Uma May");
    EXPECT_EQ(a->lastName, "Lo");
    EXPECT_EQ(a->birthDate, 25999.5);
    EXPECT_EQ(a->message, "a\r\nb");
    EXPECT_EQ(a->connection, 8);
    EXPECT_TRUE(a->showInfo);
}

// What the service, web, chat and mail ports share: past the limit a connection is dropped as
// it arrives, and a place frees when a served connection ends.
TEST(LimitedListenerTest, DropsConnectionsBeyondTheLimitUntilOneEnds) {
    std::vector<QPointer<QTcpSocket>> served;
    LimitedListener listener(2, [&served](QTcpSocket* socket) {
        served.emplace_back(socket);
        return socket;
    });
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    const auto dial = [&] {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, listener.port());
        return clients.back().get();
    };
    dial();
    dial();
    ASSERT_TRUE(mr::test::waitUntil([&] { return served.size() == 2; }));
    QTcpSocket* refused = dial();
    EXPECT_TRUE(
        mr::test::waitUntil([&] { return refused->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(served.size(), 2u);

    delete served.front().data();
    dial();
    EXPECT_TRUE(mr::test::waitUntil([&] { return served.size() == 3; }));

    // Where connections may still wait for their request, the oldest waiting one makes room
    // for a newcomer, and one that sent its request keeps its place.
    served.clear();
    clients.clear();
    LimitedListener fair(
        2,
        [&served](QTcpSocket* socket) {
            served.emplace_back(socket);
            return socket;
        },
        [](const QObject* s) { return static_cast<const QTcpSocket*>(s)->bytesAvailable() == 0; });
    ASSERT_TRUE(fair.listen(QHostAddress::LocalHost, 0));
    const auto dialFair = [&] {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, fair.port());
        return clients.back().get();
    };
    dialFair()->write("request");
    ASSERT_TRUE(mr::test::waitUntil([&] { return served.size() == 1; }));
    ASSERT_TRUE(mr::test::waitUntil([&] { return served[0]->bytesAvailable() > 0; }));
    dialFair();
    ASSERT_TRUE(mr::test::waitUntil([&] { return served.size() == 2; }));
    for (int newcomers = 1; newcomers <= 2; ++newcomers) {
        dialFair();
        ASSERT_TRUE(mr::test::waitUntil([&] { return served.size() == 2u + newcomers; }));
        EXPECT_TRUE(served[newcomers].isNull());
    }
    EXPECT_FALSE(served[0].isNull());
    EXPECT_FALSE(served[3].isNull());
}
