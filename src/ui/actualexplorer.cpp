#include "ui/actualexplorer.h"

#include "catalog/actualfilenode.h"
#include "core/profile.h"
#include "core/userinfo.h"
#include "ui/fileicons.h"
#include "ui/filelistmodel.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QSignalBlocker>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>

namespace mr {

namespace {

// Sharing the whole file system is never what the user meant.
bool shareable(const TActualFileNode* node) {
    return node && node->isFolder() && !node->fsPath().isEmpty() && node->fsPath() != u"/";
}

void showIcon(QTreeWidgetItem* item, bool selected) {
    QIcon icon = nodeIcon(TfrmExplorer::nodeOf(item), selected);
    if (icon.isNull())
        icon = FileIcons::genericIcon(true);
    item->setIcon(0, icon);
}

TFileNode* childFolder(TFileNode* folder, const QString& name) {
    for (const auto& child : folder->Children()) {
        // The file system tells case apart, unlike the catalog's name lookup.
        if (child->isFolder() && child->item()->Name == name)
            return child.get();
    }
    return nullptr;
}

}  // namespace

TFileShareDrag::TFileShareDrag(const QStringList& paths) : m_paths(paths) {
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    setUrls(urls);
}

TfrmActualExplorer::TfrmActualExplorer(QWidget* parent) : TfrmExplorer(parent) {
    setWindowTitle(QStringLiteral("Share Files"));
    fileList()->setColumns({QStringLiteral("Name"), QStringLiteral("Size"),
                            QStringLiteral("Modified"), QStringLiteral("Type")},
                           [](const TFileNode* node, int) {
                               if (node->isFolder())
                                   return QStringLiteral("File Folder");
                               const QString suffix = QFileInfo(node->item()->Name).suffix();
                               return suffix.isEmpty() ? QStringLiteral("File")
                                                       : suffix.toUpper() + QStringLiteral(" File");
                           });

    actShare = new QAction(QStringLiteral("Share"), this);
    actShare->setObjectName(QStringLiteral("actShare"));
    actGoToDownloadDirectory = new QAction(QStringLiteral("Go To Download Directory"), this);
    actGoToDownloadDirectory->setObjectName(QStringLiteral("actGoToDownloadDirectory"));
    connect(actShare, &QAction::triggered, this, &TfrmActualExplorer::Share);
    connect(actGoToDownloadDirectory, &QAction::triggered, this,
            &TfrmActualExplorer::GoToDownloadDirectory);

    auto* treeMenu = new QMenu(this);
    treeMenu->addActions({actShare, actGoToDownloadDirectory});
    treeMenu->addSeparator();
    treeMenu->addAction(actRefresh);
    folderTree()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(folderTree(), &QWidget::customContextMenuRequested, this,
            [this, treeMenu](const QPoint& at) {
                if (QTreeWidgetItem* item = folderTree()->itemAt(at))
                    folderTree()->setCurrentItem(item);
                treeMenu->popup(folderTree()->viewport()->mapToGlobal(at));
            });
    QAction* first = toolBar()->actions().value(0);
    toolBar()->insertActions(first, {actShare, actGoToDownloadDirectory});
    toolBar()->insertSeparator(first);

    // A folder that cannot be shared cannot be dragged out of the tree either.
    setDragSource([](const QList<TFileNode*>& nodes, bool fromTree) -> QMimeData* {
        QStringList paths;
        for (const TFileNode* node : nodes) {
            const auto* entry = static_cast<const TActualFileNode*>(node);
            if (fromTree && !shareable(entry))
                return nullptr;
            if (!entry->fsPath().isEmpty())
                paths << entry->fsPath();
        }
        return paths.isEmpty() ? nullptr : new TFileShareDrag(paths);
    });
    connect(folderTree(), &QTreeWidget::itemExpanded, this, &TfrmActualExplorer::itemExpanded);
    connect(folderTree(), &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem* previous) {
                if (previous)
                    showIcon(previous, false);
                if (current)
                    showIcon(current, true);
                refreshList();
            });
    buildView();
}

TfrmActualExplorer::~TfrmActualExplorer() {
    clearView();
}

void TfrmActualExplorer::clearView() {
    QSignalBlocker block(folderTree());
    folderTree()->clear();
    fileList()->setFolder(nullptr, 0);
}

TActualFileNode* TfrmActualExplorer::selectedFolder() const {
    return static_cast<TActualFileNode*>(nodeOf(folderTree()->currentItem()));
}

void TfrmActualExplorer::buildView() {
    clearView();
    m_root = std::make_unique<TActualFileNode>();
    for (const auto& top : m_root->Children()) {
        auto* item = new QTreeWidgetItem(folderTree(), {top->item()->Name});
        bind(item, top.get());
        showIcon(item, false);
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
    folderTree()->setCurrentItem(folderTree()->topLevelItem(0));
    refreshList();
}

void TfrmActualExplorer::refresh() {
    const TActualFileNode* folder = selectedFolder();
    const QString path = folder ? folder->fsPath() : QString();
    buildView();
    if (!path.isEmpty())
        navigateTo(path);
}

void TfrmActualExplorer::refreshList() {
    TActualFileNode* folder = selectedFolder();
    actShare->setEnabled(shareable(folder));
    if (!folder) {
        fileList()->setFolder(nullptr, 0);
        for (int i = 0; i < 3; ++i)
            setStatusText(i, QString());
        return;
    }
    pathBox()->setText(folder->fsPath());
    addFolderItems(folderTree()->currentItem());
    int folders = 0;
    int files = 0;
    for (const auto& child : folder->Children())
        ++(child->isFolder() ? folders : files);
    fileList()->setFolder(folder, folder->Children().count());
    setStatusText(0, QStringLiteral("%1 Folder(s)").arg(folders));
    setStatusText(1, QStringLiteral("%1 File(s)").arg(files));
    setStatusText(2, QString());
}

void TfrmActualExplorer::itemExpanded(QTreeWidgetItem* item) {
    addFolderItems(item);
}

void TfrmActualExplorer::addFolderItems(QTreeWidgetItem* item) {
    TFileNode* folder = nodeOf(item);
    if (!folder || item->childCount() > 0)
        return;
    for (const auto& child : folder->Children()) {
        if (!child->isFolder())
            continue;
        auto* sub = new QTreeWidgetItem(item, {child->item()->Name});
        bind(sub, child.get());
        showIcon(sub, false);
        sub->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
    if (item->childCount() == 0)
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

bool TfrmActualExplorer::navigateTo(const QString& path) {
    if (path.trimmed().isEmpty() || !m_root)
        return false;
    const QString target = QDir::cleanPath(QDir(path.trimmed()).absolutePath());
    // The deepest top-level folder holding the target: the home folder before the root.
    TFileNode* node = nullptr;
    QString rest;
    for (const auto& top : m_root->Children()) {
        const QString base = top->localPath();
        const QString prefix = base == u"/" ? base : base + u'/';
        if (target != base && !target.startsWith(prefix))
            continue;
        if (!node || base.size() > node->localPath().size()) {
            node = top.get();
            rest = target.mid(prefix.size());
        }
    }
    if (!node)
        return false;
    for (const QString& name : rest.split(u'/', Qt::SkipEmptyParts)) {
        QTreeWidgetItem* parent = itemFor(node);
        node = childFolder(node, name);
        if (!node || !parent)
            return false;
        addFolderItems(parent);
    }
    QTreeWidgetItem* item = itemFor(node);
    if (!item)
        return false;
    for (QTreeWidgetItem* up = item->parent(); up; up = up->parent())
        up->setExpanded(true);
    folderTree()->setCurrentItem(item);
    folderTree()->scrollToItem(item);
    return selectedFolder() == node;
}

QString TfrmActualExplorer::localFileName(const TFileNode* node) const {
    return node ? node->localPath() : QString();
}

void TfrmActualExplorer::Share() {
    const TActualFileNode* folder = selectedFolder();
    if (shareable(folder))
        emit shareRequested(folder->fsPath());
}

void TfrmActualExplorer::GoToDownloadDirectory() {
    // Where downloads go, the default folder included; made now so that there is a folder to show.
    const QString path = UserInfo().effectiveDownloadPath();
    QDir().mkpath(path);
    pathBox()->setText(path);
    navigateTo(path);
}

}  // namespace mr
