#include "catalog/mrtree.h"

#include "catalog/filenode.h"
#include "catalog/fork.h"
#include "catalog/shareupdate.h"
#include "db/connection.h"
#include "db/cursor.h"
#include "db/database.h"
#include "db/filters.h"

#include <atomic>

namespace mr {

namespace {

const QString kFiles = QStringLiteral("files");
// A catalog deeper than this has a loop in its parent ids.
constexpr int kMaxDepth = 4096;
// Catalog operations running in this process, each behind its progress window.
std::atomic<int> runningOperations{0};

std::unique_ptr<db::Cursor> openFiles(db::Connection* connection) {
    if (connection)
        return std::make_unique<db::Cursor>(*connection, kFiles);
    return std::make_unique<db::Cursor>(QString::fromLatin1(db::kDatabaseName), kFiles);
}

}  // namespace

TMRTree::TMRTree(QObject* owner, TMRAgentHttp* agent, const QString& userName,
                 TLogicalTree* logicalTree)
    : m_owner(owner), m_agent(agent), m_userName(userName), m_logicalTree(logicalTree) {}

TMRTree::~TMRTree() = default;

int TMRTree::idOf(db::Connection* connection, const QString& user, const QString& path,
                  bool stopBeforeLast) {
    QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    if (stopBeforeLast && !parts.isEmpty())
        parts.removeLast();
    if (parts.isEmpty())
        return -1;
    auto cursor = openFiles(connection);
    int id = -1;
    for (const QString& name : parts) {
        cursor->setFilter(db::pathStep(user, id, name), true);
        if (cursor->eof())
            return -999;
        id = static_cast<int>(cursor->asInteger(u"id"));
    }
    return id;
}

QString TMRTree::pathOf(db::Connection* connection, int id) {
    if (id == -1)
        return QStringLiteral("/");
    auto cursor = openFiles(connection);
    QString path;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        cursor->setFilter(db::rowById(id), true);
        if (cursor->eof())
            return {};
        const QString name = cursor->asString(u"Name");
        path = path.isEmpty() ? name : name + u'/' + path;
        id = static_cast<int>(cursor->asInteger(u"ParentId"));
        if (id <= 0)
            return u'/' + path;
    }
    return {};
}

int TMRTree::IdOf(const QString& path) const {
    return idOf(nullptr, m_userName, path);
}

int TMRTree::ParentIdOf(const QString& path) const {
    return idOf(nullptr, m_userName, path, true);
}

QString TMRTree::PathOf(int id) const {
    return pathOf(nullptr, id);
}

QString TMRTree::LocalFileName(const QString& path, const QString& name) const {
    const int folder = IdOf(path);
    if (folder == -999)
        return {};
    auto cursor = openFiles(nullptr);
    cursor->setFilter(db::localFileByName(name, folder), true);
    return cursor->eof() ? QString() : cursor->asString(u"FileName");
}

void TMRTree::NodeGetItems(TFileNode* node) {
    progressView().setBusy(true);
    const QString path = node->fullPath();
    try {
        LoadChildren(folderIdOf(path), path);
    } catch (...) {
        progressView().setBusy(false);
        throw;
    }
    progressView().setBusy(false);
}

std::unique_ptr<TFileItem> TMRTree::ItemFromRow(const db::Cursor& row, const QString& folderPath) {
    const QString user = row.asString(u"Username");
    std::unique_ptr<TFileItem> item;
    if (user.isEmpty()) {
        auto local = std::make_unique<TLocalFileItem>(QString(), folderPath);
        local->fileName = row.asString(u"FileName");
        local->password = row.asString(u"Password");
        item = std::move(local);
    } else {
        auto remote = std::make_unique<TRemoteFileItem>(QString(), folderPath, user);
        remote->passwordFlag = row.asBoolean(u"IsPassword");
        item = std::move(remote);
    }
    item->Name = row.asString(u"Name");
    item->size = static_cast<qint32>(row.asInteger(u"FileSize"));
    item->date = row.asDateTime(u"FileDate");
    item->description = row.asString(u"Description");
    item->media = row.asString(u"Media");
    return item;
}

bool TMRTree::operationRunning() {
    return runningOperations.load() > 0;
}

void TMRTree::runOperation(Progress& progress, const QString& text,
                           const std::function<void()>& work) {
    struct Running {
        Running() { ++runningOperations; }
        ~Running() { --runningOperations; }
    } running;
    m_progress = &progress;
    ProgressView& view = progressView();
    view.setBusy(true);
    QPointer<TFork> fork = TFork::Create(work);
    view.exec(progress, QString::fromLatin1(kPleaseWaitCaption), text, [&] { fork->start(); });
    if (fork) {
        fork->wait();
        delete fork.data();
    }
    view.setBusy(false);
    progress.total = -1;
    m_progress = nullptr;
}

SyncResult TMRTree::UpdateServer() {
    if (operationRunning()) {
        SyncResult deferred;
        deferred.deferred = true;
        return deferred;
    }
    return ShareUpdate(*this).run();
}

}  // namespace mr
