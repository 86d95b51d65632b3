#include "ui/passwordform.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace mr {

TfrmPassword::TfrmPassword(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmPassword"));
    setWindowTitle(QStringLiteral("Change password..."));

    m_txtPassword = new QLineEdit(this);
    m_txtPassword->setObjectName(QStringLiteral("txtPassword"));
    m_txtPassword->setEchoMode(QLineEdit::Password);
    m_txtConfirm = new QLineEdit(this);
    m_txtConfirm->setObjectName(QStringLiteral("txtConfirm"));
    m_txtConfirm->setEchoMode(QLineEdit::Password);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Enter new password :"), m_txtPassword);
    form->addRow(QStringLiteral("Re-enter password:"), m_txtConfirm);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("Ok"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setDefault(true);
    QPushButton* cancel =
        buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    // The buttons decide themselves when the dialog closes.
    connect(ok, &QPushButton::clicked, this, &TfrmPassword::btnOkClick);
    connect(cancel, &QPushButton::clicked, this, &TfrmPassword::btnCancelClick);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

QString TfrmPassword::validate(const QString& password, const QString& confirmation) {
    if (password.isEmpty() && confirmation.isEmpty()) {
        return QString::fromLatin1(kBothEmptyText);
    }
    if (password != confirmation) {
        return QString::fromLatin1(kDifferentText);
    }
    return {};
}

void TfrmPassword::btnOkClick() {
    const QString message = validate(m_txtPassword->text(), m_txtConfirm->text());
    if (!message.isEmpty()) {
        if (m_sink) {
            m_sink(message);
        } else {
            QMessageBox::warning(this, QStringLiteral("Moonrake"), message);
        }
        return;
    }
    m_result = m_txtPassword->text();
    accept();
}

void TfrmPassword::btnCancelClick() {
    m_result.clear();
    reject();
}

}  // namespace mr
