#include "ui/sharewizard.h"

#include "catalog/actualfilenode.h"
#include "catalog/localmrtree.h"
#include "ui/progressform.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace mr {

namespace {

constexpr int kMasksPage = 0;
constexpr int kResultsPage = 1;
// Entries walked between two looks at the event queue, so Cancel and Back stay live.
constexpr int kEventsEvery = 256;

QString withSlash(const QString& folder) {
    return folder.isEmpty() || folder.endsWith(u'/') ? folder : folder + u'/';
}

}  // namespace

const QStringList& TfrmShareWizard::fileTypes() {
    static const QStringList types = {
        QStringLiteral("MP2"),  QStringLiteral("MP3"), QStringLiteral("VQF"), QStringLiteral("MPG"),
        QStringLiteral("MPEG"), QStringLiteral("MOV"), QStringLiteral("AVI"), QStringLiteral("ASF"),
        QStringLiteral("VIV"),  QStringLiteral("RM"),  QStringLiteral("GIF"), QStringLiteral("JPG"),
        QStringLiteral("JPEG"), QStringLiteral("BMP"), QStringLiteral("ARJ"), QStringLiteral("ZIP"),
        QStringLiteral("RAR"),  QStringLiteral("ACE")};
    return types;
}

TfrmShareWizard::TfrmShareWizard(QWidget* parent)
    : QDialog(parent),
      m_pages(new QStackedWidget),
      m_edtSearchIn(new QLineEdit(QDir::homePath())),
      m_btnChooseDir(new QPushButton(tr("&Choose Dir"))),
      m_lstTypes(new QListWidget),
      m_chkCustom(new QCheckBox(tr("Custom:"))),
      m_edtCustom(new QLineEdit),
      m_lstLocation(new QListWidget),
      m_lstFiles(new QListWidget),
      m_animation(new QProgressBar),
      m_lblState(new QLabel),
      m_btnBack(new QPushButton(tr("< &Back"))),
      m_btnNext(new QPushButton(tr("&Next >"))),
      m_btnCancel(new QPushButton(tr("&Cancel"))),
      m_btnFinish(new QPushButton(tr("&Finish"))),
      m_actRemove(new QAction(tr("&Remove"), this)) {
    setObjectName(QStringLiteral("frmShareWizard"));
    setWindowTitle(tr("Welcome to Moonrake's sharing wizard"));
    m_edtSearchIn->setObjectName(QStringLiteral("edtSearchIn"));
    m_lstTypes->setObjectName(QStringLiteral("lstTypes"));
    m_chkCustom->setObjectName(QStringLiteral("chkCustom"));
    m_edtCustom->setObjectName(QStringLiteral("edtCustom"));
    m_lstLocation->setObjectName(QStringLiteral("lstLocation"));
    m_lstFiles->setObjectName(QStringLiteral("lstFiles"));
    m_lblState->setObjectName(QStringLiteral("lblState"));
    m_actRemove->setObjectName(QStringLiteral("actRemove"));

    const QStringList checked = QString::fromLatin1(kDefaultTypes).split(u' ', Qt::SkipEmptyParts);
    for (const QString& type : fileTypes()) {
        auto* item = new QListWidgetItem(type, m_lstTypes);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(checked.contains(type) ? Qt::Checked : Qt::Unchecked);
    }
    m_lstTypes->setEnabled(false);
    m_chkCustom->setEnabled(false);
    m_edtCustom->setEnabled(false);

    auto* masks = new QWidget;
    auto* masksLayout = new QVBoxLayout(masks);
    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(new QLabel(tr("Search In:")));
    searchRow->addWidget(m_edtSearchIn, 1);
    searchRow->addWidget(m_btnChooseDir);
    masksLayout->addLayout(searchRow);
    masksLayout->addWidget(m_lstTypes, 1);
    auto* customRow = new QHBoxLayout;
    customRow->addWidget(m_chkCustom);
    customRow->addWidget(m_edtCustom, 1);
    masksLayout->addLayout(customRow);
    m_pages->addWidget(masks);

    auto* results = new QWidget;
    auto* resultsLayout = new QVBoxLayout(results);
    auto* lists = new QHBoxLayout;
    auto* locationBox = new QGroupBox(tr("Location"));
    (new QVBoxLayout(locationBox))->addWidget(m_lstLocation);
    auto* filesBox = new QGroupBox(tr("Files"));
    (new QVBoxLayout(filesBox))->addWidget(m_lstFiles);
    lists->addWidget(locationBox, 1);
    lists->addWidget(filesBox, 1);
    resultsLayout->addLayout(lists, 1);
    m_animation->setRange(0, 0);
    m_animation->setTextVisible(false);
    m_animation->hide();
    resultsLayout->addWidget(m_animation);
    m_lblState->setWordWrap(true);
    resultsLayout->addWidget(m_lblState);
    m_pages->addWidget(results);

    m_lstLocation->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_lstLocation->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_lstLocation->addAction(m_actRemove);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {m_btnBack, m_btnNext, m_btnCancel, m_btnFinish}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages, 1);
    layout->addLayout(buttons);
    resize(560, 400);

    connect(m_btnChooseDir, &QPushButton::clicked, this, &TfrmShareWizard::chooseDir);
    connect(m_btnBack, &QPushButton::clicked, this,
            [this] { goToPage(m_pages->currentIndex() - 1); });
    connect(m_btnNext, &QPushButton::clicked, this,
            [this] { goToPage(m_pages->currentIndex() + 1); });
    connect(m_btnCancel, &QPushButton::clicked, this, &TfrmShareWizard::reject);
    connect(m_btnFinish, &QPushButton::clicked, this, &TfrmShareWizard::finish);
    connect(m_lstLocation, &QListWidget::itemSelectionChanged, this,
            &TfrmShareWizard::showFilesOfSelection);
    connect(m_actRemove, &QAction::triggered, this, &TfrmShareWizard::removeSelectedLocations);

    goToPage(kMasksPage);
}

void TfrmShareWizard::run(QWidget* parent) {
    TfrmShareWizard wizard(parent);
    wizard.exec();
}

QStringList TfrmShareWizard::locations() const {
    QStringList out;
    for (int i = 0; i < m_lstLocation->count(); ++i)
        out << m_lstLocation->item(i)->text();
    return out;
}

void TfrmShareWizard::goToPage(int index) {
    index = qBound(0, index, m_pages->count() - 1);
    const int previous = m_pages->currentIndex();
    m_pages->setCurrentIndex(index);
    m_btnBack->setEnabled(index > 0);
    m_btnNext->setEnabled(index < m_pages->count() - 1);
    if (previous == kResultsPage && index != kResultsPage) {
        // Leaving the results stops a scan still running.
        ++m_scanGeneration;
        m_animation->hide();
        m_btnFinish->setEnabled(false);
    }
    if (index == kResultsPage && previous != kResultsPage)
        scan();
    else if (index != kResultsPage)
        m_btnFinish->setEnabled(false);
}

void TfrmShareWizard::chooseDir() {
    const QString folder = m_chooser
                               ? m_chooser(this)
                               : QFileDialog::getExistingDirectory(
                                     this, tr("Select Directory To Scan"), m_edtSearchIn->text());
    if (!folder.isEmpty())
        m_edtSearchIn->setText(QDir::toNativeSeparators(folder));
}

void TfrmShareWizard::scan() {
    const int generation = ++m_scanGeneration;
    m_btnFinish->setEnabled(false);
    m_lblState->setText(QString::fromLatin1(kScanningText));
    m_lstLocation->clear();
    m_lstFiles->clear();
    m_animation->show();
    QCoreApplication::processEvents();
    if (generation != m_scanGeneration)
        return;

    const QString folder = withSlash(m_edtSearchIn->text().trimmed());
    if (m_chkCustom->isChecked()) {
        m_extensions = TLocalMRTree::parseExtensions(m_edtCustom->text());
    } else {
        QStringList types;
        for (int i = 0; i < m_lstTypes->count(); ++i) {
            if (m_lstTypes->item(i)->checkState() == Qt::Checked)
                types << m_lstTypes->item(i)->text();
        }
        m_extensions = TLocalMRTree::parseExtensions(types.join(u' '));
    }

    QApplication::setOverrideCursor(Qt::WaitCursor);
    int visited = 0;
    const bool completed = folder.isEmpty() || walk(folder, generation, visited);
    QApplication::restoreOverrideCursor();
    if (!completed)
        return;
    m_animation->hide();
    m_lblState->setText(QString::fromLatin1(kScannedText));
    m_btnFinish->setEnabled(true);
}

bool TfrmShareWizard::walk(const QString& folder, int generation, int& visited) {
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDir::Name | QDir::IgnoreCase | QDir::DirsLast);
    for (const QFileInfo& entry : entries) {
        if (++visited % kEventsEvery == 0) {
            QCoreApplication::processEvents();
            if (generation != m_scanGeneration)
                return false;
        }
        if (entry.isDir()) {
            // Links are not followed: one could lead back up the tree.
            if (!entry.isSymLink() && !walk(folder + entry.fileName() + u'/', generation, visited))
                return false;
        } else if (entry.isFile() && matches(entry.fileName())) {
            // A folder's files come before its sub-folders, so a repeat can only be the last.
            const int last = m_lstLocation->count() - 1;
            if (last >= 0 && m_lstLocation->item(last)->text() == folder)
                continue;
            m_lstLocation->addItem(folder);
            QCoreApplication::processEvents();
            if (generation != m_scanGeneration)
                return false;
        }
    }
    return true;
}

bool TfrmShareWizard::matches(const QString& fileName) const {
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot >= 0 && m_extensions.contains(fileName.mid(dot + 1), Qt::CaseInsensitive);
}

void TfrmShareWizard::showFilesOfSelection() {
    m_lstFiles->clear();
    const QList<QListWidgetItem*> selected = m_lstLocation->selectedItems();
    if (selected.size() != 1)
        return;
    const QFileInfoList files = QDir(selected.first()->text())
                                    .entryInfoList(QDir::Files | QDir::Hidden | QDir::System,
                                                   QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& file : files) {
        if (matches(file.fileName()))
            m_lstFiles->addItem(file.fileName());
    }
}

void TfrmShareWizard::removeSelectedLocations() {
    qDeleteAll(m_lstLocation->selectedItems());
    showFilesOfSelection();
}

void TfrmShareWizard::finish() {
    ++m_scanGeneration;
    TLocalMRTree catalog(this, nullptr);
    catalog.setProgressView(m_view ? m_view : &desktopProgressView());
    for (const QString& folder : locations()) {
        const QString clean = QDir::cleanPath(folder);
        const QString name = QFileInfo(clean).fileName();
        auto node = TActualFileNode::fromPath(clean);
        if (!node || !node->isFolder()) {
            catalogPrompts().warning(this, tr("Cannot open the folder %1").arg(folder));
            break;
        }
        // The file system's root has no name to share it under.
        if (name.isEmpty())
            continue;
        const ShareOutcome outcome =
            catalog.ShareFolder(node.get(), u'/' + name, false, m_extensions);
        if (outcome.kind == ShareOutcome::Kind::Failed) {
            catalogPrompts().warning(this, tr("Could not share the folder %1").arg(folder));
            break;
        }
    }
    accept();
}

void TfrmShareWizard::reject() {
    ++m_scanGeneration;
    QDialog::reject();
}

}  // namespace mr
