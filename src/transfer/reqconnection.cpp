#include "transfer/reqconnection.h"

#include "transfer/mrftpclient.h"
#include "transfer/peerdialect.h"

#include <QDir>
#include <QTimer>

namespace mr {

namespace {
constexpr int kDefaultTimeoutMs = 90000;
}

TMRReqConnection::TMRReqConnection(TMRWantedList& wanted, qint32 itemId, quint16 callbackPort,
                                   UserLocator locate, PeerSettings settings, QObject* parent)
    : QObject(parent),
      m_wanted(&wanted),
      m_itemId(itemId),
      m_callbackPort(callbackPort),
      m_locate(std::move(locate)),
      m_settings(std::move(settings)),
      m_timer(new QTimer(this)) {
    if (const TMRQueItem* item = wanted.find(itemId)) {
        m_ownerId = item->PeerId;
        m_path = item->Path;
        m_password = item->Password;
        m_localName = item->LocalName;
        m_requesterName = item->UserName;
    }
}

TMRReqConnection::TMRReqConnection(qint32 ownerId, const QString& path, const QString& password,
                                   UserLocator locate, PeerSettings settings, QObject* parent)
    : QObject(parent),
      m_ownerId(ownerId),
      m_path(path),
      m_password(password),
      m_checkOnly(true),
      m_locate(std::move(locate)),
      m_settings(std::move(settings)),
      m_timer(new QTimer(this)) {}

TMRReqConnection::~TMRReqConnection() = default;

TMRReqConnection* TMRReqConnection::checkPassword(qint32 ownerId, const QString& path,
                                                  const QString& password, UserLocator locate,
                                                  PeerSettings settings, QObject* parent) {
    auto* c = new TMRReqConnection(ownerId, path, password, std::move(locate), std::move(settings),
                                   parent);
    c->start();
    return c;
}

void TMRReqConnection::setTimeout(int ms) {
    m_timer->setInterval(ms);
    if (m_timer->isActive()) {
        m_timer->start();
    }
}

void TMRReqConnection::start() {
    if (m_timer->interval() == 0) {
        m_timer->setInterval(kDefaultTimeoutMs);
    }
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (m_fileRequestPending || m_client) {
            setItem(TTransferStatus::Error, TTransferError::Error);
            if (m_checkOnly) {
                emit passwordChecked(-1);
            }
            done();
        } else {
            unreachable();
        }
    });
    m_timer->start();
    QTimer::singleShot(0, this, &TMRReqConnection::locate);
}

void TMRReqConnection::locate() {
    if (m_checkOnly ? m_path.isEmpty() : (!m_wanted || !m_wanted->find(m_itemId))) {
        done();
        return;
    }
    const bool placed =
        m_locate && m_locate(this, m_ownerId,
                             [this](std::optional<UserLocation> location) { onLocated(location); });
    if (!placed) {
        unreachable();
    }
}

void TMRReqConnection::onLocated(const std::optional<UserLocation>& location) {
    if (m_done || m_client) {
        return;
    }
    if (!location || location->address.isEmpty() || location->fileServerPort == 0) {
        unreachable();
        return;
    }
    m_client = new TMRFtpClient(this);
    m_client->UserName = m_settings.nickname ? m_settings.nickname() : QString();
    m_client->PassWord = m_password.isEmpty() ? QString::fromLatin1(kNoFilePassword) : m_password;
    const auto [dir, file] = SplitSharePath(m_path);
    m_client->HostDirName = dir;
    m_client->HostFileName = file;
    const QString downloads = m_settings.downloadPath ? m_settings.downloadPath() : QString();
    if (!downloads.isEmpty() && IsSafeLocalFileName(m_localName)) {
        m_client->LocalFileName = QDir(downloads).filePath(m_localName);
    }
    m_client->HostName = location->address;
    m_client->Port = QString::number(location->fileServerPort);
    m_client->ItemId = m_itemId;
    connect(m_client, &TFtpClient::requestDone, this,
            [this](FtpRequest r, int e) { onRequestDone(static_cast<int>(r), e); });
    connect(m_client, &TFtpClient::response, this, &TMRReqConnection::onResponse);
    connect(m_client, &TFtpClient::sessionClosed, this, [this](int) {
        if (!m_fileRequestPending) {
            done();
        }
    });
    m_timer->start();
    m_client->OpenAsync();
}

void TMRReqConnection::onRequestDone(int request, int error) {
    m_timer->start();
    switch (static_cast<FtpRequest>(request)) {
        case FtpRequest::Open: {
            if (error != 0) {
                unreachable();
                return;
            }
            bool sent = false;
            if (m_checkOnly) {
                sent = m_client->CheckPassword();
            } else {
                const qint32 id = m_settings.userId ? m_settings.userId() : 0;
                sent = m_client->RequestFileAsync(m_callbackPort, id, m_requesterName);
                // The push must append where this request says the partial file ends.
                TMRQueItem* item = sent && m_wanted ? m_wanted->find(m_itemId) : nullptr;
                if (item) {
                    item->ResumeOffset = m_client->RestartOffset;
                }
            }
            if (!sent) {
                // A path without folder or file name: nothing can be asked for.
                setItem(TTransferStatus::Error, TTransferError::Error);
                if (m_checkOnly) {
                    emit passwordChecked(-1);
                }
                quit();
                return;
            }
            m_fileRequestPending = true;
            break;
        }
        case FtpRequest::Custom: {
            m_fileRequestPending = false;
            const std::optional<int> code =
                error == 0 ? VerdictCode(m_client->lastResponse()) : std::nullopt;
            const bool verdict = code && *code >= 0 && *code <= 6;
            if (m_checkOnly) {
                emit passwordChecked(verdict ? *code : -1);
            } else if (verdict) {
                const auto [status, err] = VerdictState(*code);
                setItem(status, err);
            } else {
                setItem(TTransferStatus::Error, TTransferError::Error);
            }
            quit();
            break;
        }
        case FtpRequest::Quit:
            done();
            break;
        default:
            break;
    }
}

void TMRReqConnection::onResponse(const QByteArray& line) {
    if (!m_fileRequestPending || m_checkOnly || !m_wanted) {
        return;
    }
    const TMRQueItem* item = m_wanted->find(m_itemId);
    if (!item || item->Status != TTransferStatus::Negotiating) {
        return;
    }
    if (const std::optional<qint64> size = VerdictSize(line)) {
        m_wanted->SetSize(m_itemId, *size);
    }
}

void TMRReqConnection::unreachable() {
    if (m_done) {
        return;
    }
    if (m_checkOnly) {
        emit checkFailed(QStringLiteral("User is offline"));
    } else {
        setItem(TTransferStatus::Error, TTransferError::UserOffline);
    }
    done();
}

void TMRReqConnection::setItem(TTransferStatus status, TTransferError error) {
    if (m_checkOnly || !m_wanted) {
        return;
    }
    if (m_wanted->StatusOf(m_itemId) == static_cast<int>(TTransferStatus::Negotiating)) {
        m_wanted->SetStatus(m_itemId, status, error);
    }
}

void TMRReqConnection::quit() {
    if (m_client && m_client->connected() && m_client->QuitAsync()) {
        return;
    }
    done();
}

void TMRReqConnection::done() {
    if (m_done) {
        return;
    }
    m_done = true;
    m_timer->stop();
    if (m_client) {
        m_client->disconnect(this);
        m_client->closeNow();
    }
    emit finished();
    deleteLater();
}

}  // namespace mr
