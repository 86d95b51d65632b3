#pragma once

#include "catalog/filenode.h"

#include <QString>

#include <functional>
#include <memory>

namespace mr {

// Thrown by TLogicalTree::Add for a null item.
inline constexpr char kNullItemText[] = "NULL-terminated FileList not supported any longer!";

// The in-memory tree of one catalog view: resolves virtual paths to nodes and tells the view
// about added and removed nodes. Used by one thread at a time.
class TLogicalTree {
public:
    // (node, path) after a node is added; (null, path) asks the view to refresh that folder.
    using NodeAdded = std::function<void(TFileNode* node, const QString& path)>;
    using NodeRemoved = std::function<void(TFileNode* node)>;

    TLogicalTree();
    ~TLogicalTree();
    TLogicalTree(const TLogicalTree&) = delete;
    TLogicalTree& operator=(const TLogicalTree&) = delete;

    // Creates the root "/" and announces it: (root, "") then (null, "").
    void Initialize();
    TLocalFileNode* root() const { return m_root.get(); }

    // The node at the path below the start node (the root for a leading "/"); an empty path
    // is the start node; null when a component is missing.
    TFileNode* FindNode(TFileNode* start, const QString& path);
    // As FindNode, creating each missing folder on the way.
    TFileNode* MakePath(TFileNode* start, const QString& path);

    // Places a node for the item under the folder at its Path, creating missing folders. A
    // child of the same name (ignoring case) already there wins: the item is dropped and null
    // returned. Throws std::invalid_argument with kNullItemText for a null item.
    TFileNode* Add(std::unique_ptr<TFileItem> item);
    // Removes and frees the node of the item's Path and Name, if there is one.
    void Remove(const TFileItem& item);
    void Refresh(const QString& path);

    void setNodeAdded(NodeAdded handler) { m_nodeAdded = std::move(handler); }
    const NodeAdded& nodeAdded() const { return m_nodeAdded; }
    void setNodeRemoved(NodeRemoved handler) { m_nodeRemoved = std::move(handler); }
    void setGetItems(GetItemsHandler handler) { m_getItems = std::move(handler); }

private:
    TFileNode* walk(TFileNode* start, const QString& path, bool make);

    std::unique_ptr<TLocalFileNode> m_root;
    NodeAdded m_nodeAdded;
    NodeRemoved m_nodeRemoved;
    GetItemsHandler m_getItems;
};

}  // namespace mr
