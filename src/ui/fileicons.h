#pragma once

#include "catalog/filenode.h"

#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QList>

#include <functional>

namespace mr {

// The icons of the explorers' nodes: the desktop's icon for each file type and the folder,
// drive and home icons, kept in one list so a node's cached index stays valid for the run.
class FileIcons : public FileIconSource {
public:
    FileIcons();

    int iconIndexForName(const QString& name, bool selected) override;
    int iconIndexForPath(const QString& path, bool selected) override;

    // The icon of an index; null for -1 or an index never handed out.
    QIcon icon(int index) const;

    // A folder's or a plain file's icon, for lists whose nodes have none of their own; one
    // copy for every list of the run.
    static QIcon genericIcon(bool folder);

private:
    // The index of the icon kept under a key; make() gives it the first time only.
    int indexOf(const QString& key, const std::function<QIcon(const QFileIconProvider&)>& make);
    // The icon list is widget-side state: other threads get -1 and ask again later.
    static bool onGuiThread();

    QList<QIcon> m_icons;
    QHash<QString, int> m_byKey;
};

// Installs the program's icon source as the catalog's icon hook unless one is installed
// already, and returns the one in use.
FileIconSource& installFileIcons();

// The icon of a node through the installed source; empty when the source has none for it.
QIcon nodeIcon(TFileNode* node, bool selected = false);

}  // namespace mr
