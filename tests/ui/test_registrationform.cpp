#include "core/datetime.h"
#include "core/userinfo.h"
#include "e2e/serverprocess.h"
#include "store.h"
#include "ui/registrationform.h"
#include "uitest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace mr;

namespace {

const QLocale kUs(QLocale::English, QLocale::UnitedStates);

// A fresh profile for each test; the wizard stores what it registers there.
class Registration : public ::testing::Test {
protected:
    // A wizard whose messages are collected instead of shown in boxes.
    std::unique_ptr<TfrmRegistration> wizard() {
        auto w = std::make_unique<TfrmRegistration>();
        w->setMessageSink([this](const QString& text) { m_messages.append(text); });
        w->setDateLocale(kUs);
        w->show();
        return w;
    }

    static void fillLogin(TfrmRegistration& w, const QString& name, const QString& password) {
        w.setPage(TfrmRegistration::pgLogin);
        w.txtUsername()->setText(name);
        w.txtPassword()->setText(password);
        w.txtPassword2()->setText(password);
        w.txtEmail()->setText(name + "@example.test");
    }

    // Clicks Finish and waits until the wizard is done with the web host.
    static bool finish(TfrmRegistration& w) {
        w.setPage(TfrmRegistration::pgConnection);
        QSignalSpy ended(&w, &TfrmRegistration::finishingEnded);
        w.btnFinish()->click();
        return test::waitUntil([&] { return !ended.isEmpty(); }, test::kServerTimeoutMs);
    }

    test::ScopedProfile m_profile;
    QStringList m_messages;
};

}  // namespace

TEST(RegistrationRules, BirthDateFollowsTheShortDateOrder) {
    EXPECT_FALSE(TfrmRegistration::dateEntered("__/__/__"));
    EXPECT_TRUE(TfrmRegistration::dateEntered("1_/__/__"));
    EXPECT_EQ(TfrmRegistration::readDate("12/24/80", kUs), QDate(1980, 12, 24));
    const QLocale uk(QLocale::English, QLocale::UnitedKingdom);
    EXPECT_EQ(TfrmRegistration::readDate("24/12/80", uk), QDate(1980, 12, 24));
    EXPECT_FALSE(TfrmRegistration::readDate("12/24/80", uk).isValid());
    EXPECT_FALSE(TfrmRegistration::readDate("02/30/80", kUs).isValid());
    // Two-digit years up to this year's are this century, later ones the last.
    EXPECT_EQ(TfrmRegistration::readDate("01/01/00", kUs).year(), 2000);
    EXPECT_EQ(TfrmRegistration::readDate("01/01/99", kUs).year(), 1999);
}

TEST_F(Registration, PagesAndButtonsFollowTheWizard) {
    auto w = wizard();
    EXPECT_EQ(w->page(), TfrmRegistration::pgWelcome);
    EXPECT_FALSE(w->btnBack()->isEnabled());
    EXPECT_FALSE(w->btnFinish()->isEnabled());
    EXPECT_EQ(w->txtUsername()->maxLength(), 20);

    w->btnNext()->click();
    ASSERT_EQ(w->page(), TfrmRegistration::pgLogin);
    EXPECT_TRUE(w->btnBack()->isEnabled());

    // Each click names the first thing missing and stays on the page.
    w->btnNext()->click();
    w->txtUsername()->setText("bob");
    w->btnNext()->click();
    w->txtPassword()->setText("secret");
    w->txtPassword2()->setText("Secret");
    w->btnNext()->click();
    w->txtPassword2()->setText("secret");
    w->txtEmail()->setText("bob.example.test");
    w->btnNext()->click();
    EXPECT_EQ(m_messages, (QStringList{"Please enter a username!", "Please enter a password!",
                                       "You must enter the same password in both boxes",
                                       "Please enter a valid E-Mail"}));
    EXPECT_EQ(w->page(), TfrmRegistration::pgLogin);
    w->txtEmail()->setText("bob@example.test");
    w->btnNext()->click();
    ASSERT_EQ(w->page(), TfrmRegistration::pgPersonal);

    m_messages.clear();
    w->txtBirthDate()->setText("13/45/80");
    w->btnNext()->click();
    EXPECT_EQ(m_messages, QStringList{"Please enter a valid date"});
    EXPECT_EQ(w->page(), TfrmRegistration::pgPersonal);
    w->txtBirthDate()->clear();
    w->btnNext()->click();
    ASSERT_EQ(w->page(), TfrmRegistration::pgConnection);
    EXPECT_FALSE(w->btnNext()->isEnabled());
    EXPECT_TRUE(w->btnFinish()->isEnabled());

    w->btnBack()->click();
    EXPECT_EQ(w->page(), TfrmRegistration::pgPersonal);
    w->btnCancel()->click();
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->registered());
    EXPECT_TRUE(UserInfo().nickname().isEmpty());
}

TEST_F(Registration, RegistersAgainstTheReferenceServiceAndRefusesATakenName) {
    QTemporaryDir data;
    test::Server server({"--data", data.path()});
    ASSERT_TRUE(server.ready()) << server.readyLine().toStdString();
    HostInfo().set(HostStore::Http, server.web().text());

    auto first = wizard();
    fillLogin(*first, "alice", "p&ss word");
    first->txtFirstName()->setText("Alice");
    first->cboSex()->setCurrentIndex(1);
    first->cboCountry()->setCurrentText("Senegal");
    first->txtBirthDate()->setText("12/24/80");
    first->txtMessage()->setPlainText("Hello\nthere");
    first->cboConnection()->setCurrentIndex(8);
    ASSERT_TRUE(finish(*first));
    EXPECT_TRUE(first->registered());
    EXPECT_FALSE(first->isVisible());
    EXPECT_TRUE(m_messages.isEmpty());

    const int aliceId = UserInfo().id();
    EXPECT_GT(aliceId, 0);
    EXPECT_EQ(UserInfo().nickname(), "alice");
    EXPECT_EQ(UserInfo().password(), "p&ss word");
    EXPECT_EQ(UserInfo().sex(), "F");
    const double birthDay = QDate(1899, 12, 30).daysTo(QDate(1980, 12, 24));
    EXPECT_EQ(UserInfo().bDate(), birthDay);

    // The same name again: back on the login page with the red heading, nothing stored.
    auto second = wizard();
    fillLogin(*second, "alice", "other");
    second->chkShowInfo()->setChecked(false);
    second->cboCountry()->setCurrentText("United Kingdom");
    ASSERT_TRUE(finish(*second));
    EXPECT_FALSE(second->registered());
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(second->page(), TfrmRegistration::pgLogin);
    EXPECT_EQ(second->lblHeading()->text(),
              "This username allready exists!\nPlease select another one!");
    EXPECT_TRUE(second->lblHeading()->styleSheet().contains("red"));
    EXPECT_FALSE(second->aniSearching()->isVisible());
    EXPECT_EQ(UserInfo().id(), aliceId);
    EXPECT_EQ(UserInfo().password(), "p&ss word");

    // A free name from there on goes through; no birth date stores 0.
    second->txtUsername()->setText("bob");
    ASSERT_TRUE(finish(*second));
    EXPECT_TRUE(second->registered());
    const int bobId = UserInfo().id();
    EXPECT_NE(bobId, aliceId);
    EXPECT_EQ(UserInfo().nickname(), "bob");
    EXPECT_EQ(UserInfo().bDate(), 0.0);

    // The profiles reached the service as they were stored.
    ASSERT_EQ(server.terminate(), 0);
    server::Store store;
    ASSERT_TRUE(store.open(data.path(), nullptr));
    QMap<QString, server::Account> accounts;
    store.forEachAccount([&](const server::Account& a) {
        accounts.insert(a.nickname, a);
        return true;
    });
    const server::Account alice = accounts.value("alice");
    EXPECT_EQ(alice.id, aliceId);
    EXPECT_EQ(alice.country, "SN");
    EXPECT_EQ(alice.birthDate, birthDay);
    EXPECT_EQ(alice.message, "Hello\nthere");
    EXPECT_EQ(alice.connection, 8);
    EXPECT_TRUE(alice.showInfo);
    const server::Account bob = accounts.value("bob");
    EXPECT_EQ(bob.id, bobId);
    EXPECT_EQ(bob.country, "UK");
    EXPECT_FALSE(bob.showInfo);
    EXPECT_EQ(bob.password, "other");
}

TEST_F(Registration, NoWebHostLeavesTheWizardOpenAndNothingStored) {
    HostInfo().set(HostStore::Http, "127.0.0.1:" + QString::number(test::deadPort()));
    auto w = wizard();
    fillLogin(*w, "carol", "pw");
    ASSERT_TRUE(finish(*w));
    EXPECT_FALSE(w->registered());
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_EQ(w->page(), TfrmRegistration::pgConnection);
    EXPECT_TRUE(w->btnFinish()->isEnabled());
    EXPECT_TRUE(UserInfo().nickname().isEmpty());
}
