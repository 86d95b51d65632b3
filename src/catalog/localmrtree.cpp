#include "catalog/localmrtree.h"

#include "catalog/filenode.h"
#include "catalog/logicaltree.h"
#include "db/connection.h"
#include "db/cursor.h"
#include "db/database.h"
#include "db/dberror.h"
#include "db/filters.h"
#include "db/prepared.h"
#include "db/transaction.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_set>

namespace mr {

namespace {

const QString kFiles = QStringLiteral("files");
const QString kDatabase = QString::fromLatin1(db::kDatabaseName);

QString lastComponent(const QString& name) {
    return name.section(u'/', -1);
}

// The folder part of a virtual path, with its trailing "/": "/" for a top-level name.
QString parentPath(const QString& name) {
    const qsizetype slash = name.lastIndexOf(u'/');
    return slash < 0 ? QStringLiteral("/") : name.left(slash + 1);
}

// Whether the catalog shares this local folder. The filter matches without regard to case, but
// Linux tells "Music" and "music" apart, so the paths must be equal to the letter.
bool sharesLocalFolder(db::Cursor& rows, const QString& localPath) {
    rows.setFilter(db::sharedFolder(localPath), true);
    for (; !rows.eof(); rows.next()) {
        if (rows.asString(u"FileName") == localPath)
            return true;
    }
    return false;
}

// Reads the folder tree on two threads while the share worker writes rows: listing a folder
// (a stat per entry) costs more than writing its rows, and a folder's rows only need that
// folder's children. The walkers take folders in the order the rows are written (depth first),
// so the writer rarely waits.
class TreeWalk {
public:
    TreeWalk(TFileNode* root, bool subfolders, Progress& progress)
        : m_progress(progress), m_subfolders(subfolders), m_queue{root} {
        try {
            for (std::thread& walker : m_walkers)
                walker = std::thread([this] { run(); });
        } catch (...) {
            stop();
            throw;
        }
    }
    // A writer that stops early (cancelled, failed) need not wait for the rest of the tree.
    ~TreeWalk() { stop(); }
    TreeWalk(const TreeWalk&) = delete;
    TreeWalk& operator=(const TreeWalk&) = delete;

    // Blocks until the walk has made the node's children; only then may this thread touch them.
    void waitForChildren(const TFileNode* node) {
        std::unique_lock lock(m_mutex);
        if (m_ready.count(node) > 0)
            return;
        // Each wait costs a wake-up, which on a busy machine waits for a free core: let the
        // walk get well ahead, so that the next folders need none.
        m_wakeAt = m_ready.size() + kWaitAhead;
        m_changed.wait(lock, [&] {
            return m_finished || (m_ready.count(node) > 0 && m_ready.size() >= m_wakeAt);
        });
        m_wakeAt = kNobodyWaits;
        if (m_ready.count(node) == 0)
            failed();
    }

    // Blocks until the whole tree is read.
    void waitForEnd() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_finished; });
        if (m_error)
            failed();
    }

    // Ends the walk where it is; the walkers touch no node after this returns.
    void stop() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_work.notify_all();
        for (std::thread& walker : m_walkers) {
            if (walker.joinable())
                walker.join();
        }
    }

private:
    void run() {
        try {
            walk();
        } catch (...) {
            // Out of memory while queueing: the writer learns of it, the thread ends cleanly.
            std::lock_guard lock(m_mutex);
            if (!m_error)
                m_error = std::current_exception();
            m_finished = true;
        }
        m_changed.notify_all();
        m_work.notify_all();
    }

    void walk() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_work.wait(lock, [&] { return m_stopping || m_finished || !m_queue.empty(); });
            if (m_stopping || m_finished)
                return;
            TFileNode* folder = m_queue.front();
            m_queue.pop_front();
            ++m_listing;
            lock.unlock();
            std::vector<TFileNode*> subfolders;
            int entries = 0;
            std::exception_ptr error;
            try {
                TFileNodes& children = folder->Children();
                entries = children.count();
                for (const auto& child : children) {
                    if (m_subfolders && child->walkable())
                        subfolders.push_back(child.get());
                }
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            --m_listing;
            m_entries += entries;
            m_ready.insert(folder);
            // Ahead of the folders queued before: depth first, as the rows are written.
            m_queue.insert(m_queue.begin(), subfolders.begin(), subfolders.end());
            if (error && !m_error)
                m_error = error;
            const bool end = m_error || (m_queue.empty() && m_listing == 0);
            if (end && !m_finished) {
                m_finished = true;
                if (!m_error)
                    m_progress.total = m_entries + 1;
            }
            if (end || m_ready.size() >= m_wakeAt)
                m_changed.notify_all();
            if (end || subfolders.size() > 1)
                m_work.notify_all();
        }
    }

    [[noreturn]] void failed() const {
        if (m_error)
            std::rethrow_exception(m_error);
        throw std::runtime_error("the folder walk ended early");
    }

    static constexpr std::size_t kWaitAhead = 16;
    static constexpr std::size_t kNobodyWaits = std::numeric_limits<std::size_t>::max();

    Progress& m_progress;
    const bool m_subfolders;
    std::mutex m_mutex;
    // The writer waits on m_changed, idle walkers on m_work.
    std::condition_variable m_changed;
    std::condition_variable m_work;
    std::deque<TFileNode*> m_queue;  // folders to list, the next first
    int m_listing = 0;               // folders being listed
    int m_entries = 0;
    std::unordered_set<const TFileNode*> m_ready;
    // The number of ready folders the waiting writer wants before it is woken.
    std::size_t m_wakeAt = kNobodyWaits;
    bool m_finished = false;
    bool m_stopping = false;
    std::exception_ptr m_error;
    // Last: they start once the members above exist.
    std::array<std::thread, 2> m_walkers;
};

// The share worker's state: one connection, one transaction, the recursive insert.
class ShareWorker {
public:
    ShareWorker(TFileNode* node, QString name, bool subfolders, QStringList extensions,
                QString password, Progress& progress, ShareOutcome& outcome)
        : m_node(node),
          m_name(std::move(name)),
          m_subfolders(subfolders),
          m_extensions(std::move(extensions)),
          m_password(std::move(password)),
          m_progress(progress),
          m_outcome(outcome) {}

    void run() {
        Progress::CloseOnExit closeOnExit{m_progress};
        m_progress.done = 0;
        m_progress.postText(QString::fromLatin1(kSharingFilesText));
        const bool listedBefore = m_node->childrenLoaded();
        // Sets the progress total when it ends; joined on every way out.
        TreeWalk walk(m_node, m_subfolders, m_progress);
        m_walk = &walk;
        db::Connection connection(kDatabase, kFiles);
        const int parentId = TMRTree::idOf(&connection, QString(), m_name, true);
        if (parentId == -999) {
            m_outcome.kind = ShareOutcome::Kind::NoSuchFolder;
            return;
        }
        // Not exclusive: the transaction keeps other writers out, while peers and windows go on
        // reading the last committed catalog during a long share. The rows go in through the
        // statement below; this cursor holds the table lock. The journal is folded into the
        // table file on another thread once the connection is closed: the share ends without
        // waiting for the disk.
        connection.deferJournalFold();
        db::Cursor table(connection, kFiles);
        db::Transaction transaction(connection);
        m_connection = &connection;
        // Rows go in kRowsPerStatement at a time, through one statement prepared for the share
        // with its fields bound by position: each statement costs SQLite a good deal beyond its
        // rows (cursors, the AUTOINCREMENT counter, a statement journal). The tail goes row by
        // row. The ids are given, so a folder's children can join the same batch as the folder.
        db::Prepared batch(connection.handle(), insertSql(kRowsPerStatement));
        db::Prepared single(connection.handle(), insertSql(1));
        m_batchInsert = &batch;
        m_singleInsert = &single;
        m_nextId = firstFreeId();
        loadSharedPaths();
        insert(m_node, parentId, lastComponent(m_name), true);
        // Cancel keeps what was written: every row written so far has its parent.
        writePending();
        walk.stop();
        // The listing this share made is its own: dropped on another core while the commit
        // waits for the disk, so the caller's node is left as it came.
        std::jthread release;
        if (!listedBefore) {
            try {
                release = std::jthread([node = m_node] { node->freeChildren(); });
            } catch (const std::system_error&) {
                m_node->freeChildren();
            }
        }
        transaction.commit();
        m_outcome.kind =
            m_progress.cancelled() ? ShareOutcome::Kind::Cancelled : ShareOutcome::Kind::Shared;
    }

private:
    // Only for a subtree the walk has finished.
    int itemCount(TFileNode* node) const { return node->count(m_subfolders); }

    // Local paths the catalog already shares: only these need the check against the table.
    void loadSharedPaths() {
        db::Cursor all(*m_connection, kFiles);
        for (; !all.eof(); all.next()) {
            if (all.asString(u"Username").isEmpty() &&
                all.asString(u"Action").compare(u"D", Qt::CaseInsensitive) != 0)
                m_sharedPaths.insert(all.asString(u"FileName"));
        }
    }

    bool alreadyShared(const QString& localPath) {
        if (!m_sharedPaths.contains(localPath))
            return false;
        // The check reads the table: what this share has written must be in it.
        writePending();
        db::Cursor check(*m_connection, kFiles);
        return sharesLocalFolder(check, localPath);
    }

    bool extensionMatches(const TFileNode* node) const {
        if (m_extensions.isEmpty())
            return true;
        const QString name = node->item()->Name;
        const qsizetype dot = name.lastIndexOf(u'.');
        return dot >= 0 && m_extensions.contains(name.mid(dot + 1).toLower());
    }

    void insert(TFileNode* node, int parentId, const QString& name, bool top) {
        if (m_progress.cancelled())
            return;
        const bool folder = node->isFolder();
        if (folder && !top && !node->walkable()) {
            // A link to a folder elsewhere: never followed, so no loop can form.
            ++m_progress.done;
            return;
        }
        bool getsRow = false;
        if (folder && !name.isEmpty()) {
            if (alreadyShared(node->localPath())) {
                m_walk->waitForEnd();
                m_progress.done += itemCount(node) + 1;
                m_progress.postStep();
                return;
            }
            getsRow = top || (m_subfolders && m_extensions.isEmpty());
        } else if (!folder) {
            getsRow = extensionMatches(node);
        }
        int childParent = name.isEmpty() ? -1 : parentId;
        if (getsRow)
            childParent = static_cast<int>(write(node, parentId, name));
        ++m_progress.done;
        m_progress.postStep();
        if (!folder || !(m_subfolders || top))
            return;
        m_walk->waitForChildren(node);
        for (const auto& child : node->Children()) {
            if (m_progress.cancelled())
                return;
            insert(child.get(), childParent, child->item()->Name, false);
        }
    }

    // A text of a pending row: where its UTF-8 lies in m_text.
    struct TextRef {
        std::size_t offset;
        std::size_t size;
    };

    // The field values of one row, kept until the statement that writes it has run. The texts
    // are encoded once into m_text and bound from there without a copy.
    struct PendingRow {
        qint64 id;
        int parentId;
        TextRef name;
        TextRef localPath;
        bool folder;
        qint64 size;
        double date;
        TextRef media;
        TextRef password;
    };

    TextRef utf8(QStringView text) {
        const std::size_t at = m_text.size();
        m_text.resize(at + std::size_t(m_utf8.requiredSpace(text.size())));
        const char* end = m_utf8.appendToBuffer(m_text.data() + at, text);
        m_text.resize(std::size_t(end - m_text.data()));
        return {at, m_text.size() - at};
    }

    std::string_view text(TextRef ref) const { return {m_text.data() + ref.offset, ref.size}; }

    static QString insertSql(int rows) {
        QString sql = QStringLiteral(
            "INSERT INTO files (id, Username, Action, ParentId, Name, FileName, Attributes, "
            "FileSize, FileDate, Media, Password) VALUES ");
        for (int i = 0; i < rows; ++i)
            sql += i == 0 ? QStringLiteral("(?, '', 'A', ?, ?, ?, ?, ?, ?, ?, ?)")
                          : QStringLiteral(", (?, '', 'A', ?, ?, ?, ?, ?, ?, ?, ?)");
        return sql;
    }

    // The id AUTOINCREMENT would give the next row: above every id the table has ever held.
    // The transaction keeps other writers out, so the ids that follow stay free as well.
    qint64 firstFreeId() {
        qint64 last = 0;
        for (const QString& sql :
             {QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = 'files'"),
              QStringLiteral("SELECT max(id) FROM files")}) {
            db::Prepared query(m_connection->handle(), sql);
            db::Prepared::Run run(query);
            if (run.step())
                last = std::max(last, run.integer(0));
        }
        return last + 1;
    }

    qint64 write(TFileNode* node, int parentId, const QString& name) {
        const TFileItem* item = node->item();
        const bool folder = node->isFolder();
        const qint64 id = m_nextId++;
        m_pending.push_back({id, parentId, utf8(name), utf8(node->localPath()), folder,
                             folder ? -1 : item->size, item->date, utf8(item->media),
                             utf8(m_password.isEmpty() ? item->password : m_password)});
        ++m_outcome.rows;
        if (m_pending.size() == kRowsPerStatement)
            writePending();
        return id;
    }

    void bindRow(db::Prepared& statement, int first, const PendingRow& row) {
        statement.bindInteger(first, row.id);
        statement.bindInteger(first + 1, row.parentId);
        statement.bindUtf8(first + 2, text(row.name));
        statement.bindUtf8(first + 3, text(row.localPath));
        statement.bindInteger(first + 4, row.folder ? 1 : 0);
        statement.bindInteger(first + 5, row.size);
        statement.bind(first + 6, db::Value{db::Value::Kind::Real, 0, row.date, {}});
        statement.bindUtf8(first + 7, text(row.media));
        statement.bindUtf8(first + 8, text(row.password));
    }

    void writePending() {
        if (m_pending.size() == kRowsPerStatement) {
            for (std::size_t i = 0; i < m_pending.size(); ++i)
                bindRow(*m_batchInsert, int(i) * kFieldsPerRow + 1, m_pending[i]);
            db::Prepared::Run run(*m_batchInsert);
            run.step();
            if (++m_batches % kBatchesPerWriteback == 0)
                m_connection->startJournalWriteback();
        } else {
            for (const PendingRow& row : m_pending) {
                bindRow(*m_singleInsert, 1, row);
                db::Prepared::Run run(*m_singleInsert);
                run.step();
            }
        }
        m_pending.clear();
        m_text.clear();
    }

    static constexpr std::size_t kRowsPerStatement = 128;
    // About a megabyte of journal.
    static constexpr int kBatchesPerWriteback = 64;
    static constexpr int kFieldsPerRow = 9;

    TFileNode* m_node;
    QString m_name;
    bool m_subfolders;
    QStringList m_extensions;
    QString m_password;
    Progress& m_progress;
    ShareOutcome& m_outcome;
    db::Connection* m_connection = nullptr;
    db::Prepared* m_batchInsert = nullptr;
    db::Prepared* m_singleInsert = nullptr;
    qint64 m_nextId = 0;
    int m_batches = 0;
    std::vector<PendingRow> m_pending;
    // The UTF-8 of the pending rows' texts; clearing it keeps its memory for the next batch.
    std::string m_text;
    QStringEncoder m_utf8{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
    TreeWalk* m_walk = nullptr;
    QSet<QString> m_sharedPaths;
};

// Rows of a subtree, for the progress total.
int subtreeSize(db::Connection& connection, int id, bool root) {
    db::Cursor rows(connection, kFiles);
    rows.setFilter(db::subtreeSizeFilter(QString(), id, root));
    int n = 0;
    for (; !rows.eof(); rows.next()) {
        ++n;
        if (rows.asInteger(u"Attributes") == 1)
            n += subtreeSize(connection, static_cast<int>(rows.asInteger(u"id")), false);
    }
    return n;
}

// Deletes everything below a folder, depth first, so no row ever loses its parent.
void deleteBelow(db::Connection& connection, int folderId, Progress& progress) {
    db::Cursor rows(connection, kFiles);
    rows.setFilter(db::childrenOf(folderId));
    while (!rows.eof() && !progress.cancelled()) {
        if (rows.asInteger(u"Attributes") == 1)
            deleteBelow(connection, static_cast<int>(rows.asInteger(u"id")), progress);
        if (progress.cancelled())
            return;
        rows.remove();
        ++progress.done;
        progress.postStep();
    }
}

void removeWorker(int id, bool root, bool folder, Progress& progress, RemoveOutcome& outcome) {
    Progress::CloseOnExit closeOnExit{progress};
    db::Connection connection(kDatabase, kFiles);
    progress.total = subtreeSize(connection, id, root) + 1;
    progress.done = 0;
    progress.postText(QString::fromLatin1(kRemovingShareText));
    db::Transaction transaction(connection);
    if (folder && !root)
        deleteBelow(connection, id, progress);
    if (progress.cancelled()) {
        transaction.commit();
        outcome = RemoveOutcome::Cancelled;
        return;
    }
    db::Cursor selected(connection, kFiles);
    selected.setFilter(root ? db::rootFiles(-1) : db::rowById(id));
    while (!selected.eof()) {
        selected.edit();
        selected.setString(u"Action", QStringLiteral("D"));
        selected.post();
        selected.next();
        ++progress.done;
        progress.postStep();
        if (progress.cancelled())
            break;
    }
    transaction.commit();
    outcome = progress.cancelled() ? RemoveOutcome::Cancelled : RemoveOutcome::Removed;
}

}  // namespace

TLocalMRTree::TLocalMRTree(QObject* owner, TMRAgentHttp* agent, TLogicalTree* logicalTree)
    : TMRTree(owner, agent, QString(), logicalTree) {}

void TLocalMRTree::LoadChildren(int folderId, const QString& folderPath) {
    if (!logicalTree())
        return;
    const int id = folderPath.isEmpty() ? -999 : folderId;
    {
        db::Cursor rows(kDatabase, kFiles);
        rows.setFilter(db::childrenForDisplay(QString(), id), true);
        const QString path = withTrailingSlash(folderPath);
        for (; !rows.eof(); rows.next())
            logicalTree()->Add(ItemFromRow(rows, path));
    }
    logicalTree()->Refresh(folderPath);
}

QStringList TLocalMRTree::parseExtensions(const QString& text) {
    QStringList out;
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    for (QString e : text.split(separators, Qt::SkipEmptyParts)) {
        while (e.startsWith(u'*') || e.startsWith(u'.'))
            e.remove(0, 1);
        if (!e.isEmpty())
            out << e.toLower();
    }
    return out;
}

QString TLocalMRTree::shareNameProblem(const QString& name) const {
    if (name == u"/")
        return {};
    if (!name.startsWith(u'/') || name.mid(1).split(u'/').contains(QString()))
        return QStringLiteral(
                   "Not a catalog path: %1 (a \"/\" and names joined by \"/\", none "
                   "of them empty)")
            .arg(name);
    const QString parent = name.left(name.lastIndexOf(u'/'));
    if (parent.isEmpty())
        return {};
    const int id = IdOf(parent);
    bool folder = false;
    if (id >= 0) {
        db::Cursor row(kDatabase, kFiles);
        row.setFilter(db::rowById(id));
        folder = !row.eof() && row.asInteger(u"Attributes") == 1 &&
                 row.asString(u"Action").compare(u"D", Qt::CaseInsensitive) != 0;
    }
    return folder ? QString() : QStringLiteral("No such folder in the catalog: ") + parent;
}

ShareOutcome TLocalMRTree::ShareFolder(TFileNode* node, const QString& name, bool includeSubfolders,
                                       const QStringList& extensions, const QString& password) {
    ShareOutcome outcome;
    if (!shareNameProblem(name).isEmpty()) {
        outcome.kind = ShareOutcome::Kind::NoSuchFolder;
        return outcome;
    }
    {
        db::Cursor check(kDatabase, kFiles);
        if (sharesLocalFolder(check, node->localPath())) {
            outcome.kind = ShareOutcome::Kind::AlreadyShared;
            return outcome;
        }
    }
    progressView().setBusy(true);
    QString unique = name;
    if (name != u"/") {
        for (int n = 1; IdOf(unique) != -999; ++n)
            unique = name + QString::number(n);
    }
    progressView().setBusy(false);
    outcome.name = unique;
    QStringList filter;
    for (const QString& e : extensions)
        filter << e.toLower();
    Progress progress;
    runOperation(progress, QString::fromLatin1(kReadingDataText),
                 [node, unique, includeSubfolders, filter, password, &progress, &outcome] {
                     try {
                         ShareWorker(node, unique, includeSubfolders, filter, password, progress,
                                     outcome)
                             .run();
                     } catch (const std::exception& e) {
                         qWarning("share of %s failed: %s", qPrintable(unique), e.what());
                         outcome.kind = ShareOutcome::Kind::Failed;
                         outcome.rows = 0;
                     }
                 });
    if (outcome.kind == ShareOutcome::Kind::Shared && logicalTree() && unique != u"/") {
        auto item = std::make_unique<TLocalFileItem>(QString(), QString());
        static_cast<TFileItem&>(*item) = *node->item();
        item->Name = lastComponent(unique);
        item->Path = parentPath(unique);
        item->fileName = node->localPath();
        item->size = -1;
        logicalTree()->Add(std::move(item));
    }
    return outcome;
}

namespace {

CatalogListingRow catalogRow(const db::Cursor& row, const QString& path) {
    return {row.asString(u"Action"), row.asInteger(u"Attributes") == 1, row.asInteger(u"FileSize"),
            path};
}

// Depth first; the cursor is closed before the walk descends.
void appendRowsBelow(int parentId, const QString& folderPath, std::vector<CatalogListingRow>& out) {
    std::vector<std::pair<int, CatalogListingRow>> found;
    {
        db::Cursor rows(kDatabase, kFiles);
        rows.setFilter(db::childrenOf(parentId));
        for (; !rows.eof(); rows.next()) {
            if (!rows.asString(u"Username").isEmpty())
                continue;
            found.emplace_back(
                static_cast<int>(rows.asInteger(u"id")),
                catalogRow(rows, withTrailingSlash(folderPath) + rows.asString(u"Name")));
        }
    }
    for (auto& [id, row] : found) {
        const bool folder = row.folder;
        const QString path = row.path;
        out.push_back(std::move(row));
        if (folder)
            appendRowsBelow(id, path, out);
    }
}

}  // namespace

std::optional<std::vector<CatalogListingRow>> TLocalMRTree::listRows(const QString& path) const {
    const int id = IdOf(path);
    if (id == -999)
        return std::nullopt;
    std::vector<CatalogListingRow> out;
    const QString entryPath = PathOf(id);
    if (id != -1) {
        db::Cursor row(kDatabase, kFiles);
        row.setFilter(db::rowById(id));
        out.push_back(catalogRow(row, entryPath));
    }
    appendRowsBelow(id, entryPath, out);
    return out;
}

std::unique_ptr<TFileItem> TLocalMRTree::ItemAt(const QString& path) const {
    const int id = IdOf(path);
    if (id == -999)
        return nullptr;
    if (id == -1) {
        auto root = std::make_unique<TLocalFileItem>(QStringLiteral("/"), QString());
        return root;
    }
    db::Cursor row(kDatabase, kFiles);
    row.setFilter(db::rowById(id), true);
    if (row.eof())
        return nullptr;
    return ItemFromRow(row,
                       withTrailingSlash(PathOf(static_cast<int>(row.asInteger(u"ParentId")))));
}

RemoveOutcome TLocalMRTree::RemoveShare(const TFileItem& item) {
    const bool root = item.Path.isEmpty() && item.Name == u"/";
    const QString path = root ? QStringLiteral("/") : withTrailingSlash(item.Path) + item.Name;
    const int id = IdOf(path);
    if (id == -999)
        return RemoveOutcome::NotFound;
    const bool folder = item.size == -1;
    RemoveOutcome outcome = RemoveOutcome::Failed;
    Progress progress;
    runOperation(progress, QString::fromLatin1(kReadingDataText),
                 [id, root, folder, &progress, &outcome] {
                     try {
                         removeWorker(id, root, folder, progress, outcome);
                     } catch (const std::exception& e) {
                         qWarning("removal failed: %s", e.what());
                         outcome = RemoveOutcome::Failed;
                     }
                 });
    if (outcome == RemoveOutcome::Removed && logicalTree() && !root)
        logicalTree()->Remove(item);
    return outcome;
}

bool TLocalMRTree::SetPassword(const QString& path, const QString& password) {
    const int id = IdOf(path);
    if (id < 0) {
        return false;
    }
    db::Cursor row(QString::fromLatin1(db::kDatabaseName), QStringLiteral("files"));
    row.setFilter(db::rowById(id));
    if (row.eof()) {
        return false;
    }
    if (row.asString(u"Password") != password) {
        row.edit();
        row.setString(u"Password", password);
        // The service shows whether an entry has a password: a published entry goes out again.
        if (row.asString(u"Action").isEmpty())
            row.setString(u"Action", QStringLiteral("A"));
        row.post();
    }
    return true;
}

}  // namespace mr
