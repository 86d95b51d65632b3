#include "core/userinfo.h"
#include "smtpsink.h"
#include "ui/feedbackform.h"
#include "uitest.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace mr;

namespace {

constexpr int kMailTimeoutMs = 15000;

// A mail sink in this process and a profile whose mail host is that sink.
class FeedBackWindow : public ::testing::Test {
protected:
    void SetUp() override {
        UserInfo().setNickname("tester");
        ASSERT_TRUE(m_drop.open(m_data.filePath("mail"), nullptr));
        ASSERT_TRUE(m_sink.listen(QHostAddress::LocalHost, 0));
        UserInfo().file().setText("Host", "Mail", "127.0.0.1:" + QString::number(m_sink.port()));
    }

    TfrmFeedBack* open() {
        auto* form = new TfrmFeedBack;
        form->setMessageSink([this](const QString& text) { m_messages.append(text); });
        form->setCloseDelay(0);
        form->show();
        return form;
    }

    test::ScopedProfile m_profile;
    QTemporaryDir m_data;
    server::MailDrop m_drop;
    server::SmtpSink m_sink{m_drop};
    QStringList m_messages;
};

}  // namespace

TEST_F(FeedBackWindow, SendsShowsProgressAndCloses) {
    QPointer<TfrmFeedBack> form = open();
    EXPECT_EQ(form->windowTitle(), "FeedBack");
    // Blank text sends nothing.
    form->txtMsg()->setPlainText("  \n\t ");
    form->btnSend()->click();
    EXPECT_FALSE(form->mail()->busy());

    QStringList shown;
    QObject::connect(form->mail(), &FeedbackMail::connected, form,
                     [&] { shown << form->statusText()->text(); });
    QObject::connect(form->mail(), &FeedbackMail::sendingStarted, form,
                     [&] { shown << form->statusText()->text(); });
    bool secondSend = false;
    QObject::connect(form->mail(), &FeedbackMail::finished, form, [&] {
        shown << form->statusText()->text();
        // A second mail while the window waits to close would be dropped with it.
        form->btnSend()->click();
        secondSend = form->mail()->busy();
    });
    form->txtMsg()->setPlainText("The search is great.\nPlease add themes.");
    form->btnSend()->click();
    EXPECT_FALSE(form->btnSend()->isEnabled());
    ASSERT_TRUE(test::waitUntil([&] { return form.isNull(); }, kMailTimeoutMs));
    EXPECT_EQ(shown, (QStringList{"Connected to server.", "Sending feedback...",
                                  "Send completed. Thank you for your participation"}));
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_FALSE(secondSend);
    EXPECT_TRUE(QFile::exists(QDir(m_data.filePath("mail")).filePath("0001.eml")));
}

TEST_F(FeedBackWindow, AnUnreachableMailHostIsReportedAndTheWindowCloses) {
    UserInfo().file().setText("Host", "Mail", "127.0.0.1:" + QString::number(test::deadPort()));
    QPointer<TfrmFeedBack> form = open();
    form->txtMsg()->setPlainText("hello");
    form->btnSend()->click();
    ASSERT_TRUE(test::waitUntil([&] { return form.isNull(); }, kMailTimeoutMs));
    EXPECT_EQ(m_messages, QStringList{"Error while connecting to server!"});
}
