#pragma once

#include "catalog/filenode.h"

#include <QString>

#include <memory>

namespace mr {

// A node of the local disk, for picking folders to share. The root lists the home folder and
// "/"; every other folder lists its entries (hidden ones too), folders first, each group by
// path ignoring case.
class TActualFileNode : public TFileNode {
public:
    // The root of the disk view.
    TActualFileNode();
    // The entry at a path of the file system; null when it is neither a folder nor a file.
    static std::unique_ptr<TActualFileNode> fromPath(const QString& path);

    TActualFileNode(TFileNode* parent, const QString& fsPath, bool folder, bool link,
                    std::unique_ptr<TFileItem> item);

    QString fsPath() const { return m_name.isEmpty() ? m_dirPart : m_dirPart + m_name; }

    QString localPath() const override { return fsPath(); }
    bool walkable() const override { return isFolder() && !m_link; }
    int imageIndex() override;
    int selectedImageIndex() override;

    // Folders before files, then by path ignoring case, in the process-wide direction.
    static void sortNodes(TFileNodes& nodes);

protected:
    void createChildren(TFileNodes& list) override;

private:
    TActualFileNode(TFileNode* parent, const QString& dirPart, const QString& name, bool folder,
                    bool link, std::unique_ptr<TFileItem> item);
    static std::unique_ptr<TActualFileNode> entryAt(TFileNode* parent, const QString& path);

    // The path in two parts that share their text with the folder's other entries and the
    // item: a large folder costs no path string per entry.
    QString m_dirPart;
    QString m_name;
    bool m_link = false;
};

}  // namespace mr
