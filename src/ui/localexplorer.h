#pragma once

#include "ui/virtualexplorer.h"

#include <functional>

namespace mr {

class TFileNode;
class TLocalMRTree;

// "My Shared Files": the user's own catalog, with commands to add virtual folders and to stop
// sharing entries.
class TfrmLocalExplorer : public TfrmVirtualExplorer {
    Q_OBJECT
public:
    // Asks for a new folder's name; empty when the user cancels.
    using NamePrompt = std::function<QString(QWidget* parent)>;

    static constexpr char kDescription[] =
        "This tool is used to show all of the user's shared files on their local computer as "
        "well as stop the sharing of files on their local computer";

    explicit TfrmLocalExplorer(TOnlineSession* session, QWidget* parent = nullptr);

    TLocalMRTree* localTree() const;
    QString description() const override { return QString::fromLatin1(kDescription); }

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

protected:
    std::unique_ptr<TMRTree> createCatalogTree(TLogicalTree* logical) override;
    QString localFileName(const TFileNode* node) const override;

private:
    // The selected list row, else the selected catalog folder.
    TFileNode* selectedEntry() const;

    NamePrompt m_prompt;
};

}  // namespace mr
