#include "core/settingsfile.h"
#include "messaging/feedbackmail.h"
#include "smtpsink.h"
#include "testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace mr;
using server::MailDrop;
using server::ReceivedMail;
using server::SmtpSession;
using test::waitUntil;

namespace {

// A session whose delivered mails are kept for the test to look at.
struct Dialogue {
    QList<ReceivedMail> mails;
    bool refuse = false;
    SmtpSession session{"sink.test", [this](const ReceivedMail& m) -> std::optional<QString> {
                            if (refuse) {
                                return std::nullopt;
                            }
                            mails.append(m);
                            return QString::number(mails.size());
                        }};

    QByteArray say(QByteArrayView bytes) { return session.feed(bytes); }
};

QList<QByteArray> codes(const QByteArray& replies) {
    QList<QByteArray> out;
    for (const QByteArray& line : replies.split('\n')) {
        if (line.size() >= 4 && line.at(3) == ' ') {
            out.append(line.left(3));
        }
    }
    return out;
}

QByteArray decodeQuotedPrintable(const QByteArray& text) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != '=') {
            out.append(text.at(i));
        } else if (text.mid(i + 1, 2) == "\r\n") {
            i += 2;
        } else {
            out.append(static_cast<char>(text.mid(i + 1, 2).toInt(nullptr, 16)));
            i += 2;
        }
    }
    return out;
}

QByteArray bodyOf(const QByteArray& mail) {
    return mail.mid(mail.indexOf("\r\n\r\n") + 4);
}

}  // namespace

TEST(SmtpSession, FullDialogueDeliversTheUnstuffedMail) {
    Dialogue d;
    EXPECT_TRUE(d.session.greeting().startsWith("220 "));
    const QByteArray ehlo = d.say("EHLO client.test\r\n");
    EXPECT_TRUE(ehlo.startsWith("250-sink.test\r\n"));
    EXPECT_TRUE(ehlo.contains("250-SIZE 1048576\r\n"));
    EXPECT_TRUE(ehlo.endsWith("250 8BITMIME\r\n"));

    // Several commands in one packet, as a pipelining client sends them.
    EXPECT_EQ(codes(d.say("MAIL FROM:<a@x.test> SIZE=100 BODY=8BITMIME\r\n"
                          "RCPT TO:<b@y.test>\r\nrcpt to: <c@y.test>\r\nDATA\r\n")),
              (QList<QByteArray>{"250", "250", "250", "354"}));
    EXPECT_TRUE(d.say("Subject: hi\r\n\r\n..leading dot\r\n.\r\n").startsWith("250 "));
    ASSERT_EQ(d.mails.size(), 1);
    EXPECT_EQ(d.mails[0].from, "a@x.test");
    EXPECT_EQ(d.mails[0].recipients, (QList<QByteArray>{"b@y.test", "c@y.test"}));
    EXPECT_EQ(d.mails[0].data, "Subject: hi\r\n\r\n.leading dot\r\n");

    // The transaction is over: a second mail needs its own MAIL FROM, empty sender allowed.
    EXPECT_EQ(codes(d.say("RCPT TO:<b@y.test>\r\nMAIL FROM:<>\r\nRCPT TO:<b@y.test>\r\n"
                          "DATA\r\n.\r\n")),
              (QList<QByteArray>{"503", "250", "250", "354", "250"}));
    ASSERT_EQ(d.mails.size(), 2);
    EXPECT_TRUE(d.mails[1].from.isEmpty());
    EXPECT_TRUE(d.mails[1].data.isEmpty());

    EXPECT_EQ(codes(d.say("NOOP\r\nQUIT\r\nNOOP\r\n")), (QList<QByteArray>{"250", "221"}));
    EXPECT_TRUE(d.session.closed());
}

TEST(SmtpSession, CommandsOutOfOrderAreRefusedAndRsetStartsOver) {
    Dialogue d;
    EXPECT_EQ(codes(d.say("MAIL FROM:<a@x.test>\r\n")), QList<QByteArray>{"503"});
    EXPECT_EQ(codes(d.say("HELO\r\nHELO c\r\n")), (QList<QByteArray>{"501", "250"}));
    EXPECT_EQ(codes(d.say("DATA\r\nMAIL FROM:<a@x.test>\r\nMAIL FROM:<a@x.test>\r\nDATA\r\n")),
              (QList<QByteArray>{"503", "250", "503", "554"}));
    EXPECT_EQ(codes(d.say("RSET\r\nRCPT TO:<b@y.test>\r\n")), (QList<QByteArray>{"250", "503"}));
    EXPECT_TRUE(d.mails.isEmpty());
    EXPECT_FALSE(d.session.closed());
}

TEST(SmtpSession, BadPathsAndParametersAreRefused) {
    Dialogue d;
    EXPECT_EQ(codes(d.say("EHLO c\r\nMAIL FROM:a@x.test\r\nMAIL FROM:<a b@x>\r\n"
                          "MAIL FROM:<a@x.test> AUTH=<>\r\n")),
              (QList<QByteArray>{"250", "501", "501", "555"}));
    EXPECT_EQ(codes(d.say("MAIL FROM:<a@x.test>\r\nRCPT TO:<nobody>\r\nVRFY root\r\n")),
              (QList<QByteArray>{"250", "501", "502"}));
    EXPECT_TRUE(d.mails.isEmpty());
    EXPECT_FALSE(d.session.closed());
}

TEST(SmtpSession, LimitsCloseTheDialogue) {
    {
        Dialogue d;
        const QByteArray longCommand = "NOOP " + QByteArray(server::kMaxSmtpCommandLine, 'x');
        EXPECT_EQ(codes(d.say(longCommand)), QList<QByteArray>{"500"});
        EXPECT_TRUE(d.session.closed());
        EXPECT_TRUE(d.say("NOOP\r\n").isEmpty());
    }
    {
        // A text line of exactly 998 characters fits; one more does not.
        Dialogue d;
        d.say("HELO c\r\nMAIL FROM:<a@x.test>\r\nRCPT TO:<b@y.test>\r\nDATA\r\n");
        EXPECT_TRUE(d.say(QByteArray(998, 'a') + "\r\n").isEmpty());
        EXPECT_EQ(codes(d.say(QByteArray(999, 'a') + "\r\n")), QList<QByteArray>{"552"});
        EXPECT_TRUE(d.session.closed());
        EXPECT_TRUE(d.mails.isEmpty());
    }
    {
        Dialogue d;
        d.say("HELO c\r\nMAIL FROM:<a@x.test>\r\nRCPT TO:<b@y.test>\r\nDATA\r\n");
        const QByteArray line = QByteArray(900, 'a') + "\r\n";
        QByteArray replies;
        for (int i = 0; i < 2000 && !d.session.closed(); ++i) {
            replies += d.say(line);
        }
        EXPECT_EQ(codes(replies), QList<QByteArray>{"552"});
        EXPECT_TRUE(d.session.closed());
        EXPECT_TRUE(d.mails.isEmpty());
    }
    {
        Dialogue d;
        EXPECT_EQ(codes(d.say("EHLO c\r\nMAIL FROM:<a@x.test> SIZE=99999999\r\n")),
                  (QList<QByteArray>{"250", "552"}));
        d.say("MAIL FROM:<a@x.test>\r\n");
        QByteArray replies;
        for (int i = 0; i <= server::kMaxMailRecipients; ++i) {
            replies = d.say("RCPT TO:<b@y.test>\r\n");
        }
        EXPECT_EQ(codes(replies), QList<QByteArray>{"452"});
    }
}

TEST(SmtpSession, GarbageGetsErrorsThenTheDoor) {
    Dialogue d;
    EXPECT_EQ(codes(d.say(QByteArray("\x01\xff\x00zz\r\n", 7))), QList<QByteArray>{"500"});
    EXPECT_EQ(codes(d.say("hello there\r\n")), QList<QByteArray>{"500"});
    QByteArray replies;
    for (int i = 0; i < server::kMaxSmtpErrors; ++i) {
        replies += d.say("junk\n");
    }
    EXPECT_TRUE(replies.endsWith("421 4.7.0 Too many errors, closing\r\n"));
    EXPECT_TRUE(d.session.closed());
}

TEST(SmtpSession, BytesOneAtATimeGiveTheSameResult) {
    Dialogue d;
    const QByteArray script =
        "HELO c\r\nMAIL FROM:<a@x.test>\r\nRCPT TO:<b@y.test>\r\nDATA\r\n"
        "line one\r\n..\r\n.\r\nQUIT\r\n";
    QByteArray replies;
    for (const char c : script) {
        replies += d.say(QByteArrayView(&c, 1));
    }
    EXPECT_EQ(codes(replies), (QList<QByteArray>{"250", "250", "250", "354", "250", "221"}));
    ASSERT_EQ(d.mails.size(), 1);
    EXPECT_EQ(d.mails[0].data, "line one\r\n.\r\n");
}

TEST(SmtpSession, AMailThatCannotBeKeptIsAnsweredWithATemporaryError) {
    Dialogue d;
    d.refuse = true;
    EXPECT_EQ(codes(d.say("HELO c\r\nMAIL FROM:<a@x.test>\r\nRCPT TO:<b@y.test>\r\nDATA\r\n"
                          "x\r\n.\r\n")),
              (QList<QByteArray>{"250", "250", "250", "354", "451"}));
    EXPECT_FALSE(d.session.closed());
}

TEST(MailDrop, NumbersFilesOnFromWhatIsThere) {
    QTemporaryDir dir;
    {
        QFile old(dir.filePath("0007.eml"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    }
    MailDrop drop;
    ASSERT_TRUE(drop.open(dir.path(), nullptr));
    ReceivedMail mail{"a@x.test", {"b@y.test"}, "Subject: s\r\n\r\nbody\r\n"};
    EXPECT_EQ(drop.store(mail), QString("0008"));
    EXPECT_EQ(drop.store(mail), QString("0009"));
    QFile stored(dir.filePath("0008.eml"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(),
              "Return-Path: <a@x.test>\r\nX-Original-To: <b@y.test>\r\nSubject: s\r\n\r\nbody\r\n");

    MailDrop closed;
    EXPECT_EQ(closed.store(mail), std::nullopt);
}

TEST(FeedbackMail, ComposesAPlainTextMailThatSurvivesTheWire) {
    const QDateTime date(QDate(2024, 3, 1), QTime(12, 0), Qt::UTC);
    const QString text =
        QStringLiteral(".starts with a dot\nemoji \u263A and = sign \n") + QString(300, u'w');
    const QByteArray mail = composeFeedbackMail(QStringLiteral("Bob \"B\"\r\nBcc: x@evil"),
                                                "feedback@host.test", text, date);
    const QByteArray head = mail.left(mail.indexOf("\r\n\r\n") + 2);
    // The nickname cannot add a header of its own.
    EXPECT_TRUE(head.contains("From: \"Bob \\\"B\\\"Bcc: x@evil\" <feedback@host.test>\r\n"));
    EXPECT_FALSE(head.contains("\r\nBcc:"));
    EXPECT_TRUE(head.contains("To: <feedback@host.test>\r\n"));
    EXPECT_TRUE(head.contains("Subject: FeedBack\r\n"));
    EXPECT_TRUE(head.contains("X-Mailer: Moonrake\r\n"));
    EXPECT_TRUE(head.contains("Content-Type: text/plain; charset=UTF-8\r\n"));
    EXPECT_TRUE(head.startsWith("Date: "));
    EXPECT_TRUE(head.contains("Mar 2024 12:00:00 +0000\r\n"));

    const QByteArray body = bodyOf(mail);
    for (const QByteArray& line : body.split('\n')) {
        EXPECT_LE(line.size(), 77);  // 76 and the CR
    }
    EXPECT_EQ(QString::fromUtf8(decodeQuotedPrintable(body)),
              QString(text).replace(u'\n', QStringLiteral("\r\n")) + QStringLiteral("\r\n"));

    const QByteArray wide = composeFeedbackMail(QString(30, QChar(0x00E9)), "f@h.test", "x", date);
    EXPECT_TRUE(wide.contains("From: =?UTF-8?B?"));
    EXPECT_TRUE(wide.contains("?=\r\n =?UTF-8?B?"));
}

TEST(FeedbackMail, TargetComesFromTheHostSettings) {
    QTemporaryDir dir;
    SettingsFile file(dir.filePath("settings.ini"));
    EXPECT_TRUE(TFeedbackTarget::fromSettings(file).host.isEmpty());

    file.setText("Host", "Http", "web.test:8080,other.test:80");
    auto target = TFeedbackTarget::fromSettings(file);
    EXPECT_EQ(target.host, "web.test");
    EXPECT_EQ(target.port, 25);
    EXPECT_EQ(target.address, "feedback@web.test");

    file.setText("Host", "Mail", "127.0.0.1:2525");
    target = TFeedbackTarget::fromSettings(file);
    EXPECT_EQ(target.host, "127.0.0.1");
    EXPECT_EQ(target.port, 2525);
    EXPECT_EQ(target.address, "feedback@[127.0.0.1]");

    file.setText("Host", "FeedbackAddress", "ops@moonrake.test");
    EXPECT_EQ(TFeedbackTarget::fromSettings(file).address, "ops@moonrake.test");
}

namespace {

struct Outcome {
    QStringList events;
    std::optional<TFeedbackMail::Result> result;
};

Outcome sendAndWait(const TFeedbackTarget& target, const QString& text) {
    Outcome outcome;
    TFeedbackMail mail;
    mail.setTimeouts(5000, 10000);
    QObject::connect(&mail, &TFeedbackMail::connected, [&] { outcome.events << "connected"; });
    QObject::connect(&mail, &TFeedbackMail::sendingStarted, [&] { outcome.events << "sending"; });
    QObject::connect(&mail, &TFeedbackMail::finished,
                     [&](TFeedbackMail::Result r, const QString&) { outcome.result = r; });
    EXPECT_TRUE(mail.send(target, "tester", text));
    EXPECT_FALSE(mail.send(target, "tester", text));
    EXPECT_TRUE(waitUntil([&] { return outcome.result.has_value(); }));
    return outcome;
}

}  // namespace

TEST(FeedbackMail, ReachesTheSinkOverSmtp) {
    QTemporaryDir dir;
    MailDrop drop;
    ASSERT_TRUE(drop.open(dir.filePath("mail"), nullptr));
    server::SmtpSink sink(drop);
    ASSERT_TRUE(sink.listen(QHostAddress::LocalHost, 0));

    const TFeedbackTarget target{"127.0.0.1", sink.port(), "feedback@[127.0.0.1]"};
    const QString text = QStringLiteral("first line\n.\n..two dots\n") + QString(2000, u'x');
    const Outcome sent = sendAndWait(target, text);
    EXPECT_EQ(sent.result, TFeedbackMail::Result::Sent);
    EXPECT_EQ(sent.events, (QStringList{"connected", "sending"}));

    QFile stored(dir.filePath("mail/0001.eml"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    const QByteArray mail = stored.readAll();
    EXPECT_TRUE(mail.startsWith("Return-Path: <feedback@[127.0.0.1]>\r\n"));
    EXPECT_TRUE(mail.contains("\r\nSubject: FeedBack\r\n"));
    EXPECT_TRUE(mail.contains("From: \"tester\" <feedback@[127.0.0.1]>\r\n"));
    EXPECT_EQ(QString::fromUtf8(decodeQuotedPrintable(bodyOf(mail))),
              QString(text).replace(u'\n', QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

TEST(FeedbackMail, FailuresAreToldApart) {
    // Nobody listens: the connection fails.
    quint16 deadPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        deadPort = probe.serverPort();
    }
    auto outcome = sendAndWait({"127.0.0.1", deadPort, "f@h.test"}, "hello");
    EXPECT_EQ(outcome.result, TFeedbackMail::Result::ConnectFailed);
    EXPECT_TRUE(outcome.events.isEmpty());
    EXPECT_EQ(TFeedbackMail::resultText(*outcome.result), "Error while connecting to server!");

    outcome = sendAndWait({"no host/here", 25, "f@h.test"}, "hello");
    EXPECT_EQ(outcome.result, TFeedbackMail::Result::ConnectFailed);

    // Connected, but the mail is refused.
    MailDrop unusable;
    server::SmtpSink sink(unusable);
    ASSERT_TRUE(sink.listen(QHostAddress::LocalHost, 0));
    outcome = sendAndWait({"127.0.0.1", sink.port(), "f@h.test"}, "hello");
    EXPECT_EQ(outcome.result, TFeedbackMail::Result::SendFailed);
    EXPECT_TRUE(outcome.events.contains("connected"));
    EXPECT_EQ(TFeedbackMail::resultText(*outcome.result), "Error sending feedback!");
}
