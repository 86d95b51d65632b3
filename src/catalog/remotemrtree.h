#pragma once

#include "catalog/mrtree.h"

#include <QList>
#include <QPointer>
#include <QString>

namespace mr {

class TFileNode;
class TFork;

// Another user's published catalog, loaded folder by folder from the service's copy.
class TRemoteMRTree : public TMRTree {
    Q_OBJECT
public:
    TRemoteMRTree(QObject* owner, TMRAgentHttp* agent, const QString& userName, qint32 userId,
                  TLogicalTree* logicalTree);
    ~TRemoteMRTree() override;

    qint32 userId() const { return m_userId; }

    // Sends one listing request for the folder from a short-lived thread; the reply adds the
    // entries to the logical tree and then refreshes the folder. The id is not used.
    void LoadChildren(int folderId, const QString& folderPath) override;

    // For programs without windows: walks to the folder at the path, loading each folder on
    // the way and waiting (events running) for its listing; null when a component is missing,
    // is not a folder, or a listing did not arrive within the time-out or failed (then
    // *listingFailed is set).
    TFileNode* WaitForFolder(const QString& path, int timeoutMs, bool* listingFailed = nullptr);

protected:
    // The service lists folders by path: the local catalog is not asked.
    int folderIdOf(const QString&) const override { return -1; }

private:
    void queueListing(const QString& folder);
    void listingArrived(const QString& folder, const QByteArray& reply, bool failed);

    qint32 m_userId;
    QList<QPointer<TFork>> m_forks;
    // Folders whose last listing failed, as their refresh names them.
    QStringList m_failedListings;
};

}  // namespace mr
