#include "ui/localexplorer.h"

#include "catalog/actualfilenode.h"
#include "catalog/filenode.h"
#include "catalog/localmrtree.h"
#include "core/datetime.h"
#include "ui/actualexplorer.h"
#include "ui/filelistmodel.h"
#include "ui/progressform.h"
#include "ui/shareprop.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QMimeData>
#include <QToolBar>
#include <QVBoxLayout>

namespace mr {

namespace {

const QString kPureVirtual = QStringLiteral("(Pure Virtual)");

// Every open window onto the user's own catalog.
QList<TfrmLocalExplorer*>& openExplorers() {
    static QList<TfrmLocalExplorer*> explorers;
    return explorers;
}

// The local folders among dropped URLs.
QStringList localFolders(const QList<QUrl>& urls) {
    QStringList folders;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir())
            folders << url.toLocalFile();
    }
    return folders;
}

}  // namespace

TfrmLocalExplorer::TfrmLocalExplorer(OnlineSession* session, QWidget* parent)
    : TfrmVirtualExplorer(session, parent),
      m_prompt([](QWidget* owner) {
          return QInputDialog::getText(owner, QStringLiteral("New Folder"),
                                       QStringLiteral("Enter Folder Name:"));
      }),
      m_lowerPane(new QWidget(this)) {
    setWindowTitle(QStringLiteral("My Shared Files"));
    fileList()->setColumns(
        {QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Modified"),
         QStringLiteral("Type"), QStringLiteral("Linked to")},
        [](const TFileNode* node, int column) {
            return column == 3 ? QStringLiteral("???") : node->localPath();
        });

    actNewFolder = new QAction(QStringLiteral("New Folder"), this);
    actNewFolder->setObjectName(QStringLiteral("actNewFolder"));
    actRemove = new QAction(QStringLiteral("Remove"), this);
    actRemove->setObjectName(QStringLiteral("actRemove"));
    actShareProperties = new QAction(QStringLiteral("Share Properties"), this);
    actShareProperties->setObjectName(QStringLiteral("actShareProperties"));
    connect(actNewFolder, &QAction::triggered, this, &TfrmLocalExplorer::NewFolder);
    connect(actRemove, &QAction::triggered, this, &TfrmLocalExplorer::Remove);
    connect(actShareProperties, &QAction::triggered, this, &TfrmLocalExplorer::ShareProperties);

    QAction* first = listMenu()->actions().value(0);
    listMenu()->insertActions(first, {actShareProperties, actNewFolder, actRemove});
    listMenu()->insertSeparator(first);
    listMenu()->setDefaultAction(actShareProperties);
    toolBar()->insertActions(toolBar()->actions().value(0), {actNewFolder, actRemove});
    toolBar()->insertSeparator(toolBar()->actions().value(2));

    for (QAbstractItemView* view : listViews()) {
        view->viewport()->setAcceptDrops(true);
        view->viewport()->installEventFilter(this);
    }
    // The disk explorer waits until the pane first has room for it.
    m_lowerPane->setObjectName(QStringLiteral("pnlActualExplorer"));
    auto* paneLayout = new QVBoxLayout(m_lowerPane);
    paneLayout->setContentsMargins(0, 0, 0, 0);
    m_lowerPane->installEventFilter(this);
    setLowerPane(m_lowerPane);
    resize(720, 640);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { focusChanged(now); });
    openExplorers().append(this);
    buildView();
}

TfrmLocalExplorer::~TfrmLocalExplorer() {
    openExplorers().removeAll(this);
}

QString TfrmLocalExplorer::description() const {
    return m_diskFocused && m_actual ? m_actual->description() : QString::fromLatin1(kDescription);
}

void TfrmLocalExplorer::focusChanged(QWidget* now) {
    // Focus leaving the window keeps the text of the part it left.
    if (!now || !isAncestorOf(now))
        return;
    const bool disk = m_actual && m_actual->isAncestorOf(now);
    if (disk != m_diskFocused) {
        m_diskFocused = disk;
        emit descriptionChanged();
    }
}

void TfrmLocalExplorer::reloadAll() {
    for (TfrmLocalExplorer* explorer : openExplorers())
        explorer->refreshView(true);
}

void TfrmLocalExplorer::reloadOthers() {
    for (TfrmLocalExplorer* other : openExplorers()) {
        if (other != this)
            other->refreshView(true);
    }
}

TfrmActualExplorer* TfrmLocalExplorer::actualExplorer() {
    if (!m_actual) {
        m_actual = new TfrmActualExplorer(m_lowerPane);
        m_lowerPane->layout()->addWidget(m_actual);
        m_actual->show();
        connect(m_actual, &TfrmActualExplorer::shareRequested, this,
                [this](const QString& fsPath) { ShareDiskFolder(fsPath, QStringLiteral("/")); });
    }
    return m_actual;
}

bool TfrmLocalExplorer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_lowerPane) {
        if (!m_actual && (event->type() == QEvent::Resize || event->type() == QEvent::Show) &&
            m_lowerPane->isVisible() && !m_lowerPane->size().isEmpty())
            actualExplorer();
        return false;
    }
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (!loading() && selectedFolder() && drag->mimeData()->hasUrls() &&
                !localFolders(drag->mimeData()->urls()).isEmpty()) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (drop->mimeData()->hasUrls() && dropUrls(drop->mimeData()->urls())) {
                drop->setDropAction(Qt::CopyAction);
                drop->accept();
            } else {
                drop->ignore();
            }
            return true;
        }
        default:
            return TfrmVirtualExplorer::eventFilter(watched, event);
    }
}

bool TfrmLocalExplorer::dropUrls(const QList<QUrl>& urls) {
    const QStringList folders = localFolders(urls);
    for (const QString& folder : folders) {
        const TFileNode* target = selectedFolder();
        if (!target)
            break;
        ShareDiskFolder(folder, target->fullPath());
    }
    return !folders.isEmpty();
}

bool TfrmLocalExplorer::ShareDiskFolder(const QString& fsPath, const QString& catalogFolder) {
    return !loading() && ShareFromDisk(this, session(), fsPath, catalogFolder);
}

bool TfrmLocalExplorer::ShareFromDisk(QWidget* parent, OnlineSession* session,
                                      const QString& fsPath, const QString& catalogFolder) {
    const std::unique_ptr<TActualFileNode> node = TActualFileNode::fromPath(fsPath);
    // The whole file system is never shared.
    if (!node || !node->isFolder() || node->fsPath() == u"/")
        return false;
    // Counting a large tree takes a while: the disk explorer says what it is doing.
    auto* explorer = qobject_cast<TfrmExplorer*>(parent);
    if (explorer) {
        explorer->setStatusText(2, QStringLiteral("Counting files in ") + node->fsPath());
        explorer->repaint();
    }
    desktopProgressView().setBusy(true);
    const auto count = node->count(true);
    desktopProgressView().setBusy(false);
    if (explorer) {
        explorer->setStatusText(2, QString());
    }
    if (!confirmShare(parent, count))
        return false;
    TLocalMRTree catalog(nullptr, session ? &session->agent() : nullptr);
    catalog.setProgressView(&desktopProgressView());
    const ShareOutcome outcome = catalog.ShareFolder(
        node.get(), withTrailingSlash(catalogFolder) + node->item()->Name, true, {});
    switch (outcome.kind) {
        case ShareOutcome::Kind::AlreadyShared:
            return false;
        case ShareOutcome::Kind::NoSuchFolder:
        case ShareOutcome::Kind::Failed:
            catalogPrompts().warning(parent,
                                     tr("Could not share the folder %1").arg(node->fsPath()));
            return false;
        case ShareOutcome::Kind::Shared:
        case ShareOutcome::Kind::Cancelled:
            break;
    }
    reloadAll();
    if (session && session->online())
        catalog.UpdateServer();
    return outcome.kind == ShareOutcome::Kind::Shared;
}

TLocalMRTree* TfrmLocalExplorer::localTree() const {
    return static_cast<TLocalMRTree*>(catalogTree());
}

std::unique_ptr<TMRTree> TfrmLocalExplorer::createCatalogTree(TLogicalTree* logical) {
    auto tree = std::make_unique<TLocalMRTree>(this, agent(), logical);
    tree->setProgressView(&desktopProgressView());
    return tree;
}

QString TfrmLocalExplorer::localFileName(const TFileNode* node) const {
    return node ? node->localPath() : QString();
}

void TfrmLocalExplorer::NewFolder() {
    TFileNode* parent = selectedFolder();
    if (!parent || loading())
        return;
    const QString name = m_prompt(this);
    if (name.isEmpty())
        return;
    auto item = std::make_unique<TLocalFileItem>(name, kPureVirtual);
    item->size = -1;
    item->date = nowDateTime();
    item->fileName = kPureVirtual + name;
    // Not placed in the tree: the share adds the folder to the view under its stored name.
    TLocalFileNode node(parent, std::move(item), true);
    localTree()->ShareFolder(&node, withTrailingSlash(parent->fullPath()) + name, false, {});
    showFolder(parent);
    reloadOthers();
}

TFileNode* TfrmLocalExplorer::selectedEntry() const {
    const QList<TFileNode*> rows = selectedNodes();
    return rows.isEmpty() ? selectedFolder() : rows.first();
}

void TfrmLocalExplorer::Remove() {
    TFileNode* target = selectedEntry();
    if (!target || !target->item() || loading())
        return;
    const std::unique_ptr<TFileItem> item = target->item()->clone();
    if (!confirmRemove(this, item->fullPath()))
        return;
    localTree()->RemoveShare(*item);
    fileList()->setFolder(nullptr, 0);
    refreshView(true);
    reloadOthers();
    if (online())
        localTree()->UpdateServer();
}

void TfrmLocalExplorer::ShareProperties() {
    TFileNode* target = selectedEntry();
    if (!target || !target->item() || loading())
        return;
    TdlgShareProp dialog(*target->item(), localTree(), this);
    dialog.exec();
}

}  // namespace mr
