#pragma once

#include <QObject>
#include <QString>

namespace mr {

// Shown, or printed, when the profile's data folder lacks one of its tables.
inline constexpr const char* kDataFilesMissingText = "Data files are missing! Please re-install";

// Owns the local database of the running profile. Its sockets, agent and queues join it as
// the parts that own them are built.
class TMRDataModule : public QObject {
    Q_OBJECT
public:
    enum class StartResult { Started, DataFilesMissing };

    explicit TMRDataModule(const QString& profileDirectory, QObject* parent = nullptr);
    ~TMRDataModule() override;

    // Connects the database, installs the tables into a profile that has no data folder at
    // all, refuses a damaged one, and makes sure the catalog's user-name index exists.
    StartResult create();

    // The installer's job: creates the profile folder and any of the three tables that does
    // not exist yet. Existing files are never touched.
    static void install(const QString& profileDirectory);

    // Name of the first table file missing from a data folder, or empty when all are there.
    static QString firstMissingFile(const QString& dataDirectory);

    // Adds "inxUsername" to the catalog unless it is already there; failures are ignored.
    static void ensureUsernameIndex();

    QString dataDirectory() const { return m_dataDir; }

private:
    QString m_profileDir;
    QString m_dataDir;
};

}  // namespace mr
