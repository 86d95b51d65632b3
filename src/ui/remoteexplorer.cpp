#include "ui/remoteexplorer.h"

#include "catalog/fileitem.h"
#include "catalog/filenode.h"
#include "catalog/remotemrtree.h"
#include "core/profile.h"
#include "core/userinfo.h"
#include "transfer/queue.h"
#include "ui/filelistmodel.h"

#include <QAbstractItemView>
#include <QAction>
#include <QMenu>

namespace mr {

TfrmRemoteExplorer::TfrmRemoteExplorer(OnlineSession* session, const QString& userName,
                                       qint32 userId, QWidget* parent)
    : TfrmVirtualExplorer(session, parent), m_userName(userName), m_userId(userId) {
    setWindowTitle(userName);
    actDownload = new QAction(QStringLiteral("&Download"), this);
    actDownload->setObjectName(QStringLiteral("actDownload"));
    actDownload->setEnabled(false);
    connect(actDownload, &QAction::triggered, this, &TfrmRemoteExplorer::downloadCurrent);
    listMenu()->insertAction(listMenu()->actions().value(0), actDownload);
    listMenu()->insertSeparator(listMenu()->actions().value(1));
    buildView();
}

void TfrmRemoteExplorer::setWantedList(TMRWantedList* wanted) {
    m_wanted = wanted;
    actDownload->setEnabled(wanted != nullptr);
}

bool TfrmRemoteExplorer::downloadCurrent() {
    TFileNode* folder = selectedFolder();
    TFileNode* node = fileList()->nodeAt(listView()->currentIndex());
    if (!m_wanted || !folder || !node || !node->item() || m_userId == UserInfo().id()) {
        return false;
    }
    QString path = folder->fullPath();
    while (path.endsWith(u'/')) {
        path.chop(1);
    }
    path += u'/' + node->item()->Name;
    if (m_wanted->FindActive(m_userName, path) >= 0 || node->isFolder()) {
        return false;
    }
    m_wanted->Add(m_userId, m_userName, path, {});
    return true;
}

std::unique_ptr<TMRTree> TfrmRemoteExplorer::createCatalogTree(TLogicalTree* logical) {
    return std::make_unique<TRemoteMRTree>(this, agent(), m_userName, m_userId, logical);
}

}  // namespace mr
