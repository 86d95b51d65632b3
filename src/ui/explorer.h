#pragma once

#include <QWidget>

#include <functional>

class QAbstractItemView;
class QAction;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QMimeData;
class QSplitter;
class QStackedWidget;
class QStatusBar;
class QToolBar;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace mr {

class FileListModel;
class TFileNode;
class FolderTree;

// An explorer window: a folder tree on the left, a virtual file list on the right, a path box
// above and a status bar with three panels below. The list shows one model through a list
// view (the icon and list styles) or a tree view (Details).
class TfrmExplorer : public QWidget {
    Q_OBJECT
public:
    enum class ViewStyle { LargeIcons, SmallIcons, List, Details };
    // The data of a drag of nodes out of the tree (fromTree) or the list; null refuses it.
    using DragSource = std::function<QMimeData*(const QList<TFileNode*>& nodes, bool fromTree)>;

    explicit TfrmExplorer(QWidget* parent = nullptr);
    ~TfrmExplorer() override;

    QTreeWidget* folderTree() const;
    FileListModel* fileList() const { return m_model; }
    // The view showing the list in the current style.
    QAbstractItemView* listView() const;
    // The nodes of the rows selected in the view on show, top to bottom. The icon and list
    // styles select a row's first cell only, Details the whole row.
    QList<TFileNode*> selectedNodes() const;
    QLineEdit* pathBox() const { return m_path; }
    QString statusText(int panel) const;
    void setStatusText(int panel, const QString& text);

    // The rows of the list that fit in its visible page.
    int visiblePageRows() const;

    void setViewStyle(ViewStyle style);

    QAction* actLargeIcons;
    QAction* actSmallIcons;
    QAction* actList;
    QAction* actDetails;
    QAction* actRefresh;

    // The node a tree item stands for.
    static TFileNode* nodeOf(const QTreeWidgetItem* item);
    // Ties a tree item and a node to each other.
    static void bind(QTreeWidgetItem* item, TFileNode* node);

    // The help text shown in the main window while this window is active.
    virtual QString description() const { return {}; }

signals:
    // description() now gives another text, while the window stays active.
    void descriptionChanged();

protected:
    // Refreshes the list for the folder selected in the tree.
    virtual void refreshList() {}
    // Rebuilds the whole view.
    virtual void buildView() {}
    // The Refresh command.
    virtual void refresh() { refreshList(); }
    // Selects and shows the folder at a path; false when it is not there.
    virtual bool navigateTo(const QString& path);
    // The file or folder on this computer a node stands for; empty when none.
    virtual QString localFileName(const TFileNode* node) const;
    // The list's pop-up menu; commands of derived windows go in here.
    QMenu* listMenu() const { return m_listMenu; }
    QToolBar* toolBar() const { return m_toolBar; }
    QTreeWidgetItem* itemFor(const TFileNode* node) const;
    // Both views of the list, whichever style is on show.
    QList<QAbstractItemView*> listViews() const;
    // Puts a pane below the tree and the list, sharing the height with them.
    void setLowerPane(QWidget* pane);

    // Lets the user drag entries out of both the tree and the list.
    void setDragSource(const DragSource& source);

private:
    void rowActivated(const QModelIndex& index);

    QToolBar* m_toolBar;
    QLineEdit* m_path;
    QSplitter* m_splitter;
    FolderTree* m_tree;
    QStackedWidget* m_stack;
    QListView* m_listView;
    QTreeView* m_details;
    FileListModel* m_model;
    QStatusBar* m_statusBar;
    QLabel* m_panels[3];
    QMenu* m_listMenu;
    ViewStyle m_style = ViewStyle::Details;
};

}  // namespace mr
