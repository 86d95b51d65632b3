#include "ui/localexplorer.h"

#include "catalog/filenode.h"
#include "catalog/localmrtree.h"
#include "core/datetime.h"
#include "ui/filelistmodel.h"
#include "ui/progressform.h"
#include "ui/shareprop.h"

#include <QAbstractItemView>
#include <QAction>
#include <QInputDialog>
#include <QMenu>
#include <QToolBar>

namespace mr {

namespace {

const QString kPureVirtual = QStringLiteral("(Pure Virtual)");

}  // namespace

TfrmLocalExplorer::TfrmLocalExplorer(TOnlineSession* session, QWidget* parent)
    : TfrmVirtualExplorer(session, parent), m_prompt([](QWidget* owner) {
          return QInputDialog::getText(owner, QStringLiteral("New Folder"),
                                       QStringLiteral("Enter Folder Name:"));
      }) {
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
    // The share-properties dialog is not part of this program yet.
    connect(actNewFolder, &QAction::triggered, this, &TfrmLocalExplorer::NewFolder);
    connect(actRemove, &QAction::triggered, this, &TfrmLocalExplorer::Remove);
    connect(actShareProperties, &QAction::triggered, this, &TfrmLocalExplorer::ShareProperties);

    QAction* first = listMenu()->actions().value(0);
    listMenu()->insertActions(first, {actShareProperties, actNewFolder, actRemove});
    listMenu()->insertSeparator(first);
    listMenu()->setDefaultAction(actShareProperties);
    toolBar()->insertActions(toolBar()->actions().value(0), {actNewFolder, actRemove});
    toolBar()->insertSeparator(toolBar()->actions().value(2));
    buildView();
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
}

TFileNode* TfrmLocalExplorer::selectedEntry() const {
    const QModelIndexList rows = listView()->selectionModel()->selectedRows();
    if (!rows.isEmpty())
        return fileList()->nodeAt(rows.first());
    return selectedFolder();
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
