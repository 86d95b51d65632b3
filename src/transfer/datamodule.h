#pragma once

#include "service/userlocation.h"
#include "transfer/peercatalog.h"

#include <QObject>
#include <QString>

#include <memory>

namespace mr {

// Shown, or printed, when the profile's data folder lacks one of its tables.
inline constexpr const char* kDataFilesMissingText = "Data files are missing! Please re-install";

class InfoSocket;
class DownloadStarter;
class TMRFtpServer;
class TMRQue;
class TMRWantedList;
class WantedStore;

// Owns the local database of the running profile, the info socket, the peer file server and
// the download queue. The service agent belongs to the session of each program, which hands
// the data module its look-up once it exists.
class TMRDataModule : public QObject {
    Q_OBJECT
public:
    enum class StartResult { Started, DataFilesMissing };

    explicit TMRDataModule(const QString& profileDirectory, QObject* parent = nullptr);
    ~TMRDataModule() override;

    // Connects the database, installs the tables into a profile that has no data folder at
    // all, refuses a damaged one, and makes sure the catalog's user-name index exists. With
    // peers on, it then opens the info socket and the peer file server on ports the system
    // chooses and creates the download queue with what the profile kept of it.
    StartResult create(bool peers = true);

    // Downloads start once the service can be asked where their owners are; an empty
    // look-up (the service's session is ending) stops starting them.
    void setLocator(UserLocator locate);

    // Null until create() has opened them.
    InfoSocket* infoSocket() const { return m_infoSocket.get(); }
    TMRFtpServer* fileServer() const { return m_fileServer.get(); }
    TMRWantedList* wantedList() const { return m_wanted.get(); }
    // The ports announced at sign-on; 0 when the socket is not listening.
    quint16 infoPort() const;
    quint16 fileServerPort() const;

    // The installer's job: creates the profile folder and any of the three tables that does
    // not exist yet. Existing files are never touched.
    static void install(const QString& profileDirectory);

    // Name of the first table file missing from a data folder, or empty when all are there.
    static QString firstMissingFile(const QString& dataDirectory);

    // Adds "inxUsername" to the catalog unless it is already there; failures are ignored.
    static void ensureUsernameIndex();

    QString dataDirectory() const { return m_dataDir; }

private:
    void openPeers();
    // Every completed item of the queue counts for its user in the credits table.
    void countCredits(TMRQue& queue, CreditDirection direction);

    QString m_profileDir;
    QString m_dataDir;
    // Destroyed in reverse order: downloads, then the server they use, then the queue.
    std::unique_ptr<InfoSocket> m_infoSocket;
    std::unique_ptr<TMRWantedList> m_wanted;
    std::unique_ptr<TMRFtpServer> m_fileServer;
    std::unique_ptr<DownloadStarter> m_downloads;
    std::unique_ptr<WantedStore> m_store;
};

}  // namespace mr
