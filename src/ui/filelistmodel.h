#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>

#include <functional>

class QMimeData;

namespace mr {

class TFileNode;

// The file list of an explorer: the rows are the children of one folder node, produced only
// when the view asks for them, so a folder of thousands of entries costs no items.
class FileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Text of a column after "Name", "Size" and "Modified" for a node.
    using ExtraText = std::function<QString(const TFileNode* node, int column)>;
    // The data of a drag of these nodes; null refuses the drag.
    using DragData = std::function<QMimeData*(const QList<TFileNode*>& nodes)>;

    explicit FileListModel(QObject* parent = nullptr);

    // "Name", "Size", "Modified", "Type" unless replaced.
    void setColumns(const QStringList& headers, ExtraText extra);

    // Shows the first rowCount children of the folder; null shows nothing.
    void setFolder(TFileNode* folder, int rowCount);
    TFileNode* folder() const { return m_folder; }
    // Grows or shrinks the rows shown of the current folder.
    void setRowCount(int rowCount);
    TFileNode* nodeAt(const QModelIndex& index) const;
    // Rows can be dragged out once this is set.
    void setDragData(DragData data) { m_dragData = std::move(data); }

    // "" for folders, "n " below 1 K, then whole K, M or G.
    static QString sizeText(qint64 size);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

signals:
    void rowCountChanged(int rowCount);

private:
    QIcon iconFor(TFileNode* node) const;

    TFileNode* m_folder = nullptr;
    int m_rows = 0;
    QStringList m_headers;
    ExtraText m_extra;
    DragData m_dragData;
    QIcon m_folderIcon;
    QIcon m_fileIcon;
};

}  // namespace mr
