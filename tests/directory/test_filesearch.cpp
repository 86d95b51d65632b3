#include "core/record.h"
#include "directory/filesearch.h"
#include "directory/linespeed.h"
#include "directory/searchresults.h"

#include "testutil.h"

#include <gtest/gtest.h>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

namespace mr {
namespace {

struct Body {
    QString name, description, extensions;
    qint32 min = 0, max = 0;
    quint8 online = 0, results = 0, minLine = 0;
};

Body sent(const FileSearchForm& form) {
    const FileSearchRequest request = BuildFileSearch(form);
    EXPECT_TRUE(request.criteria) << request.error.toStdString();
    Body b;
    if (request.criteria) {
        EXPECT_TRUE(UnpackRecord(FileSearchBody(*request.criteria), "AAIIABBB",
                                 {&b.name, &b.description, &b.min, &b.max, &b.extensions, &b.online,
                                  &b.results, &b.minLine})
                        .ok());
    }
    return b;
}

TEST(FileSearchRequest, BodyIsBuiltFromTheControls) {
    FileSearchForm form;
    EXPECT_EQ(FileSearchBody(*BuildFileSearch(form).criteria),
              QByteArray("%%\0%%\0", 6) + test::hex("FEFFFFFF FEFFFFFF") + QByteArray("%\0", 2) +
                  test::hex("01 64 00"));
    form.name = "*";
    EXPECT_EQ(sent(form).name, "%%%");
    form.name = "a*b";
    EXPECT_EQ(sent(form).name, "%a%b%");

    // The advanced panel's fields count only while it is checked.
    form.description = "x*y";
    form.minKb = "10";
    form.filter = "ogg";
    form.minLine = 3;
    form.mediaType = 0;
    Body b = sent(form);
    EXPECT_EQ(b.description, "%%");
    EXPECT_EQ(b.min, -2);
    EXPECT_EQ(b.extensions, "mp3:mp2");
    EXPECT_EQ(b.minLine, 0);

    form.advanced = true;
    form.showOffline = true;
    b = sent(form);
    EXPECT_EQ(b.description, "x%y%");
    EXPECT_EQ(b.min, 10000);
    EXPECT_EQ(b.max, 0);
    EXPECT_EQ(b.extensions, "ogg");
    EXPECT_EQ(b.online, 0);
    EXPECT_EQ(b.results, 100);
    EXPECT_EQ(b.minLine, 1);

    form.maxKb = " 9999999";
    form.filter = "  ";
    b = sent(form);
    EXPECT_EQ(b.max, 2147483000);
    EXPECT_EQ(b.extensions, "mp3:mp2");
    form.minKb = "";
    form.maxKb = "50";
    b = sent(form);
    EXPECT_EQ(b.min, -2);
    EXPECT_EQ(b.max, -2);

    // A size that is not a number is refused before anything is sent.
    form.minKb = "1";
    form.maxKb = "5k";
    EXPECT_FALSE(BuildFileSearch(form).criteria);
    EXPECT_EQ(BuildFileSearch(form).error, "Max KB: '5k' is not a valid integer value");
}

QByteArray record(qint32 owner, qint32 size, const char* folder, const char* name, const char* nick,
                  quint8 online, quint8 passwordFlag = 0) {
    return PackRecord("IIDWBAAAAAWWBB",
                      {owner, size, 45000.5, 0, unsigned{passwordFlag}, folder, name, "about it",
                       "10.0.0.7", nick, 4001, 4002, 2, unsigned{online}})
        .bytes;
}

TEST(FileSearchReply, RecordsAreReadUntilTheDataEndsOrACutRecord) {
    const QByteArray two =
        record(7, 1234567, "Music", "a.mp3", "ann", 1, 1) + record(8, -1, "", "Docs", "ben", 0);
    const std::vector<TRemoteFileItem> results =
        ParseFileSearchReply(two + record(9, 5, "x", "y", "cy", 1).chopped(1));
    ASSERT_EQ(results.size(), 2u);
    const TRemoteFileItem& a = results[0];
    EXPECT_EQ(a.userId, 7);
    EXPECT_EQ(a.userName, "ann");
    EXPECT_EQ(a.size, 1234567);
    EXPECT_EQ(a.date, 45000.5);
    EXPECT_TRUE(a.passwordFlag);
    EXPECT_EQ(ResultRemotePath(a), "Music/a.mp3");
    EXPECT_EQ(a.description, "about it");
    EXPECT_EQ(a.address, "10.0.0.7");
    EXPECT_EQ(a.fileServerPort, 4001);
    EXPECT_EQ(a.infoPort, 4002);
    EXPECT_TRUE(a.online);
    EXPECT_EQ(ResultRemotePath(results[1]), "Docs");
    EXPECT_FALSE(results[1].online);
    // A text without its terminator ends the reading; so does a record of a few bytes.
    EXPECT_TRUE(ParseFileSearchReply(two.left(30)).empty());
    EXPECT_EQ(ParseFileSearchReply(two + "\x01\x02").size(), 2u);

    EXPECT_EQ(ResultSizeText(-1), "Dir");
    EXPECT_EQ(ResultSizeText(999), "0KB");
    EXPECT_EQ(ResultSizeText(1234567), "1234KB");
    EXPECT_EQ(LineSpeedName(2), "28.800");
    EXPECT_EQ(LineSpeedName(10), "T3");
    EXPECT_EQ(LineSpeedName(11), "");
}

std::vector<TRemoteFileItem> rows(const QByteArray& records) {
    return ParseFileSearchReply(records);
}

QStringList column(const SearchResults& results, int col) {
    QStringList texts;
    for (int row = 0; row < results.rowCount(); ++row) {
        texts << results.text(row, col);
    }
    return texts;
}

TEST(SearchResults, HeaderClicksSortByTheColumnText) {
    SearchResults results;
    results.append(rows(record(1, 900000, "", "b", "u", 1) + record(1, 1200000, "", "a", "u", 1) +
                        record(1, 5000, "", "c", "u", 0)));
    // "Name" starts as the sort column, descending: the first click sorts it ascending.
    results.columnClicked(SearchResults::ColName);
    EXPECT_EQ(column(results, SearchResults::ColName), QStringList({"a", "b", "c"}));
    EXPECT_EQ(results.headerImage(SearchResults::ColName), 2);
    // Sizes sort as text.
    results.columnClicked(SearchResults::ColSize);
    EXPECT_EQ(column(results, SearchResults::ColSize), QStringList({"1200KB", "5KB", "900KB"}));
    EXPECT_EQ(results.headerImage(SearchResults::ColName), -1);
    EXPECT_EQ(results.headerImage(SearchResults::ColSize), 0);
    results.columnClicked(SearchResults::ColSize);
    EXPECT_TRUE(results.descending());
    EXPECT_EQ(column(results, SearchResults::ColSize), QStringList({"900KB", "5KB", "1200KB"}));
    EXPECT_EQ(results.headerImage(SearchResults::ColSize), 2);
}

// An info socket that answers "PONG!", one that takes the connection and says nothing, and a
// port where nobody listens.
TEST(PingSequence, OneOwnerAtATimeAndOneExchangePerOwner) {
    QTcpServer live, silent, dead;
    int liveConnections = 0;
    QObject::connect(&live, &QTcpServer::newConnection, [&] {
        QTcpSocket* s = live.nextPendingConnection();
        ++liveConnections;
        QObject::connect(s, &QTcpSocket::readyRead, s, [s] { s->write("PONG!"); });
    });
    for (QTcpServer* server : {&live, &silent, &dead}) {
        ASSERT_TRUE(server->listen(QHostAddress::LocalHost));
    }
    const quint16 deadPort = dead.serverPort();
    dead.close();
    const auto at = [](const char* nick, quint16 port, quint8 online) {
        return PackRecord("IIDWBAAAAAWWBB", {1, 10, 0.0, 0, 0u, "", "f", "", "127.0.0.1", nick, 0,
                                             unsigned{port}, 0, unsigned{online}})
            .bytes;
    };
    SearchResults results;
    results.append(rows(at("ann", live.serverPort(), 1) + at("ben", deadPort, 1) +
                        at("cy", silent.serverPort(), 1) + at("ann", live.serverPort(), 1) +
                        at("dot", live.serverPort(), 0)));
    PingSequence pings(results);
    pings.setTimeout(300);
    int finished = 0;
    QObject::connect(&pings, &PingSequence::finished, [&] { ++finished; });
    pings.start();
    ASSERT_TRUE(test::waitUntil([&] { return finished == 1; }, 10000));
    const QStringList ping = column(results, SearchResults::ColPing);
    EXPECT_TRUE(ping[0].contains(QRegularExpression("^\\d+(\\.\\d+)?$"))) << ping[0].toStdString();
    EXPECT_EQ(ping[3], ping[0]);
    EXPECT_EQ(ping[1], "Can't Connect");
    EXPECT_EQ(ping[2], "Time Out");
    EXPECT_EQ(ping[4], "");
    EXPECT_EQ(liveConnections, 1);

    // Without an online owner left, nothing is pinged.
    pings.start();
    EXPECT_FALSE(pings.running());
    EXPECT_EQ(finished, 2);
}

}  // namespace
}  // namespace mr
