#include "catalog/filenode.h"

#include <algorithm>
#include <atomic>

namespace mr {

namespace {

FileIconSource* g_iconSource = nullptr;
std::atomic<bool> g_sortAscending{true};

}  // namespace

FileIconSource::~FileIconSource() = default;

void setFileIconSource(FileIconSource* source) {
    g_iconSource = source;
}

FileIconSource* fileIconSource() {
    return g_iconSource;
}

TFileNode::TFileNode(TFileNode* parent, std::unique_ptr<TFileItem> item, bool folder)
    : m_parent(parent), m_folder(folder), m_item(std::move(item)) {}

TFileNode::~TFileNode() = default;

void TFileNode::reset() {
    m_children.reset();
    m_item.reset();
    m_imageIndex = -1;
    m_selectedImageIndex = -1;
}

TFileNodes& TFileNode::Children() {
    if (!m_children) {
        m_children = std::make_unique<TFileNodes>(this);
        createChildren(*m_children);
    }
    return *m_children;
}

void TFileNode::freeChildren() {
    m_children.reset();
}

QString TFileNode::fullPath() const {
    return m_item ? m_item->fullPath() : QString();
}

int TFileNode::count(bool recursive) {
    TFileNodes& children = Children();
    int n = children.count();
    if (recursive) {
        for (const auto& child : children) {
            if (child->walkable())
                n += child->count(true);
        }
    }
    return n;
}

TFileNode* TFileNodes::get(int index) const {
    if (index < 0 || index >= count())
        return nullptr;
    return m_nodes[static_cast<size_t>(index)].get();
}

namespace {

QString nameKey(const TFileNode* node) {
    return node->item() ? node->item()->Name.toCaseFolded() : QString();
}

}  // namespace

void TFileNodes::index(TFileNode* node) const {
    const QString key = nameKey(node);
    if (!m_byName.contains(key))
        m_byName.insert(key, node);
}

TFileNode* TFileNodes::findByName(const QString& name) const {
    if (!m_indexed) {
        m_byName.reserve(static_cast<qsizetype>(m_nodes.size()));
        for (const auto& node : m_nodes)
            index(node.get());
        m_indexed = true;
    }
    return m_byName.value(name.toCaseFolded());
}

TFileNode* TFileNodes::add(std::unique_ptr<TFileNode> node) {
    m_nodes.push_back(std::move(node));
    TFileNode* added = m_nodes.back().get();
    if (m_indexed)
        index(added);
    return added;
}

bool TFileNodes::remove(TFileNode* node) {
    const auto it = std::find_if(m_nodes.begin(), m_nodes.end(),
                                 [node](const auto& n) { return n.get() == node; });
    if (it == m_nodes.end())
        return false;
    if (!m_indexed) {
        m_nodes.erase(it);
        return true;
    }
    const QString key = nameKey(node);
    m_nodes.erase(it);
    if (m_byName.value(key) == node) {
        m_byName.remove(key);
        for (const auto& n : m_nodes) {
            if (nameKey(n.get()) == key) {
                m_byName.insert(key, n.get());
                break;
            }
        }
    }
    return true;
}

void TFileNodes::sort(const std::function<bool(const TFileNode*, const TFileNode*)>& less) {
    const bool ascending = sortAscending();
    std::stable_sort(m_nodes.begin(), m_nodes.end(), [&](const auto& a, const auto& b) {
        return ascending ? less(a.get(), b.get()) : less(b.get(), a.get());
    });
}

void TFileNodes::setSortAscending(bool ascending) {
    g_sortAscending = ascending;
}

bool TFileNodes::sortAscending() {
    return g_sortAscending;
}

TVirtualFileNode::TVirtualFileNode(TFileNode* parent, std::unique_ptr<TFileItem> item, bool folder)
    : TFileNode(parent, std::move(item), folder) {}

int TVirtualFileNode::imageIndex() {
    if (m_imageIndex < 0)
        m_imageIndex = iconLookup(false);
    return m_imageIndex;
}

int TVirtualFileNode::selectedImageIndex() {
    if (m_selectedImageIndex < 0)
        m_selectedImageIndex = iconLookup(true);
    return m_selectedImageIndex;
}

int TVirtualFileNode::iconLookup(bool selected) {
    FileIconSource* source = fileIconSource();
    if (!source || !item())
        return -1;
    return source->iconIndexForName(isFolder() ? QStringLiteral(".") : item()->Name, selected);
}

void TVirtualFileNode::createChildren(TFileNodes&) {
    if (m_getItems)
        m_getItems(this);
}

TLocalFileNode::TLocalFileNode(TFileNode* parent, const QString& name)
    : TVirtualFileNode(parent,
                       std::make_unique<TLocalFileItem>(
                           name, parent ? withTrailingSlash(parent->fullPath()) : QString()),
                       true) {}

TLocalFileNode::TLocalFileNode(TFileNode* parent, std::unique_ptr<TFileItem> item, bool folder)
    : TVirtualFileNode(parent, std::move(item), folder) {}

QString TLocalFileNode::localPath() const {
    const auto* local = dynamic_cast<const TLocalFileItem*>(item());
    return local ? local->fileName : QString();
}

}  // namespace mr
