// Appending catalog rows through the cursor API against raw prepared SQLite INSERTs, both in one
// transaction on fresh table files.
//
//   bench_db [--rows N] [--runs N]

#include "benchutil.h"
#include "db/cursor.h"
#include "db/database.h"
#include "db/transaction.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <sqlite3.h>

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
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--rows"));
    const int rowCount = at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : 100'000;
    const std::vector<Row> rows = makeRows(rowCount);

    // Every run of either side appends to fresh, identically created files.
    QTemporaryDir root;
    QString dir;
    int made = 0;
    const auto fresh = [&] {
        dir = root.filePath(QString::number(made++));
        mr::db::Database::createTables(dir);
    };
    std::printf("%d rows appended in one transaction\n", rowCount);
    const auto ms = [](double seconds) { return seconds * 1000; };
    return mr::bench::alternate(
               {"cursor", "ms", false, "<=1.5"}, mr::bench::runsOption(args),
               [&] { return ms(viaRawSqlite(rows, dir + QStringLiteral("/files.dat"))); },
               [&] {
                   mr::db::Database::connect(QString::fromLatin1(mr::db::kDatabaseName), dir);
                   return ms(viaCursor(rows));
               },
               fresh)
               ? 0
               : 1;
}
