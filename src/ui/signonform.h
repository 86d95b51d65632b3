#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace mr {

class OnlineSession;
class TUserInfo;

// The preferences dialog: the settings the service knows about, the transfer folders and
// limits, and the sharing filters. "Update" stores them and sends the profile.
class TfrmSignon : public QDialog {
    Q_OBJECT
public:
    // The connection speeds a profile chooses from; the registration wizard offers the same.
    static const QStringList& connectionNames();
    static const QStringList& defaultFilters();
    static constexpr char kHomepageDefault[] = "http://";
    static constexpr int kDefaultLimit = 3;
    static constexpr int kMaxLimit = 10000;
    static constexpr char kPasswordOfflineText[] =
        "Your password can only be changed while you are online.";
    static constexpr char kPasswordRefusedText[] =
        "The service did not accept the new password; your old password stays in use.";

    // session: where the profile goes; without one "Update" only stores and marks the profile
    // for the next sign-on.
    explicit TfrmSignon(OnlineSession* session, QWidget* parent = nullptr);

    void loadSettings(const TUserInfo& info);
    void storeSettings(TUserInfo& info) const;

    // "Sex" as stored for a choice (-1 for none), and the choice a stored value shows.
    static QString sexFor(int index);
    static int sexIndexOf(const QString& stored);
    // The memo's lines as one comma-separated text and back; a line holding a comma or a
    // quote, or blanks at its ends, is quoted, so every text reads back as it was written.
    static QString joinLines(const QStringList& lines);
    static QStringList splitLines(const QString& text);

    // Where messages go; a message box unless replaced.
    void setMessageSink(std::function<void(const QString&)> sink) {
        m_messageSink = std::move(sink);
    }
    // Replace the password dialog and the extension prompt, for tests. The first returns the
    // confirmed new password (empty to keep the old one); the second the typed extension, or
    // nothing after Cancel.
    void setPasswordPrompt(std::function<QString()> prompt) { m_askPassword = std::move(prompt); }
    void setFilterPrompt(std::function<std::optional<QString>()> prompt) {
        m_askFilter = std::move(prompt);
    }

    QTabWidget* pages() const { return m_pages; }
    QLineEdit* txtNickname() const { return m_txtNickname; }
    QLineEdit* txtPassword() const { return m_txtPassword; }
    QLineEdit* txtFirstName() const { return m_txtFirstName; }
    QLineEdit* txtLastName() const { return m_txtLastName; }
    QLineEdit* txtEmail() const { return m_txtEmail; }
    QLineEdit* txtLanguages() const { return m_txtLanguages; }
    QLineEdit* txtHomepage() const { return m_txtHomepage; }
    QComboBox* cboSex() const { return m_cboSex; }
    QDateEdit* dtpBirthDate() const { return m_dtpBirthDate; }
    // Ticked for no birth date: stored as 0, which others see as unknown.
    QCheckBox* chkNoBirthDate() const { return m_chkNoBirthDate; }
    QCheckBox* chkDontShow() const { return m_chkDontShow; }
    QComboBox* cboConnection() const { return m_cboConnection; }
    QComboBox* cboCountry() const { return m_cboCountry; }
    QLineEdit* txtUploadPath() const { return m_txtUploadPath; }
    QLineEdit* txtDownloadPath() const { return m_txtDownloadPath; }
    QSpinBox* spnClientLimit() const { return m_spnClientLimit; }
    QSpinBox* spnServerLimit() const { return m_spnServerLimit; }
    QSpinBox* spnRetrySeconds() const { return m_spnRetrySeconds; }
    QSpinBox* spnRetryMaxSeconds() const { return m_spnRetryMaxSeconds; }
    QCheckBox* chkNotifyMessages() const { return m_chkNotifyMessages; }
    QCheckBox* chkNotifyChats() const { return m_chkNotifyChats; }
    QCheckBox* chkNotifyDownloads() const { return m_chkNotifyDownloads; }
    QPlainTextEdit* txtMessage() const { return m_txtMessage; }
    QCheckBox* chkUseFilters() const { return m_chkUseFilters; }
    QListWidget* lstAvailable() const { return m_lstAvailable; }
    QListWidget* lstChosen() const { return m_lstChosen; }
    QPushButton* btnAddFilter() const { return m_btnAddFilter; }
    QPushButton* btnChoose() const { return m_btnChoose; }
    QPushButton* btnUnchoose() const { return m_btnUnchoose; }
    QPushButton* btnUpdate() const { return m_btnUpdate; }

public slots:
    void btnUpdateClick();
    void btnAddFilterClick();
    void btnChooseClick();
    void btnUnchooseClick();
    void chkUseFiltersClick();
    // Opens the change-password dialog, online only; a confirmed password replaces the field's
    // text.
    void changePassword();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* createUserInfoPage();
    QWidget* createConfigurationPage();
    QWidget* createFiltersPage();
    QPushButton* createBrowseButton(QLineEdit* target);
    static void moveSelected(QListWidget* from, QListWidget* to);
    QStringList chosenFilters() const;
    void showMessage(const QString& text);
    // Puts the password the service knows back in the field and says why.
    void keepPassword(const QString& known, const char* why);

    OnlineSession* m_session;
    std::function<QString()> m_askPassword;
    std::function<std::optional<QString>()> m_askFilter;
    std::function<void(const QString&)> m_messageSink;

    QTabWidget* m_pages = nullptr;
    QLineEdit* m_txtNickname = nullptr;
    QLineEdit* m_txtPassword = nullptr;
    QLineEdit* m_txtFirstName = nullptr;
    QLineEdit* m_txtLastName = nullptr;
    QLineEdit* m_txtEmail = nullptr;
    QLineEdit* m_txtLanguages = nullptr;
    QLineEdit* m_txtHomepage = nullptr;
    QComboBox* m_cboSex = nullptr;
    QDateEdit* m_dtpBirthDate = nullptr;
    QCheckBox* m_chkNoBirthDate = nullptr;
    QCheckBox* m_chkDontShow = nullptr;
    QComboBox* m_cboConnection = nullptr;
    QComboBox* m_cboCountry = nullptr;
    QLineEdit* m_txtUploadPath = nullptr;
    QLineEdit* m_txtDownloadPath = nullptr;
    QSpinBox* m_spnClientLimit = nullptr;
    QSpinBox* m_spnServerLimit = nullptr;
    QSpinBox* m_spnRetrySeconds = nullptr;
    QSpinBox* m_spnRetryMaxSeconds = nullptr;
    QCheckBox* m_chkNotifyMessages = nullptr;
    QCheckBox* m_chkNotifyChats = nullptr;
    QCheckBox* m_chkNotifyDownloads = nullptr;
    QPlainTextEdit* m_txtMessage = nullptr;
    QCheckBox* m_chkUseFilters = nullptr;
    QListWidget* m_lstAvailable = nullptr;
    QListWidget* m_lstChosen = nullptr;
    QPushButton* m_btnAddFilter = nullptr;
    QPushButton* m_btnChoose = nullptr;
    QPushButton* m_btnUnchoose = nullptr;
    QPushButton* m_btnUpdate = nullptr;
};

}  // namespace mr
