#pragma once

#include "catalog/fileitem.h"

#include <QHash>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace mr {

class TFileNode;
class TFileNodes;

// Asked with a node whose children list has just been created, to fill it.
using GetItemsHandler = std::function<void(TFileNode*)>;

// Where nodes get their small icons; the windows supply one (nodes then cache the indexes).
// Without one every index reads -1.
class FileIconSource {
public:
    virtual ~FileIconSource();
    // The icon of a file name; folders ask with ".".
    virtual int iconIndexForName(const QString& name, bool selected) = 0;
    // The icon of an entry of the local file system.
    virtual int iconIndexForPath(const QString& path, bool selected) = 0;
};
void setFileIconSource(FileIconSource* source);
FileIconSource* fileIconSource();

// A node of one of the catalog trees; owns its item and its children.
class TFileNode {
public:
    TFileNode(TFileNode* parent, std::unique_ptr<TFileItem> item, bool folder);
    virtual ~TFileNode();
    TFileNode(const TFileNode&) = delete;
    TFileNode& operator=(const TFileNode&) = delete;

    TFileNode* parent() const { return m_parent; }
    bool isFolder() const { return m_folder; }
    void setFolder(bool folder) { m_folder = folder; }
    TFileItem* item() const { return m_item.get(); }
    void setItem(std::unique_ptr<TFileItem> item) { m_item = std::move(item); }

    // The children, created on first use.
    TFileNodes& Children();
    bool childrenLoaded() const { return m_children != nullptr; }
    // Forgets the children so the next Children() loads them again.
    void freeChildren();

    // Item path followed by item name.
    QString fullPath() const;
    // Number of children; with recursive, plus the counts of every folder child below.
    int count(bool recursive = false);

    virtual int imageIndex() = 0;
    virtual int selectedImageIndex() = 0;
    // The file or folder on this computer the node stands for; empty for virtual entries.
    virtual QString localPath() const { return {}; }
    // False for entries a recursive walk must not enter (a link to a folder elsewhere).
    virtual bool walkable() const { return m_folder; }

    // The view's own node for this one, for the windows' use.
    void* viewNode = nullptr;

    // Drops the children and the item and forgets the icons.
    virtual void reset();

protected:
    virtual void createChildren(TFileNodes& list) = 0;

    int m_imageIndex = -1;
    int m_selectedImageIndex = -1;

private:
    TFileNode* m_parent;
    bool m_folder;
    std::unique_ptr<TFileItem> m_item;
    std::unique_ptr<TFileNodes> m_children;
};

// The child list of a node; owns the child nodes.
class TFileNodes {
public:
    explicit TFileNodes(TFileNode* owner) : m_owner(owner) {}

    TFileNode* owner() const { return m_owner; }
    int count() const { return static_cast<int>(m_nodes.size()); }
    // Null when out of range.
    TFileNode* get(int index) const;
    // The first child whose item name equals the name, ignoring case; null if none. A child's
    // name is fixed once it is in the list.
    TFileNode* findByName(const QString& name) const;
    TFileNode* add(std::unique_ptr<TFileNode> node);
    // Frees the node; false when it is not in the list.
    bool remove(TFileNode* node);
    void clear() {
        m_byName.clear();
        m_indexed = false;
        m_nodes.clear();
    }

    void sort(const std::function<bool(const TFileNode*, const TFileNode*)>& less);
    static void setSortAscending(bool ascending);
    static bool sortAscending();

    auto begin() const { return m_nodes.begin(); }
    auto end() const { return m_nodes.end(); }

private:
    void index(TFileNode* node) const;

    TFileNode* m_owner;
    std::vector<std::unique_ptr<TFileNode>> m_nodes;
    // First node of each case-folded name: listings of thousands stay linear to build. Made on
    // the first look-up, so lists that are only walked (a folder being shared) never pay for it.
    mutable QHash<QString, TFileNode*> m_byName;
    mutable bool m_indexed = false;
};

// A node whose children come from a get-items handler; icons by item name.
class TVirtualFileNode : public TFileNode {
public:
    TVirtualFileNode(TFileNode* parent, std::unique_ptr<TFileItem> item, bool folder = false);

    void setGetItems(GetItemsHandler handler) { m_getItems = std::move(handler); }

    int imageIndex() override;
    int selectedImageIndex() override;

protected:
    void createChildren(TFileNodes& list) override;
    virtual int iconLookup(bool selected);

private:
    GetItemsHandler m_getItems;
};

// A node of the user's own catalog; its owner tree loads its children.
class TLocalFileNode : public TVirtualFileNode {
public:
    // A folder node with a new local item of that name under the parent's full path.
    TLocalFileNode(TFileNode* parent, const QString& name);
    // A node that takes an existing item.
    TLocalFileNode(TFileNode* parent, std::unique_ptr<TFileItem> item, bool folder);

    QString localPath() const override;
};

}  // namespace mr
