#include "core/settingsfile.h"
#include "messaging/feedbackmail.h"
#include "smtpsink.h"
#include "testutil.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace mr;
using server::MailDrop;
using test::waitUntil;

namespace {

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

// The text a mail's body must decode to: every line ended by CR LF.
QString asMailText(const QString& text) {
    return QString(text).replace(u'\n', QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

QByteArray bodyOf(const QByteArray& mail) {
    return mail.mid(mail.indexOf("\r\n\r\n") + 4);
}

struct Outcome {
    QStringList events;
    std::optional<FeedbackMail::Result> result;
};

Outcome sendAndWait(const FeedbackTarget& target, const QString& text) {
    Outcome outcome;
    FeedbackMail mail;
    mail.setTimeouts(5000, 10000);
    QObject::connect(&mail, &FeedbackMail::connected, [&] { outcome.events << "connected"; });
    QObject::connect(&mail, &FeedbackMail::sendingStarted, [&] { outcome.events << "sending"; });
    QObject::connect(&mail, &FeedbackMail::finished,
                     [&](FeedbackMail::Result r, const QString&) { outcome.result = r; });
    EXPECT_TRUE(mail.send(target, "tester", text));
    EXPECT_FALSE(mail.send(target, "tester", text));
    EXPECT_TRUE(waitUntil([&] { return outcome.result.has_value(); }));
    return outcome;
}

}  // namespace

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
    EXPECT_TRUE(head.startsWith("Date: "));
    EXPECT_TRUE(head.contains("Mar 2024 12:00:00 +0000\r\n"));

    const QByteArray body = bodyOf(mail);
    for (const QByteArray& line : body.split('\n')) {
        EXPECT_LE(line.size(), 77);  // 76 and the CR
    }
    EXPECT_EQ(QString::fromUtf8(decodeQuotedPrintable(body)), asMailText(text));

    const QByteArray wide = composeFeedbackMail(QString(30, QChar(0x00E9)), "f@h.test", "x", date);
    EXPECT_TRUE(wide.contains("From: =?UTF-8?B?"));
    EXPECT_TRUE(wide.contains("?=\r\n =?UTF-8?B?"));
}

TEST(FeedbackMail, TargetComesFromTheHostSettings) {
    QTemporaryDir dir;
    SettingsFile file(dir.filePath("settings.ini"));
    EXPECT_TRUE(FeedbackTarget::fromSettings(file).host.isEmpty());

    file.setText("Host", "Http", "web.test:8080,other.test:80");
    auto target = FeedbackTarget::fromSettings(file);
    EXPECT_EQ(target.host, "web.test");
    EXPECT_EQ(target.port, 25);
    EXPECT_EQ(target.address, "feedback@web.test");

    file.setText("Host", "Mail", "127.0.0.1:2525");
    target = FeedbackTarget::fromSettings(file);
    EXPECT_EQ(target.port, 2525);
    EXPECT_EQ(target.address, "feedback@[127.0.0.1]");

    file.setText("Host", "FeedbackAddress", "ops@moonrake.test");
    EXPECT_EQ(FeedbackTarget::fromSettings(file).address, "ops@moonrake.test");
}

// The sink receives over SMTP exactly the text the client sent, dot lines included.
TEST(FeedbackMail, ReachesTheSinkOverSmtp) {
    QTemporaryDir dir;
    MailDrop drop;
    ASSERT_TRUE(drop.open(dir.filePath("mail"), nullptr));
    server::SmtpSink sink(drop);
    ASSERT_TRUE(sink.listen(QHostAddress::LocalHost, 0));

    const FeedbackTarget target{"127.0.0.1", sink.port(), "feedback@[127.0.0.1]"};
    const QString text = QStringLiteral("first line\n.\n..two dots\n") + QString(2000, u'x');
    const Outcome sent = sendAndWait(target, text);
    EXPECT_EQ(sent.result, FeedbackMail::Result::Sent);
    EXPECT_EQ(sent.events, (QStringList{"connected", "sending"}));

    QFile stored(dir.filePath("mail/0001.eml"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    const QByteArray mail = stored.readAll();
    EXPECT_TRUE(mail.startsWith("Return-Path: <feedback@[127.0.0.1]>\r\n"));
    EXPECT_TRUE(mail.contains("\r\nSubject: FeedBack\r\n"));
    EXPECT_TRUE(mail.contains("From: \"tester\" <feedback@[127.0.0.1]>\r\n"));
    EXPECT_EQ(QString::fromUtf8(decodeQuotedPrintable(bodyOf(mail))), asMailText(text));
}

// A connection that fails and a mail the host refuses are told apart.
TEST(FeedbackMail, FailuresAreToldApart) {
    auto outcome = sendAndWait({"no host/here", 25, "f@h.test"}, "hello");
    EXPECT_EQ(outcome.result, FeedbackMail::Result::ConnectFailed);
    EXPECT_TRUE(outcome.events.isEmpty());
    EXPECT_EQ(FeedbackMail::resultText(*outcome.result), "Error while connecting to server!");

    MailDrop unusable;
    server::SmtpSink sink(unusable);
    ASSERT_TRUE(sink.listen(QHostAddress::LocalHost, 0));
    outcome = sendAndWait({"127.0.0.1", sink.port(), "f@h.test"}, "hello");
    EXPECT_EQ(outcome.result, FeedbackMail::Result::SendFailed);
    EXPECT_TRUE(outcome.events.contains("connected"));
    EXPECT_EQ(FeedbackMail::resultText(*outcome.result), "Error sending feedback!");
}
