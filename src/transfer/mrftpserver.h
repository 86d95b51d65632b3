#pragma once

#include "net/ftpclient.h"
#include "net/ftpserver.h"
#include "transfer/queue.h"
#include "transfer/transferstatus.h"

#include <QHostAddress>
#include <QPointer>

#include <functional>
#include <optional>
#include <vector>

namespace mr {

class TMRFtpClient;

// What the peer server needs from the local catalog.
struct PeerCatalog {
    // The file request check: the verdict for (requester, share path, peer address, password).
    std::function<RequestVerdict(const QString& userName, const QString& path,
                                 const QString& peerAddress, const QString& password)>
        check;
    // The owner's local file for a share path; empty when unknown.
    std::function<QString(const QString& sharePath)> localPath;
    // The listing bytes of a shared folder for (requester, folder, password), or nothing for an
    // unknown folder, a wrong password or a banned requester.
    std::function<std::optional<QByteArray>(const QString& userName, const QString& folderPath,
                                            const QString& password)>
        listing;
};

// The local user's values, read when they are needed.
struct PeerSettings {
    std::function<QString()> nickname;
    std::function<qint32()> userId;
    // The folder downloads go to; created when the first push arrives.
    std::function<QString()> downloadPath;
    // Writes that folder into the settings when none is set, so the user finds it there.
    std::function<void()> storeDownloadPath;
    // Nickname, ID and the effective download folder of the active profile's settings.
    static PeerSettings fromProfile();
};

// The one peer file server of a running client: answers file requests and permission checks,
// queues accepted requests, pushes queued files back to their requesters and receives the
// files other peers push to this user.
class TMRFtpServer : public TFtpServer {
    Q_OBJECT
public:
    TMRFtpServer(TMRWantedList& wanted, PeerCatalog catalog, PeerSettings settings, int maxUploads,
                 QObject* parent = nullptr);
    ~TMRFtpServer() override;

    // Listens on a system-chosen port.
    bool start(const QHostAddress& address = QHostAddress::Any);
    TMRWaitingList& waitingList() { return m_waiting; }
    TMRWantedList& wantedList() { return m_wanted; }
    const PeerSettings& settings() const { return m_settings; }

    // Owner side: sends the raw abort bytes to the client pushing that entry and drops it.
    void AbortClientTransfer(qint32 entryId);
    // Downloader side: ends the incoming push of that download item.
    void AbortTransfer(qint32 downloadItemId);
    void SetWaitingListItemState(qint32 entryId, TTransferStatus status, TTransferError error);
    // Upload clients still pushing or negotiating.
    int uploadClientCount() const { return static_cast<int>(m_uploadClients.size()); }

protected:
    void TriggerAnswerSent(FtpCtrlSession& s, const QString& answer) override;
    bool TriggerValidatePut(FtpCtrlSession& s) override;
    void StorSessionConnected(FtpCtrlSession& s, int error) override;
    bool StoredWhole(FtpCtrlSession& s) override;
    void StorSessionClosed(FtpCtrlSession& s, int error) override;
    void StoredData(FtpCtrlSession& s, qint64 bytes) override;
    qint64 StoreRoom(FtpCtrlSession& s) override;

private:
    struct UploadClient {
        QPointer<TMRFtpClient> client;
        qint32 entryId;
    };

    void CommandREQF(FtpCtrlSession& s, const QByteArray& params, QString& answer);
    void CommandREQD(FtpCtrlSession& s, const QByteArray& params, QString& answer);
    void CommandCHKP(FtpCtrlSession& s, const QByteArray& params, QString& answer);
    RequestVerdict check(FtpCtrlSession& s, const QString& path) const;
    // Where a push for that download item is written; empty when it cannot be written safely.
    QString pushTarget(const TMRQueItem& item) const;

    void QueNotify(TMRQueItem& entry);
    void ClientRequestDone(TMRFtpClient* client, FtpRequest request, int error);
    void ClientProgress(TMRFtpClient* client, qint64 count);
    void ClientSessionClosed(TMRFtpClient* client, int error);
    void releaseClient(TMRFtpClient* client);
    qint32 entryOf(const TMRFtpClient* client) const;
    // The download item linked to a push session while it is transferring, else nullptr.
    TMRQueItem* transferringItem(const FtpCtrlSession& s) const;

    TMRWantedList& m_wanted;
    PeerCatalog m_catalog;
    PeerSettings m_settings;
    TMRWaitingList m_waiting;
    std::vector<UploadClient> m_uploadClients;
    int m_clientTimeoutMs = 60000;
};

}  // namespace mr
