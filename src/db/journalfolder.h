#pragma once

#include <QString>

namespace mr::db {

// Folds write-ahead journals into their table files on a thread of its own, so that the writer
// of a long transaction does not wait for the disk once it has committed. A fold is SQLite's
// passive checkpoint: it never waits for readers or writers, and whatever it cannot fold, or a
// fold cut short by the end of the process, stays safely in the journal.

// Queues the fold of the table file at `path`; one already queued for it is not repeated.
// Folds in the caller when no thread can be started.
void foldJournalInBackground(const QString& path);

// Blocks until every fold queued so far has ended.
void waitForJournalFolds();

}  // namespace mr::db
