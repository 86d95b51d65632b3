#pragma once

#include "transfer/queue.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace mr {

// The download queue kept in the profile, one SQLite file beside the tables, so that it outlives
// the program and survives a crash. Every change is written at once, each in a transaction of
// its own. The file holds the passwords of protected files, so only its owner may read it.
class WantedStore : public QObject {
    Q_OBJECT
public:
    // "queue.dat", in the profile's data folder.
    static QString fileName();

    explicit WantedStore(const QString& filePath, QObject* parent = nullptr);
    ~WantedStore() override;

    // Opens the file, creating it when absent; false (with a warning) when it cannot be used.
    bool open();

    // Puts the stored items into the list in their order (see TMRWantedList::Restore), an
    // unfinished one holding what its partial file in downloadFolder holds, and writes every
    // later change of the list.
    void attach(TMRWantedList& list, const QString& downloadFolder);

    // The items a profile's file holds, in queue order; none when there is no file, nothing
    // when it cannot be read.
    static std::optional<std::vector<TMRQueItem>> read(const QString& filePath);

private:
    void insert(const TMRQueItem& item);
    void update(const TMRQueItem& item);
    void remove(qint32 id);
    bool exec(const char* sql, const std::function<void(sqlite3_stmt*)>& bind = {});

    QString m_path;
    sqlite3* m_db = nullptr;
    // Queue item id -> row id.
    QHash<qint32, qint64> m_rows;
};

}  // namespace mr
