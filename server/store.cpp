#include "store.h"

#include <QDir>
#include <QFile>

#include <sqlite3.h>

#include <algorithm>

namespace mr::server {

namespace {

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS accounts(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    nickname TEXT NOT NULL,
    nick_key TEXT NOT NULL UNIQUE,
    password TEXT NOT NULL,
    first_name TEXT NOT NULL DEFAULT '',
    last_name TEXT NOT NULL DEFAULT '',
    email TEXT NOT NULL DEFAULT '',
    country TEXT NOT NULL DEFAULT '',
    connection INTEGER NOT NULL DEFAULT 0,
    birth_date REAL NOT NULL DEFAULT 0,
    sex TEXT NOT NULL DEFAULT '',
    message TEXT NOT NULL DEFAULT '',
    languages TEXT NOT NULL DEFAULT '',
    homepage TEXT NOT NULL DEFAULT '',
    show_info INTEGER NOT NULL DEFAULT 1
);
CREATE TABLE IF NOT EXISTS catalog(
    owner INTEGER NOT NULL,
    folder BLOB NOT NULL,
    name BLOB NOT NULL,
    size INTEGER NOT NULL,
    date REAL NOT NULL,
    has_password INTEGER NOT NULL,
    description BLOB NOT NULL,
    PRIMARY KEY(owner, folder, name)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS contacts(
    owner INTEGER NOT NULL,
    contact INTEGER NOT NULL,
    PRIMARY KEY(owner, contact)
) WITHOUT ROWID;
)sql";

const char* const kAccountColumns =
    "id, nickname, password, first_name, last_name, email, country, connection, birth_date, "
    "sex, message, languages, homepage, show_info";

// One prepared statement, finalised when it goes out of scope.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (db && sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
            m_stmt = nullptr;
        }
    }
    Statement(sqlite3* db, const QByteArray& sql) : Statement(db, sql.constData()) {}
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_stmt != nullptr; }

    Statement& bind(int i, int v) {
        sqlite3_bind_int(m_stmt, i, v);
        return *this;
    }
    Statement& bind(int i, double v) {
        sqlite3_bind_double(m_stmt, i, v);
        return *this;
    }
    Statement& bind(int i, const QString& v) {
        const QByteArray utf8 = v.toUtf8();
        sqlite3_bind_text(m_stmt, i, utf8.constData(), static_cast<int>(utf8.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    // Raw bytes; an empty value is a zero-length blob, never NULL.
    Statement& bindBytes(int i, const QByteArray& v) {
        sqlite3_bind_blob(m_stmt, i, v.isEmpty() ? "" : v.constData(), static_cast<int>(v.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
    bool run() { return step() == SQLITE_DONE; }
    // Ready to run again with new values.
    void reset() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

    int integer(int col) const { return sqlite3_column_int(m_stmt, col); }
    double real(int col) const { return sqlite3_column_double(m_stmt, col); }
    QString text(int col) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, col));
        return p ? QString::fromUtf8(p, sqlite3_column_bytes(m_stmt, col)) : QString();
    }
    QByteArray bytes(int col) const {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(m_stmt, col));
        return p ? QByteArray(p, sqlite3_column_bytes(m_stmt, col)) : QByteArray();
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

Account readAccount(const Statement& s) {
    Account a;
    a.id = s.integer(0);
    a.nickname = s.text(1);
    a.password = s.text(2);
    a.firstName = s.text(3);
    a.lastName = s.text(4);
    a.email = s.text(5);
    a.country = s.text(6);
    a.connection = s.integer(7);
    a.birthDate = s.real(8);
    a.sex = s.text(9);
    a.message = s.text(10);
    a.languages = s.text(11);
    a.homepage = s.text(12);
    a.showInfo = s.integer(13) != 0;
    return a;
}

CatalogEntry readEntry(const Statement& s) {
    CatalogEntry e;
    e.owner = s.integer(0);
    e.folder = s.bytes(1);
    e.name = s.bytes(2);
    e.size = s.integer(3);
    e.date = s.real(4);
    e.hasPassword = s.integer(5) != 0;
    e.description = s.bytes(6);
    return e;
}

const char* const kEntryColumns = "owner, folder, name, size, date, has_password, description";

bool textFits(const std::optional<QString>& v, qsizetype limit) {
    return !v || v->toUtf8().size() <= limit;
}

}  // namespace

bool ProfileUpdate::withinLimits() const {
    for (const auto* v : {&firstName, &lastName, &email, &country, &sex, &languages, &homepage}) {
        if (!textFits(*v, kMaxProfileText)) {
            return false;
        }
    }
    return textFits(message, kMaxProfileMessage) && textFits(password, kMaxPasswordLength);
}

Store::~Store() {
    close();
}

bool Store::open(const QString& dataDir, QString* error) {
    close();
    const QString path = QDir(dataDir).filePath(fileName());
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        if (error) {
            *error = QStringLiteral("cannot open %1: %2")
                         .arg(path, QString::fromUtf8(sqlite3_errmsg(m_db)));
        }
        close();
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    // WAL with full syncs: a committed change survives a crash or a power cut.
    if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=FULL") || !exec(kSchema)) {
        if (error) {
            *error = QStringLiteral("cannot prepare %1: %2")
                         .arg(path, QString::fromUtf8(sqlite3_errmsg(m_db)));
        }
        close();
        return false;
    }
    return true;
}

void Store::close() {
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

bool Store::exec(const char* sql) const {
    return m_db && sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Store::begin() {
    return exec("BEGIN IMMEDIATE");
}

bool Store::commit() {
    if (exec("COMMIT")) {
        return true;
    }
    rollback();
    return false;
}

void Store::rollback() {
    exec("ROLLBACK");
}

int Store::createAccount(const QString& nickname, const QString& password) {
    // A refused insert would still use up an id.
    if (idOfNickname(nickname) != 0) {
        return 0;
    }
    Statement s(m_db, "INSERT OR IGNORE INTO accounts(nickname, nick_key, password) VALUES(?,?,?)");
    s.bind(1, nickname).bind(2, nickname.toCaseFolded()).bind(3, password);
    if (!s.run() || sqlite3_changes(m_db) != 1) {
        return 0;
    }
    return static_cast<int>(sqlite3_last_insert_rowid(m_db));
}

std::optional<Account> Store::account(int id) const {
    Statement s(m_db, QByteArray("SELECT ") + kAccountColumns + " FROM accounts WHERE id = ?");
    s.bind(1, id);
    if (s.step() != SQLITE_ROW) {
        return std::nullopt;
    }
    return readAccount(s);
}

bool Store::checkPassword(int id, const QString& password) const {
    const auto a = account(id);
    return a && a->password == password;
}

int Store::idOfNickname(const QString& nickname) const {
    Statement s(m_db, "SELECT id FROM accounts WHERE nick_key = ?");
    s.bind(1, nickname.toCaseFolded());
    return s.step() == SQLITE_ROW ? s.integer(0) : 0;
}

bool Store::updateProfile(int id, const ProfileUpdate& u) {
    // COALESCE keeps a column whose new value is NULL, that is, not given.
    Statement s(m_db,
                "UPDATE accounts SET password = COALESCE(?1, password), "
                "first_name = COALESCE(?2, first_name), last_name = COALESCE(?3, last_name), "
                "email = COALESCE(?4, email), country = COALESCE(?5, country), "
                "connection = COALESCE(?6, connection), birth_date = COALESCE(?7, birth_date), "
                "sex = COALESCE(?8, sex), message = COALESCE(?9, message), "
                "languages = COALESCE(?10, languages), homepage = COALESCE(?11, homepage), "
                "show_info = COALESCE(?12, show_info) WHERE id = ?13");
    int i = 1;
    for (const auto* v : {&u.password, &u.firstName, &u.lastName, &u.email, &u.country}) {
        if (*v) {
            s.bind(i, **v);
        }
        ++i;
    }
    if (u.connection) {
        s.bind(6, *u.connection);
    }
    if (u.birthDate) {
        s.bind(7, *u.birthDate);
    }
    i = 8;
    for (const auto* v : {&u.sex, &u.message, &u.languages, &u.homepage}) {
        if (*v) {
            s.bind(i, **v);
        }
        ++i;
    }
    if (u.showInfo) {
        s.bind(12, *u.showInfo ? 1 : 0);
    }
    s.bind(13, id);
    return s.run() && sqlite3_changes(m_db) == 1;
}

int Store::accountCount() const {
    Statement s(m_db, "SELECT count(*) FROM accounts");
    return s.step() == SQLITE_ROW ? s.integer(0) : 0;
}

void Store::forEachAccount(const std::function<bool(const Account&)>& visit) const {
    Statement s(m_db, QByteArray("SELECT ") + kAccountColumns + " FROM accounts ORDER BY nick_key");
    while (s.step() == SQLITE_ROW) {
        if (!visit(readAccount(s))) {
            return;
        }
    }
}

std::optional<ShareResult> Store::applyShareChanges(int owner, const QList<QByteArray>& removals,
                                                    const QList<CatalogEntry>& additions) {
    if (!begin()) {
        return std::nullopt;
    }
    ShareResult result;
    {
        Statement remove(m_db,
                         "DELETE FROM catalog WHERE owner = ?1 AND ((folder = ?2 AND name = ?3) "
                         "OR folder = ?4 OR substr(folder, 1, ?5) = ?6)");
        for (const QByteArray& path : removals) {
            const qsizetype slash = path.lastIndexOf('/');
            const QByteArray below = path + '/';
            remove.bind(1, owner)
                .bindBytes(2, slash < 0 ? QByteArray() : path.left(slash))
                .bindBytes(3, path.mid(slash + 1))
                .bindBytes(4, path)
                .bind(5, static_cast<int>(below.size()))
                .bindBytes(6, below);
            if (!remove.run()) {
                rollback();
                return std::nullopt;
            }
            result.removed += sqlite3_changes(m_db);
            remove.reset();
        }
    }
    {
        Statement add(m_db,
                      "INSERT OR REPLACE INTO catalog(owner, folder, name, size, date, "
                      "has_password, description) VALUES(?,?,?,?,?,?,?)");
        for (const CatalogEntry& e : additions) {
            add.bind(1, owner)
                .bindBytes(2, e.folder)
                .bindBytes(3, e.name)
                .bind(4, static_cast<int>(e.size))
                .bind(5, e.date)
                .bind(6, e.hasPassword ? 1 : 0)
                .bindBytes(7, e.description);
            if (!add.run()) {
                rollback();
                return std::nullopt;
            }
            ++result.added;
            add.reset();
        }
    }
    bool full = true;
    {
        Statement count(m_db, "SELECT count(*) FROM catalog WHERE owner = ?");
        count.bind(1, owner);
        full = count.step() != SQLITE_ROW || count.integer(0) > m_maxEntries;
    }
    if (full) {
        rollback();
        return std::nullopt;
    }
    if (!commit()) {
        return std::nullopt;
    }
    return result;
}

QList<CatalogEntry> Store::listFolder(int owner, const QByteArray& folder) const {
    Statement s(m_db, QByteArray("SELECT ") + kEntryColumns +
                          " FROM catalog WHERE owner = ? AND folder = ?");
    s.bind(1, owner).bindBytes(2, folder);
    QList<CatalogEntry> entries;
    while (s.step() == SQLITE_ROW) {
        entries.append(readEntry(s));
    }
    std::sort(entries.begin(), entries.end(), [](const CatalogEntry& a, const CatalogEntry& b) {
        if (a.isFolder() != b.isFolder()) {
            return a.isFolder();
        }
        const int byName =
            QString::fromUtf8(a.name).compare(QString::fromUtf8(b.name), Qt::CaseInsensitive);
        return byName != 0 ? byName < 0 : a.name < b.name;
    });
    return entries;
}

void Store::forEachEntry(std::optional<int> owner,
                         const std::function<bool(const CatalogEntry&)>& visit) const {
    Statement s(m_db, QByteArray("SELECT ") + kEntryColumns + " FROM catalog" +
                          (owner ? " WHERE owner = ?" : ""));
    if (owner) {
        s.bind(1, *owner);
    }
    while (s.step() == SQLITE_ROW) {
        if (!visit(readEntry(s))) {
            return;
        }
    }
}

int Store::fileCount(std::optional<int> owner) const {
    Statement s(m_db, owner ? "SELECT count(*) FROM catalog WHERE size <> -1 AND owner = ?"
                            : "SELECT count(*) FROM catalog WHERE size <> -1");
    if (owner) {
        s.bind(1, *owner);
    }
    return s.step() == SQLITE_ROW ? s.integer(0) : 0;
}

QList<int> Store::contacts(int owner) const {
    Statement s(m_db, "SELECT contact FROM contacts WHERE owner = ? ORDER BY contact");
    s.bind(1, owner);
    QList<int> ids;
    while (s.step() == SQLITE_ROW) {
        ids.append(s.integer(0));
    }
    return ids;
}

bool Store::addContact(int owner, int contact) {
    if (!begin()) {
        return false;
    }
    bool ok = false;
    {
        Statement add(m_db, "INSERT OR IGNORE INTO contacts(owner, contact) VALUES(?,?)");
        add.bind(1, owner).bind(2, contact);
        Statement count(m_db, "SELECT count(*) FROM contacts WHERE owner = ?");
        count.bind(1, owner);
        ok = add.run() && count.step() == SQLITE_ROW && count.integer(0) <= kMaxContactsPerUser;
    }
    if (!ok) {
        rollback();
        return false;
    }
    return commit();
}

bool Store::removeContact(int owner, int contact) {
    Statement s(m_db, "DELETE FROM contacts WHERE owner = ? AND contact = ?");
    s.bind(1, owner).bind(2, contact);
    return s.run();
}

}  // namespace mr::server
