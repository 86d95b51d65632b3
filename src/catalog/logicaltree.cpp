#include "catalog/logicaltree.h"

#include <stdexcept>

namespace mr {

TLogicalTree::TLogicalTree() = default;
TLogicalTree::~TLogicalTree() = default;

void TLogicalTree::Initialize() {
    m_root = std::make_unique<TLocalFileNode>(nullptr, QStringLiteral("/"));
    m_root->item()->size = -1;
    m_root->setGetItems(m_getItems);
    if (m_nodeAdded) {
        m_nodeAdded(m_root.get(), QString());
        m_nodeAdded(nullptr, QString());
    }
}

TFileNode* TLogicalTree::FindNode(TFileNode* start, const QString& path) {
    return walk(start, path, false);
}

TFileNode* TLogicalTree::MakePath(TFileNode* start, const QString& path) {
    return walk(start, path, true);
}

TFileNode* TLogicalTree::walk(TFileNode* start, const QString& path, bool make) {
    TFileNode* node = start;
    QStringView rest(path);
    while (node && !rest.isEmpty()) {
        if (rest.front() == u'/') {
            node = m_root.get();
            rest = rest.mid(1);
            continue;
        }
        const qsizetype slash = rest.indexOf(u'/');
        const QString head = (slash < 0 ? rest : rest.left(slash)).toString();
        rest = slash < 0 ? QStringView() : rest.mid(slash + 1);
        TFileNodes& children = node->Children();
        TFileNode* child = children.findByName(head);
        if (!child && make) {
            auto folder = std::make_unique<TLocalFileNode>(node, head);
            folder->setGetItems(m_getItems);
            child = children.add(std::move(folder));
        }
        node = child;
    }
    return node;
}

TFileNode* TLogicalTree::Add(std::unique_ptr<TFileItem> item) {
    if (!item)
        throw std::invalid_argument(kNullItemText);
    if (!m_root)
        Initialize();
    TFileNode* folder = MakePath(m_root.get(), item->Path);
    if (!folder || folder->Children().findByName(item->Name))
        return nullptr;
    const QString path = item->Path;
    const bool isFolder = item->size == -1;
    auto node = std::make_unique<TLocalFileNode>(folder, std::move(item), isFolder);
    node->setGetItems(m_getItems);
    TFileNode* added = folder->Children().add(std::move(node));
    if (m_nodeAdded)
        m_nodeAdded(added, path);
    return added;
}

void TLogicalTree::Remove(const TFileItem& item) {
    if (!m_root)
        return;
    TFileNode* folder = FindNode(m_root.get(), item.Path);
    if (!folder)
        return;
    TFileNode* node = folder->Children().findByName(item.Name);
    if (!node)
        return;
    if (m_nodeRemoved)
        m_nodeRemoved(node);
    folder->Children().remove(node);
}

void TLogicalTree::Refresh(const QString& path) {
    if (m_nodeAdded)
        m_nodeAdded(nullptr, path);
}

}  // namespace mr
