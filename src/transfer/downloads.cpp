#include "transfer/downloads.h"

#include "transfer/reqconnection.h"

namespace mr {

DownloadStarter::DownloadStarter(TMRWantedList& wanted, TMRFtpServer& server, UserLocator locate,
                                 PeerSettings settings, QObject* parent)
    : QObject(parent),
      m_wanted(wanted),
      m_server(server),
      m_locate(std::move(locate)),
      m_settings(std::move(settings)) {
    m_wanted.setNotify([this](TMRQueItem& item) { startItem(item); });
}

DownloadStarter::~DownloadStarter() {
    m_wanted.setNotify({});
}

void DownloadStarter::startItem(TMRQueItem& item) {
    const qint32 id = item.Id;
    m_wanted.SetStatus(id, TTransferStatus::Negotiating);
    if (m_settings.storeDownloadPath) {
        m_settings.storeDownloadPath();
    }
    auto* connection =
        new TMRReqConnection(m_wanted, id, m_server.port(), m_locate, m_settings, this);
    if (m_timeoutMs > 0) {
        connection->setTimeout(m_timeoutMs);
    }
    connection->start();
}

}  // namespace mr
