#pragma once

#include "service/session.h"
#include "ui/explorer.h"

#include <QPointer>
#include <QSet>

#include <memory>

namespace mr {

class TLogicalTree;
class TMRAgentHttp;
class TMRTree;

// An explorer over a catalog: the folder tree and the list show a logical tree that a catalog
// tree fills folder by folder as the user opens them. A folder whose children are still
// arriving keeps the tree's selection where it is.
class TfrmVirtualExplorer : public TfrmExplorer {
    Q_OBJECT
public:
    // session: where the service is reached; null works offline.
    explicit TfrmVirtualExplorer(OnlineSession* session, QWidget* parent = nullptr);
    ~TfrmVirtualExplorer() override;

    TMRTree* catalogTree() const { return m_catalog.get(); }
    TLogicalTree* logicalTree() const { return m_logical.get(); }
    TFileNode* selectedFolder() const;
    // A selected folder's children are still being listed.
    bool loading() const { return m_loading; }

    bool navigateTo(const QString& path) override;
    // With rebuild, a new catalog tree and logical tree, back at the folder that was selected;
    // otherwise the selected folder's children are dropped and listed again.
    void refreshView(bool rebuild);

protected:
    // Creates the catalog tree over the logical tree, with this window as its owner.
    virtual std::unique_ptr<TMRTree> createCatalogTree(TLogicalTree* logical) = 0;
    // The caption of the tree's root.
    virtual QString rootCaption() const { return QStringLiteral("/"); }

    // Derived windows call this at the end of their constructor.
    void buildView() override;
    void refreshList() override;
    void refresh() override;

    OnlineSession* session() const { return m_session; }
    TMRAgentHttp* agent() const;
    bool online() const;
    // The folder's sub-folders in the tree and, when it is the selected one, its rows in the
    // list with the folder and file counts.
    void showFolder(TFileNode* folder);

private:
    void nodeAdded(TFileNode* node, const QString& path);
    void nodeRemoved(TFileNode* node);
    void itemExpanded(QTreeWidgetItem* item);
    void currentChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    // Asks for a folder's children; a remote folder stays pending until its listing is in.
    void loadFolder(TFileNode* folder);
    TFileNode* findFolder(const QString& path);
    // The tree item of a folder, creating those of its ancestors on the way.
    QTreeWidgetItem* ensureItem(TFileNode* folder);
    void addFolderItems(TFileNode* folder);
    void setFolderIcons(QTreeWidgetItem* item, bool loading);
    // Goes on towards the folder a rebuild is to come back to, now that this one is listed.
    void resumeReturn(TFileNode* folder);

    QPointer<OnlineSession> m_session;
    std::unique_ptr<TLogicalTree> m_logical;
    std::unique_ptr<TMRTree> m_catalog;
    QSet<TFileNode*> m_pending;
    bool m_expandWhenShown = false;
    bool m_loading = false;
    // After a rebuild of a catalog listed on demand, the folder to come back to once the
    // listings on the way to it are in; the user choosing a folder meanwhile drops it.
    QString m_returnTo;
    bool m_returning = false;
};

}  // namespace mr
