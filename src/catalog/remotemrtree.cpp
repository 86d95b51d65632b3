#include "catalog/remotemrtree.h"

#include "catalog/fork.h"
#include "catalog/listing.h"
#include "catalog/logicaltree.h"
#include "service/agent.h"
#include "service/request.h"

#include <QEventLoop>
#include <QTimer>

namespace mr {

namespace {

// The folder as it was asked for: a name may end with a blank.
QString refreshPath(const QString& folder) {
    return u'/' + folder;
}

}  // namespace

TRemoteMRTree::TRemoteMRTree(QObject* owner, TMRAgentHttp* agent, const QString& userName,
                             qint32 userId, TLogicalTree* logicalTree)
    : TMRTree(owner, agent, userName, logicalTree), m_userId(userId) {}

TRemoteMRTree::~TRemoteMRTree() {
    // A loader thread only posts to this tree; it must be gone before the tree is.
    for (const QPointer<TFork>& fork : m_forks) {
        if (fork)
            fork->wait();
    }
}

void TRemoteMRTree::LoadChildren(int, const QString& folderPath) {
    m_forks.removeAll(nullptr);
    const QString folder = folderPath.startsWith(u'/') ? folderPath.mid(1) : folderPath;
    m_forks.append(TFork::Start(
        [this](const QString& f) {
            QMetaObject::invokeMethod(
                this, [this, f] { queueListing(f); }, Qt::QueuedConnection);
        },
        folder));
}

void TRemoteMRTree::queueListing(const QString& folder) {
    const bool queued =
        agent() && agent()->ListFolder(
                       owner(),
                       [tree = QPointer<TRemoteMRTree>(this), folder](TRequest& r) {
                           if (tree)
                               tree->listingArrived(folder, r.replyData(), r.failed());
                       },
                       m_userId, folder);
    if (!queued && logicalTree())
        logicalTree()->Refresh(refreshPath(folder));
}

void TRemoteMRTree::listingArrived(const QString& folder, const QByteArray& reply, bool failed) {
    TLogicalTree* tree = logicalTree();
    if (!tree)
        return;
    const QString refreshed = refreshPath(folder);
    m_failedListings.removeAll(refreshed);
    if (failed) {
        m_failedListings.append(refreshed);
    } else {
        for (auto& item : parseListing(reply, userName(), folder))
            tree->Add(std::move(item));
    }
    tree->Refresh(refreshed);
}

TFileNode* TRemoteMRTree::WaitForFolder(const QString& path, int timeoutMs, bool* listingFailed) {
    TLogicalTree* tree = logicalTree();
    if (!tree)
        return nullptr;
    if (!tree->root())
        tree->Initialize();
    const TLogicalTree::NodeAdded previous = tree->nodeAdded();
    QStringList refreshed;
    QEventLoop loop;
    tree->setNodeAdded([&](TFileNode* node, const QString& p) {
        if (previous)
            previous(node, p);
        if (!node) {
            refreshed << p;
            loop.quit();
        }
    });
    const auto loaded = [&](const QString& folder) {
        return refreshed.contains(folder, Qt::CaseInsensitive);
    };
    TFileNode* node = tree->root();
    QString at = QStringLiteral("/");
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    for (qsizetype i = 0; node; ++i) {
        if (!node->childrenLoaded()) {
            node->Children();
            QTimer timer;
            timer.setSingleShot(true);
            QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
            timer.start(timeoutMs);
            while (!loaded(at) && timer.isActive())
                loop.exec();
            if (!loaded(at)) {
                node = nullptr;
                break;
            }
            if (m_failedListings.contains(at, Qt::CaseInsensitive)) {
                if (listingFailed)
                    *listingFailed = true;
                node = nullptr;
                break;
            }
        }
        if (i == parts.size())
            break;
        node = node->Children().findByName(parts[i]);
        if (node && !node->isFolder())
            node = nullptr;
        if (node)
            at = node->fullPath();
    }
    tree->setNodeAdded(previous);
    return node;
}

}  // namespace mr
