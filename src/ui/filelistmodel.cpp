#include "ui/filelistmodel.h"

#include "catalog/filenode.h"
#include "core/datetime.h"
#include "ui/fileicons.h"

#include <QLocale>
#include <QMimeData>

#include <algorithm>

namespace mr {

FileListModel::FileListModel(QObject* parent)
    : QAbstractTableModel(parent),
      m_headers{QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Modified"),
                QStringLiteral("Type")},
      m_folderIcon(FileIcons::genericIcon(true)),
      m_fileIcon(FileIcons::genericIcon(false)) {}

void FileListModel::setColumns(const QStringList& headers, ExtraText extra) {
    beginResetModel();
    m_headers = headers;
    m_extra = std::move(extra);
    endResetModel();
}

void FileListModel::setFolder(TFileNode* folder, int rowCount) {
    beginResetModel();
    m_folder = folder;
    m_rows = folder ? std::max(0, rowCount) : 0;
    endResetModel();
    emit rowCountChanged(m_rows);
}

void FileListModel::setRowCount(int rowCount) {
    if (!m_folder || rowCount < 0 || rowCount == m_rows)
        return;
    if (rowCount > m_rows) {
        beginInsertRows({}, m_rows, rowCount - 1);
        m_rows = rowCount;
        endInsertRows();
    } else {
        beginRemoveRows({}, rowCount, m_rows - 1);
        m_rows = rowCount;
        endRemoveRows();
    }
    emit rowCountChanged(m_rows);
}

TFileNode* FileListModel::nodeAt(const QModelIndex& index) const {
    if (!m_folder || !index.isValid() || index.row() >= m_rows || !m_folder->childrenLoaded())
        return nullptr;
    return m_folder->Children().get(index.row());
}

QString FileListModel::sizeText(qint64 size) {
    if (size < 0)
        return {};
    if (size < 1024)
        return QString::number(size) + u' ';
    if (size < 1048576)
        return QString::number(size / 1024) + u'K';
    if (size < 1073741824)
        return QString::number(size / 1048576) + u'M';
    return QString::number(size / 1073741824) + u'G';
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
}

QIcon FileListModel::iconFor(TFileNode* node) const {
    const QIcon icon = nodeIcon(node);
    if (!icon.isNull())
        return icon;
    return node->isFolder() ? m_folderIcon : m_fileIcon;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    TFileNode* node = nodeAt(index);
    if (!node || !node->item())
        return {};
    const TFileItem& item = *node->item();
    if (role == Qt::DecorationRole && index.column() == 0)
        return iconFor(node);
    if (role == Qt::TextAlignmentRole && index.column() == 1)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
        case 0:
            return item.Name;
        case 1:
            return sizeText(item.size);
        case 2:
            return item.date > 0 ? QLocale().toString(fromDateTime(item.date), QLocale::ShortFormat)
                                 : QString();
        default:
            return m_extra ? m_extra(node, index.column()) : QString();
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < m_headers.size())
        return m_headers.at(section);
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (m_dragData && nodeAt(index))
        flags |= Qt::ItemIsDragEnabled;
    return flags;
}

QStringList FileListModel::mimeTypes() const {
    return {QStringLiteral("text/uri-list")};
}

QMimeData* FileListModel::mimeData(const QModelIndexList& indexes) const {
    if (!m_dragData)
        return nullptr;
    // The views hand in one index per column of each row.
    QList<TFileNode*> nodes;
    for (const QModelIndex& index : indexes) {
        TFileNode* node = nodeAt(index);
        if (node && !nodes.contains(node))
            nodes << node;
    }
    return nodes.isEmpty() ? nullptr : m_dragData(nodes);
}

}  // namespace mr
