#include "transfer/wantedstore.h"

#include "transfer/peerdialect.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

namespace mr {

namespace {

constexpr char kCreate[] =
    "create table if not exists queue (Id integer primary key, PeerId integer not null, "
    "UserName text not null, Path text not null, Password text not null, "
    "LocalName text not null, Size integer not null, Transferred integer not null, "
    "Status integer not null, Error integer not null)";
constexpr char kSelect[] =
    "select Id, PeerId, UserName, Path, Password, LocalName, Size, Transferred, Status, Error "
    "from queue order by Id";

void bindText(sqlite3_stmt* st, int column, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(st, column, utf8.constData(), static_cast<int>(utf8.size()),
                      SQLITE_TRANSIENT);
}

QString columnText(sqlite3_stmt* st, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(st, column));
}

// Values outside the enumerations read as an error that is tried again, never as a new state.
TMRQueItem rowItem(sqlite3_stmt* st) {
    TMRQueItem item;
    item.PeerId = sqlite3_column_int(st, 1);
    item.UserName = columnText(st, 2);
    item.Path = columnText(st, 3);
    item.Password = columnText(st, 4);
    item.LocalName = columnText(st, 5);
    item.Size = std::max<qint64>(0, sqlite3_column_int64(st, 6));
    item.Transferred = std::max<qint64>(0, sqlite3_column_int64(st, 7));
    const int status = sqlite3_column_int(st, 8);
    const int error = sqlite3_column_int(st, 9);
    item.Status = status >= 0 && status <= static_cast<int>(TTransferStatus::Error)
                      ? static_cast<TTransferStatus>(status)
                      : TTransferStatus::LocalQueue;
    item.Error = error >= 0 && error <= static_cast<int>(TTransferError::CannotSave)
                     ? static_cast<TTransferError>(error)
                     : TTransferError::Error;
    return item;
}

// Created owner-only before SQLite sees it; SQLite gives its journal the same mode.
bool ownerOnly(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

}  // namespace

QString WantedStore::fileName() {
    return QStringLiteral("queue.dat");
}

WantedStore::WantedStore(const QString& filePath, QObject* parent)
    : QObject(parent), m_path(filePath) {}

WantedStore::~WantedStore() {
    if (m_db) {
        sqlite3_close(m_db);
    }
}

bool WantedStore::exec(const char* sql, const std::function<void(sqlite3_stmt*)>& bind) {
    sqlite3_stmt* st = nullptr;
    if (!m_db || sqlite3_prepare_v2(m_db, sql, -1, &st, nullptr) != SQLITE_OK) {
        qWarning("download queue: %s", m_db ? sqlite3_errmsg(m_db) : "not open");
        return false;
    }
    if (bind) {
        bind(st);
    }
    const int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        qWarning("download queue not written: %s", sqlite3_errmsg(m_db));
        return false;
    }
    return true;
}

bool WantedStore::open() {
    if (!ownerOnly(m_path) || sqlite3_open_v2(QFile::encodeName(m_path).constData(), &m_db,
                                              SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        qWarning("download queue %s cannot be opened", qPrintable(m_path));
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    // Full sync: a committed change survives a power cut, not only a crash.
    return exec("pragma synchronous = full") && exec(kCreate);
}

std::optional<std::vector<TMRQueItem>> WantedStore::read(const QString& filePath) {
    std::vector<TMRQueItem> items;
    if (!QFileInfo::exists(filePath)) {
        return items;
    }
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    bool ok = sqlite3_open_v2(QFile::encodeName(filePath).constData(), &db, SQLITE_OPEN_READONLY,
                              nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_busy_timeout(db, 5000);
        ok = sqlite3_prepare_v2(db, kSelect, -1, &st, nullptr) == SQLITE_OK;
    }
    int rc = SQLITE_DONE;
    while (ok && (rc = sqlite3_step(st)) == SQLITE_ROW) {
        items.push_back(rowItem(st));
    }
    ok = ok && rc == SQLITE_DONE;
    sqlite3_finalize(st);
    sqlite3_close(db);
    if (!ok) {
        return std::nullopt;
    }
    return items;
}

void WantedStore::attach(TMRWantedList& list, const QString& downloadFolder) {
    struct Row {
        qint64 id;
        TMRQueItem item;
    };
    std::vector<Row> rows;
    sqlite3_stmt* st = nullptr;
    if (m_db && sqlite3_prepare_v2(m_db, kSelect, -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            rows.push_back({sqlite3_column_int64(st, 0), rowItem(st)});
        }
    }
    sqlite3_finalize(st);

    exec("begin immediate");
    for (const Row& row : rows) {
        TMRQueItem& item = list.Restore(row.item);
        m_rows.insert(item.Id, row.id);
        if (item.Status == TTransferStatus::LocalQueue && IsSafeLocalFileName(item.LocalName)) {
            const QFileInfo partial(downloadFolder + QLatin1Char('/') + item.LocalName);
            item.Transferred = partial.isFile() ? partial.size() : 0;
        }
        update(item);
    }
    exec("commit");

    connect(&list, &TMRQue::itemAdded, this, [this](TMRQueItem* item) { insert(*item); });
    connect(&list, &TMRQue::statusChanged, this,
            [this](TMRQueItem* item, TTransferStatus) { update(*item); });
    connect(&list, &TMRQue::sizeChanged, this, [this, &list](qint32 id, qint64) {
        if (const TMRQueItem* item = list.find(id)) {
            update(*item);
        }
    });
    connect(&list, &TMRQue::itemRemoved, this, [this](int, qint32 id) { remove(id); });
}

void WantedStore::insert(const TMRQueItem& item) {
    const bool done = exec(
        "insert into queue (PeerId, UserName, Path, Password, LocalName, Size, Transferred, "
        "Status, Error) values (?, ?, ?, ?, ?, ?, ?, ?, ?)",
        [&item](sqlite3_stmt* st) {
            sqlite3_bind_int(st, 1, item.PeerId);
            bindText(st, 2, item.UserName);
            bindText(st, 3, item.Path);
            bindText(st, 4, item.Password);
            bindText(st, 5, item.LocalName);
            sqlite3_bind_int64(st, 6, item.Size);
            sqlite3_bind_int64(st, 7, item.Transferred);
            sqlite3_bind_int(st, 8, static_cast<int>(item.Status));
            sqlite3_bind_int(st, 9, static_cast<int>(item.Error));
        });
    if (done) {
        m_rows.insert(item.Id, sqlite3_last_insert_rowid(m_db));
    }
}

void WantedStore::update(const TMRQueItem& item) {
    const auto row = m_rows.constFind(item.Id);
    if (row == m_rows.constEnd()) {
        return;
    }
    const qint64 rowId = *row;
    exec(
        "update queue set Password = ?, Size = ?, Transferred = ?, Status = ?, Error = ? "
        "where Id = ?",
        [&item, rowId](sqlite3_stmt* st) {
            bindText(st, 1, item.Password);
            sqlite3_bind_int64(st, 2, item.Size);
            sqlite3_bind_int64(st, 3, item.Transferred);
            sqlite3_bind_int(st, 4, static_cast<int>(item.Status));
            sqlite3_bind_int(st, 5, static_cast<int>(item.Error));
            sqlite3_bind_int64(st, 6, rowId);
        });
}

void WantedStore::remove(qint32 id) {
    const qint64 rowId = m_rows.take(id);
    if (rowId > 0) {
        exec("delete from queue where Id = ?",
             [rowId](sqlite3_stmt* st) { sqlite3_bind_int64(st, 1, rowId); });
    }
}

}  // namespace mr
