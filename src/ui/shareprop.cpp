#include "ui/shareprop.h"

#include "catalog/fileitem.h"
#include "catalog/localmrtree.h"
#include "ui/progressform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <exception>
#include <limits>

namespace mr {

namespace {

QSpinBox* countBox(QWidget* parent, const char* name) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setRange(0, std::numeric_limits<qint32>::max());
    box->setValue(1);
    return box;
}

// The style box's entries, in order, and the ratio letter each one stands for.
constexpr char kStyleLetters[] = {'b', 'f'};

}  // namespace

TdlgShareProp::TdlgShareProp(TFileItem& item, TLocalMRTree* catalog, QWidget* parent)
    : QDialog(parent),
      m_item(item),
      m_catalog(catalog),
      m_pages(new QTabWidget(this)),
      m_chkPassword(new QCheckBox(tr("Download Password:"))),
      m_edtPassword(new QLineEdit),
      m_edtVerify(new QLineEdit),
      m_chkRatio(new QCheckBox(tr("Use Credit Ratio:"))),
      m_spnUpload(countBox(this, "spnUpload")),
      m_spnDownload(countBox(this, "spnDownload")),
      m_cmbStyle(new QComboBox),
      m_chkFriendsOnly(new QCheckBox(tr("Hide from users who are not in Friend list."))) {
    setObjectName(QStringLiteral("dlgShareProp"));
    setWindowTitle(tr("Share Properties"));
    m_chkPassword->setObjectName(QStringLiteral("chkPassword"));
    m_edtPassword->setObjectName(QStringLiteral("edtPassword"));
    m_edtVerify->setObjectName(QStringLiteral("edtVerify"));
    m_chkRatio->setObjectName(QStringLiteral("chkRatio"));
    m_cmbStyle->setObjectName(QStringLiteral("cmbStyle"));
    m_chkFriendsOnly->setObjectName(QStringLiteral("chkFriendsOnly"));
    for (QLineEdit* edit : {m_edtPassword, m_edtVerify}) {
        edit->setEchoMode(QLineEdit::Password);
        edit->setMaxLength(255);
    }
    m_cmbStyle->addItems({tr("Files"), tr("Bytes")});

    auto* passwords = new QWidget;
    auto* passwordForm = new QFormLayout(passwords);
    passwordForm->addRow(m_chkPassword);
    passwordForm->addRow(tr("Password:"), m_edtPassword);
    passwordForm->addRow(tr("Verify:"), m_edtVerify);
    m_pages->addTab(passwords, tr("Passwords"));

    auto* advanced = new QWidget;
    auto* advancedForm = new QFormLayout(advanced);
    advancedForm->addRow(m_chkRatio);
    advancedForm->addRow(tr("Upload:"), m_spnUpload);
    advancedForm->addRow(tr("Download:"), m_spnDownload);
    advancedForm->addRow(tr("Style:"), m_cmbStyle);
    advancedForm->addRow(m_chkFriendsOnly);
    m_pages->addTab(advanced, tr("Advanced"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &TdlgShareProp::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TdlgShareProp::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(buttons);

    m_edtPassword->setText(item.password);
    m_edtVerify->setText(item.password);
    m_chkPassword->setChecked(!item.password.isEmpty());
    m_chkFriendsOnly->setChecked(item.friendsOnly);
    if (item.ratio && item.ratio->enabled) {
        m_chkRatio->setChecked(true);
        m_spnUpload->setValue(item.ratio->upload);
        m_spnDownload->setValue(item.ratio->download);
        m_cmbStyle->setCurrentIndex(item.ratio->style == kStyleLetters[0] ? 0 : 1);
    }
    connect(m_edtPassword, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_chkPassword->setChecked(!text.isEmpty()); });
}

void TdlgShareProp::accept() {
    const QString password = m_edtPassword->text();
    if (m_chkPassword->isChecked() && password != m_edtVerify->text()) {
        catalogPrompts().warning(this, QString::fromLatin1(kRetypeText));
        return;
    }
    m_item.password = password;
    m_item.friendsOnly = m_chkFriendsOnly->isChecked();
    if (m_chkRatio->isChecked()) {
        const char style = kStyleLetters[m_cmbStyle->currentIndex() == 0 ? 0 : 1];
        if (!m_item.ratio)
            m_item.ratio = std::make_unique<TFileRatio>();
        *m_item.ratio = TFileRatio(m_spnUpload->value(), m_spnDownload->value(), style, true);
    } else if (m_item.ratio) {
        m_item.ratio->enabled = false;
    }
    if (!storePassword(password))
        return;
    QDialog::accept();
}

// Writes the Password column of the entry's row and nothing else.
bool TdlgShareProp::storePassword(const QString& password) {
    if (!m_catalog || (m_item.Path.isEmpty() && m_item.Name == u"/"))
        return true;
    try {
        // The catalog root and entries removed meanwhile have no row to hold a password.
        m_catalog->SetPassword(withTrailingSlash(m_item.Path) + m_item.Name, password);
    } catch (const std::exception& e) {
        catalogPrompts().warning(this, QString::fromLocal8Bit(e.what()));
        return false;
    }
    return true;
}

}  // namespace mr
