#include "db/prepared.h"

#include "db/dberror.h"

#include <sqlite3.h>

#include <utility>

namespace mr::db {

namespace {

void checkBound(sqlite3* db, int rc) {
    if (rc != SQLITE_OK)
        throwSqlite(db, rc, QStringLiteral("cannot bind a value"));
}

// Binds `bytes` of text in `encoding`. An empty text binds the empty string: a null pointer
// would bind SQL NULL. The length goes over whole, so that SQLite refuses a text past its limit
// instead of binding a cut one.
int bindText(sqlite3_stmt* stmt, int index, const void* data, sqlite3_uint64 bytes,
             unsigned char encoding) {
    return bytes == 0 ? sqlite3_bind_text(stmt, index, "", 0, SQLITE_STATIC)
                      : sqlite3_bind_text64(stmt, index, static_cast<const char*>(data), bytes,
                                            SQLITE_STATIC, encoding);
}

}  // namespace

Prepared::Prepared(sqlite3* db, const QString& sql) : m_db(db) {
    const int rc = sqlite3_prepare16_v3(db, sql.constData(), int(sql.size() * sizeof(QChar)),
                                        SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        throwSqlite(db, rc, QStringLiteral("cannot prepare a query"));
    }
}

Prepared::~Prepared() {
    sqlite3_finalize(m_stmt);
}

Prepared::Prepared(Prepared&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)), m_stmt(std::exchange(other.m_stmt, nullptr)) {}

Prepared& Prepared::operator=(Prepared&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_db = std::exchange(other.m_db, nullptr);
        m_stmt = std::exchange(other.m_stmt, nullptr);
    }
    return *this;
}

void Prepared::bind(int index, const Value& value) {
    int rc = SQLITE_OK;
    switch (value.kind) {
        case Value::Kind::Null:
            rc = sqlite3_bind_null(m_stmt, index);
            break;
        case Value::Kind::Integer:
            rc = sqlite3_bind_int64(m_stmt, index, value.integer);
            break;
        case Value::Kind::Real:
            rc = sqlite3_bind_double(m_stmt, index, value.real);
            break;
        case Value::Kind::Text:
            rc = bindText(m_stmt, index, value.text.constData(),
                          sqlite3_uint64(value.text.size()) * sizeof(QChar), SQLITE_UTF16);
            break;
    }
    checkBound(m_db, rc);
}

void Prepared::bindInteger(int index, qint64 value) {
    checkBound(m_db, sqlite3_bind_int64(m_stmt, index, value));
}

void Prepared::bindUtf8(int index, std::string_view text) {
    checkBound(m_db, bindText(m_stmt, index, text.data(), text.size(), SQLITE_UTF8));
}

Prepared::Run::~Run() {
    sqlite3_reset(m_statement.m_stmt);
}

bool Prepared::Run::step() {
    const int rc = sqlite3_step(m_statement.m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    throwSqlite(m_statement.m_db, rc, QStringLiteral("query failed"));
}

qint64 Prepared::Run::integer(int column) const {
    return sqlite3_column_int64(m_statement.m_stmt, column);
}

Value Prepared::Run::value(int column) const {
    sqlite3_stmt* stmt = m_statement.m_stmt;
    Value result;
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_INTEGER:
            result.kind = Value::Kind::Integer;
            result.integer = sqlite3_column_int64(stmt, column);
            break;
        case SQLITE_FLOAT:
            result.kind = Value::Kind::Real;
            result.real = sqlite3_column_double(stmt, column);
            break;
        case SQLITE_TEXT:
        case SQLITE_BLOB: {
            result.kind = Value::Kind::Text;
            const auto* text = static_cast<const QChar*>(sqlite3_column_text16(stmt, column));
            const int bytes = sqlite3_column_bytes16(stmt, column);
            result.text = QString(text, bytes / int(sizeof(QChar)));
            break;
        }
        default:
            break;
    }
    return result;
}

void throwSqlite(sqlite3* db, int code, const QString& context) {
    const QString detail =
        db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(code));
    throw DbError(QStringLiteral("Database error: %1: %2").arg(context, detail));
}

void execSql(sqlite3* db, const QString& sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        const QString detail = QString::fromUtf8(error ? error : sqlite3_errstr(rc));
        sqlite3_free(error);
        throw DbError(QStringLiteral("Database error: %1: %2").arg(sql, detail));
    }
}

}  // namespace mr::db
