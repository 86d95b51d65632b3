#include "store.h"

#include "patterns.h"

#include <QDir>
#include <QFile>

#include <sqlite3.h>

#include <algorithm>

namespace mr::server {

namespace {

const char* const kAccountsAndContacts = R"sql(
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
CREATE TABLE IF NOT EXISTS contacts(
    owner INTEGER NOT NULL,
    contact INTEGER NOT NULL,
    PRIMARY KEY(owner, contact)
) WITHOUT ROWID;
)sql";

// An entry's id is its owner's id in the high 32 bits and a number of its own below, so that
// id order is owner order and the text index can be read from one member on.
const char* const kCatalog = R"sql(
CREATE TABLE IF NOT EXISTS catalog(
    id INTEGER PRIMARY KEY,
    owner INTEGER NOT NULL,
    folder BLOB NOT NULL,
    name BLOB NOT NULL,
    size INTEGER NOT NULL,
    date REAL NOT NULL,
    has_password INTEGER NOT NULL,
    description BLOB NOT NULL,
    UNIQUE(owner, folder, name)
);
)sql";

// The name and description of each entry, folded as LIKE patterns fold them; the entry's id is the
// row id. Trigrams answer any run of three or more characters.
const char* const kCatalogText = R"sql(
CREATE VIRTUAL TABLE IF NOT EXISTS catalog_text USING fts5(
    name, description, tokenize = 'trigram case_sensitive 1', columnsize = 0
);
)sql";

// Each member's published files, folders not counted, kept with every change of his catalog
// so that the counts the contacts poll reports cost no scan.
const char* const kCatalogFiles = R"sql(
CREATE TABLE IF NOT EXISTS catalog_files(
    owner INTEGER PRIMARY KEY,
    files INTEGER NOT NULL
);
)sql";

// The first layout keyed the catalog by path alone; its entries are numbered in path order.
const char* const kNumberEntries = R"sql(
INSERT INTO catalog(id, owner, folder, name, size, date, has_password, description)
    SELECT (owner << 32) + row_number() OVER (PARTITION BY owner ORDER BY folder, name),
           owner, folder, name, size, date, has_password, description
    FROM catalog_paths;
DROP TABLE catalog_paths;
)sql";

constexpr int kIdBits = 32;

std::int64_t firstId(int owner) {
    return static_cast<std::int64_t>(owner) << kIdBits;
}

int ownerOfId(std::int64_t id) {
    return static_cast<int>(id >> kIdBits);
}

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
    // One of the connection's prepared statements, left ready for its next use.
    explicit Statement(sqlite3_stmt* prepared) : m_stmt(prepared), m_borrowed(true) {}
    ~Statement() {
        if (m_borrowed) {
            reset();
        } else {
            sqlite3_finalize(m_stmt);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_stmt != nullptr; }

    Statement& bind(int i, int v) {
        sqlite3_bind_int(m_stmt, i, v);
        return *this;
    }
    Statement& bind(int i, std::int64_t v) {
        sqlite3_bind_int64(m_stmt, i, v);
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
        // Clearing the bindings of a statement that failed to prepare would crash.
        if (m_stmt) {
            sqlite3_reset(m_stmt);
            sqlite3_clear_bindings(m_stmt);
        }
    }

    int integer(int col) const { return sqlite3_column_int(m_stmt, col); }
    std::int64_t int64(int col) const { return sqlite3_column_int64(m_stmt, col); }
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
    bool m_borrowed = false;
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

// The entry whose columns, in kEntryColumns order, start at column first.
CatalogEntry readEntry(const Statement& s, int first = 0) {
    CatalogEntry e;
    e.owner = s.integer(first);
    e.folder = s.bytes(first + 1);
    e.name = s.bytes(first + 2);
    e.size = s.integer(first + 3);
    e.date = s.real(first + 4);
    e.hasPassword = s.integer(first + 5) != 0;
    e.description = s.bytes(first + 6);
    return e;
}

const char* const kEntryColumns = "owner, folder, name, size, date, has_password, description";

// Keeps catalog_text in step with the catalog, inside the catalog's transaction.
class TextIndexer {
public:
    explicit TextIndexer(sqlite3* db)
        : m_add(db, "INSERT INTO catalog_text(rowid, name, description) VALUES(?,?,?)"),
          m_describe(db, "UPDATE catalog_text SET description = ? WHERE rowid = ?"),
          m_remove(db, "DELETE FROM catalog_text WHERE rowid = ?") {}

    bool add(std::int64_t id, const QByteArray& name, const QByteArray& description) {
        m_add.bind(1, id).bind(2, folded(name)).bind(3, folded(description));
        return done(m_add);
    }
    bool describe(std::int64_t id, const QByteArray& description) {
        m_describe.bind(1, folded(description)).bind(2, id);
        return done(m_describe);
    }
    bool remove(std::int64_t id) {
        m_remove.bind(1, id);
        return done(m_remove);
    }

private:
    static QString folded(const QByteArray& text) { return likeFold(QString::fromUtf8(text)); }
    static bool done(Statement& s) {
        const bool ok = s.run();
        s.reset();
        return ok;
    }

    Statement m_add;
    Statement m_describe;
    Statement m_remove;
};

// The runs of three or more characters between the wildcards of a folded pattern, as a
// full-text query on one column; every entry the pattern matches holds each run.
QByteArray indexQuery(const char* column, const QString& foldedPattern) {
    QByteArray query;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= foldedPattern.size(); ++i) {
        if (i < foldedPattern.size() && foldedPattern[i] != u'%' && foldedPattern[i] != u'_') {
            continue;
        }
        const QString run = foldedPattern.mid(from, i - from);
        from = i + 1;
        // Trigrams count code points; a shorter run would find nothing at all.
        if (run.toUcs4().size() < 3) {
            continue;
        }
        if (!query.isEmpty()) {
            query += " AND ";
        }
        query += column;
        query += " : \"" + run.toUtf8().replace('"', "\"\"") + '"';
    }
    return query;
}

// A query made ready to test many entries.
class EntryFilter {
public:
    explicit EntryFilter(const CatalogQuery& q)
        : m_query(q), m_name(q.name), m_description(q.description), m_extensions(q.extensions) {}

    bool accepts(const CatalogEntry& e) const {
        if (m_query.hasSizeRange() && (e.isFolder() || e.size < m_query.minSize ||
                                       (m_query.maxSize > 0 && e.size > m_query.maxSize))) {
            return false;
        }
        const QString name = QString::fromUtf8(e.name);
        return m_name.matches(name) && m_description.matches(QString::fromUtf8(e.description)) &&
               m_extensions.matches(name);
    }

private:
    const CatalogQuery& m_query;
    LikePattern m_name;
    LikePattern m_description;
    ExtensionList m_extensions;
};

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

bool Store::open(const QString& dataDir, QString* error, Access access) {
    close();
    const QString path = QDir(dataDir).filePath(fileName());
    const int flags = access == Access::ReadOnly ? SQLITE_OPEN_READONLY
                                                 : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        if (error) {
            *error = QStringLiteral("cannot open %1: %2")
                         .arg(path, QString::fromUtf8(sqlite3_errmsg(m_db)));
        }
        close();
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    // WAL with full syncs: a committed change survives a crash or a power cut, and readers
    // never wait for the writer.
    if (access == Access::ReadWrite &&
        (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=FULL") || !upgrade())) {
        if (error) {
            *error = QStringLiteral("cannot prepare %1: %2")
                         .arg(path, QString::fromUtf8(sqlite3_errmsg(m_db)));
        }
        close();
        return false;
    }
    return true;
}

bool Store::upgrade() {
    auto exists = [this](const char* sql) {
        Statement s(m_db, sql);
        return s.step() == SQLITE_ROW;
    };
    if (!begin()) {
        return false;
    }
    const bool hadText =
        exists("SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = 'catalog_text'");
    const bool hadFiles =
        exists("SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = 'catalog_files'");
    const bool withoutIds =
        exists("SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = 'catalog'") &&
        !exists("SELECT 1 FROM pragma_table_info('catalog') WHERE name = 'id'");
    bool ok = exec(kAccountsAndContacts) &&
              (!withoutIds || exec("ALTER TABLE catalog RENAME TO catalog_paths")) &&
              exec(kCatalog) && (!withoutIds || exec(kNumberEntries)) && exec(kCatalogText) &&
              exec(kCatalogFiles) &&
              (hadFiles || exec("INSERT INTO catalog_files(owner, files) SELECT owner, count(*) "
                                "FROM catalog WHERE size <> -1 GROUP BY owner"));
    if (ok && (!hadText || withoutIds)) {
        ok = exec("DELETE FROM catalog_text");
        Statement all(m_db, "SELECT id, name, description FROM catalog");
        TextIndexer index(m_db);
        int rc = SQLITE_ROW;
        while (ok && (rc = all.step()) == SQLITE_ROW) {
            ok = index.add(all.int64(0), all.bytes(1), all.bytes(2));
        }
        ok = ok && rc == SQLITE_DONE;
    }
    if (!ok) {
        rollback();
        return false;
    }
    return commit();
}

sqlite3_stmt* Store::prepared(const char* sql) const {
    sqlite3_stmt*& stmt = m_prepared[sql];
    if (!stmt && m_db &&
        sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
        stmt = nullptr;
    }
    return stmt;
}

void Store::close() {
    for (const auto& [sql, stmt] : m_prepared) {
        sqlite3_finalize(stmt);
    }
    m_prepared.clear();
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

void Store::interrupt() {
    if (m_db) {
        sqlite3_interrupt(m_db);
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
    static const QByteArray sql =
        QByteArray("SELECT ") + kAccountColumns + " FROM accounts WHERE id = ?";
    Statement s(prepared(sql.constData()));
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
    Statement s(prepared("SELECT count(*) FROM accounts"));
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
    const auto fail = [this] {
        rollback();
        return std::optional<ShareResult>();
    };
    ShareResult result;
    TextIndexer index(m_db);
    {
        // The entry itself, the folder of that path, and everything below it.
        Statement exact(m_db,
                        "DELETE FROM catalog WHERE owner = ? AND folder = ? AND name = ? "
                        "RETURNING id");
        Statement folder(m_db, "DELETE FROM catalog WHERE owner = ? AND folder = ? RETURNING id");
        Statement below(m_db,
                        "DELETE FROM catalog WHERE owner = ? AND folder >= ? AND folder < ? "
                        "RETURNING id");
        for (const QByteArray& path : removals) {
            const qsizetype slash = path.lastIndexOf('/');
            exact.bind(1, owner)
                .bindBytes(2, slash < 0 ? QByteArray() : path.left(slash))
                .bindBytes(3, path.mid(slash + 1));
            folder.bind(1, owner).bindBytes(2, path);
            // In byte order the folders that start with "path/" are those from "path/" up to
            // "path0".
            below.bind(1, owner).bindBytes(2, path + '/').bindBytes(3, path + '0');
            for (Statement* s : {&exact, &folder, &below}) {
                int rc = SQLITE_ROW;
                while ((rc = s->step()) == SQLITE_ROW) {
                    if (!index.remove(s->int64(0))) {
                        return fail();
                    }
                    ++result.removed;
                }
                s->reset();
                if (rc != SQLITE_DONE) {
                    return fail();
                }
            }
        }
    }
    {
        Statement find(m_db,
                       "SELECT id, description FROM catalog "
                       "WHERE owner = ? AND folder = ? AND name = ?");
        Statement replace(m_db,
                          "UPDATE catalog SET size = ?, date = ?, has_password = ?, "
                          "description = ? WHERE id = ?");
        Statement add(m_db,
                      "INSERT INTO catalog(id, owner, folder, name, size, date, has_password, "
                      "description) VALUES(?,?,?,?,?,?,?,?)");
        std::int64_t nextId = 0;
        for (const CatalogEntry& e : additions) {
            find.bind(1, owner).bindBytes(2, e.folder).bindBytes(3, e.name);
            const bool known = find.step() == SQLITE_ROW;
            const std::int64_t knownId = known ? find.int64(0) : 0;
            const bool redescribed = known && find.bytes(1) != e.description;
            find.reset();
            if (known) {
                replace.bind(1, static_cast<int>(e.size))
                    .bind(2, e.date)
                    .bind(3, e.hasPassword ? 1 : 0)
                    .bindBytes(4, e.description)
                    .bind(5, knownId);
                const bool ok =
                    replace.run() && (!redescribed || index.describe(knownId, e.description));
                replace.reset();
                if (!ok) {
                    return fail();
                }
            } else {
                if (nextId == 0) {
                    Statement last(m_db, "SELECT max(id) FROM catalog WHERE id >= ? AND id < ?");
                    last.bind(1, firstId(owner)).bind(2, firstId(owner + 1));
                    nextId = last.step() == SQLITE_ROW && last.int64(0) != 0 ? last.int64(0) + 1
                                                                             : firstId(owner) + 1;
                }
                // A member who has used up his four billion numbers publishes nothing more.
                if (ownerOfId(nextId) != owner) {
                    return fail();
                }
                add.bind(1, nextId)
                    .bind(2, owner)
                    .bindBytes(3, e.folder)
                    .bindBytes(4, e.name)
                    .bind(5, static_cast<int>(e.size))
                    .bind(6, e.date)
                    .bind(7, e.hasPassword ? 1 : 0)
                    .bindBytes(8, e.description);
                const bool ok = add.run() && index.add(nextId, e.name, e.description);
                add.reset();
                if (!ok) {
                    return fail();
                }
                ++nextId;
            }
            ++result.added;
        }
    }
    {
        Statement count(m_db,
                        "SELECT count(*), total(size <> -1) FROM catalog WHERE id >= ? AND id < ?");
        count.bind(1, firstId(owner)).bind(2, firstId(owner + 1));
        if (count.step() != SQLITE_ROW || count.integer(0) > m_maxEntries) {
            return fail();
        }
        Statement files(m_db, "INSERT OR REPLACE INTO catalog_files(owner, files) VALUES(?, ?)");
        files.bind(1, owner).bind(2, static_cast<int>(count.real(1)));
        if (!files.run()) {
            return fail();
        }
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

QList<CatalogEntry> Store::search(const CatalogQuery& query, const QList<int>& present,
                                  SearchPlan plan) const {
    QByteArray text = indexQuery("name", likeFold(query.name));
    const QByteArray description = indexQuery("description", likeFold(query.description));
    if (!text.isEmpty() && !description.isEmpty()) {
        text += " AND ";
    }
    text += description;
    const bool indexed = plan == SearchPlan::Auto && !text.isEmpty();
    // Both plans read candidates in id order from a given id on, so that the walk below can
    // skip ahead to the next present member once nobody else's entries are wanted.
    Statement candidates(
        m_db, indexed ? QByteArray("SELECT rowid FROM catalog_text WHERE catalog_text MATCH ?1 "
                                   "AND rowid >= ?2 ORDER BY rowid")
                      : QByteArray("SELECT id, ") + kEntryColumns +
                            " FROM catalog WHERE id >= ?2 AND (?3 = 0 OR (size <> -1 AND "
                            "size >= ?4 AND (?5 <= 0 OR size <= ?5))) ORDER BY id");
    Statement byId(m_db, QByteArray("SELECT ") + kEntryColumns + " FROM catalog WHERE id = ?");
    const EntryFilter filter(query);

    QList<CatalogEntry> first;  // of present members
    QList<CatalogEntry> others;
    const auto othersWanted = [&] {
        return !query.onlineOnly && first.size() + others.size() < query.limit;
    };
    std::int64_t from = 0;
    bool again = true;
    while (again && first.size() < query.limit) {
        again = false;
        candidates.reset();
        if (indexed) {
            candidates.bind(1, QString::fromUtf8(text));
        } else {
            candidates.bind(3, query.hasSizeRange() ? 1 : 0)
                .bind(4, static_cast<int>(query.minSize))
                .bind(5, static_cast<int>(query.maxSize));
        }
        candidates.bind(2, from);
        while (first.size() < query.limit && candidates.step() == SQLITE_ROW) {
            const std::int64_t id = candidates.int64(0);
            const int owner = ownerOfId(id);
            const bool isPresent = std::binary_search(present.begin(), present.end(), owner);
            if (!isPresent && !othersWanted()) {
                const auto next = std::upper_bound(present.begin(), present.end(), owner);
                again = next != present.end();
                from = again ? firstId(*next) : 0;
                break;
            }
            std::optional<CatalogEntry> entry;
            if (!indexed) {
                entry = readEntry(candidates, 1);
            } else {
                byId.bind(1, id);
                if (byId.step() == SQLITE_ROW) {
                    entry = readEntry(byId);
                }
                byId.reset();
            }
            if (entry && filter.accepts(*entry)) {
                (isPresent ? first : others).append(*entry);
            }
        }
    }
    first += others;
    if (first.size() > query.limit) {
        first.resize(query.limit);
    }
    return first;
}

int Store::fileCount(std::optional<int> owner) const {
    Statement s(prepared(owner ? "SELECT files FROM catalog_files WHERE owner = ?"
                               : "SELECT total(files) FROM catalog_files"));
    if (owner) {
        s.bind(1, *owner);
    }
    return s.step() == SQLITE_ROW ? static_cast<int>(s.real(0)) : 0;
}

QList<int> Store::contacts(int owner) const {
    Statement s(prepared("SELECT contact FROM contacts WHERE owner = ? ORDER BY contact"));
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
