#pragma once

#include "ui/virtualexplorer.h"

namespace mr {

// Another user's published folders, listed by the service folder by folder.
class TfrmRemoteExplorer : public TfrmVirtualExplorer {
    Q_OBJECT
public:
    TfrmRemoteExplorer(TOnlineSession* session, const QString& userName, qint32 userId,
                       QWidget* parent = nullptr);

    const QString& userName() const { return m_userName; }
    qint32 userId() const { return m_userId; }

    QAction* actDownload;

protected:
    std::unique_ptr<TMRTree> createCatalogTree(TLogicalTree* logical) override;
    QString rootCaption() const override { return m_userName; }

private:
    QString m_userName;
    qint32 m_userId;
};

}  // namespace mr
