#include "directory/pinger.h"
#include "messaging/infosocket.h"

#include "testutil.h"

#include <gtest/gtest.h>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

namespace mr {
namespace {

using test::waitUntil;

// A peer's info socket that answers each read with whatever the test chooses.
class FakePeer {
public:
    using Answer = std::function<void(QTcpSocket*, const QByteArray&)>;

    explicit FakePeer(Answer answer) : m_answer(std::move(answer)) {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, [this, s] {
                    if (m_answer) {
                        m_answer(s, s->readAll());
                    }
                });
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server.serverPort(); }

    QTcpServer m_server;

private:
    Answer m_answer;
};

struct Outcome {
    int reports = 0;
    QString nickname;
    QString result;
};

Outcome ping(quint16 port, int timeoutMs = 3000) {
    Outcome outcome;
    Pinger pinger(QStringLiteral("127.0.0.1"), port, QStringLiteral("carol"));
    pinger.setTimeout(timeoutMs);
    QObject::connect(&pinger, &Pinger::finished,
                     [&](const QString& nickname, const QString& result) {
                         ++outcome.reports;
                         outcome.nickname = nickname;
                         outcome.result = result;
                     });
    pinger.start();
    waitUntil([&] { return outcome.reports > 0; }, 10000);
    // Nothing else may arrive once the answer is in, not even the time-out.
    waitUntil([] { return false; }, timeoutMs < 500 ? timeoutMs + 100 : 100);
    return outcome;
}

bool isSeconds(const QString& text) {
    static const QRegularExpression seconds(QStringLiteral("^\\d+(\\.\\d{1,3})?$"));
    return seconds.match(text).hasMatch();
}

TEST(Pinger, ElapsedTimeIsSecondsWithAPoint) {
    EXPECT_EQ(Pinger::FormatElapsed(31), QStringLiteral("0.031"));
    EXPECT_EQ(Pinger::FormatElapsed(0), QStringLiteral("0"));
    EXPECT_EQ(Pinger::FormatElapsed(10), QStringLiteral("0.01"));
    EXPECT_EQ(Pinger::FormatElapsed(1500), QStringLiteral("1.5"));
    EXPECT_EQ(Pinger::FormatElapsed(3000), QStringLiteral("3"));
    EXPECT_EQ(Pinger::FormatElapsed(12345), QStringLiteral("12.345"));
}

TEST(Pinger, PongSplitOverTwoReadsIsStillAnAnswer) {
    FakePeer peer([](QTcpSocket* s, const QByteArray&) {
        s->write("PON");
        s->flush();
        QTimer::singleShot(50, s, [s] { s->write("G!"); });
    });
    const Outcome outcome = ping(peer.port());
    EXPECT_EQ(outcome.reports, 1);
    EXPECT_TRUE(isSeconds(outcome.result)) << outcome.result.toStdString();
}

TEST(Pinger, AnythingButExactlyPongIsABadAnswer) {
    for (const QByteArray& answer : {QByteArray("HELLO"), QByteArray("PONG!!"), QByteArray("pong!"),
                                     QByteArray(100000, 'x')}) {
        FakePeer peer([answer](QTcpSocket* s, const QByteArray&) { s->write(answer); });
        const Outcome outcome = ping(peer.port());
        EXPECT_EQ(outcome.reports, 1);
        EXPECT_EQ(outcome.result, Pinger::kBadAnswer) << answer.left(10).toStdString();
    }
    // Half an answer, then the close.
    FakePeer partial([](QTcpSocket* s, const QByteArray&) {
        s->write("PON");
        s->disconnectFromHost();
    });
    EXPECT_EQ(ping(partial.port()).result, Pinger::kBadAnswer);
}

TEST(Pinger, RefusedOrClosedConnectionCannotConnect) {
    const Outcome refused = ping(test::deadPort());
    EXPECT_EQ(refused.reports, 1);
    EXPECT_EQ(refused.result, Pinger::kCantConnect);

    FakePeer hangsUp([](QTcpSocket* s, const QByteArray&) { s->disconnectFromHost(); });
    EXPECT_EQ(ping(hangsUp.port()).result, Pinger::kCantConnect);
}

TEST(Pinger, SilentPeerTimesOut) {
    FakePeer silent(nullptr);
    const Outcome outcome = ping(silent.port(), 200);
    EXPECT_EQ(outcome.reports, 1);
    EXPECT_EQ(outcome.result, Pinger::kTimeOut);
}

TEST(Pinger, PingerMayBeDeletedFromItsOwnReport) {
    InfoSocket info;
    ASSERT_TRUE(info.open(QHostAddress::LocalHost));
    QPointer<Pinger> pinger =
        new Pinger(QStringLiteral("127.0.0.1"), info.port(), QStringLiteral("d"));
    QObject::connect(pinger, &Pinger::finished, pinger, &QObject::deleteLater);
    pinger->start();
    EXPECT_TRUE(waitUntil([&] { return pinger.isNull(); }));
}

}  // namespace
}  // namespace mr
