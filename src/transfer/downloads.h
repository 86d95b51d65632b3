#pragma once

#include "service/userlocation.h"
#include "transfer/mrftpserver.h"
#include "transfer/queue.h"

#include <QObject>

namespace mr {

// Starts downloads: the wanted list's notify handler. Each item goes to Negotiating at once (so
// a second queue check never starts it twice), then a TMRReqConnection asks its owner for it.
class DownloadStarter : public QObject {
    Q_OBJECT
public:
    DownloadStarter(TMRWantedList& wanted, TMRFtpServer& server, UserLocator locate,
                    PeerSettings settings, QObject* parent = nullptr);
    ~DownloadStarter() override;

private:
    void startItem(TMRQueItem& item);

    TMRWantedList& m_wanted;
    TMRFtpServer& m_server;
    UserLocator m_locate;
    PeerSettings m_settings;
    int m_timeoutMs = 0;
};

}  // namespace mr
