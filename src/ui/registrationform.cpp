#include "ui/registrationform.h"

#include "core/countries.h"
#include "core/profile.h"
#include "core/userinfo.h"
#include "service/registrationclient.h"
#include "ui/richtext.h"
#include "ui/signonform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <vector>

namespace mr {

namespace {

constexpr int kMaxName = 20;
constexpr int kMaxPassword = 20;
constexpr int kMaxEmail = 80;
constexpr int kMaxPersonName = 40;
constexpr int kMaxMessage = 500;
constexpr int kMaxLanguages = 40;
constexpr int kMaxHomepage = 80;
constexpr qint64 kMaxWelcomeBytes = 1024 * 1024;

// Day, month and year in the order the locale's short date format writes them.
std::array<char, 3> dateOrder(const QLocale& locale) {
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    std::vector<std::pair<qsizetype, char>> found;
    for (const char part : {'d', 'M', 'y'}) {
        const qsizetype at = format.indexOf(QLatin1Char(part));
        found.emplace_back(at < 0 ? format.size() : at, part);
    }
    std::stable_sort(found.begin(), found.end());
    return {found[0].second, found[1].second, found[2].second};
}

QString dateOrderHint(const QLocale& locale) {
    QStringList parts;
    for (const char part : dateOrder(locale)) {
        parts.append(part == 'd'   ? QStringLiteral("DD")
                     : part == 'M' ? QStringLiteral("MM")
                                   : QStringLiteral("YY"));
    }
    return u'(' + parts.join(u'/') + u')';
}

}  // namespace

TfrmRegistration::TfrmRegistration(QWidget* parent)
    : QDialog(parent),
      m_pages(new QStackedWidget(this)),
      m_btnBack(new QPushButton(QStringLiteral("<< &Back"), this)),
      m_btnNext(new QPushButton(QStringLiteral("&Next >>"), this)),
      m_btnCancel(new QPushButton(QStringLiteral("&Cancel"), this)),
      m_btnFinish(new QPushButton(QStringLiteral("&Finish"), this)),
      m_aniSearching(new QProgressBar(this)),
      m_client(new RegistrationClient(this)) {
    setObjectName(QStringLiteral("frmRegistration"));
    setWindowTitle(QStringLiteral("Moonrake -- User registration form"));
    setModal(true);

    m_pages->addWidget(createWelcomePage());
    m_pages->addWidget(createLoginPage());
    m_pages->addWidget(createPersonalPage());
    m_pages->addWidget(createConnectionPage());

    m_btnBack->setObjectName(QStringLiteral("btnBack"));
    m_btnNext->setObjectName(QStringLiteral("btnNext"));
    m_btnCancel->setObjectName(QStringLiteral("btnCancel"));
    m_btnFinish->setObjectName(QStringLiteral("btnFinish"));
    for (QPushButton* b : {m_btnBack, m_btnNext, m_btnCancel, m_btnFinish}) {
        b->setAutoDefault(false);
    }
    connect(m_btnNext, &QPushButton::clicked, this, &TfrmRegistration::btnNextClick);
    connect(m_btnBack, &QPushButton::clicked, this, &TfrmRegistration::btnBackClick);
    connect(m_btnFinish, &QPushButton::clicked, this, &TfrmRegistration::btnFinishClick);
    connect(m_btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    // The "searching" animation while the wizard talks to the web host.
    m_aniSearching->setObjectName(QStringLiteral("aniSearching"));
    m_aniSearching->setRange(0, 0);
    m_aniSearching->setTextVisible(false);
    m_aniSearching->setMaximumWidth(120);
    m_aniSearching->hide();

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_aniSearching);
    buttons->addStretch(1);
    buttons->addWidget(m_btnBack);
    buttons->addWidget(m_btnNext);
    buttons->addWidget(m_btnFinish);
    buttons->addSpacing(12);
    buttons->addWidget(m_btnCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages, 1);
    layout->addLayout(buttons);

    connect(m_client, &RegistrationClient::finished, this, [this](bool ok, const QByteArray& b) {
        if (m_step == Step::Register) {
            registerReplied(ok, b);
        } else if (m_step == Step::Profile) {
            profileReplied(ok);
        }
    });

    setDateLocale(QLocale());
    setPage(pgWelcome);
    resize(520, 440);
}

TfrmRegistration::~TfrmRegistration() {
    // An aborted request reports back at once; nothing must reach a half-destroyed wizard.
    m_client->disconnect(this);
    m_client->abort();
}

bool TfrmRegistration::runRegistration(QWidget* parent) {
    TfrmRegistration wizard(parent);
    wizard.exec();
    return wizard.registered();
}

QWidget* TfrmRegistration::createWelcomePage() {
    auto* page = new QWidget;
    m_txtWelcome = new QTextBrowser(page);
    m_txtWelcome->setObjectName(QStringLiteral("txtWelcome"));
    m_txtWelcome->setOpenExternalLinks(true);
    // Beside the program in a build or the portable layout, else where an installation puts
    // it; a missing file leaves the page empty.
    const QDir programDir(Profile::executableDirectory());
    QFile file(programDir.filePath(QStringLiteral("welcome.rtf")));
    if (!file.exists()) {
        file.setFileName(programDir.filePath(QStringLiteral("../share/moonrake/welcome.rtf")));
    }
    if (file.open(QIODevice::ReadOnly)) {
        const QString text = welcomeText(file.read(kMaxWelcomeBytes));
        if (Qt::mightBeRichText(text)) {
            m_txtWelcome->setHtml(text);
        } else {
            m_txtWelcome->setPlainText(text);
        }
    }
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(m_txtWelcome);
    return page;
}

QWidget* TfrmRegistration::createLoginPage() {
    auto* page = new QWidget;
    m_headingText = QStringLiteral("Moonrake Registration Wizard!");
    m_lblHeading = new QLabel(m_headingText, page);
    m_lblHeading->setObjectName(QStringLiteral("lblHeading"));
    QFont big = m_lblHeading->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    m_lblHeading->setFont(big);

    const auto edit = [page](const char* name, int maxLength, bool masked) {
        auto* e = new QLineEdit(page);
        e->setObjectName(QLatin1String(name));
        e->setMaxLength(maxLength);
        if (masked) {
            e->setEchoMode(QLineEdit::Password);
        }
        return e;
    };
    m_txtUsername = edit("txtUsername", kMaxName, false);
    m_txtPassword = edit("txtPassword", kMaxPassword, true);
    m_txtPassword2 = edit("txtPassword2", kMaxPassword, true);
    m_txtEmail = edit("txtEmail", kMaxEmail, false);

    auto* group = new QGroupBox(QStringLiteral("Login Info"), page);
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("User name:"), m_txtUsername);
    form->addRow(QStringLiteral("Password:"), m_txtPassword);
    form->addRow(QStringLiteral("Repeat password:"), m_txtPassword2);
    form->addRow(QStringLiteral("E-Mail:"), m_txtEmail);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(m_lblHeading);
    layout->addWidget(group);
    layout->addStretch(1);
    return page;
}

QWidget* TfrmRegistration::createPersonalPage() {
    auto* page = new QWidget;
    const auto edit = [page](const char* name, int maxLength) {
        auto* e = new QLineEdit(page);
        e->setObjectName(QLatin1String(name));
        e->setMaxLength(maxLength);
        return e;
    };
    m_txtFirstName = edit("txtFirstName", kMaxPersonName);
    m_txtLastName = edit("txtLastName", kMaxPersonName);
    m_txtLanguages = edit("txtLanguages", kMaxLanguages);
    m_txtHomepage = edit("txtHomepage", kMaxHomepage);

    m_cboSex = new QComboBox(page);
    m_cboSex->setObjectName(QStringLiteral("cboSex"));
    m_cboSex->addItems({QStringLiteral("Male"), QStringLiteral("Female")});
    m_cboSex->setCurrentIndex(-1);

    m_chkShowInfo = new QCheckBox(QStringLiteral("Show to other users"), page);
    m_chkShowInfo->setObjectName(QStringLiteral("chkShowInfo"));
    m_chkShowInfo->setChecked(true);

    m_cboCountry = new QComboBox(page);
    m_cboCountry->setObjectName(QStringLiteral("cboCountry"));
    m_cboCountry->addItems(countryNames());
    m_cboCountry->setCurrentIndex(-1);
    m_cboCountry->setMaxVisibleItems(20);

    m_txtBirthDate = new QLineEdit(page);
    m_txtBirthDate->setObjectName(QStringLiteral("txtBirthDate"));
    m_txtBirthDate->setInputMask(QStringLiteral("99/99/99;_"));
    m_txtBirthDate->setMaximumWidth(90);
    m_lblDateOrder = new QLabel(page);
    auto* dateRow = new QHBoxLayout;
    dateRow->addWidget(m_txtBirthDate);
    dateRow->addWidget(m_lblDateOrder);
    dateRow->addStretch(1);

    m_txtMessage = new QPlainTextEdit(page);
    m_txtMessage->setObjectName(QStringLiteral("txtMessage"));
    m_txtMessage->setFixedHeight(m_txtMessage->fontMetrics().lineSpacing() * 4 + 12);
    connect(m_txtMessage, &QPlainTextEdit::textChanged, this, [this] {
        // The greeting is at most 500 characters; typing or pasting beyond that is cut.
        const QString text = m_txtMessage->toPlainText();
        if (text.size() > kMaxMessage) {
            const QSignalBlocker block(m_txtMessage);
            m_txtMessage->setPlainText(text.left(kMaxMessage));
            m_txtMessage->moveCursor(QTextCursor::End);
        }
    });

    auto* group = new QGroupBox(QStringLiteral("Personal Info"), page);
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("First name:"), m_txtFirstName);
    form->addRow(QStringLiteral("Last name:"), m_txtLastName);
    form->addRow(QStringLiteral("Sex:"), m_cboSex);
    form->addRow(QString(), m_chkShowInfo);
    form->addRow(QStringLiteral("Country:"), m_cboCountry);
    form->addRow(QStringLiteral("Date of birth:"), dateRow);
    form->addRow(QStringLiteral("Greeting message:"), m_txtMessage);
    form->addRow(QStringLiteral("Languages:"), m_txtLanguages);
    form->addRow(QStringLiteral("Home page:"), m_txtHomepage);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(group);
    layout->addStretch(1);
    return page;
}

QWidget* TfrmRegistration::createConnectionPage() {
    auto* page = new QWidget;
    m_cboConnection = new QComboBox(page);
    m_cboConnection->setObjectName(QStringLiteral("cboConnection"));
    m_cboConnection->addItems(TfrmSignon::connectionNames());
    m_cboConnection->setCurrentIndex(-1);

    auto* connection = new QGroupBox(QStringLiteral("Connection type"), page);
    auto* connectionLayout = new QFormLayout(connection);
    connectionLayout->addRow(QStringLiteral("Connection:"), m_cboConnection);

    // Shown for what it is: the client has no proxy support.
    auto* proxy = new QGroupBox(QStringLiteral("Proxy settings"), page);
    auto* proxyLayout = new QFormLayout(proxy);
    proxyLayout->addRow(new QCheckBox(QStringLiteral("I am behind a proxy (SOCKS5)"), proxy));
    proxyLayout->addRow(QStringLiteral("Proxy address:"), new QLineEdit(proxy));
    proxyLayout->addRow(QStringLiteral("Proxy port:"),
                        new QLineEdit(QStringLiteral("1080"), proxy));
    proxy->setEnabled(false);
    auto* note = new QLabel(QStringLiteral("-=- The PROXY is N/A! -=-"), page);
    note->setAlignment(Qt::AlignCenter);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(connection);
    layout->addWidget(proxy);
    layout->addWidget(note);
    layout->addStretch(1);
    return page;
}

void TfrmRegistration::setDateLocale(const QLocale& locale) {
    m_locale = locale;
    m_lblDateOrder->setText(dateOrderHint(locale));
}

int TfrmRegistration::page() const {
    return m_pages->currentIndex();
}

void TfrmRegistration::setPage(int page) {
    m_pages->setCurrentIndex(std::clamp(page, 0, m_pages->count() - 1));
    updateButtons();
}

void TfrmRegistration::updateButtons() {
    const int p = page();
    const bool last = p == m_pages->count() - 1;
    m_btnBack->setEnabled(!m_busy && p > 0);
    m_btnNext->setEnabled(!m_busy && !last);
    m_btnFinish->setEnabled(!m_busy && last);
    m_btnNext->setDefault(!last);
    m_btnFinish->setDefault(last);
}

void TfrmRegistration::showMessage(const QString& text) {
    if (m_messageSink) {
        m_messageSink(text);
    } else {
        QMessageBox::warning(this, windowTitle(), text);
    }
}

QString TfrmRegistration::validateLogin(const QString& name, const QString& password,
                                        const QString& repeated, const QString& email) {
    if (name.isEmpty()) {
        return QStringLiteral("Please enter a username!");
    }
    if (password.isEmpty()) {
        return QStringLiteral("Please enter a password!");
    }
    if (password != repeated) {
        return QStringLiteral("You must enter the same password in both boxes");
    }
    if (!email.contains(u'@')) {
        return QStringLiteral("Please enter a valid E-Mail");
    }
    return {};
}

bool TfrmRegistration::dateEntered(const QString& fieldText) {
    for (const QChar c : fieldText) {
        if (c != u'/' && c != u'_' && !c.isSpace()) {
            return true;
        }
    }
    return false;
}

QDate TfrmRegistration::readDate(const QString& fieldText, const QLocale& locale) {
    const QStringList parts = fieldText.split(u'/');
    if (parts.size() != 3) {
        return {};
    }
    int day = 0;
    int month = 0;
    int year = -1;
    const std::array<char, 3> order = dateOrder(locale);
    for (int i = 0; i < 3; ++i) {
        const QString part = parts.at(i).trimmed();
        bool ok = false;
        const int value = part.size() <= 2 ? part.toInt(&ok) : -1;
        if (!ok || value < 0) {
            return {};
        }
        (order[i] == 'd' ? day : order[i] == 'M' ? month : year) = value;
    }
    // A birth year after this year's two digits belongs to the last century.
    const int thisYear = QDate::currentDate().year();
    const int century = thisYear - thisYear % 100;
    year += year > thisYear % 100 ? century - 100 : century;
    return QDate(year, month, day);
}

QString TfrmRegistration::welcomeText(const QByteArray& fileBytes) {
    if (fileBytes.startsWith("{\\rtf")) {
        return rtfToPlainText(QString::fromLatin1(fileBytes));
    }
    return QString::fromUtf8(fileBytes);
}

bool TfrmRegistration::validatePage(int p) {
    QString message;
    if (p == pgLogin) {
        message = validateLogin(m_txtUsername->text(), m_txtPassword->text(),
                                m_txtPassword2->text(), m_txtEmail->text());
    } else if (p == pgPersonal && dateEntered(m_txtBirthDate->text()) &&
               !readDate(m_txtBirthDate->text(), m_locale).isValid()) {
        message = QStringLiteral("Please enter a valid date");
    }
    if (message.isEmpty()) {
        return true;
    }
    showMessage(message);
    return false;
}

void TfrmRegistration::btnNextClick() {
    if (m_busy || page() >= m_pages->count() - 1 || !validatePage(page())) {
        return;
    }
    setPage(page() + 1);
}

void TfrmRegistration::btnBackClick() {
    if (!m_busy && page() > 0) {
        setPage(page() - 1);
    }
}

void TfrmRegistration::setBusy(bool busy) {
    m_busy = busy;
    m_aniSearching->setVisible(busy);
    updateButtons();
}

void TfrmRegistration::btnFinishClick() {
    if (m_busy) {
        return;
    }
    // Every page is checked again: Back and Next may have been used in any order.
    for (const int p : {int(pgLogin), int(pgPersonal)}) {
        if (!validatePage(p)) {
            setPage(p);
            return;
        }
    }
    setBusy(true);
    m_step = Step::Register;
    m_client->get(RegistrationClient::registerPath(m_txtUsername->text(), m_txtPassword->text()));
}

void TfrmRegistration::registerReplied(bool ok, const QByteArray& body) {
    m_step = Step::None;
    if (!ok) {
        // No web host: nothing was stored, and the user may try again or cancel.
        setBusy(false);
        emit finishingEnded(false);
        return;
    }
    const qint32 id = RegistrationClient::parseRegisterReply(body);
    if (id == 0) {
        m_lblHeading->setText(
            QStringLiteral("This username allready exists!\nPlease select "
                           "another one!"));
        m_lblHeading->setStyleSheet(QStringLiteral("color: red;"));
        setBusy(false);
        setPage(pgLogin);
        m_txtUsername->setFocus();
        m_txtUsername->selectAll();
        emit finishingEnded(false);
        return;
    }
    const RegistrationProfile profile = profileFromForm();
    storeSettings(id, profile);
    m_registered = true;
    m_step = Step::Profile;
    m_client->get(RegistrationClient::setUserInfoPath(id, m_txtPassword->text(), profile));
}

void TfrmRegistration::profileReplied(bool delivered) {
    // The reply itself is not examined: the account exists either way. A profile that never
    // reached the web host goes out again after the first sign-on.
    m_step = Step::None;
    if (!delivered) {
        UserInfo().setRefresh(1);
        UserInfo().file().sync();
    }
    setBusy(false);
    emit finishingEnded(true);
    accept();
}

RegistrationProfile TfrmRegistration::profileFromForm() const {
    RegistrationProfile p;
    p.showInfo = m_chkShowInfo->isChecked();
    p.firstName = m_txtFirstName->text();
    p.lastName = m_txtLastName->text();
    p.email = m_txtEmail->text();
    if (dateEntered(m_txtBirthDate->text())) {
        const QDate date = readDate(m_txtBirthDate->text(), m_locale);
        if (date.isValid()) {
            p.dateOfBirth = static_cast<double>(QDate(1899, 12, 30).daysTo(date));
        }
    }
    if (m_cboSex->currentIndex() >= 0) {
        p.sex = m_cboSex->currentIndex() == 0 ? QStringLiteral("M") : QStringLiteral("F");
    }
    p.country = countryCodeAt(m_cboCountry->currentIndex());
    p.homepage = m_txtHomepage->text();
    p.languages = m_txtLanguages->text();
    p.info = m_txtMessage->toPlainText();
    p.connection = std::max(0, m_cboConnection->currentIndex());
    return p;
}

void TfrmRegistration::storeSettings(qint32 id, const RegistrationProfile& p) {
    TUserInfo& info = UserInfo();
    info.setId(id);
    info.setNickname(m_txtUsername->text());
    info.setPassword(m_txtPassword->text());
    info.setShowInfo(p.showInfo ? 1 : 0);
    info.setFirstName(p.firstName);
    info.setLastName(p.lastName);
    info.setEmail(p.email);
    info.setBDate(p.dateOfBirth.value_or(0.0));
    // "U" is the profile's word for no sex chosen, as the preferences dialog reads it.
    info.setSex(p.sex.isEmpty() ? QStringLiteral("U") : p.sex);
    info.setCountry(p.country);
    info.setHomepage(p.homepage);
    info.setLanguages(p.languages);
    info.setMessage(p.info);
    info.setConnection(p.connection);
    info.file().sync();
}

}  // namespace mr
