#pragma once

#include <QDate>
#include <QDialog>
#include <QLocale>
#include <QString>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTextBrowser;

namespace mr {

class RegistrationClient;
struct RegistrationProfile;

// The first-start wizard: user name and password, profile, connection type; it creates the
// account on the web host, stores it in the profile's settings and sends the profile.
class TfrmRegistration : public QDialog {
    Q_OBJECT
public:
    enum Page { pgWelcome = 0, pgLogin = 1, pgPersonal = 2, pgConnection = 3 };
    using MessageSink = std::function<void(const QString&)>;

    explicit TfrmRegistration(QWidget* parent = nullptr);
    ~TfrmRegistration() override;

    // Shows the wizard modally; true when an account was created and stored.
    static bool runRegistration(QWidget* parent);

    // Why the login page may not be left; empty when it may.
    static QString validateLogin(const QString& name, const QString& password,
                                 const QString& repeated, const QString& email);
    // The birth-date field holds more than its separators.
    static bool dateEntered(const QString& fieldText);
    // The field's "NN/NN/NN" read in the order of the locale's short date format; two-digit
    // years up to this year's are in this century. Invalid when it is no date.
    static QDate readDate(const QString& fieldText, const QLocale& locale);
    // The text of "welcome.rtf": rich text reduced to its plain text, anything else as it is.
    static QString welcomeText(const QByteArray& fileBytes);

    int page() const;
    void setPage(int page);
    bool registered() const { return m_registered; }
    // Where validation messages go; a message box unless replaced.
    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }
    // The short date format whose order the birth date is read in; the system's by default.
    void setDateLocale(const QLocale& locale);

    QLabel* lblHeading() const { return m_lblHeading; }
    QLineEdit* txtUsername() const { return m_txtUsername; }
    QLineEdit* txtPassword() const { return m_txtPassword; }
    QLineEdit* txtPassword2() const { return m_txtPassword2; }
    QLineEdit* txtEmail() const { return m_txtEmail; }
    QLineEdit* txtFirstName() const { return m_txtFirstName; }
    QLineEdit* txtLastName() const { return m_txtLastName; }
    QComboBox* cboSex() const { return m_cboSex; }
    QCheckBox* chkShowInfo() const { return m_chkShowInfo; }
    QComboBox* cboCountry() const { return m_cboCountry; }
    QLineEdit* txtBirthDate() const { return m_txtBirthDate; }
    QPlainTextEdit* txtMessage() const { return m_txtMessage; }
    QLineEdit* txtLanguages() const { return m_txtLanguages; }
    QLineEdit* txtHomepage() const { return m_txtHomepage; }
    QComboBox* cboConnection() const { return m_cboConnection; }
    QPushButton* btnBack() const { return m_btnBack; }
    QPushButton* btnNext() const { return m_btnNext; }
    QPushButton* btnCancel() const { return m_btnCancel; }
    QPushButton* btnFinish() const { return m_btnFinish; }
    QProgressBar* aniSearching() const { return m_aniSearching; }

signals:
    // The wizard is done talking to the web host: registered, or back on a page.
    void finishingEnded(bool registered);

private:
    QWidget* createWelcomePage();
    QWidget* createLoginPage();
    QWidget* createPersonalPage();
    QWidget* createConnectionPage();
    void updateButtons();
    void showMessage(const QString& text);
    bool validatePage(int page);

    void btnNextClick();
    void btnBackClick();
    void btnFinishClick();
    void registerReplied(bool ok, const QByteArray& body);
    void profileReplied(bool delivered);
    void setBusy(bool busy);
    RegistrationProfile profileFromForm() const;
    void storeSettings(qint32 id, const RegistrationProfile& profile);

    QStackedWidget* m_pages;
    QTextBrowser* m_txtWelcome = nullptr;
    QLabel* m_lblHeading = nullptr;
    QLineEdit* m_txtUsername = nullptr;
    QLineEdit* m_txtPassword = nullptr;
    QLineEdit* m_txtPassword2 = nullptr;
    QLineEdit* m_txtEmail = nullptr;
    QLineEdit* m_txtFirstName = nullptr;
    QLineEdit* m_txtLastName = nullptr;
    QComboBox* m_cboSex = nullptr;
    QCheckBox* m_chkShowInfo = nullptr;
    QComboBox* m_cboCountry = nullptr;
    QLineEdit* m_txtBirthDate = nullptr;
    QLabel* m_lblDateOrder = nullptr;
    QPlainTextEdit* m_txtMessage = nullptr;
    QLineEdit* m_txtLanguages = nullptr;
    QLineEdit* m_txtHomepage = nullptr;
    QComboBox* m_cboConnection = nullptr;
    QPushButton* m_btnBack;
    QPushButton* m_btnNext;
    QPushButton* m_btnCancel;
    QPushButton* m_btnFinish;
    QProgressBar* m_aniSearching;
    RegistrationClient* m_client;
    MessageSink m_messageSink;
    QLocale m_locale;
    QString m_headingText;
    bool m_busy = false;
    bool m_registered = false;
    enum class Step { None, Register, Profile } m_step = Step::None;
};

}  // namespace mr
