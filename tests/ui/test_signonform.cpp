#include "uitest.h"

#include "core/datetime.h"
#include "core/userinfo.h"
#include "e2e/serverprocess.h"
#include "service/agent.h"
#include "service/idlequeue.h"
#include "service/processingthread.h"
#include "service/session.h"
#include "store.h"
#include "ui/motdform.h"
#include "ui/passwordform.h"
#include "ui/signonform.h"
#include "ui/traynotifier.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <gtest/gtest.h>

using namespace mr;

namespace {

QStringList items(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) {
        out << list->item(i)->text();
    }
    return out;
}

// Each test edits the settings of a fresh profile.
class SignonFormTest : public ::testing::Test {
protected:
    test::ScopedProfile m_profile;
};

TEST_F(SignonFormTest, FreshProfileDefaultsAndNoBirthDateStayThroughAStore) {
    {
        TfrmSignon form(nullptr);
        EXPECT_TRUE(form.txtNickname()->isReadOnly());
        EXPECT_EQ(form.txtHomepage()->text(), "http://");
        EXPECT_TRUE(form.chkNoBirthDate()->isChecked());
        EXPECT_FALSE(form.dtpBirthDate()->isEnabled());
        // "ShowInfo" reads 0 when absent: the information is hidden.
        EXPECT_TRUE(form.chkDontShow()->isChecked());

        // Untouched, storing keeps the home page empty, writes "U" for no sex, 0 for no birth
        // date, the folder downloads go to and the default upload limit.
        form.storeSettings(UserInfo());
        EXPECT_EQ(UserInfo().homepage(), "");
        EXPECT_EQ(UserInfo().sex(), "U");
        EXPECT_EQ(UserInfo().bDate(), 0.0);
        EXPECT_EQ(UserInfo().downloadPath(), DefaultDownloadPath());
        EXPECT_EQ(UserInfo().maxUploads(), 3);
    }
    // A stored 0 is still no birth date, through another load and store.
    TfrmSignon form(nullptr);
    EXPECT_TRUE(form.chkNoBirthDate()->isChecked());
    form.storeSettings(UserInfo());
    EXPECT_EQ(UserInfo().bDate(), 0.0);
    form.chkNoBirthDate()->click();
    EXPECT_TRUE(form.dtpBirthDate()->isEnabled());
    form.dtpBirthDate()->setDate(QDate(1970, 1, 2));
    form.cboSex()->setCurrentIndex(0);
    form.txtMessage()->setPlainText("one\ntwo\n");
    form.storeSettings(UserInfo());
    EXPECT_EQ(fromDateTime(UserInfo().bDate()).date(), QDate(1970, 1, 2));
    EXPECT_EQ(UserInfo().sex(), "M");
    EXPECT_EQ(UserInfo().message(), "one,two");
}

TEST_F(SignonFormTest, StoredSettingsShowAndAStoreWritesThemBackUnchanged) {
    TUserInfo& info = UserInfo();
    info.setSex(QStringLiteral("F"));
    info.setBDate(toDateTime(QDate(1985, 12, 10).startOfDay()));
    info.setShowInfo(1);
    info.setMaxUploads(0);
    info.setMessage(QStringLiteral("Hello,\"Say \"\"hi\"\", then go\",\"  padded  \""));
    info.setSharingFilters(QStringLiteral("MP3,ogg,JPG"));
    info.setRetrySeconds(0);
    info.setNotifyChats(0);

    TfrmSignon form(nullptr);
    EXPECT_EQ(form.cboSex()->currentText(), "Female");
    EXPECT_EQ(form.dtpBirthDate()->date(), QDate(1985, 12, 10));
    EXPECT_FALSE(form.chkDontShow()->isChecked());
    EXPECT_EQ(form.spnClientLimit()->value(), 0);  // stored, so not the default
    EXPECT_EQ(form.txtMessage()->toPlainText(), "Hello\nSay \"hi\", then go\n  padded  ");
    EXPECT_EQ(items(form.lstChosen()), (QStringList{"MP3", "ogg", "JPG"}));
    EXPECT_EQ(form.lstAvailable()->count(), 8);

    // Storing into an empty profile writes the values back as they were.
    QTemporaryDir other;
    TUserInfo copy(QDir(other.path()).filePath("settings.ini"));
    form.storeSettings(copy);
    const auto values = [](const TUserInfo& i) {
        return QVariantList{i.sex(),           i.bDate(),           i.showInfo(),
                            i.maxUploads(),    i.message(),         i.sharingFilters(),
                            i.retrySeconds(),  i.retryMaxSeconds(), i.notifyChats(),
                            i.notifyMessages()};
    };
    EXPECT_EQ(values(copy), values(info));
}

TEST_F(SignonFormTest, TrayNotificationsFollowTheirSwitchesAndAClickBringsUpTheirWindow) {
    QWidget frame;  // never shown, so never the active window
    QSystemTrayIcon tray;
    TrayNotifier notifier(&tray, &frame);
    QSignalSpy shown(&notifier, &TrayNotifier::notified);
    QStringList broughtUp;
    for (const auto kind : {TrayNotifier::Kind::Message, TrayNotifier::Kind::Download})
        notifier.notify(kind, "title", "text",
                        [&, kind] { broughtUp << QString::number(int(kind)); });
    ASSERT_EQ(shown.count(), 2);
    emit tray.messageClicked();
    EXPECT_EQ(broughtUp, QStringList{"2"});

    TfrmSignon form(nullptr);
    ASSERT_TRUE(form.chkNotifyDownloads()->isChecked());
    form.chkNotifyDownloads()->setChecked(false);
    form.storeSettings(UserInfo());
    notifier.notify(TrayNotifier::Kind::Download, "title", "text", {});
    notifier.notify(TrayNotifier::Kind::ChatInvitation, "title", "text", {});
    EXPECT_EQ(shown.count(), 3);
    EXPECT_EQ(shown.last().at(0).value<TrayNotifier::Kind>(), TrayNotifier::Kind::ChatInvitation);
}

TEST_F(SignonFormTest, FilterListsMoveAddAndFollowTheBox) {
    TfrmSignon form(nullptr);
    form.chkUseFilters()->click();
    EXPECT_TRUE(form.lstAvailable()->isEnabled());
    form.lstAvailable()->item(0)->setSelected(true);  // MP3
    form.lstAvailable()->item(2)->setSelected(true);  // WAV
    form.btnChoose()->click();
    EXPECT_EQ(items(form.lstChosen()), (QStringList{"MP3", "WAV"}));
    form.lstChosen()->item(0)->setSelected(true);
    form.btnUnchoose()->click();
    EXPECT_EQ(items(form.lstChosen()), QStringList{"WAV"});
    EXPECT_TRUE(items(form.lstAvailable()).contains("MP3"));

    // Typed extensions lose their dot; duplicates, blanks, commas and Cancel add nothing.
    QStringList typed{"wav", ".flac", "FLAC", "", "a,b"};
    form.setFilterPrompt([&]() -> std::optional<QString> {
        return typed.isEmpty() ? std::nullopt : std::optional<QString>(typed.takeFirst());
    });
    for (int i = 0; i < 6; ++i)
        form.btnAddFilter()->click();
    EXPECT_EQ(items(form.lstChosen()), (QStringList{"WAV", "flac"}));
    form.storeSettings(UserInfo());
    EXPECT_EQ(UserInfo().sharingFilters(), "WAV,flac");

    // Unticked, the lists are disabled and nothing is stored.
    form.chkUseFilters()->click();
    EXPECT_FALSE(form.lstChosen()->isEnabled());
    form.storeSettings(UserInfo());
    EXPECT_EQ(UserInfo().sharingFilters(), "");
}

// Offline a new password is refused; online it goes with the profile, and the service takes it.
TEST_F(SignonFormTest, PasswordChangesOnlineOnlyAndReachTheService) {
    QTemporaryDir data;
    test::Server server({"--data", data.path()});
    ASSERT_TRUE(server.ready()) << server.readyLine().toStdString();
    const int id = test::registerUser(m_profile.path(), server, "pat");
    ASSERT_GT(id, 0);
    setActiveProfile(m_profile.path());  // read what the registration wrote
    TIdleQueue idle;
    TMRAgentHttp agent(&idle);
    agent.connection().setTimeout(test::kServerTimeoutMs);
    TProcessingThread processing(agent.connection());
    OnlineSession session(agent, idle);
    session.motd().setLauncher([](const QString&) { return false; });
    QStringList shown;
    QStringList answers{"", "brand-new"};
    const auto prepare = [&](TfrmSignon& form) {
        form.setMessageSink([&](const QString& m) { shown << m; });
        form.setPasswordPrompt([&] { return answers.takeFirst(); });
    };

    {
        TfrmSignon offline(&session);
        prepare(offline);
        QTest::keyClick(offline.txtPassword(), Qt::Key_A);
        EXPECT_EQ(shown, QStringList{TfrmSignon::kPasswordOfflineText});
        EXPECT_EQ(answers.size(), 2);  // not even asked
        EXPECT_EQ(offline.txtPassword()->text(), "pw pat");
    }

    std::optional<bool> online;
    QObject::connect(&session, &OnlineSession::connectFinished, [&](bool ok) { online = ok; });
    session.Connect(ConnectOrigin::StartUp);
    ASSERT_TRUE(test::waitUntil([&] { return online.has_value(); }, test::kServerTimeoutMs));
    ASSERT_TRUE(*online);

    TfrmSignon form(&session);
    prepare(form);
    QTest::keyClick(form.txtPassword(), Qt::Key_A);
    EXPECT_EQ(form.txtPassword()->text(), "pw pat");  // cancelled
    QTest::keyClick(form.txtPassword(), Qt::Key_Backspace);
    EXPECT_EQ(form.txtPassword()->text(), "brand-new");
    QTest::keyClick(form.txtPassword(), Qt::Key_Tab);
    EXPECT_TRUE(answers.isEmpty());
    form.show();
    form.btnUpdate()->click();
    ASSERT_TRUE(test::waitUntil([&] { return !form.isVisible(); }, test::kServerTimeoutMs));
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(shown.size(), 1);
    EXPECT_EQ(UserInfo().password(), "brand-new");
    EXPECT_EQ(UserInfo().refresh(), 0);

    session.SignOff();
    ASSERT_EQ(server.terminate(), 0);
    server::Store store;
    ASSERT_TRUE(store.open(data.path(), nullptr));
    EXPECT_TRUE(store.checkPassword(id, "brand-new"));
}

TEST_F(SignonFormTest, UpdateWithoutASessionStoresAndMarksTheProfileCancelStoresNothing) {
    {
        TfrmSignon form(nullptr);
        form.txtFirstName()->setText("Nobody");
        form.show();
        form.findChild<QPushButton*>("btnCancel")->click();
        EXPECT_EQ(form.result(), QDialog::Rejected);
        EXPECT_EQ(UserInfo().firstName(), "");
        EXPECT_EQ(UserInfo().refresh(), 0);
    }
    TfrmSignon form(nullptr);
    form.txtFirstName()->setText("Grace");
    form.show();
    QTest::mouseClick(form.btnUpdate(), Qt::LeftButton);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(UserInfo().firstName(), "Grace");
    EXPECT_EQ(UserInfo().refresh(), 1);
}

TEST(PasswordForm, TwoMessagesThenTheNewPasswordOrNothingOnCancel) {
    TfrmPassword dialog;
    QStringList shown;
    dialog.setMessageSink([&](const QString& m) { shown << m; });
    dialog.show();
    QPushButton* ok = dialog.findChild<QPushButton*>("btnOk");
    ASSERT_TRUE(ok);

    ok->click();
    dialog.txtPassword()->setText("abc");
    dialog.txtConfirm()->setText("abd");
    ok->click();
    dialog.txtPassword()->clear();
    ok->click();  // one field empty is a mismatch, not a missing password
    EXPECT_EQ(shown, (QStringList{"Please enter password! or press cancel!",
                                  "Please enter the same password in both boxes!",
                                  "Please enter the same password in both boxes!"}));
    EXPECT_TRUE(dialog.isVisible());  // still open after each message
    EXPECT_TRUE(dialog.result().isEmpty());

    dialog.txtPassword()->setText("abd");
    ok->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), "abd");

    TfrmPassword cancelled;
    cancelled.txtPassword()->setText("x");
    cancelled.txtConfirm()->setText("x");
    cancelled.findChild<QPushButton*>("btnCancel")->click();
    EXPECT_TRUE(cancelled.result().isEmpty());
}

TEST(MotdForm, ShowsLinesFiveOnwardAsRtfOrPlainText) {
    TfrmMotd form;
    EXPECT_EQ(form.windowTitle(), "Moonrake message of the day");

    // RTF keeps its formatting; a group's format ends with the group.
    form.loadMessage({"chat:1", "svc:2", "web:3", "1.05",
                      "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255\\green0\\blue0;}",
                      "\\f0\\fs20 {\\b Big} news\\par {\\i\\cf1 Caf\\'e9} {\\fs40 more}\\par",
                      "\\{braces\\} \\u8364?5}"});
    EXPECT_EQ(form.view()->toPlainText(),
              QString::fromUtf8("Big news\nCaf\u00e9 more\n{braces} \u20ac5"));
    const auto formatOf = [&](const QString& word) {
        return form.view()->document()->find(word).charFormat();
    };
    EXPECT_EQ(formatOf("Big").fontWeight(), QFont::Bold);
    EXPECT_NE(formatOf("news").fontWeight(), QFont::Bold);
    EXPECT_TRUE(formatOf(QString::fromUtf8("Caf\u00e9")).fontItalic());
    EXPECT_EQ(formatOf(QString::fromUtf8("Caf\u00e9")).foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(formatOf("more").fontPointSize(), 20);
    EXPECT_EQ(formatOf("news").fontPointSize(), 10);

    // Anything else is plain text, even when it looks like markup.
    form.loadMessage({"", "", "", "1.05", "<b>a</b> < b", "plain"});
    EXPECT_EQ(form.view()->toPlainText(), "<b>a</b> < b\nplain");

    // Only four lines: an empty window.
    form.loadMessage({"", "", "", "1.05"});
    EXPECT_TRUE(form.view()->toPlainText().isEmpty());
}

}  // namespace
