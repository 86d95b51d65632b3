#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>

#include <functional>

namespace mr {

class TFileNode;

// The file list of an explorer: the rows are the children of one folder node, produced only
// when the view asks for them, so a folder of thousands of entries costs no items.
class TFileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Text of a column after "Name", "Size" and "Modified" for a node.
    using ExtraText = std::function<QString(const TFileNode* node, int column)>;

    explicit TFileListModel(QObject* parent = nullptr);

    // "Name", "Size", "Modified", "Type" unless replaced.
    void setColumns(const QStringList& headers, ExtraText extra);

    // Shows the first rowCount children of the folder; null shows nothing.
    void setFolder(TFileNode* folder, int rowCount);
    TFileNode* folder() const { return m_folder; }
    // Grows or shrinks the rows shown of the current folder.
    void setRowCount(int rowCount);
    TFileNode* nodeAt(const QModelIndex& index) const;

    // "" for folders, "n " below 1 K, then whole K, M or G.
    static QString sizeText(qint64 size);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    void rowCountChanged(int rowCount);

private:
    QIcon iconFor(const TFileNode* node) const;

    TFileNode* m_folder = nullptr;
    int m_rows = 0;
    QStringList m_headers;
    ExtraText m_extra;
    QIcon m_folderIcon;
    QIcon m_fileIcon;
};

}  // namespace mr
