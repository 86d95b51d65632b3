#include "transfer/mrftpserver.h"

#include "core/profile.h"
#include "core/userinfo.h"
#include "transfer/mrftpclient.h"
#include "transfer/peerdialect.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>

namespace mr {

namespace {

bool isTransferring(TTransferStatus status) {
    return status == TTransferStatus::Transfering || status == TTransferStatus::Resuming;
}

// The owner's raw abort: "ABOR", LF, CR.
const QByteArray kRawAbort("ABOR\n\r", 6);
// A client that was told to stop gets this long to go quietly.
constexpr int kAbortGraceMs = 10000;

}  // namespace

PeerSettings PeerSettings::fromProfile() {
    PeerSettings s;
    s.nickname = [] { return UserInfo().nickname(); };
    s.userId = [] { return static_cast<qint32>(UserInfo().id()); };
    s.downloadPath = [] { return UserInfo().effectiveDownloadPath(); };
    s.storeDownloadPath = [] {
        if (UserInfo().downloadPath().isEmpty()) {
            UserInfo().setDownloadPath(DefaultDownloadPath());
        }
    };
    return s;
}

TMRFtpServer::TMRFtpServer(TMRWantedList& wanted, PeerCatalog catalog, PeerSettings settings,
                           int maxUploads, QObject* parent)
    : TFtpServer(parent),
      m_wanted(wanted),
      m_catalog(std::move(catalog)),
      m_settings(std::move(settings)),
      m_waiting(maxUploads, this) {
    using namespace std::placeholders;
    auto bind = [this](void (TMRFtpServer::*handler)(FtpCtrlSession&, const QByteArray&,
                                                     QString&)) -> Handler {
        return std::bind(handler, this, _1, _2, _3);
    };
    auto bindBase = [this](void (TFtpServer::*handler)(FtpCtrlSession&, const QByteArray&,
                                                       QString&)) -> Handler {
        return std::bind(handler, static_cast<TFtpServer*>(this), _1, _2, _3);
    };
    clearCommands();
    addCommand("PORT", bindBase(&TFtpServer::CommandPORT), true);
    addCommand("USER", bindBase(&TFtpServer::CommandUSER), false);
    addCommand("PASS", bindBase(&TFtpServer::CommandPASS), false);
    addCommand("QUIT", bindBase(&TFtpServer::CommandQUIT), false);
    addCommand("ABOR", bindBase(&TFtpServer::CommandABOR), false);
    addCommand("NOOP", bindBase(&TFtpServer::CommandNOOP), false);
    addCommand("REQF", bind(&TMRFtpServer::CommandREQF), true);
    addCommand("PUTBR", bindBase(&TFtpServer::CommandPUTBR), true);
    addCommand("TYPE", bindBase(&TFtpServer::CommandTYPE), true);
    addCommand("PASV", bindBase(&TFtpServer::CommandPASV), true);
    addCommand("REQD", bind(&TMRFtpServer::CommandREQD), true);
    addCommand("CHKP", bind(&TMRFtpServer::CommandCHKP), true);
    m_waiting.setNotify([this](TMRQueItem& entry) { QueNotify(entry); });
}

TMRFtpServer::~TMRFtpServer() {
    // The clients report into the waiting list, which goes first.
    for (UploadClient& u : m_uploadClients) {
        if (u.client) {
            u.client->disconnect(this);
            delete u.client;
        }
    }
    m_uploadClients.clear();
}

bool TMRFtpServer::start(const QHostAddress& address) {
    return TFtpServer::start(address, 0);
}

RequestVerdict TMRFtpServer::check(FtpCtrlSession& s, const QString& path) const {
    if (!m_catalog.check) {
        RequestVerdict none;
        none.Code = 5;
        return none;
    }
    return m_catalog.check(s.UserName, path, s.peerAddress(), s.PassWord);
}

void TMRFtpServer::CommandREQF(FtpCtrlSession& s, const QByteArray& params, QString& answer) {
    s.CmdType = FtpCmdType::None;
    const QString nickname = m_settings.nickname ? m_settings.nickname() : QString();
    const ReqfParse parsed = ParseReqfParameter(params, nickname);
    if (!parsed.params) {
        throw FtpCommandError(parsed.error);
    }
    const ReqfParams& p = *parsed.params;
    s.ReqPath = p.path;
    s.ReqResumeOffset = p.resumeOffset;
    s.ReqCallbackPort = p.callbackPort;
    s.ReqRequesterId = p.requesterId;
    s.ReqRequesterName = p.requesterName;
    const RequestVerdict verdict = check(s, p.path);
    s.CmdType = FtpCmdType::REQF;
    if (verdict.Code == 0) {
        s.Directory = verdict.LocalPath;
        s.FileName = p.path;
    }
    answer = QString::fromLatin1(FormatVerdict(verdict));
}

void TMRFtpServer::CommandCHKP(FtpCtrlSession& s, const QByteArray& params, QString& answer) {
    const RequestVerdict verdict = check(s, PathParameter(params));
    s.CmdType = FtpCmdType::CHKP;
    answer = QString::fromLatin1(FormatVerdict(verdict));
}

void TMRFtpServer::CommandREQD(FtpCtrlSession& s, const QByteArray& params, QString& answer) {
    s.CmdType = FtpCmdType::REQD;
    s.DataStream.clear();
    s.FilePath.clear();
    const QString path = PathParameter(params);
    const std::optional<QByteArray> listing =
        m_catalog.listing ? m_catalog.listing(s.UserName, path, s.PassWord) : std::nullopt;
    if (!listing || hasData(s)) {
        answer.clear();
        return;
    }
    s.DataStream = *listing;
    answer = QStringLiteral("150 Opening data connection for directory list.");
    startSendStream(s);
}

void TMRFtpServer::TriggerAnswerSent(FtpCtrlSession& s, const QString& answer) {
    const FtpCmdType type = s.CmdType;
    s.CmdType = FtpCmdType::None;
    if (type == FtpCmdType::REQF) {
        if (VerdictCode(answer.toLatin1()) != 0) {
            return;
        }
        // A request repeated while the first still waits (the requester may have restarted and
        // listen elsewhere now) takes that entry's place: it is pushed to where it now listens.
        const qint32 waiting =
            m_waiting.FindByStatus(s.UserName, s.ReqPath, TTransferStatus::LocalQueue);
        if (TMRQueItem* entry = waiting >= 0 ? m_waiting.find(waiting) : nullptr) {
            entry->Address = s.peerAddress();
            entry->Port = s.ReqCallbackPort;
            entry->ResumeOffset = s.ReqResumeOffset;
            entry->LoginName = s.ReqRequesterName;
            return;
        }
        const QFileInfo local(s.Directory);
        const qint64 size = local.isFile() ? local.size() : 0;
        m_waiting.Add(s.UserName, s.ReqRequesterId, s.ReqRequesterName, s.ReqResumeOffset, size,
                      s.ReqPath, s.peerAddress(), s.ReqCallbackPort);
    } else if (type == FtpCmdType::ABOR) {
        if (TMRQueItem* item = transferringItem(s)) {
            m_wanted.SetStatus(item->Id, TTransferStatus::Error, TTransferError::Aborted);
        }
    }
}

bool TMRFtpServer::TriggerValidatePut(FtpCtrlSession& s) {
    const qint32 id =
        m_wanted.FindByStatus(s.UserName, s.FileName, TTransferStatus::RemotelyQueued);
    if (id < 0) {
        return false;
    }
    // One push per item: a second session for the same item waits its turn.
    for (const FtpCtrlSession* other : sessions()) {
        if (other != &s && other->DownloadItemId == id && hasData(*other)) {
            return false;
        }
    }
    const TMRQueItem& item = *m_wanted.find(id);
    const QString target = pushTarget(item);
    // Appending anywhere but where the request said the partial file ends, to a file already
    // longer than the one announced, or into a file another push is writing, would make a
    // corrupt file look complete.
    const QFileInfo info(target);
    const bool refused =
        target.isEmpty() || (info.exists() ? info.size() : 0) != item.ResumeOffset ||
        (item.Size > 0 && item.ResumeOffset > item.Size) ||
        std::any_of(sessions().begin(), sessions().end(), [&](const FtpCtrlSession* other) {
            return other != &s && hasData(*other) && other->FilePath == target;
        });
    if (refused) {
        // The owner will not offer it again: an item left waiting would hold its slot for ever.
        m_wanted.SetStatus(id, TTransferStatus::Error, TTransferError::CannotSave);
        return false;
    }
    s.FilePath = target;
    s.DownloadItemId = id;
    return true;
}

QString TMRFtpServer::pushTarget(const TMRQueItem& item) const {
    // A plain file name directly inside the download folder, never a link.
    const QString downloads = m_settings.downloadPath ? m_settings.downloadPath() : QString();
    if (!IsSafeLocalFileName(item.LocalName) || downloads.isEmpty() || !QDir().mkpath(downloads)) {
        return {};
    }
    const QString folder = QFileInfo(downloads).canonicalFilePath();
    if (folder.isEmpty()) {
        return {};
    }
    const QString target = folder + QLatin1Char('/') + item.LocalName;
    const QFileInfo info(target);
    if (info.isSymLink() || (info.exists() && !info.isFile()) ||
        QFileInfo(info.absolutePath()).canonicalFilePath() != folder) {
        return {};
    }
    return target;
}

void TMRFtpServer::StorSessionConnected(FtpCtrlSession& s, int error) {
    const TMRQueItem* item = m_wanted.find(s.DownloadItemId);
    if (!item || item->Status != TTransferStatus::RemotelyQueued) {
        return;
    }
    if (error != 0) {
        m_wanted.SetStatus(item->Id, TTransferStatus::Error, TTransferError::Error);
        return;
    }
    m_wanted.SetTransferred(s.RestartPos, item->Id);
    m_wanted.SetStatus(
        item->Id, s.RestartPos == 0 ? TTransferStatus::Transfering : TTransferStatus::Resuming);
}

TMRQueItem* TMRFtpServer::transferringItem(const FtpCtrlSession& s) const {
    TMRQueItem* item = s.DownloadItemId >= 0 ? m_wanted.find(s.DownloadItemId) : nullptr;
    return item && isTransferring(item->Status) ? item : nullptr;
}

void TMRFtpServer::StoredData(FtpCtrlSession& s, qint64 bytes) {
    TMRQueItem* item = transferringItem(s);
    if (!item) {
        // The item ended meanwhile (aborted, cleared): nothing more is written for it.
        abortData(s, QStringLiteral("transfer aborted"));
        return;
    }
    m_wanted.SetTransferred(item->Transferred + bytes, item->Id);
}

qint64 TMRFtpServer::StoreRoom(FtpCtrlSession& s) {
    // An owner pushing past the size he announced would fill the disk. Without a size (none
    // announced, or a size past 2 GB that a 32-bit owner wrote as negative) there is no bound.
    const TMRQueItem* item = transferringItem(s);
    return item && item->Size > 0 ? std::max<qint64>(item->Size - item->Transferred, 0) : -1;
}

bool TMRFtpServer::StoredWhole(FtpCtrlSession& s) {
    // An orderly close before the announced size arrived is a broken push, not a complete file.
    const TMRQueItem* item = transferringItem(s);
    return !item || item->Size <= 0 || QFileInfo(s.FilePath).size() >= item->Size;
}

void TMRFtpServer::StorSessionClosed(FtpCtrlSession& s, int error) {
    TMRQueItem* item = transferringItem(s);
    if (!item) {
        return;
    }
    if (s.Aborting) {
        using Failure = FtpCtrlSession::StoreFailure;
        m_wanted.SetStatus(item->Id, TTransferStatus::Error,
                           s.StoreFailed == Failure::CannotWrite ? TTransferError::CannotSave
                           : s.StoreFailed == Failure::TooLong   ? TTransferError::Error
                                                                 : TTransferError::Aborted);
        return;
    }
    if (error != 0) {
        m_wanted.SetStatus(item->Id, TTransferStatus::Error, TTransferError::Error);
    } else {
        m_wanted.SetStatus(item->Id, TTransferStatus::Completed);
    }
}

void TMRFtpServer::AbortTransfer(qint32 downloadItemId) {
    for (FtpCtrlSession* s : sessions()) {
        if (s->DownloadItemId == downloadItemId && hasData(*s)) {
            abortData(*s, QStringLiteral("transfer aborted"));
            return;
        }
    }
}

void TMRFtpServer::SetWaitingListItemState(qint32 entryId, TTransferStatus status,
                                           TTransferError error) {
    m_waiting.SetStatus(entryId, status, error);
}

void TMRFtpServer::QueNotify(TMRQueItem& entry) {
    const qint32 id = entry.Id;
    m_waiting.SetStatus(id, TTransferStatus::Negotiating);
    const QString local = m_catalog.localPath ? m_catalog.localPath(entry.Path) : QString();
    if (local.isEmpty() || !QFileInfo(local).isFile()) {
        m_waiting.SetStatus(id, TTransferStatus::Error, TTransferError::FileNotFound);
        return;
    }
    auto* client = new TMRFtpClient(this);
    client->UserName = entry.LoginName;
    client->PassWord = QString::fromLatin1(kPushPassword);
    client->HostName = entry.Address;
    client->Port = QString::number(entry.Port);
    client->RestartOffset = entry.ResumeOffset;
    client->LocalFileName = local;
    client->HostFileName = entry.Path;
    client->UploadMode = true;
    client->ItemId = id;
    client->setTimeout(m_clientTimeoutMs);
    m_uploadClients.push_back({client, id});
    // Shown in the transfer window: the whole size, and what the requester already holds.
    m_waiting.SetSize(id, entry.Size);
    m_waiting.SetTransferred(entry.ResumeOffset, id);
    connect(client, &TFtpClient::requestDone, this,
            [this, client](FtpRequest r, int e) { ClientRequestDone(client, r, e); });
    connect(client, &TFtpClient::progress, this,
            [this, client](qint64 count) { ClientProgress(client, count); });
    connect(client, &TFtpClient::sessionClosed, this,
            [this, client](int e) { ClientSessionClosed(client, e); });
    client->OpenAsync();
}

qint32 TMRFtpServer::entryOf(const TMRFtpClient* client) const {
    for (const UploadClient& u : m_uploadClients) {
        if (u.client == client) {
            return u.entryId;
        }
    }
    return -1;
}

void TMRFtpServer::ClientRequestDone(TMRFtpClient* client, FtpRequest request, int error) {
    const qint32 id = entryOf(client);
    if (id < 0) {
        return;
    }
    if (request == FtpRequest::Open) {
        if (error != 0 || !client->UploadMode) {
            m_waiting.SetStatus(id, TTransferStatus::Error, TTransferError::UserOffline);
            releaseClient(client);
            return;
        }
        if (m_waiting.StatusOf(id) != static_cast<int>(TTransferStatus::Negotiating)) {
            releaseClient(client);  // kicked or cleared while connecting
            return;
        }
        m_waiting.SetStatus(id, client->RestartOffset > 0 ? TTransferStatus::Resuming
                                                          : TTransferStatus::Transfering);
        client->PutByRequestAsync();
    } else if (request == FtpRequest::PutByRequest) {
        if (error == 0) {
            if (m_waiting.StatusOf(id) != static_cast<int>(TTransferStatus::Error)) {
                m_waiting.SetStatus(id, TTransferStatus::Completed);
            }
        } else {
            m_waiting.SetStatus(id, TTransferStatus::Error,
                                error == 426 ? TTransferError::Aborted : TTransferError::Error);
        }
        releaseClient(client);
    }
}

void TMRFtpServer::ClientProgress(TMRFtpClient* client, qint64 count) {
    const qint32 id = entryOf(client);
    if (id >= 0) {
        m_waiting.SetTransferred(count, id);
    }
}

void TMRFtpServer::ClientSessionClosed(TMRFtpClient* client, int error) {
    const qint32 id = entryOf(client);
    if (id < 0) {
        return;
    }
    const TMRQueItem* entry = m_waiting.find(id);
    if (error != 0 && entry && isTransferring(entry->Status)) {
        m_waiting.SetStatus(id, TTransferStatus::Error, TTransferError::Error);
    }
    releaseClient(client);
}

void TMRFtpServer::releaseClient(TMRFtpClient* client) {
    m_uploadClients.erase(
        std::remove_if(m_uploadClients.begin(), m_uploadClients.end(),
                       [client](const UploadClient& u) { return u.client == client || !u.client; }),
        m_uploadClients.end());
    // Say goodbye when the connection still stands; the client goes once that is done.
    connect(client, &TFtpClient::sessionClosed, client, &QObject::deleteLater);
    connect(client, &TFtpClient::requestDone, client, [client](FtpRequest r, int) {
        if (r == FtpRequest::Quit) {
            client->deleteLater();
        }
    });
    QTimer::singleShot(kAbortGraceMs, client, &QObject::deleteLater);
    if (!client->connected() || !client->QuitAsync()) {
        client->closeNow();
        client->deleteLater();
    }
}

void TMRFtpServer::AbortClientTransfer(qint32 entryId) {
    for (auto it = m_uploadClients.begin(); it != m_uploadClients.end(); ++it) {
        if (it->entryId == entryId) {
            TMRFtpClient* client = it->client;
            m_uploadClients.erase(it);
            if (client) {
                client->disconnect(this);
                client->abortRaw(kRawAbort);
                connect(client, &TFtpClient::sessionClosed, client, &QObject::deleteLater);
                QTimer::singleShot(kAbortGraceMs, client, &QObject::deleteLater);
            }
            return;
        }
    }
}

}  // namespace mr
