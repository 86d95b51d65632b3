#pragma once

#include <QList>
#include <QString>

namespace mr::db {

// Every filter and statement text the client issues. The texts are fixed letter for letter;
// string values go through quoted(). Code elsewhere calls these and never formats a filter.

// files: all children of a folder (deleting a removed folder's contents).
QString childrenOf(int parentId);
// files, case-insensitive: one step of resolving a virtual path to an id.
QString pathStep(const QString& user, int parentId, const QString& name);
// files, case-insensitive: a local file by folder and name, to read its FileName.
QString localFileByName(const QString& name, int parentId);
// files: one row by id (path building, removal).
QString rowById(int id);
// files, case-insensitive: one row by id while it is still a pending removal.
QString pendingRemovalById(int id);
// files, case-insensitive: children of a folder for display; the local user's removed rows
// are hidden.
QString childrenForDisplay(const QString& user, int parentId);
// files, case-insensitive: is this local folder already shared.
QString sharedFolder(const QString& fileName);
// files: rows of a subtree level, for the progress total; the catalog root is the user's
// top-level rows.
QString subtreeSizeFilter(const QString& user, int parentId, bool isRoot);
// files: the file rows directly under the catalog root, when the root itself is removed.
QString rootFiles(int parentId);
// files, case-insensitive: rows with a pending change.
QString pendingChanges();
// files, case-insensitive: pending removals.
QString pendingRemovals();
// files, case-insensitive: pending additions.
QString pendingAdditions();
// files, SQL: marks the rows of one accepted batch of additions that are still pending as
// published.
QString publishBatchStatement(const QList<int>& ids);
// files: one folder's listing for a peer.
QString folderListing(int parentId);
// files: a published file requested by a peer.
QString publishedFile(int id);
// files, case-insensitive: file data for the credit check.
QString creditFileData(int id);
// credits, case-insensitive: one peer's account.
QString creditAccount(const QString& user);
// credits: all peers with a status (2 = banned).
QString bannedPeers(int status);
// credits: one peer, to lift a ban.
QString creditByUserName(const QString& user);
// Contacts: one contact, to delete it.
QString contactByName(const QString& user);

}  // namespace mr::db
