#include "ui/signonform.h"

#include "core/countries.h"
#include "core/datetime.h"
#include "core/profile.h"
#include "core/userinfo.h"
#include "service/session.h"
#include "ui/passwordform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace mr {

namespace {

const QString kGroup = QStringLiteral("UserInfo");

bool needsQuotes(const QString& line) {
    return line.contains(QLatin1Char(',')) || line.contains(QLatin1Char('"')) ||
           line != line.trimmed();
}

// A limit as stored, or the dialog's default when the value was never stored.
int limitSetting(const TUserInfo& info, const char* name, int stored) {
    return info.file().text(kGroup, QLatin1String(name)) ? stored : TfrmSignon::kDefaultLimit;
}

}  // namespace

const QStringList& TfrmSignon::connectionNames() {
    static const QStringList names{QStringLiteral("I don't know"),
                                   QStringLiteral("Modem 14,400"),
                                   QStringLiteral("Modem 28,800"),
                                   QStringLiteral("Modem 33,600"),
                                   QStringLiteral("Modem 56k"),
                                   QStringLiteral("ISDN 64k"),
                                   QStringLiteral("ISDN 128k"),
                                   QStringLiteral("Cable Modem"),
                                   QStringLiteral("DSL"),
                                   QStringLiteral("T1"),
                                   QStringLiteral("T3")};
    return names;
}

const QStringList& TfrmSignon::defaultFilters() {
    static const QStringList filters{
        QStringLiteral("MP3"), QStringLiteral("MID"), QStringLiteral("WAV"), QStringLiteral("AVI"),
        QStringLiteral("MOV"), QStringLiteral("MPG"), QStringLiteral("GIF"), QStringLiteral("JPG"),
        QStringLiteral("BMP"), QStringLiteral("EXE")};
    return filters;
}

TfrmSignon::TfrmSignon(OnlineSession* session, QWidget* parent)
    : QDialog(parent), m_session(session) {
    setObjectName(QStringLiteral("frmSignon"));
    setWindowTitle(QStringLiteral("Sign on form"));

    m_askPassword = [this]() -> QString {
        TfrmPassword dialog(this);
        dialog.exec();
        return dialog.result();
    };
    m_askFilter = [this]() -> std::optional<QString> {
        bool ok = false;
        const QString text = QInputDialog::getText(this, QStringLiteral("Add filter"),
                                                   QStringLiteral("Enter file extention:"),
                                                   QLineEdit::Normal, QString(), &ok);
        return ok ? std::optional<QString>(text) : std::nullopt;
    };

    m_pages = new QTabWidget(this);
    m_pages->setObjectName(QStringLiteral("pgcSignon"));
    m_pages->addTab(createUserInfoPage(), QStringLiteral("User Info"));
    m_pages->addTab(createConfigurationPage(), QStringLiteral("Configuration"));
    m_pages->addTab(createFiltersPage(), QStringLiteral("Filters"));

    auto* buttons = new QDialogButtonBox(this);
    m_btnUpdate = buttons->addButton(QStringLiteral("Update"), QDialogButtonBox::AcceptRole);
    m_btnUpdate->setObjectName(QStringLiteral("btnUpdate"));
    m_btnUpdate->setDefault(true);
    QPushButton* cancel =
        buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    connect(m_btnUpdate, &QPushButton::clicked, this, &TfrmSignon::btnUpdateClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(buttons);

    loadSettings(UserInfo());
}

QWidget* TfrmSignon::createUserInfoPage() {
    auto* page = new QWidget(this);
    const auto edit = [page](const char* name) {
        auto* e = new QLineEdit(page);
        e->setObjectName(QLatin1String(name));
        return e;
    };
    m_txtNickname = edit("txtNickname");
    m_txtNickname->setReadOnly(true);
    m_txtPassword = edit("txtPassword");
    m_txtPassword->setEchoMode(QLineEdit::Password);
    m_txtPassword->setReadOnly(true);
    m_txtPassword->setToolTip(QStringLiteral("Press any key to change the password"));
    m_txtPassword->installEventFilter(this);
    m_txtFirstName = edit("txtFirstName");
    m_txtLastName = edit("txtLastName");
    m_txtEmail = edit("txtEmail");
    m_txtLanguages = edit("txtLanguages");
    m_txtHomepage = edit("txtHomepage");

    m_cboSex = new QComboBox(page);
    m_cboSex->setObjectName(QStringLiteral("cboSex"));
    m_cboSex->addItems({QStringLiteral("Male"), QStringLiteral("Female")});
    m_cboSex->setPlaceholderText(QStringLiteral(" "));

    m_dtpBirthDate = new QDateEdit(page);
    m_dtpBirthDate->setObjectName(QStringLiteral("dtpBirthDate"));
    m_dtpBirthDate->setCalendarPopup(true);
    m_dtpBirthDate->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_dtpBirthDate->setMinimumDate(QDate(1900, 1, 1));
    m_chkNoBirthDate = new QCheckBox(QStringLiteral("Unknown"), page);
    m_chkNoBirthDate->setObjectName(QStringLiteral("chkNoBirthDate"));
    connect(m_chkNoBirthDate, &QCheckBox::toggled, m_dtpBirthDate, &QWidget::setDisabled);
    auto* birth = new QHBoxLayout;
    birth->addWidget(m_dtpBirthDate, 1);
    birth->addWidget(m_chkNoBirthDate);

    m_chkDontShow = new QCheckBox(QStringLiteral("Don't display this information"), page);
    m_chkDontShow->setObjectName(QStringLiteral("chkDontShow"));

    m_cboConnection = new QComboBox(page);
    m_cboConnection->setObjectName(QStringLiteral("cboConnection"));
    m_cboConnection->addItems(connectionNames());

    m_cboCountry = new QComboBox(page);
    m_cboCountry->setObjectName(QStringLiteral("cboCountry"));
    m_cboCountry->addItems(countryNames());
    m_cboCountry->setPlaceholderText(QStringLiteral(" "));
    m_cboCountry->setMaxVisibleItems(20);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("User name:"), m_txtNickname);
    form->addRow(QStringLiteral("Password:"), m_txtPassword);
    form->addRow(QStringLiteral("First name:"), m_txtFirstName);
    form->addRow(QStringLiteral("Last name:"), m_txtLastName);
    form->addRow(QStringLiteral("E-mail:"), m_txtEmail);
    form->addRow(QStringLiteral("Languages:"), m_txtLanguages);
    form->addRow(QStringLiteral("Home page:"), m_txtHomepage);
    form->addRow(QStringLiteral("Sex:"), m_cboSex);
    form->addRow(QStringLiteral("Date of birth:"), birth);
    form->addRow(QStringLiteral("Connection:"), m_cboConnection);
    form->addRow(QStringLiteral("Country:"), m_cboCountry);
    form->addRow(QString(), m_chkDontShow);
    page->setLayout(form);
    return page;
}

QPushButton* TfrmSignon::createBrowseButton(QLineEdit* target) {
    auto* button = new QPushButton(QStringLiteral("Select..."), this);
    connect(button, &QPushButton::clicked, this, [this, target] {
        const QString start =
            target->text().isEmpty()
                ? QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)
                : target->text();
        const QString folder =
            QFileDialog::getExistingDirectory(this, QStringLiteral("Select directory..."), start);
        if (!folder.isEmpty()) {
            target->setText(folder);
        }
    });
    return button;
}

QWidget* TfrmSignon::createConfigurationPage() {
    auto* page = new QWidget(this);
    m_txtUploadPath = new QLineEdit(page);
    m_txtUploadPath->setObjectName(QStringLiteral("txtUploadPath"));
    m_txtDownloadPath = new QLineEdit(page);
    m_txtDownloadPath->setObjectName(QStringLiteral("txtDownloadPath"));
    QPushButton* selectUpload = createBrowseButton(m_txtUploadPath);
    selectUpload->setObjectName(QStringLiteral("btnSelectUpload"));
    QPushButton* selectDownload = createBrowseButton(m_txtDownloadPath);
    selectDownload->setObjectName(QStringLiteral("btnSelectDownload"));

    const auto spin = [page](const char* name) {
        auto* s = new QSpinBox(page);
        s->setObjectName(QLatin1String(name));
        s->setRange(0, kMaxLimit);
        s->setValue(kDefaultLimit);
        return s;
    };
    m_spnClientLimit = spin("spnClientLimit");
    m_spnServerLimit = spin("spnServerLimit");
    const auto seconds = [page](const char* name) {
        auto* s = new QSpinBox(page);
        s->setObjectName(QLatin1String(name));
        s->setRange(0, 7 * 24 * 3600);
        s->setSpecialValueText(QStringLiteral("Off"));
        s->setSuffix(QStringLiteral(" s"));
        return s;
    };
    m_spnRetrySeconds = seconds("spnRetrySeconds");
    m_spnRetryMaxSeconds = seconds("spnRetryMaxSeconds");
    const auto check = [page](const char* name, const char* caption) {
        auto* c = new QCheckBox(QLatin1String(caption), page);
        c->setObjectName(QLatin1String(name));
        return c;
    };
    m_chkNotifyMessages = check("chkNotifyMessages", "Notify me of received messages");
    m_chkNotifyChats = check("chkNotifyChats", "Notify me of chat invitations");
    m_chkNotifyDownloads = check("chkNotifyDownloads", "Notify me of completed downloads");

    m_txtMessage = new QPlainTextEdit(page);
    m_txtMessage->setObjectName(QStringLiteral("txtMessage"));
    m_txtMessage->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto* folders = new QGridLayout;
    folders->addWidget(new QLabel(QStringLiteral("Upload path:"), page), 0, 0);
    folders->addWidget(m_txtUploadPath, 0, 1);
    folders->addWidget(selectUpload, 0, 2);
    folders->addWidget(new QLabel(QStringLiteral("Download path:"), page), 1, 0);
    folders->addWidget(m_txtDownloadPath, 1, 1);
    folders->addWidget(selectDownload, 1, 2);

    auto* limits = new QFormLayout;
    limits->addRow(QStringLiteral("Client Downloads Limit"), m_spnClientLimit);
    limits->addRow(QStringLiteral("Server Downloads Limit"), m_spnServerLimit);
    limits->addRow(QStringLiteral("Retry failed downloads after"), m_spnRetrySeconds);
    limits->addRow(QStringLiteral("Longest wait between retries"), m_spnRetryMaxSeconds);

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(folders);
    layout->addLayout(limits);
    for (QCheckBox* box : {m_chkNotifyMessages, m_chkNotifyChats, m_chkNotifyDownloads}) {
        layout->addWidget(box);
    }
    layout->addWidget(new QLabel(QStringLiteral("Greeting message:"), page));
    layout->addWidget(m_txtMessage, 1);
    return page;
}

QWidget* TfrmSignon::createFiltersPage() {
    auto* page = new QWidget(this);
    m_chkUseFilters = new QCheckBox(QStringLiteral("Use Sharing filters"), page);
    m_chkUseFilters->setObjectName(QStringLiteral("chkUseFilters"));
    connect(m_chkUseFilters, &QCheckBox::toggled, this, &TfrmSignon::chkUseFiltersClick);

    const auto list = [page](const char* name) {
        auto* l = new QListWidget(page);
        l->setObjectName(QLatin1String(name));
        l->setSelectionMode(QAbstractItemView::ExtendedSelection);
        return l;
    };
    m_lstAvailable = list("lstAvailable");
    m_lstChosen = list("lstChosen");
    m_btnChoose = new QPushButton(QStringLiteral(">"), page);
    m_btnChoose->setObjectName(QStringLiteral("btnChoose"));
    m_btnUnchoose = new QPushButton(QStringLiteral("<"), page);
    m_btnUnchoose->setObjectName(QStringLiteral("btnUnchoose"));
    m_btnAddFilter = new QPushButton(QStringLiteral("Add custom filter..."), page);
    m_btnAddFilter->setObjectName(QStringLiteral("btnAddFilter"));
    connect(m_btnChoose, &QPushButton::clicked, this, &TfrmSignon::btnChooseClick);
    connect(m_btnUnchoose, &QPushButton::clicked, this, &TfrmSignon::btnUnchooseClick);
    connect(m_btnAddFilter, &QPushButton::clicked, this, &TfrmSignon::btnAddFilterClick);
    connect(m_lstAvailable, &QListWidget::itemDoubleClicked, this, &TfrmSignon::btnChooseClick);
    connect(m_lstChosen, &QListWidget::itemDoubleClicked, this, &TfrmSignon::btnUnchooseClick);

    auto* moves = new QVBoxLayout;
    moves->addStretch();
    moves->addWidget(m_btnChoose);
    moves->addWidget(m_btnUnchoose);
    moves->addStretch();

    auto* lists = new QGridLayout;
    lists->addWidget(new QLabel(QStringLiteral("Available:"), page), 0, 0);
    lists->addWidget(new QLabel(QStringLiteral("Shared only:"), page), 0, 2);
    lists->addWidget(m_lstAvailable, 1, 0);
    lists->addLayout(moves, 1, 1);
    lists->addWidget(m_lstChosen, 1, 2);
    lists->addWidget(m_btnAddFilter, 2, 2);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(m_chkUseFilters);
    layout->addLayout(lists, 1);
    return page;
}

QString TfrmSignon::sexFor(int index) {
    switch (index) {
        case 0:
            return QStringLiteral("M");
        case 1:
            return QStringLiteral("F");
        default:
            return QStringLiteral("U");
    }
}

int TfrmSignon::sexIndexOf(const QString& stored) {
    if (stored == QLatin1String("M")) {
        return 0;
    }
    if (stored == QLatin1String("F")) {
        return 1;
    }
    return -1;
}

QString TfrmSignon::joinLines(const QStringList& lines) {
    QStringList parts;
    for (const QString& line : lines) {
        if (needsQuotes(line)) {
            QString quoted = line;
            quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
            parts << QLatin1Char('"') + quoted + QLatin1Char('"');
        } else {
            parts << line;
        }
    }
    return parts.join(QLatin1Char(','));
}

QStringList TfrmSignon::splitLines(const QString& text) {
    QStringList lines;
    if (text.isEmpty()) {
        return lines;
    }
    QString current;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                current += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c == QLatin1Char('"') && current.isEmpty()) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            lines << current;
            current.clear();
        } else {
            current += c;
        }
    }
    lines << current;
    return lines;
}

void TfrmSignon::loadSettings(const TUserInfo& info) {
    m_txtNickname->setText(info.nickname());
    m_txtPassword->setText(info.password());
    m_txtFirstName->setText(info.firstName());
    m_txtLastName->setText(info.lastName());
    m_txtEmail->setText(info.email());
    m_txtLanguages->setText(info.languages());
    const QString homepage = info.homepage();
    m_txtHomepage->setText(homepage.isEmpty() ? QString::fromLatin1(kHomepageDefault) : homepage);
    m_cboSex->setCurrentIndex(sexIndexOf(info.sex()));
    // 0 (and a value never stored) is no date: showing it as the picker's nearest date would
    // store that date on the next Update.
    const QDate birth = info.file().text(kGroup, QStringLiteral("BDate"))
                            ? fromDateTime(info.bDate()).date()
                            : QDate();
    const bool known = birth.isValid() && birth >= m_dtpBirthDate->minimumDate() &&
                       birth <= m_dtpBirthDate->maximumDate();
    m_dtpBirthDate->setDate(known ? birth : QDate::currentDate());
    m_chkNoBirthDate->setChecked(!known);
    m_dtpBirthDate->setEnabled(known);
    m_chkDontShow->setChecked(info.showInfo() == 0);
    const int connection = info.connection();
    m_cboConnection->setCurrentIndex(
        connection >= 0 && connection < connectionNames().size() ? connection : 0);
    m_cboCountry->setCurrentIndex(countryIndexOf(info.country()));

    m_txtUploadPath->setText(info.uploadPath());
    m_txtDownloadPath->setText(info.effectiveDownloadPath());
    m_spnClientLimit->setValue(limitSetting(info, "MaxUploads", info.maxUploads()));
    m_spnServerLimit->setValue(limitSetting(info, "MaxDownloads", info.maxDownloads()));
    m_spnRetrySeconds->setValue(std::max(0, info.retrySeconds()));
    m_spnRetryMaxSeconds->setValue(std::max(0, info.retryMaxSeconds()));
    m_chkNotifyMessages->setChecked(info.notifyMessages() != 0);
    m_chkNotifyChats->setChecked(info.notifyChats() != 0);
    m_chkNotifyDownloads->setChecked(info.notifyDownloads() != 0);
    m_txtMessage->setPlainText(splitLines(info.message()).join(QLatin1Char('\n')));

    m_lstAvailable->clear();
    m_lstChosen->clear();
    QStringList chosen;
    for (const QString& ext : info.sharingFilters().split(QLatin1Char(','))) {
        if (!ext.trimmed().isEmpty()) {
            chosen << ext.trimmed();
        }
    }
    for (const QString& ext : defaultFilters()) {
        if (!chosen.contains(ext, Qt::CaseInsensitive)) {
            m_lstAvailable->addItem(ext);
        }
    }
    m_lstChosen->addItems(chosen);
    m_chkUseFilters->setChecked(!chosen.isEmpty());
    chkUseFiltersClick();
}

void TfrmSignon::storeSettings(TUserInfo& info) const {
    info.setPassword(m_txtPassword->text());
    info.setFirstName(m_txtFirstName->text());
    info.setLastName(m_txtLastName->text());
    info.setEmail(m_txtEmail->text());
    info.setLanguages(m_txtLanguages->text());
    const QString homepage = m_txtHomepage->text().trimmed();
    info.setHomepage(homepage == QLatin1String(kHomepageDefault) ? QString() : homepage);
    info.setSex(sexFor(m_cboSex->currentIndex()));
    info.setBDate(m_chkNoBirthDate->isChecked() ? 0.0
                                                : toDateTime(m_dtpBirthDate->date().startOfDay()));
    info.setShowInfo(m_chkDontShow->isChecked() ? 0 : 1);
    info.setConnection(std::max(0, m_cboConnection->currentIndex()));
    info.setCountry(countryCodeAt(m_cboCountry->currentIndex()));

    info.setUploadPath(m_txtUploadPath->text());
    info.setDownloadPath(m_txtDownloadPath->text());
    info.setMaxUploads(m_spnClientLimit->value());
    info.setMaxDownloads(m_spnServerLimit->value());
    info.setRetrySeconds(m_spnRetrySeconds->value());
    info.setRetryMaxSeconds(m_spnRetryMaxSeconds->value());
    info.setNotifyMessages(m_chkNotifyMessages->isChecked() ? 1 : 0);
    info.setNotifyChats(m_chkNotifyChats->isChecked() ? 1 : 0);
    info.setNotifyDownloads(m_chkNotifyDownloads->isChecked() ? 1 : 0);
    QStringList lines = m_txtMessage->toPlainText().split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    info.setMessage(joinLines(lines));
    info.setSharingFilters(m_chkUseFilters->isChecked() ? chosenFilters().join(QLatin1Char(','))
                                                        : QString());
    info.file().sync();
}

QStringList TfrmSignon::chosenFilters() const {
    QStringList out;
    for (int i = 0; i < m_lstChosen->count(); ++i) {
        out << m_lstChosen->item(i)->text();
    }
    return out;
}

void TfrmSignon::btnUpdateClick() {
    // A new password is kept only once the service has taken it, so sign-on never uses a
    // password the service does not know.
    const QString known = UserInfo().password();
    const bool newPassword = m_txtPassword->text() != known;
    if (newPassword && !(m_session && m_session->online())) {
        keepPassword(known, kPasswordOfflineText);
        return;
    }
    storeSettings(UserInfo());
    if (!m_session) {
        UserInfo().setRefresh(1);
        UserInfo().file().sync();
        accept();
        return;
    }
    setEnabled(false);
    QPointer<TfrmSignon> self(this);
    const bool queued = m_session->SendProfile(
        this,
        [self, newPassword, known](bool accepted) {
            if (!self) {
                return;
            }
            self->setEnabled(true);
            if (newPassword && !accepted) {
                // Told once the reply has been handed over, not from inside its handler.
                QTimer::singleShot(
                    0, self, [self, known] { self->keepPassword(known, kPasswordRefusedText); });
                return;
            }
            self->accept();
        },
        newPassword ? std::optional<QString>(known) : std::nullopt);
    if (!queued) {
        setEnabled(true);
        if (newPassword) {
            keepPassword(known, kPasswordOfflineText);
            return;
        }
        accept();
    }
}

void TfrmSignon::showMessage(const QString& text) {
    if (m_messageSink) {
        m_messageSink(text);
    } else {
        QMessageBox::warning(this, windowTitle(), text);
    }
}

void TfrmSignon::keepPassword(const QString& known, const char* why) {
    m_txtPassword->setText(known);
    showMessage(QString::fromLatin1(why));
}

void TfrmSignon::btnAddFilterClick() {
    const auto typed = m_askFilter ? m_askFilter() : std::nullopt;
    if (!typed) {
        return;
    }
    QString ext = typed->trimmed();
    if (ext.startsWith(QLatin1Char('.'))) {
        ext.remove(0, 1);
    }
    if (ext.isEmpty() || ext.contains(QLatin1Char(','))) {
        return;
    }
    if (!chosenFilters().contains(ext, Qt::CaseInsensitive)) {
        m_lstChosen->addItem(ext);
    }
}

void TfrmSignon::moveSelected(QListWidget* from, QListWidget* to) {
    for (QListWidgetItem* item : from->selectedItems()) {
        to->addItem(from->takeItem(from->row(item)));
    }
}

void TfrmSignon::btnChooseClick() {
    moveSelected(m_lstAvailable, m_lstChosen);
}

void TfrmSignon::btnUnchooseClick() {
    moveSelected(m_lstChosen, m_lstAvailable);
}

void TfrmSignon::chkUseFiltersClick() {
    const bool on = m_chkUseFilters->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{m_lstAvailable, m_lstChosen, m_btnChoose,
                                                      m_btnUnchoose, m_btnAddFilter}) {
        w->setEnabled(on);
    }
}

void TfrmSignon::changePassword() {
    if (!m_session || !m_session->online()) {
        showMessage(QString::fromLatin1(kPasswordOfflineText));
        return;
    }
    const QString password = m_askPassword ? m_askPassword() : QString();
    if (!password.isEmpty()) {
        m_txtPassword->setText(password);
    }
}

bool TfrmSignon::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_txtPassword && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // Moving the focus on stays possible; any other key asks for a new password.
        if (key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab) {
            changePassword();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace mr
