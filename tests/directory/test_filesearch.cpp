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

// The body's fields on one line: name|description|min|max|extensions|online|count|min line.
QString sent(const FileSearchForm& form) {
    const FileSearchRequest request = BuildFileSearch(form);
    QString name, description, extensions;
    qint32 min = 0, max = 0;
    quint8 online = 0, count = 0, minLine = 0;
    if (!request.criteria ||
        !UnpackRecord(FileSearchBody(*request.criteria), "AAIIABBB",
                      {&name, &description, &min, &max, &extensions, &online, &count, &minLine})
             .ok()) {
        return "no body: " + request.error;
    }
    return QStringList({name, description, QString::number(min), QString::number(max), extensions,
                        QString::number(online), QString::number(count), QString::number(minLine)})
        .join('|');
}

TEST(FileSearchRequest, BodyIsBuiltFromTheControls) {
    FileSearchForm form;
    EXPECT_EQ(FileSearchBody(*BuildFileSearch(form).criteria),
              QByteArray("%%\0%%\0", 6) + test::hex("FEFFFFFF FEFFFFFF") + QByteArray("%\0", 2) +
                  test::hex("01 64 00"));
    form.name = "*";
    EXPECT_EQ(sent(form), "%%%|%%|-2|-2|%|1|100|0");
    form.name = "a*b";
    form.mediaType = 0;
    // The advanced panel's fields count only while it is checked.
    form.description = "x*y";
    form.minKb = "10";
    form.filter = "ogg";
    form.minLine = 3;
    EXPECT_EQ(sent(form), "%a%b%|%%|-2|-2|mp3:mp2|1|100|0");
    form.advanced = true;
    form.showOffline = true;
    EXPECT_EQ(sent(form), "%a%b%|x%y%|10000|0|ogg|0|100|1");
    form.maxKb = " 9999999";
    form.filter = "  ";
    EXPECT_EQ(sent(form), "%a%b%|x%y%|10000|2147483000|mp3:mp2|0|100|1");
    form.minKb = "";
    form.maxKb = "50";
    EXPECT_EQ(sent(form), "%a%b%|x%y%|-2|-2|mp3:mp2|0|100|1");

    // A size that is not a number is refused before anything is sent.
    form.minKb = "1";
    form.maxKb = "5k";
    EXPECT_EQ(sent(form), "no body: Max KB: '5k' is not a valid integer value");
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
    EXPECT_EQ(QStringList({QString::number(a.userId), a.userName, QString::number(a.size),
                           QString::number(a.date), ResultRemotePath(a), a.description, a.address,
                           QString::number(a.fileServerPort), QString::number(a.infoPort)}),
              QStringList({"7", "ann", "1234567", "45000.5", "Music/a.mp3", "about it", "10.0.0.7",
                           "4001", "4002"}));
    EXPECT_TRUE(a.passwordFlag && a.online);
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
