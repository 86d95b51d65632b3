#include "ui/remoteexplorer.h"

#include "catalog/remotemrtree.h"

#include <QAction>
#include <QMenu>

namespace mr {

TfrmRemoteExplorer::TfrmRemoteExplorer(TOnlineSession* session, const QString& userName,
                                       qint32 userId, QWidget* parent)
    : TfrmVirtualExplorer(session, parent), m_userName(userName), m_userId(userId) {
    setWindowTitle(userName);
    actDownload = new QAction(QStringLiteral("&Download"), this);
    actDownload->setObjectName(QStringLiteral("actDownload"));
    // Downloads need the download queue, which this program does not have yet.
    actDownload->setEnabled(false);
    listMenu()->insertAction(listMenu()->actions().value(0), actDownload);
    listMenu()->insertSeparator(listMenu()->actions().value(1));
    buildView();
}

std::unique_ptr<TMRTree> TfrmRemoteExplorer::createCatalogTree(TLogicalTree* logical) {
    return std::make_unique<TRemoteMRTree>(this, agent(), m_userName, m_userId, logical);
}

}  // namespace mr
