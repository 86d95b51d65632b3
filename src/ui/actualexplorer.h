#pragma once

#include "ui/explorer.h"

#include <QMimeData>
#include <QStringList>

#include <memory>

namespace mr {

class TActualFileNode;

// What a drag out of the disk explorer carries: its entries as file URLs, which both the
// catalog's list and other programs take.
class TFileShareDrag : public QMimeData {
    Q_OBJECT
public:
    explicit TFileShareDrag(const QStringList& paths);

    const QStringList& paths() const { return m_paths; }

private:
    QStringList m_paths;
};

// "Share Files": the folders of this computer, from the home folder and the file-system root
// down, from which the user picks folders to share.
class TfrmActualExplorer : public TfrmExplorer {
    Q_OBJECT
public:
    static constexpr char kDescription[] =
        "Right-click on a folder, choose 'Share' in order to share files. Navigate through your "
        "computer as if you are using the 'Windows Explorer'";

    explicit TfrmActualExplorer(QWidget* parent = nullptr);
    ~TfrmActualExplorer() override;

    QString description() const override { return QString::fromLatin1(kDescription); }
    // The disk folder selected in the tree; null when none.
    TActualFileNode* selectedFolder() const;
    // A folder of the file system, absolute or relative to the working folder.
    bool navigateTo(const QString& path) override;

    QAction* actShare;
    QAction* actGoToDownloadDirectory;

public slots:
    void Share();
    // The folder downloads go to ("DownloadPath", or the default while it is empty).
    void GoToDownloadDirectory();

signals:
    // The user asked to share the disk folder at fsPath.
    void shareRequested(const QString& fsPath);

protected:
    void buildView() override;
    void refreshList() override;
    void refresh() override;
    QString localFileName(const TFileNode* node) const override;

private:
    void itemExpanded(QTreeWidgetItem* item);
    // Tree items for the folder's sub-folders, listing it first when needed.
    void addFolderItems(QTreeWidgetItem* item);
    void clearView();

    std::unique_ptr<TActualFileNode> m_root;
};

}  // namespace mr
