#pragma once

#include "catalog/mrtree.h"

#include <QByteArray>
#include <QString>

namespace mr {

class TFileItem;

// Additions go out in batches of at most this many records.
inline constexpr int kShareBatchSize = 100;
// How long the worker waits on the reply semaphore between looks at the Cancel flag.
inline constexpr int kShareReplyWaitMs = 5000;
// Addition batches in flight at most, so that the agent's request queue never overflows.
inline constexpr int kShareBatchesInFlight = 32;

// Layout "BA": 'R', the entry's virtual path without its leading "/".
QByteArray removalRecord(const QString& pathWithoutLeadingSlash);
// Layout "BIDWBAAA": 'A', size, date, 0, 1 when a password is set (never the password itself),
// folder path without leading or trailing "/", name, description (one blank when empty).
QByteArray additionRecord(const TFileItem& item);
// The path a removal record carries for a row: its folder path with "/" appended, then its
// name, without the leading "/".
QString removalPath(const QString& folderPath, const QString& name);

// One synchronisation run of a tree's catalog with the service: the pending removals in one
// request, re-sent while online until accepted, then the pending additions in batches.
class ShareUpdate {
public:
    explicit ShareUpdate(TMRTree& tree) : m_tree(tree) {}
    SyncResult run();

private:
    TMRTree& m_tree;
};

}  // namespace mr
