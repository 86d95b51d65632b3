#include "ui/creditsform.h"

#include "transfer/peercatalog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <exception>

namespace mr {

TfrmCredits::TfrmCredits(QWidget* parent)
    : QWidget(parent),
      m_lvwCredits(new QTableWidget(0, 6, this)),
      m_btnRefresh(new QPushButton(QStringLiteral("&Refresh"), this)),
      m_btnClose(new QPushButton(QStringLiteral("&Close"), this)) {
    setObjectName(QStringLiteral("frmCredits"));
    setWindowTitle(QStringLiteral("Credits"));

    auto* note = new QLabel(description(), this);
    note->setWordWrap(true);

    m_lvwCredits->setObjectName(QStringLiteral("lvwCredits"));
    m_lvwCredits->setHorizontalHeaderLabels(
        {QStringLiteral("User Name"), QStringLiteral("Status"), QStringLiteral("Files Given"),
         QStringLiteral("Files Taken"), QStringLiteral("Bytes Given"),
         QStringLiteral("Bytes Taken")});
    m_lvwCredits->verticalHeader()->hide();
    m_lvwCredits->horizontalHeader()->setStretchLastSection(true);
    m_lvwCredits->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lvwCredits->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lvwCredits->setSortingEnabled(true);

    connect(m_btnRefresh, &QPushButton::clicked, this, &TfrmCredits::refresh);
    connect(m_btnClose, &QPushButton::clicked, this, [this] {
        if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) {
            sub->close();
        } else {
            close();
        }
    });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_btnRefresh);
    buttons->addWidget(m_btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note);
    layout->addWidget(m_lvwCredits);
    layout->addLayout(buttons);

    refresh();
}

QString TfrmCredits::description() {
    return QStringLiteral(
        "Files and bytes each user gave you and took from you; a file with a credit ratio "
        "lets a user take up to twice what he gave");
}

void TfrmCredits::refresh() {
    QList<CreditAccount> accounts;
    try {
        accounts = CreditAccounts();
    } catch (const std::exception& e) {
        qWarning("credits not read: %s", e.what());
    }
    m_lvwCredits->setSortingEnabled(false);
    m_lvwCredits->setRowCount(0);
    for (const CreditAccount& a : accounts) {
        const int row = m_lvwCredits->rowCount();
        m_lvwCredits->insertRow(row);
        m_lvwCredits->setItem(row, 0, new QTableWidgetItem(a.userName));
        m_lvwCredits->setItem(
            row, 1,
            new QTableWidgetItem(a.status == kUserStatusBanned ? QStringLiteral("Banned")
                                                               : QStringLiteral("Normal")));
        const qint64 counts[] = {a.filesUploaded, a.filesDownloaded, a.bytesUploaded,
                                 a.bytesDownloaded};
        for (int i = 0; i < 4; ++i) {
            auto* cell = new QTableWidgetItem;
            cell->setData(Qt::DisplayRole, counts[i]);  // sorted as a number
            cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_lvwCredits->setItem(row, 2 + i, cell);
        }
    }
    m_lvwCredits->setSortingEnabled(true);
}

}  // namespace mr
