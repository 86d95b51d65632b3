#pragma once

#include "transfer/queue.h"
#include "ui/virtualexplorer.h"

#include <QPointer>

namespace mr {

// Another user's published folders, listed by the service folder by folder.
class TfrmRemoteExplorer : public TfrmVirtualExplorer {
    Q_OBJECT
public:
    TfrmRemoteExplorer(OnlineSession* session, const QString& userName, qint32 userId,
                       QWidget* parent = nullptr);

    const QString& userName() const { return m_userName; }
    qint32 userId() const { return m_userId; }

    QAction* actDownload;

    // Where "&Download" queues files; without one the command stays disabled.
    void setWantedList(TMRWantedList* wanted);
    // Queues the file of the list's current row; false when nothing was queued (no file row,
    // the user's own catalog, or the file already queued and not ended).
    bool downloadCurrent();

protected:
    std::unique_ptr<TMRTree> createCatalogTree(TLogicalTree* logical) override;
    QString rootCaption() const override { return m_userName; }

private:
    QString m_userName;
    qint32 m_userId;
    QPointer<TMRWantedList> m_wanted;
};

}  // namespace mr
