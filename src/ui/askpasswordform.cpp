#include "ui/askpasswordform.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace mr {

TdlgAskPassword::TdlgAskPassword(const QString& ownerNick, const QString& fileName, Checker checker,
                                 QWidget* parent)
    : QDialog(parent), m_checker(std::move(checker)) {
    setObjectName(QStringLiteral("dlgAskPassword"));
    setWindowTitle(QStringLiteral("Authorization Required"));

    auto* intro = new QLabel(QStringLiteral("You are trying to access a password-protected file. "
                                            "Please type in a password for the following file:"),
                             this);
    intro->setWordWrap(true);

    auto* lblUser = new QLabel(ownerNick, this);
    lblUser->setObjectName(QStringLiteral("lblUserName"));
    auto* lblFile = new QLabel(fileName, this);
    lblFile->setObjectName(QStringLiteral("lblFileName"));
    m_txtPassword = new QLineEdit(this);
    m_txtPassword->setObjectName(QStringLiteral("txtPassword"));
    m_txtPassword->setEchoMode(QLineEdit::Password);
    m_lblStatus = new QLabel(QStringLiteral("Idle"), this);
    m_lblStatus->setObjectName(QStringLiteral("lblStatus"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Username:"), lblUser);
    form->addRow(QStringLiteral("Filename:"), lblFile);
    form->addRow(QStringLiteral("Password:"), m_txtPassword);
    form->addRow(QStringLiteral("Status:"), m_lblStatus);

    auto* buttons = new QDialogButtonBox(this);
    m_btnValidate = buttons->addButton(QStringLiteral("Validate"), QDialogButtonBox::ActionRole);
    m_btnValidate->setObjectName(QStringLiteral("btnValidate"));
    m_btnValidate->setDefault(true);
    m_btnAbort = buttons->addButton(QStringLiteral("Abort"), QDialogButtonBox::RejectRole);
    m_btnAbort->setObjectName(QStringLiteral("btnAbort"));
    connect(m_btnValidate, &QPushButton::clicked, this, &TdlgAskPassword::btnValidateClick);
    connect(m_btnAbort, &QPushButton::clicked, this, &QDialog::reject);

    m_closeTimer = new QTimer(this);
    m_closeTimer->setSingleShot(true);
    m_closeTimer->setInterval(kCloseDelayMs);
    connect(m_closeTimer, &QTimer::timeout, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void TdlgAskPassword::btnValidateClick() {
    if (!m_checker)
        return;
    const QString typed = m_txtPassword->text();
    setBusy(true);
    m_lblStatus->setText(QStringLiteral("Logging..."));
    // The answer may arrive after the user has given up and the dialog is gone.
    QPointer<TdlgAskPassword> self(this);
    m_checker(
        typed,
        [self, typed](int verdict) {
            if (self)
                self->checkDone(typed, verdict);
        },
        [self](const QString& error) {
            if (self)
                self->checkFailed(error);
        });
}

void TdlgAskPassword::checkDone(const QString& password, int verdict) {
    switch (verdict) {
        case 0:
            // The box is editable again meanwhile; the caller gets what the owner accepted.
            m_password = password;
            m_lblStatus->setText(QStringLiteral("Access granted."));
            m_closeTimer->start();
            break;
        case 4:
            m_lblStatus->setText(QStringLiteral("You are banned."));
            break;
        case 5:
            m_lblStatus->setText(QStringLiteral("Remote file wasn't found."));
            break;
        case 6:
            m_lblStatus->setText(QStringLiteral("Invalid password, please reenter."));
            break;
        default:
            break;
    }
    setBusy(false);
}

void TdlgAskPassword::checkFailed(const QString& error) {
    m_lblStatus->setText(error);
    setBusy(false);
}

void TdlgAskPassword::setBusy(bool busy) {
    m_txtPassword->setEnabled(!busy);
    m_btnValidate->setEnabled(!busy);
}

DialogPasswordPrompt::DialogPasswordPrompt(Check check, QWidget* parent)
    : m_check(std::move(check)), m_parent(parent) {}

std::optional<QString> DialogPasswordPrompt::ask(qint32 ownerId, const QString& ownerNick,
                                                 const QString& fileName, const QString&) {
    Check check = m_check;
    TdlgAskPassword dialog(
        ownerNick, fileName,
        [check, ownerId, fileName](const QString& password,
                                   TdlgAskPassword::VerdictHandler onVerdict,
                                   TdlgAskPassword::ErrorHandler onError) {
            if (check)
                check(ownerId, fileName, password, std::move(onVerdict), std::move(onError));
            else
                onError(QStringLiteral("The password cannot be checked."));
        },
        m_parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.password();
}

}  // namespace mr
