#include "messaging/ptpchat.h"

#include "testutil.h"

#include <gtest/gtest.h>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace mr {
namespace {

using test::waitUntil;

TEST(PtpChatWire, AnswersAreReadStrictly) {
    EXPECT_EQ(BuildChatAcceptText(4321), QByteArray("YES 4321"));
    const ChatAnswer yes = ParseChatAnswer("YES 4321");
    EXPECT_EQ(yes.kind, ChatAnswer::Accepted);
    EXPECT_EQ(yes.port, 4321);
    EXPECT_EQ(ParseChatAnswer("YES 65535\r\n").port, 65535);
    EXPECT_EQ(ParseChatAnswer("NO").kind, ChatAnswer::Declined);
    for (const char* bad : {"YES", "YES 0", "YES 65536", "YES -1", "YES 12ab", "YES 99999999999",
                            "YES 4321 and more"}) {
        EXPECT_EQ(ParseChatAnswer(bad).kind, ChatAnswer::BadPort) << bad;
    }
    for (const char* other : {"", "no", "NO ", "NOPE", "yes 4321", "\x01garbage"}) {
        EXPECT_EQ(ParseChatAnswer(other).kind, ChatAnswer::Other) << other;
    }
}

TEST(PtpChatWire, TypedKeysAndColoursBecomeStreamBytes) {
    EXPECT_EQ(EncodeChatKeys(QStringLiteral("h\bi\r\n\n\t\u00fc\u20ac\x01")),
              QByteArray("h\x08i\x0d\x0d\t\xfc?"));
    EXPECT_EQ(EncodeChatColor(9), QByteArray("\0\x09", 2));
}

TEST(PtpChatPane, BackspaceAndBreaksEditWhatIsShown) {
    ChatPane pane;
    pane.apply("hi\x08o");
    EXPECT_EQ(pane.text(), QStringLiteral("ho"));
    // A backspace at a line's start takes the break; with nothing left it does nothing.
    pane.apply("\rx\x08\x08!\x08\x08\x08\x08\rab\ncd\r");
    pane.apply("\nef");  // a CR LF split between reads is one break
    EXPECT_EQ(pane.text(), QStringLiteral("\nab\ncd\nef"));
    EXPECT_EQ(pane.takeFinishedLines().size(), 3);
    pane.apply("\x08\x08\x08\x08");
    EXPECT_EQ(pane.text(), QString());
    EXPECT_TRUE(pane.takeFinishedLines().isEmpty());
}

TEST(PtpChatPane, WhatAPeerMakesItHoldIsBounded) {
    ChatPane pane;
    EXPECT_EQ(pane.apply(QByteArray(ChatPane::kMaxLineChars + 10, 'x')).size(),
              ChatPane::kMaxLineChars);
    EXPECT_EQ(pane.text().size(), ChatPane::kMaxLineChars);
    // Past the budget the oldest lines go; the line being typed stays.
    QByteArray lines;
    for (int i = 0; i < 40; ++i) {
        lines += QByteArray(4000, 'a') + '\r';
    }
    pane.apply(lines + "end");
    EXPECT_LE(pane.text().size() - pane.lines().size(), ChatPane::kMaxHeldChars);
    EXPECT_TRUE(pane.text().endsWith(QStringLiteral("a\nend")));
    pane.apply(QByteArray(ChatPane::kMaxLines + 100, '\r'));
    EXPECT_EQ(pane.lines().size(), ChatPane::kMaxLines);
}

TEST(PtpChatPane, ColourChangeColoursOnlyWhatFollows) {
    ChatPane pane;
    // The change arrives split from its index, before any text; index 16 is out of the table.
    const QList<ChatEdit> none = pane.apply(QByteArray("\0", 1));
    EXPECT_TRUE(none.isEmpty());
    pane.apply(QByteArray("\x09red\0\x10!\0\x0a", 9));
    pane.apply("g");
    const ChatLine expected{{9, QStringLiteral("red!")}, {10, QStringLiteral("g")}};
    EXPECT_EQ(pane.lines(), QList<ChatLine>{expected});
    pane.clear();
    pane.apply("x");
    EXPECT_EQ(pane.lines().first().first().color, 10);
}

// An invitee's info socket that answers the request line with a scripted text.
class ScriptedInvitee {
public:
    explicit ScriptedInvitee(QByteArray answer, bool closeAfter = true) {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this, answer, closeAfter] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, [this, socket, answer, closeAfter] {
                const bool first = m_received.isEmpty();
                m_received += socket->readAll();
                if (!first) {
                    return;
                }
                socket->write(answer);
                if (closeAfter) {
                    socket->disconnectFromHost();
                }
            });
        });
    }
    UserLocator locator() {
        return [this](QObject*, qint32, std::function<void(std::optional<UserLocation>)> done) {
            done(UserLocation{QStringLiteral("127.0.0.1"), m_server.serverPort(), 0});
            return true;
        };
    }
    QByteArray received() const { return m_received; }

private:
    QTcpServer m_server;
    QByteArray m_received;
};

TEST(PtpChatRequest, EveryAnswerEndsTheRequest) {
    struct Case {
        QByteArray answer;
        bool closeAfter;
        ChatRequest::Outcome outcome;
    };
    const Case cases[] = {
        {"YES 4321", true, ChatRequest::Outcome::Accepted},
        {"NO", false, ChatRequest::Outcome::Declined},  // decided once the line is quiet
        {"YES 70000", true, ChatRequest::Outcome::BadPort},
        {"", true, ChatRequest::Outcome::NoAnswer},
        {QByteArray(200, 'x'), false, ChatRequest::Outcome::NoAnswer},
    };
    for (const Case& c : cases) {
        ScriptedInvitee invitee(c.answer, c.closeAfter);
        ChatRequest request(invitee.locator());
        QStringList states;
        std::optional<ChatRequest::Outcome> outcome;
        QObject::connect(&request, &ChatRequest::stateChanged,
                         [&](const QString& text) { states.append(text); });
        QObject::connect(&request, &ChatRequest::finished,
                         [&](ChatRequest::Outcome o) { outcome = o; });
        request.request(7, QStringLiteral("ann"), QStringLiteral("two words\r\n"));
        ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); })) << c.answer.toStdString();
        EXPECT_EQ(*outcome, c.outcome) << c.answer.toStdString();
        EXPECT_EQ(states, (QStringList{QStringLiteral("Connecting..."),
                                       QStringLiteral("Asking for approval")}));
        EXPECT_EQ(invitee.received(), QByteArray("PTPCHAT ann two\\ words\\\r\\\n"));
        if (c.outcome == ChatRequest::Outcome::Accepted) {
            EXPECT_EQ(request.port(), 4321);
            EXPECT_EQ(request.address(), QStringLiteral("127.0.0.1"));
        }
    }
    EXPECT_FALSE(ChatRequest::outcomeText(ChatRequest::Outcome::BadPort).isEmpty());
}

TEST(PtpChatConnection, OnlyTheInvitedPeerGetsInAndItsLeavingIsSeen) {
    PtpChat invitee;
    const quint16 port = invitee.listen(QHostAddress(QStringLiteral("127.0.0.1")));
    ASSERT_NE(port, 0);

    // A stranger from another loopback address comes first and is turned away.
    QTcpSocket stranger;
    bool strangerOut = false;
    QObject::connect(&stranger, &QTcpSocket::disconnected, [&] { strangerOut = true; });
    ASSERT_TRUE(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2"))));
    stranger.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(waitUntil([&] { return strangerOut; }));
    EXPECT_EQ(invitee.state(), PtpChat::State::Listening);

    PtpChat requester;
    requester.connectTo(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(waitUntil([&] { return invitee.isConnected() && requester.isConnected(); }));
    EXPECT_EQ(invitee.listeningPort(), 0);
    requester.send(EncodeChatKeys(QStringLiteral("hi\bo")));
    invitee.send(EncodeChatColor(12) + "yo");
    ASSERT_TRUE(waitUntil(
        [&] { return invitee.remote().text() == "ho" && requester.remote().text() == "yo"; }));
    EXPECT_EQ(requester.remote().lines().first().first().color, 12);

    // Bytes sent just before the close are still shown.
    bool gone = false;
    QObject::connect(&invitee, &PtpChat::disconnected, [&] { gone = true; });
    requester.send("!");
    requester.close();
    ASSERT_TRUE(waitUntil([&] { return gone; }));
    EXPECT_EQ(invitee.remote().text(), QStringLiteral("ho!"));
    EXPECT_FALSE(invitee.send("x"));
}

TEST(PtpChatInvitation, ExtraLinesAreDroppedAndClosingEndsTheConnection) {
    QTcpServer info;
    ASSERT_TRUE(info.listen(QHostAddress::LocalHost, 0));
    QTcpSocket requester;
    requester.connectToHost(QHostAddress::LocalHost, info.serverPort());
    ASSERT_TRUE(waitUntil([&] { return info.hasPendingConnections(); }));
    QTcpSocket* connection = info.nextPendingConnection();
    connection->setParent(nullptr);

    auto invitation =
        std::make_unique<ChatInvitation>(connection, QStringLiteral("bob"), QStringLiteral("hi"));
    EXPECT_EQ(invitation->peerAddress(), QHostAddress(QStringLiteral("127.0.0.1")));
    EXPECT_EQ(ChatInvitation::openCount(), 1);
    const QByteArray flood(256 * 1024, 'x');
    requester.write(flood);
    ASSERT_TRUE(waitUntil([&] { return requester.bytesToWrite() == 0; }));
    test::waitUntil([] { return false; }, 200);
    EXPECT_LT(connection->bytesAvailable(), 4097);

    bool closed = false;
    QObject::connect(&requester, &QTcpSocket::disconnected, [&] { closed = true; });
    invitation.reset();
    EXPECT_EQ(ChatInvitation::openCount(), 0);
    EXPECT_TRUE(waitUntil([&] { return closed; }));
    EXPECT_TRUE(requester.readAll().isEmpty());
}

}  // namespace
}  // namespace mr
