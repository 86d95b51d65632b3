#include "ui/explorer.h"

#include "catalog/filenode.h"
#include "ui/fileicons.h"
#include "ui/filelistmodel.h"

#include <QAction>
#include <QActionGroup>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace mr {

namespace {

constexpr int kNodeRole = Qt::UserRole + 1;

QAction* styleAction(QObject* parent, QActionGroup* group, const QString& text, const char* name) {
    auto* action = new QAction(text, parent);
    action->setObjectName(QString::fromLatin1(name));
    action->setCheckable(true);
    group->addAction(action);
    return action;
}

}  // namespace

// The folder tree; a drag out of it carries what the window's drag source makes of the nodes.
class FolderTree : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;

    TfrmExplorer::DragSource dragSource;

protected:
    QStringList mimeTypes() const override { return {QStringLiteral("text/uri-list")}; }
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override {
        QList<TFileNode*> nodes;
        for (const QTreeWidgetItem* item : items) {
            if (TFileNode* node = TfrmExplorer::nodeOf(item))
                nodes << node;
        }
        return dragSource && !nodes.isEmpty() ? dragSource(nodes, true) : nullptr;
    }
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }
};

TfrmExplorer::TfrmExplorer(QWidget* parent)
    : QWidget(parent),
      m_toolBar(new QToolBar(this)),
      m_path(new QLineEdit(this)),
      m_splitter(new QSplitter(Qt::Horizontal, this)),
      m_tree(new FolderTree(m_splitter)),
      m_stack(new QStackedWidget(m_splitter)),
      m_listView(new QListView(m_stack)),
      m_details(new QTreeView(m_stack)),
      m_model(new FileListModel(this)),
      m_statusBar(new QStatusBar(this)),
      m_listMenu(new QMenu(this)) {
    installFileIcons();
    auto* styles = new QActionGroup(this);
    actLargeIcons = styleAction(this, styles, QStringLiteral("Large Icons"), "actLargeIcons");
    actSmallIcons = styleAction(this, styles, QStringLiteral("Small Icons"), "actSmallIcons");
    actList = styleAction(this, styles, QStringLiteral("List"), "actList");
    actDetails = styleAction(this, styles, QStringLiteral("Details"), "actDetails");
    actRefresh = new QAction(QStringLiteral("Refresh"), this);
    actRefresh->setObjectName(QStringLiteral("actRefresh"));
    actRefresh->setShortcut(QKeySequence::Refresh);
    actRefresh->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(actRefresh);
    connect(actLargeIcons, &QAction::triggered, this,
            [this] { setViewStyle(ViewStyle::LargeIcons); });
    connect(actSmallIcons, &QAction::triggered, this,
            [this] { setViewStyle(ViewStyle::SmallIcons); });
    connect(actList, &QAction::triggered, this, [this] { setViewStyle(ViewStyle::List); });
    connect(actDetails, &QAction::triggered, this, [this] { setViewStyle(ViewStyle::Details); });
    connect(actRefresh, &QAction::triggered, this, [this] { refresh(); });

    m_toolBar->addActions({actLargeIcons, actSmallIcons, actList, actDetails});
    m_toolBar->addSeparator();
    m_toolBar->addAction(actRefresh);
    auto* viewMenu = m_listMenu->addMenu(QStringLiteral("View"));
    viewMenu->addActions({actLargeIcons, actSmallIcons, actList, actDetails});
    m_listMenu->addAction(actRefresh);

    m_path->setObjectName(QStringLiteral("edtPath"));
    connect(m_path, &QLineEdit::returnPressed, this, [this] { navigateTo(m_path->text()); });

    m_tree->setObjectName(QStringLiteral("tvFolders"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);

    m_listView->setObjectName(QStringLiteral("lvFiles"));
    m_listView->setModel(m_model);
    m_listView->setUniformItemSizes(true);
    m_listView->setResizeMode(QListView::Adjust);
    m_details->setObjectName(QStringLiteral("lvDetails"));
    m_details->setModel(m_model);
    m_details->setRootIsDecorated(false);
    m_details->setUniformRowHeights(true);
    m_details->setItemsExpandable(false);
    m_details->setAllColumnsShowFocus(true);
    m_details->header()->setStretchLastSection(true);
    m_details->setColumnWidth(0, 220);
    m_details->setColumnWidth(1, 70);
    m_details->setColumnWidth(2, 150);
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(m_listView),
                                    static_cast<QAbstractItemView*>(m_details)}) {
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QAbstractItemView::doubleClicked, this, &TfrmExplorer::rowActivated);
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& at) {
            m_listMenu->popup(view->viewport()->mapToGlobal(at));
        });
    }
    m_stack->addWidget(m_listView);
    m_stack->addWidget(m_details);
    m_splitter->setStretchFactor(1, 3);
    m_splitter->setSizes({200, 500});

    for (QLabel*& panel : m_panels) {
        panel = new QLabel(m_statusBar);
        m_statusBar->addWidget(panel, 1);
    }
    m_panels[2]->setObjectName(QStringLiteral("pnlProgress"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(m_path);
    layout->addWidget(m_splitter, 1);
    layout->addWidget(m_statusBar);
    setViewStyle(ViewStyle::Details);
    resize(720, 480);
}

TfrmExplorer::~TfrmExplorer() = default;

QTreeWidget* TfrmExplorer::folderTree() const {
    return m_tree;
}

QAbstractItemView* TfrmExplorer::listView() const {
    return m_style == ViewStyle::Details ? static_cast<QAbstractItemView*>(m_details) : m_listView;
}

QList<TFileNode*> TfrmExplorer::selectedNodes() const {
    QList<int> rows;
    for (const QModelIndex& index : listView()->selectionModel()->selectedIndexes()) {
        if (index.column() == 0)
            rows << index.row();
    }
    std::sort(rows.begin(), rows.end());
    QList<TFileNode*> nodes;
    for (const int row : rows) {
        if (TFileNode* node = m_model->nodeAt(m_model->index(row, 0)))
            nodes << node;
    }
    return nodes;
}

QString TfrmExplorer::statusText(int panel) const {
    return panel >= 0 && panel < 3 ? m_panels[panel]->text() : QString();
}

void TfrmExplorer::setStatusText(int panel, const QString& text) {
    if (panel >= 0 && panel < 3)
        m_panels[panel]->setText(text);
}

void TfrmExplorer::setViewStyle(ViewStyle style) {
    m_style = style;
    switch (style) {
        case ViewStyle::LargeIcons:
            m_listView->setViewMode(QListView::IconMode);
            // Entries keep their order: dragging one copies it out, never moves it about.
            m_listView->setMovement(QListView::Static);
            m_listView->setIconSize(QSize(32, 32));
            m_listView->setGridSize(QSize(96, 72));
            m_listView->setWordWrap(true);
            actLargeIcons->setChecked(true);
            break;
        case ViewStyle::SmallIcons:
            m_listView->setViewMode(QListView::ListMode);
            m_listView->setFlow(QListView::LeftToRight);
            m_listView->setWrapping(true);
            m_listView->setIconSize(QSize(16, 16));
            m_listView->setGridSize(QSize(160, 20));
            actSmallIcons->setChecked(true);
            break;
        case ViewStyle::List:
            m_listView->setViewMode(QListView::ListMode);
            m_listView->setFlow(QListView::TopToBottom);
            m_listView->setWrapping(true);
            m_listView->setIconSize(QSize(16, 16));
            m_listView->setGridSize(QSize());
            actList->setChecked(true);
            break;
        case ViewStyle::Details:
            actDetails->setChecked(true);
            break;
    }
    m_stack->setCurrentWidget(listView());
}

TFileNode* TfrmExplorer::nodeOf(const QTreeWidgetItem* item) {
    return item ? static_cast<TFileNode*>(item->data(0, kNodeRole).value<void*>()) : nullptr;
}

void TfrmExplorer::bind(QTreeWidgetItem* item, TFileNode* node) {
    item->setData(0, kNodeRole, QVariant::fromValue(static_cast<void*>(node)));
    node->viewNode = item;
}

QTreeWidgetItem* TfrmExplorer::itemFor(const TFileNode* node) const {
    return node ? static_cast<QTreeWidgetItem*>(node->viewNode) : nullptr;
}

QList<QAbstractItemView*> TfrmExplorer::listViews() const {
    return {m_listView, m_details};
}

void TfrmExplorer::setLowerPane(QWidget* pane) {
    auto* split = new QSplitter(Qt::Vertical, this);
    delete layout()->replaceWidget(m_splitter, split);
    split->addWidget(m_splitter);
    split->addWidget(pane);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    // An empty pane has no size hint of its own; without this it would start closed.
    split->setSizes({300, 200});
}

void TfrmExplorer::setDragSource(const DragSource& source) {
    m_tree->dragSource = source;
    m_tree->setDragEnabled(true);
    m_tree->setDragDropMode(QAbstractItemView::DragOnly);
    m_tree->setDefaultDropAction(Qt::CopyAction);
    m_model->setDragData([source](const QList<TFileNode*>& nodes) { return source(nodes, false); });
    for (QAbstractItemView* view : listViews()) {
        view->setDragEnabled(true);
        view->setDragDropMode(QAbstractItemView::DragOnly);
        view->setDefaultDropAction(Qt::CopyAction);
    }
}

bool TfrmExplorer::navigateTo(const QString&) {
    return false;
}

QString TfrmExplorer::localFileName(const TFileNode*) const {
    return {};
}

int TfrmExplorer::visiblePageRows() const {
    // A fixed row height: the page must not change as the first rows come in.
    const QAbstractItemView* view = listView();
    const QSize page = view->viewport()->size();
    if (m_style == ViewStyle::Details || m_style == ViewStyle::List) {
        const int rowHeight = std::max(view->fontMetrics().height(), 16) + 4;
        return std::max(1, page.height() / rowHeight);
    }
    const QSize grid = m_listView->gridSize();
    return std::max(1, (page.height() / grid.height()) * std::max(1, page.width() / grid.width()));
}

void TfrmExplorer::rowActivated(const QModelIndex& index) {
    TFileNode* node = m_model->nodeAt(index);
    if (!node)
        return;
    if (node->isFolder()) {
        if (QTreeWidgetItem* item = itemFor(node))
            m_tree->setCurrentItem(item);
        return;
    }
    const QString local = localFileName(node);
    if (!local.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(local));
}

}  // namespace mr
