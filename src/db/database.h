#pragma once

#include <QString>
#include <QStringList>

namespace mr::db {

// The name under which the client's database is connected.
inline constexpr char kDatabaseName[] = "moonrakeclient";

// Registry of database names, each bound to the directory that holds its table files.
// A table lives in its own SQLite file there ("files.dat" holds table files, and so on).
class Database {
public:
    Database() = delete;

    // Binds a name to a directory; connecting a known name again rebinds it. Thread-safe.
    static void connect(const QString& name, const QString& directory);
    // Unbinds the name once the journal folds under way have ended (db/journalfolder.h).
    static void disconnect(const QString& name);
    static bool isConnected(const QString& name);
    // The directory bound to the name; DbError when the name is not connected.
    static QString directory(const QString& name);

    // The table files, in the order start-up checks them.
    static QStringList tableFiles();
    // Creates the directory and each table file that is missing; existing files are never
    // touched. Throws DbError when a file cannot be created.
    static void createTables(const QString& directory);
    // Reads each table file through (SQLite's quick check): nothing when all are sound, else
    // one line for the first that is not, naming the file and what is wrong with it.
    static QString checkTables(const QString& directory);
};

}  // namespace mr::db
