#pragma once

#include "ui/virtualexplorer.h"

#include <QList>
#include <QUrl>

#include <functional>

namespace mr {

class TFileNode;
class TLocalMRTree;
class TfrmActualExplorer;

// "My Shared Files": the user's own catalog, with commands to add virtual folders and to stop
// sharing entries, and below it the disk explorer from which folders are shared. Disk folders
// dropped on the list are shared into the folder on show.
class TfrmLocalExplorer : public TfrmVirtualExplorer {
    Q_OBJECT
public:
    // Asks for a new folder's name; empty when the user cancels.
    using NamePrompt = std::function<QString(QWidget* parent)>;

    static constexpr char kDescription[] =
        "This tool is used to show all of the user's shared files on their local computer as "
        "well as stop the sharing of files on their local computer";

    explicit TfrmLocalExplorer(OnlineSession* session, QWidget* parent = nullptr);
    ~TfrmLocalExplorer() override;

    TLocalMRTree* localTree() const;
    // The disk explorer of the lower pane, created on first use.
    TfrmActualExplorer* actualExplorer();
    // The disk explorer's own text while the keyboard focus is in it.
    QString description() const override;

    // The input box of "New Folder"; tests put their own answer here.
    void setNamePrompt(NamePrompt prompt) { m_prompt = std::move(prompt); }

    QAction* actNewFolder;
    QAction* actRemove;
    QAction* actShareProperties;

public slots:
    void NewFolder();
    void Remove();
    // The selected entry's download password and credit ratio.
    void ShareProperties();
    // Shares a disk folder with its sub-folders below a catalog folder ("/" for the top),
    // asking first when it holds many items. True when it was shared.
    bool ShareDiskFolder(const QString& fsPath, const QString& catalogFolder);
    // The same from any window (a disk explorer of its own): every open catalog window then
    // shows the share, and the service learns of it when the session is online.
    static bool ShareFromDisk(QWidget* parent, OnlineSession* session, const QString& fsPath,
                              const QString& catalogFolder);
    // Shares the local folders among the URLs into the folder on show; files are ignored.
    // True when any of them was a folder.
    bool dropUrls(const QList<QUrl>& urls);

protected:
    std::unique_ptr<TMRTree> createCatalogTree(TLogicalTree* logical) override;
    QString localFileName(const TFileNode* node) const override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The selected list row, else the selected catalog folder.
    TFileNode* selectedEntry() const;
    // The catalog changed under every other open window onto it: they show it again.
    void reloadOthers();
    static void reloadAll();
    void focusChanged(QWidget* now);

    NamePrompt m_prompt;
    QWidget* m_lowerPane;
    TfrmActualExplorer* m_actual = nullptr;
    bool m_diskFocused = false;
};

}  // namespace mr
