#include "core/settingsfile.h"
#include "messaging/feedbackmail.h"
#include "smtpsink.h"
#include "testutil.h"

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
    EXPECT_TRUE(head.startsWith("Date: "));
    EXPECT_TRUE(head.contains("Mar 2024 12:00:00 +0000\r\n"));

    const QByteArray body = mail.mid(head.size() + 2);
    for (const QByteArray& line : body.split('\n')) {
        EXPECT_LE(line.size(), 77);  // 76 and the CR
    }
    // Every line ended by CR LF.
    EXPECT_EQ(QString::fromUtf8(decodeQuotedPrintable(body)),
              QString(text).replace(u'\n', QStringLiteral("\r\n")) + QStringLiteral("\r\n"));

    const QByteArray wide = composeFeedbackMail(QString(30, QChar(0x00E9)), "f@h.test", "x", date);
    EXPECT_TRUE(wide.contains("From: =?UTF-8?B?"));
    EXPECT_TRUE(wide.contains("?=\r\n =?UTF-8?B?"));
}

TEST(FeedbackMail, TargetComesFromTheHostSettings) {
    QTemporaryDir dir;
    SettingsFile file(dir.filePath("settings.ini"));
    file.setText("Host", "Http", "web.test:8080,other.test:80");
    const auto target = FeedbackTarget::fromSettings(file);
    EXPECT_EQ(target.host, "web.test");
    EXPECT_EQ(target.port, 25);
    EXPECT_EQ(target.address, "feedback@web.test");

    file.setText("Host", "FeedbackAddress", "ops@moonrake.test");
    EXPECT_EQ(FeedbackTarget::fromSettings(file).address, "ops@moonrake.test");
}

// A mail the host refuses fails as a send, after the connection came; a connection that fails
// is the end-to-end run's case. One mail goes at a time.
TEST(FeedbackMail, ARefusedMailIsASendFailure) {
    MailDrop unusable;
    server::SmtpSink sink(unusable);
    ASSERT_TRUE(sink.listen(QHostAddress::LocalHost, 0));
    FeedbackMail mail;
    mail.setTimeouts(5000, 10000);
    bool connected = false;
    std::optional<FeedbackMail::Result> result;
    QObject::connect(&mail, &FeedbackMail::connected, [&] { connected = true; });
    QObject::connect(&mail, &FeedbackMail::finished,
                     [&](FeedbackMail::Result r, const QString&) { result = r; });
    const FeedbackTarget target{"127.0.0.1", sink.port(), "f@h.test"};
    EXPECT_TRUE(mail.send(target, "tester", "hello"));
    EXPECT_FALSE(mail.send(target, "tester", "hello"));
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(connected);
    EXPECT_EQ(result, FeedbackMail::Result::SendFailed);
    EXPECT_EQ(FeedbackMail::resultText(*result), "Error sending feedback!");
}
