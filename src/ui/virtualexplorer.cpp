#include "ui/virtualexplorer.h"

#include "catalog/logicaltree.h"
#include "catalog/mrtree.h"
#include "service/session.h"
#include "ui/fileicons.h"
#include "ui/filelistmodel.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QStyle>
#include <QTreeWidget>

#include <utility>

namespace mr {

namespace {

bool isBelow(const TFileNode* node, const TFileNode* ancestor) {
    for (; node; node = node->parent()) {
        if (node == ancestor)
            return true;
    }
    return false;
}

}  // namespace

TfrmVirtualExplorer::TfrmVirtualExplorer(OnlineSession* session, QWidget* parent)
    : TfrmExplorer(parent), m_session(session) {
    connect(folderTree(), &QTreeWidget::itemExpanded, this, &TfrmVirtualExplorer::itemExpanded);
    connect(folderTree(), &QTreeWidget::currentItemChanged, this,
            &TfrmVirtualExplorer::currentChanged);
}

TfrmVirtualExplorer::~TfrmVirtualExplorer() {
    // Tree items point at nodes; the catalog tree may still be handing in a listing.
    QSignalBlocker block(folderTree());
    folderTree()->clear();
    fileList()->setFolder(nullptr, 0);
    m_catalog.reset();
    m_logical.reset();
}

TMRAgentHttp* TfrmVirtualExplorer::agent() const {
    return m_session ? &m_session->agent() : nullptr;
}

bool TfrmVirtualExplorer::online() const {
    return m_session && m_session->online();
}

TFileNode* TfrmVirtualExplorer::selectedFolder() const {
    return nodeOf(folderTree()->currentItem());
}

void TfrmVirtualExplorer::buildView() {
    {
        QSignalBlocker block(folderTree());
        folderTree()->clear();
    }
    fileList()->setFolder(nullptr, 0);
    m_pending.clear();
    m_loading = false;
    m_expandWhenShown = false;
    m_returnTo.clear();
    m_catalog.reset();
    m_logical = std::make_unique<TLogicalTree>();
    m_catalog = createCatalogTree(m_logical.get());
    TMRTree* catalog = m_catalog.get();
    m_logical->setGetItems([catalog](TFileNode* node) { catalog->NodeGetItems(node); });
    m_logical->setNodeAdded(
        [this](TFileNode* node, const QString& path) { nodeAdded(node, path); });
    m_logical->setNodeRemoved([this](TFileNode* node) { nodeRemoved(node); });
    m_logical->Initialize();
}

void TfrmVirtualExplorer::nodeAdded(TFileNode* node, const QString& path) {
    if (node && path.isEmpty()) {
        auto* root = new QTreeWidgetItem(folderTree(), {rootCaption()});
        bind(root, node);
        setFolderIcons(root, false);
        root->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        folderTree()->setCurrentItem(root);
        m_expandWhenShown = true;
        return;
    }
    if (!node) {
        TFileNode* folder = findFolder(path);
        // The root announced before its first listing is in: nothing to show yet.
        if (!folder || (path.isEmpty() && m_pending.contains(folder)))
            return;
        showFolder(folder);
        return;
    }
    TFileNode* folder = node->parent();
    if (!folder || folder != selectedFolder() || fileList()->folder() != folder)
        return;
    // While a listing arrives, the first page fills in steps of ten entries.
    const int n = folder->Children().count();
    if (n <= visiblePageRows() && n % 10 == 0) {
        fileList()->setRowCount(n);
        setStatusText(2, QStringLiteral("Getting file listing: %1 file(s) so far").arg(n));
        repaint();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

void TfrmVirtualExplorer::showFolder(TFileNode* folder) {
    m_pending.remove(folder);
    m_loading = !m_pending.isEmpty() && m_pending.contains(selectedFolder());
    QTreeWidgetItem* item = ensureItem(folder);
    if (!item)
        return;
    addFolderItems(folder);
    setFolderIcons(item, false);
    int folders = 0;
    int files = 0;
    for (const auto& child : folder->Children())
        ++(child->isFolder() ? folders : files);
    item->setChildIndicatorPolicy(folders > 0 ? QTreeWidgetItem::ShowIndicator
                                              : QTreeWidgetItem::DontShowIndicator);
    if (folder == selectedFolder()) {
        fileList()->setFolder(folder, folder->Children().count());
        setStatusText(0, QStringLiteral("%1 Folder(s)").arg(folders));
        setStatusText(1, QStringLiteral("%1 File(s)").arg(files));
        setStatusText(2, QString());
    }
    if (m_expandWhenShown) {
        m_expandWhenShown = false;
        QSignalBlocker block(folderTree());
        item->setExpanded(true);
    }
    update();
    if (!m_returnTo.isEmpty())
        resumeReturn(folder);
}

void TfrmVirtualExplorer::resumeReturn(TFileNode* folder) {
    const QString base = withTrailingSlash(folder->fullPath());
    if (!m_returnTo.startsWith(base, Qt::CaseInsensitive))
        return;
    const QString next = m_returnTo.mid(base.size()).section(u'/', 0, 0);
    const TFileNode* child = folder->Children().findByName(next);
    const QString target = std::exchange(m_returnTo, QString());
    // The folder is no longer there: the view stays where it got to.
    if (!child || !child->isFolder())
        return;
    m_returning = true;
    const bool there = navigateTo(target);
    m_returning = false;
    if (!there)
        m_returnTo = target;
}

void TfrmVirtualExplorer::nodeRemoved(TFileNode* node) {
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        it = isBelow(*it, node) ? m_pending.erase(it) : std::next(it);
    }
    if (isBelow(fileList()->folder(), node) || fileList()->folder() == node->parent())
        fileList()->setFolder(nullptr, 0);
    if (QTreeWidgetItem* item = itemFor(node)) {
        QSignalBlocker block(folderTree());
        delete item;
        node->viewNode = nullptr;
    }
    // The list shows the folder now selected once the node is gone.
    QMetaObject::invokeMethod(this, &TfrmVirtualExplorer::refreshList, Qt::QueuedConnection);
}

void TfrmVirtualExplorer::itemExpanded(QTreeWidgetItem* item) {
    TFileNode* folder = nodeOf(item);
    if (!folder)
        return;
    if (folder != selectedFolder())
        m_expandWhenShown = true;
    if (!folder->childrenLoaded())
        loadFolder(folder);
    else
        addFolderItems(folder);
}

void TfrmVirtualExplorer::currentChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    if (m_loading && previous && current != previous) {
        QSignalBlocker block(folderTree());
        folderTree()->setCurrentItem(previous);
        return;
    }
    if (!m_returning)
        m_returnTo.clear();
    for (QTreeWidgetItem* item : {previous, current}) {
        if (item && !m_pending.contains(nodeOf(item)))
            setFolderIcons(item, false);
    }
    refreshList();
}

void TfrmVirtualExplorer::refreshList() {
    TFileNode* folder = selectedFolder();
    if (!folder) {
        fileList()->setFolder(nullptr, 0);
        for (int i = 0; i < 3; ++i)
            setStatusText(i, QString());
        return;
    }
    pathBox()->setText(folder->fullPath());
    if (!folder->childrenLoaded()) {
        fileList()->setFolder(folder, 0);
        loadFolder(folder);
        return;
    }
    if (m_pending.contains(folder)) {
        fileList()->setFolder(folder, 0);
        m_loading = true;
        return;
    }
    showFolder(folder);
}

void TfrmVirtualExplorer::loadFolder(TFileNode* folder) {
    m_pending.insert(folder);
    if (folder == selectedFolder())
        m_loading = true;
    if (QTreeWidgetItem* item = itemFor(folder))
        setFolderIcons(item, true);
    try {
        folder->Children();
    } catch (const std::exception& e) {
        qWarning("listing %s failed: %s", qPrintable(folder->fullPath()), e.what());
        showFolder(folder);
    }
}

TFileNode* TfrmVirtualExplorer::findFolder(const QString& path) {
    if (!m_logical || !m_logical->root())
        return nullptr;
    TFileNode* node = m_logical->root();
    for (const QString& name : path.split(u'/', Qt::SkipEmptyParts)) {
        node = node->Children().findByName(name);
        if (!node || !node->isFolder())
            return nullptr;
    }
    return node;
}

bool TfrmVirtualExplorer::navigateTo(const QString& path) {
    TFileNode* folder = findFolder(path);
    QTreeWidgetItem* item = folder ? ensureItem(folder) : nullptr;
    if (!item)
        return false;
    for (QTreeWidgetItem* up = item->parent(); up; up = up->parent()) {
        QSignalBlocker block(folderTree());
        up->setExpanded(true);
    }
    folderTree()->setCurrentItem(item);
    return selectedFolder() == folder;
}

QTreeWidgetItem* TfrmVirtualExplorer::ensureItem(TFileNode* folder) {
    if (!folder)
        return nullptr;
    if (QTreeWidgetItem* item = itemFor(folder))
        return item;
    if (!folder->parent() || !ensureItem(folder->parent()))
        return nullptr;
    addFolderItems(folder->parent());
    return itemFor(folder);
}

void TfrmVirtualExplorer::addFolderItems(TFileNode* folder) {
    QTreeWidgetItem* parent = itemFor(folder);
    if (!parent || !folder->childrenLoaded())
        return;
    for (const auto& child : folder->Children()) {
        if (!child->isFolder() || child->viewNode)
            continue;
        auto* item = new QTreeWidgetItem(parent, {child->item()->Name});
        bind(item, child.get());
        setFolderIcons(item, false);
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
}

void TfrmVirtualExplorer::setFolderIcons(QTreeWidgetItem* item, bool loading) {
    if (loading) {
        item->setIcon(0, style()->standardIcon(QStyle::SP_BrowserReload));
        return;
    }
    // The selected folder shows open.
    QIcon icon = nodeIcon(nodeOf(item), item == folderTree()->currentItem());
    if (icon.isNull())
        icon = FileIcons::genericIcon(true);
    item->setIcon(0, icon);
}

void TfrmVirtualExplorer::refresh() {
    refreshView(folderTree()->hasFocus());
}

void TfrmVirtualExplorer::refreshView(bool rebuild) {
    TFileNode* folder = selectedFolder();
    if (rebuild || !folder) {
        const QString path = folder ? folder->fullPath() : QStringLiteral("/");
        buildView();
        // A catalog listed on demand gets there as the listings on the way come in.
        if (!navigateTo(path))
            m_returnTo = path;
        return;
    }
    if (QTreeWidgetItem* item = itemFor(folder)) {
        QSignalBlocker block(folderTree());
        for (QTreeWidgetItem* child : item->takeChildren())
            delete child;
    }
    fileList()->setFolder(nullptr, 0);
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        it = isBelow(*it, folder) ? m_pending.erase(it) : std::next(it);
    }
    m_loading = false;
    folder->freeChildren();
    refreshList();
}

}  // namespace mr
