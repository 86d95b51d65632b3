#include "ui/bannedusersform.h"

#include "transfer/peercatalog.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>

namespace mr {

TfrmBannedUsers::TfrmBannedUsers(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmBannedUsers"));
    setWindowTitle(QStringLiteral("Banned Users"));

    auto* note = new QLabel(description(), this);
    note->setObjectName(QStringLiteral("lblNote"));
    note->setWordWrap(true);

    m_lstUsers = new QListWidget(this);
    m_lstUsers->setObjectName(QStringLiteral("lstUsers"));
    m_lstUsers->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lstUsers->setContextMenuPolicy(Qt::ActionsContextMenu);

    m_actUnBan = new QAction(QStringLiteral("&Un Ban"), this);
    m_actUnBan->setObjectName(QStringLiteral("actUnBan"));
    m_lstUsers->addAction(m_actUnBan);

    m_btnUnBan = new QPushButton(QStringLiteral("&Un Ban"), this);
    m_btnUnBan->setObjectName(QStringLiteral("btnUnBan"));
    m_btnClose = new QPushButton(QStringLiteral("&Close"), this);
    m_btnClose->setObjectName(QStringLiteral("btnClose"));

    connect(m_actUnBan, &QAction::triggered, this, &TfrmBannedUsers::btnUnBanClick);
    connect(m_btnUnBan, &QPushButton::clicked, this, &TfrmBannedUsers::btnUnBanClick);
    connect(m_btnClose, &QPushButton::clicked, this, &TfrmBannedUsers::closeWindow);
    connect(m_lstUsers, &QListWidget::itemSelectionChanged, this,
            &TfrmBannedUsers::selectionChanged);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_btnUnBan);
    buttons->addWidget(m_btnClose);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note);
    layout->addWidget(m_lstUsers);
    layout->addLayout(buttons);

    refresh();
}

QString TfrmBannedUsers::description() {
    return QStringLiteral(
        "This feature is used to stop a user from uploading and downloading files from your "
        "local computer");
}

void TfrmBannedUsers::refresh() {
    m_lstUsers->clear();
    try {
        m_lstUsers->addItems(BannedUserNames());
    } catch (const std::exception& e) {
        report(QString::fromUtf8(e.what()));
    }
    selectionChanged();
}

void TfrmBannedUsers::btnUnBanClick() {
    QListWidgetItem* item = m_lstUsers->currentItem();
    if (!item || !item->isSelected()) {
        return;
    }
    try {
        SetUserStatus(item->text(), kUserStatusNormal);
    } catch (const std::exception& e) {
        // The ban still holds, so the name stays listed.
        report(QString::fromUtf8(e.what()));
        return;
    }
    delete m_lstUsers->takeItem(m_lstUsers->row(item));
    selectionChanged();
}

void TfrmBannedUsers::selectionChanged() {
    const bool selected = !m_lstUsers->selectedItems().isEmpty();
    m_btnUnBan->setEnabled(selected);
    m_actUnBan->setEnabled(selected);
}

void TfrmBannedUsers::closeWindow() {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) {
        sub->close();
    } else {
        close();
    }
}

void TfrmBannedUsers::report(const QString& message) {
    if (m_messageSink) {
        m_messageSink(message);
    } else {
        QMessageBox::warning(this, QStringLiteral("Moonrake"), message);
    }
}

}  // namespace mr
