#pragma once

#include "catalog/fileitem.h"
#include "catalog/progress.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

namespace mr {

namespace db {
class Connection;
class Cursor;
}  // namespace db

class TFileNode;
class TLogicalTree;
class TMRAgentHttp;

// What one synchronisation run achieved.
struct SyncResult {
    bool ran = false;           // something was pending
    int removalsSent = 0;       // removal records in the removal request
    int removalsAccepted = 0;   // of those, accepted by the service
    int additionsSent = 0;      // addition records in queued batches
    int additionsAccepted = 0;  // of those, in batches the service accepted
    int additionsFailed = 0;    // in batches that failed or could not be queued
    bool wentOffline = false;   // the session was offline before the run ended
    bool cancelled = false;
    // Not run: another catalog operation was writing; ask again once it has ended.
    bool deferred = false;
    // Every pending change reached the service.
    bool complete() const {
        return !deferred && !wentOffline && !cancelled && removalsAccepted == removalsSent &&
               additionsFailed == 0 && additionsAccepted == additionsSent;
    }
};

// A logical tree bound to a catalog: the user's own over the files table, or another user's
// loaded from the service. Lives on the main thread; the lookups may run on any thread, each
// with its own cursor.
class TMRTree : public QObject {
    Q_OBJECT
public:
    // owner: on whose behalf service requests are made (null: the tree itself); agent may be
    // null when the tree never talks to the service; logicalTree may be null (no view).
    TMRTree(QObject* owner, TMRAgentHttp* agent, const QString& userName,
            TLogicalTree* logicalTree);
    ~TMRTree() override;

    QObject* owner() const { return m_owner ? m_owner.data() : const_cast<TMRTree*>(this); }
    TMRAgentHttp* agent() const { return m_agent; }
    const QString& userName() const { return m_userName; }
    TLogicalTree* logicalTree() const { return m_logicalTree; }
    void setLogicalTree(TLogicalTree* tree) { m_logicalTree = tree; }
    // The progress window and busy cursor of this tree's operations; null: none.
    void setProgressView(ProgressView* view) { m_view = view; }
    ProgressView& progressView() const { return m_view ? *m_view : silentProgressView(); }
    // The running operation's progress; null when none runs.
    Progress* progress() const { return m_progress; }
    int progressTotal() const { return m_progress ? m_progress->total.load() : -1; }

    // The id of the entry at a virtual path: -1 for "/", -999 when a component is missing.
    int IdOf(const QString& path) const;
    // The id of the folder that holds the last component of the path (-1 at the top), or -999.
    int ParentIdOf(const QString& path) const;
    // The virtual path of a row: "/" for -1, empty for an unknown id.
    QString PathOf(int id) const;
    // The FileName of the local file of that name in the folder at the path, or empty.
    QString LocalFileName(const QString& path, const QString& name) const;

    // The logical tree's get-items handler: loads the children of the node's folder.
    void NodeGetItems(TFileNode* node);
    // Fills the logical tree with the children of one folder.
    virtual void LoadChildren(int folderId, const QString& folderPath) = 0;

    // Sends the pending changes of the local catalog to the service; blocks in the progress
    // window until the run ends. Returns at once when nothing is pending, and as deferred while
    // a share or removal runs (its rows are not committed yet, and the run would wait for them).
    SyncResult UpdateServer();
    // A share, removal or synchronisation of the local catalog is running in this process.
    static bool operationRunning();

    // A node item from the current row of a files cursor, placed in folderPath.
    static std::unique_ptr<TFileItem> ItemFromRow(const db::Cursor& row, const QString& folderPath);

    // The same lookups on a given connection (a worker's), for a user's catalog.
    static int idOf(db::Connection* connection, const QString& user, const QString& path,
                    bool stopBeforeLast = false);
    static QString pathOf(db::Connection* connection, int id);

protected:
    // The folder id handed to LoadChildren for a node's path.
    virtual int folderIdOf(const QString& path) const { return IdOf(path); }
    // Runs the worker in a suspended fork behind the modal progress window; returns once the
    // window has closed and the worker has ended.
    void runOperation(Progress& progress, const QString& text, const std::function<void()>& work);

private:
    QPointer<QObject> m_owner;
    TMRAgentHttp* m_agent;
    QString m_userName;
    TLogicalTree* m_logicalTree;
    ProgressView* m_view = nullptr;
    Progress* m_progress = nullptr;

    friend class ShareUpdate;
};

}  // namespace mr
