// Appending catalog rows through the cursor API against raw prepared SQLite INSERTs, both in one
// transaction on fresh table files. Prints both timings and the ratio cursor/raw.
//
// Usage: bench_db [rows] [repetitions]

#include "db/cursor.h"
#include "db/database.h"
#include "db/transaction.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// One share-operation row; folders start a new album that the following files belong to.
struct Row {
    bool folder;
    QString name;
    QString fileName;
    qint64 fileSize;
    double fileDate;
    QString media;
};

std::vector<Row> makeRows(int count) {
    std::vector<Row> rows;
    rows.reserve(count);
    int album = 0;
    for (int i = 0; i < count; ++i) {
        if (i % 50 == 0) {
            ++album;
            rows.push_back({true, QStringLiteral("Album %1").arg(album),
                            QStringLiteral("/home/user/Music/Album %1").arg(album), -1,
                            45000.0 + album, QString()});
        } else {
            rows.push_back({false,
                            QStringLiteral("Track %1 - Song title %2.mp3").arg(i % 50).arg(i),
                            QStringLiteral("/home/user/Music/Album %1/Track %2 - Song title %3.mp3")
                                .arg(album)
                                .arg(i % 50)
                                .arg(i),
                            3'000'000 + (i * 7919) % 5'000'000, 45000.0 + i / 1440.0,
                            QStringLiteral("audio/mpeg")});
        }
    }
    return rows;
}

double viaCursor(const std::vector<Row>& rows) {
    const auto start = Clock::now();
    mr::db::Cursor files(QString::fromLatin1(mr::db::kDatabaseName), QStringLiteral("files"),
                         mr::db::OpenMode::Exclusive);
    mr::db::Transaction transaction(files);
    qint64 parent = -1;
    for (const Row& row : rows) {
        files.append();
        files.setString("Username", QString());
        files.setInteger("ParentId", row.folder ? -1 : parent);
        files.setString("Name", row.name);
        files.setString("FileName", row.fileName);
        files.setInteger("Attributes", row.folder ? 1 : 0);
        files.setInteger("FileSize", row.fileSize);
        files.setDateTime("FileDate", row.fileDate);
        files.setString("Media", row.media);
        files.setString("Password", QString());
        files.setString("Action", QStringLiteral("A"));
        files.post();
        if (row.folder)
            parent = files.asInteger("id");
    }
    transaction.commit();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void check(int rc, sqlite3* db) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
}

void bindText(sqlite3_stmt* statement, int index, const QString& text) {
    sqlite3_bind_text16(statement, index,
                        text.isEmpty() ? static_cast<const void*>(u"") : text.constData(),
                        int(text.size() * sizeof(QChar)), SQLITE_STATIC);
}

double viaRawSqlite(const std::vector<Row>& rows, const QString& path) {
    const auto start = Clock::now();
    sqlite3* db = nullptr;
    check(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr),
          db);
    check(sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr), db);
    sqlite3_stmt* insert = nullptr;
    check(sqlite3_prepare_v2(db,
                             "INSERT INTO files (Username, ParentId, Name, FileName, Attributes, "
                             "FileSize, FileDate, Media, Password, Action) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                             -1, &insert, nullptr),
          db);
    check(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), db);
    const QString empty;
    const QString added = QStringLiteral("A");
    qint64 parent = -1;
    for (const Row& row : rows) {
        bindText(insert, 1, empty);
        sqlite3_bind_int64(insert, 2, row.folder ? -1 : parent);
        bindText(insert, 3, row.name);
        bindText(insert, 4, row.fileName);
        sqlite3_bind_int64(insert, 5, row.folder ? 1 : 0);
        sqlite3_bind_int64(insert, 6, row.fileSize);
        sqlite3_bind_double(insert, 7, row.fileDate);
        bindText(insert, 8, row.media);
        bindText(insert, 9, empty);
        bindText(insert, 10, added);
        check(sqlite3_step(insert), db);
        sqlite3_reset(insert);
        if (row.folder)
            parent = sqlite3_last_insert_rowid(db);
    }
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rowCount = argc > 1 ? std::atoi(argv[1]) : 100'000;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::vector<Row> rows = makeRows(rowCount);

    QTemporaryDir root;
    double bestCursor = 1e9;
    double bestRaw = 1e9;
    for (int run = 0; run < repetitions; ++run) {
        // Fresh, identically created files for every run of either side.
        const QString cursorDir = root.filePath(QStringLiteral("cursor%1").arg(run));
        const QString rawDir = root.filePath(QStringLiteral("raw%1").arg(run));
        mr::db::Database::createTables(cursorDir);
        mr::db::Database::createTables(rawDir);
        mr::db::Database::connect(QString::fromLatin1(mr::db::kDatabaseName), cursorDir);
        bestRaw = std::min(bestRaw, viaRawSqlite(rows, rawDir + QStringLiteral("/files.dat")));
        bestCursor = std::min(bestCursor, viaCursor(rows));
    }
    std::printf("rows: %d, best of %d runs\n", rowCount, repetitions);
    std::printf("cursor append/post: %8.1f ms\n", bestCursor * 1000);
    std::printf("raw sqlite3 insert: %8.1f ms\n", bestRaw * 1000);
    std::printf("ratio cursor/raw:   %8.2f\n", bestCursor / bestRaw);
    return 0;
}
