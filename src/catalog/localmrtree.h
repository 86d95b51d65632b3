#pragma once

#include "catalog/mrtree.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace mr {

class TFileNode;

// What a share operation did.
struct ShareOutcome {
    enum class Kind { Shared, AlreadyShared, Cancelled, NoSuchFolder, Failed };
    Kind kind = Kind::Failed;
    QString name;  // the virtual path the folder was shared under
    int rows = 0;  // rows written
};

// One entry of the catalog as a listing shows it.
struct CatalogListingRow {
    QString action;  // "A" added, "D" removed, empty when published
    bool folder = false;
    qint64 size = 0;
    QString path;  // the virtual path
};

// What a removal did.
enum class RemoveOutcome { Removed, NotFound, Cancelled, Failed };

// The user's own catalog over the files table: shares local folders, removes entries and
// sends the pending changes to the service.
class TLocalMRTree : public TMRTree {
    Q_OBJECT
public:
    TLocalMRTree(QObject* owner, TMRAgentHttp* agent, TLogicalTree* logicalTree = nullptr);

    void LoadChildren(int folderId, const QString& folderPath) override;

    // Shares the folder of the node under the virtual path name ("/" + the folder's name for
    // a top-level share; a name in use at the top gets 1, 2, 3... appended). extensions: the
    // filter (empty: every file), matched ignoring case. A non-empty password is written to
    // every row instead of the items' own.
    ShareOutcome ShareFolder(TFileNode* node, const QString& name, bool includeSubfolders,
                             const QStringList& extensions, const QString& password = {});
    // Why a share cannot go under this virtual path, or empty when it can: the path is "/" or
    // "/" followed by non-empty names joined by "/", and the folder that would hold it is the
    // top or a folder of the catalog that has not been removed. ShareFolder refuses such a name
    // as NoSuchFolder.
    QString shareNameProblem(const QString& name) const;
    // Removes an entry: a folder's rows below it go at once, its own row is marked "D".
    RemoveOutcome RemoveShare(const TFileItem& item);

    // Stores the download password of the entry at a virtual path; a changed password marks a
    // published entry for publishing again, so that the service learns its password flag. False
    // when there is no such entry (the catalog root has none); engine failures throw.
    bool SetPassword(const QString& path, const QString& password);

    // The entry at a virtual path (none for "/") and every entry below it, removed ones
    // included, each folder followed by its contents; nothing when there is no such entry.
    std::optional<std::vector<CatalogListingRow>> listRows(const QString& path) const;

    // The catalog entry at a virtual path as a node item; null when there is none.
    std::unique_ptr<TFileItem> ItemAt(const QString& path) const;

    // Extension filter text ("mp3,ogg", "*.mp3;.ogg") as bare lower-case extensions.
    static QStringList parseExtensions(const QString& text);
};

}  // namespace mr
