#include "transfer/datamodule.h"

#include "core/profile.h"
#include "core/userinfo.h"
#include "db/cursor.h"
#include "db/database.h"
#include "db/dberror.h"
#include "messaging/infosocket.h"
#include "transfer/downloads.h"
#include "transfer/mrftpserver.h"
#include "transfer/peercatalog.h"
#include "transfer/queue.h"
#include "transfer/wantedstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace mr {

TMRDataModule::TMRDataModule(const QString& profileDirectory, QObject* parent)
    : QObject(parent),
      m_profileDir(profileDirectory),
      m_dataDir(profileDirectory + QStringLiteral("/data")) {
    // What an interrupted update may have left behind.
    QFile::remove(m_profileDir + QStringLiteral("/update.exe"));
}

TMRDataModule::~TMRDataModule() {
    m_downloads.reset();
    m_fileServer.reset();
    m_store.reset();
    m_wanted.reset();
    m_infoSocket.reset();
}

void TMRDataModule::install(const QString& profileDirectory) {
    QDir().mkpath(profileDirectory);
    db::Database::createTables(profileDirectory + QStringLiteral("/data"));
}

QString TMRDataModule::firstMissingFile(const QString& dataDirectory) {
    for (const QString& file : db::Database::tableFiles()) {
        if (!QFileInfo::exists(dataDirectory + QLatin1Char('/') + file)) {
            return file;
        }
    }
    return {};
}

TMRDataModule::StartResult TMRDataModule::create(bool peers) {
    if (!QFileInfo(m_dataDir).isDir()) {
        install(m_profileDir);
    }
    if (!firstMissingFile(m_dataDir).isEmpty()) {
        return StartResult::DataFilesMissing;
    }
    db::Database::connect(QString::fromLatin1(db::kDatabaseName), m_dataDir);
    ensureUsernameIndex();
    if (peers) {
        openPeers();
    }
    return StartResult::Started;
}

void TMRDataModule::openPeers() {
    m_infoSocket = std::make_unique<InfoSocket>();
    m_infoSocket->open();
    m_wanted = std::make_unique<TMRWantedList>(UserInfo().maxDownloads());
    m_wanted->setRetryPolicy([] {
        const TUserInfo& settings = UserInfo();
        return TMRWantedList::RetryPolicy{settings.retrySeconds() * 1000LL,
                                          settings.retryMaxSeconds() * 1000LL};
    });
    // Without its file the queue still works, for this run only.
    m_store = std::make_unique<WantedStore>(m_dataDir + QLatin1Char('/') + WantedStore::fileName());
    if (m_store->open()) {
        m_store->attach(*m_wanted, UserInfo().effectiveDownloadPath());
    }
    // Peers are served from socket events: an engine error (a damaged or busy table) answers
    // as for an unknown file instead of leaving the event handler.
    PeerCatalog catalog;
    catalog.check = [](const QString& user, const QString& path, const QString& address,
                       const QString& password) {
        try {
            return FileRequestCheck(user, path, address, password);
        } catch (const std::exception& e) {
            qWarning("file request check of %s failed: %s", qPrintable(path), e.what());
            RequestVerdict notFound;
            notFound.Code = 5;
            return notFound;
        }
    };
    catalog.localPath = [](const QString& path) {
        try {
            return LocalPathOfShare(path);
        } catch (const std::exception& e) {
            qWarning("local file of %s not read: %s", qPrintable(path), e.what());
            return QString();
        }
    };
    catalog.listing = [](const QString& userName, const QString& path,
                         const QString& password) -> std::optional<QByteArray> {
        try {
            return FolderListing(userName, path, password);
        } catch (const std::exception& e) {
            qWarning("listing of %s not built: %s", qPrintable(path), e.what());
            return std::nullopt;
        }
    };
    m_fileServer = std::make_unique<TMRFtpServer>(
        *m_wanted, std::move(catalog), PeerSettings::fromProfile(), UserInfo().maxUploads());
    m_fileServer->start();
    countCredits(*m_wanted, CreditDirection::GaveUs);
    countCredits(m_fileServer->waitingList(), CreditDirection::TookFromUs);
}

void TMRDataModule::countCredits(TMRQue& queue, CreditDirection direction) {
    connect(&queue, &TMRQue::statusChanged, this, [direction](TMRQueItem* item, TTransferStatus) {
        if (item->Status != TTransferStatus::Completed) {
            return;
        }
        try {
            CountTransfer(item->UserName, item->Size, direction);
        } catch (const std::exception& e) {
            qWarning("transfer of %s not counted: %s", qPrintable(item->Path), e.what());
        }
    });
}

void TMRDataModule::setLocator(UserLocator locate) {
    if (!m_wanted || !m_fileServer) {
        return;
    }
    m_downloads.reset();
    if (!locate) {
        return;
    }
    m_downloads = std::make_unique<DownloadStarter>(*m_wanted, *m_fileServer, std::move(locate),
                                                    PeerSettings::fromProfile());
}

quint16 TMRDataModule::infoPort() const {
    return m_infoSocket ? m_infoSocket->port() : 0;
}

quint16 TMRDataModule::fileServerPort() const {
    return m_fileServer ? m_fileServer->port() : 0;
}

void TMRDataModule::ensureUsernameIndex() {
    try {
        db::Cursor files(QString::fromLatin1(db::kDatabaseName), QStringLiteral("files"),
                         db::OpenMode::Exclusive);
        if (!files.indexNames().contains(QStringLiteral("inxUsername"), Qt::CaseInsensitive)) {
            files.addIndex(QStringLiteral("inxUsername"), {QStringLiteral("Username")}, true);
        }
    } catch (const db::DbError&) {
        // The catalog works without the index, only slower.
    }
}

}  // namespace mr
