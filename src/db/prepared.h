#pragma once

#include "db/value.h"

#include <QString>

#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace mr::db {

// A prepared SQLite statement owned by the engine. Every use steps it and resets it before
// returning (see Prepared::Run), so no statement keeps a read transaction open between calls.
class Prepared {
public:
    Prepared() = default;
    Prepared(sqlite3* db, const QString& sql);
    ~Prepared();
    Prepared(Prepared&& other) noexcept;
    Prepared& operator=(Prepared&& other) noexcept;
    Prepared(const Prepared&) = delete;
    Prepared& operator=(const Prepared&) = delete;

    bool isNull() const { return m_stmt == nullptr; }
    sqlite3_stmt* get() const { return m_stmt; }

    // Text is bound without a copy: the string must outlive the run that uses it.
    void bind(int index, const Value& value);
    void bindInteger(int index, qint64 value);
    // UTF-8 text, bound without a copy as well; the database keeps UTF-8, so SQLite need not
    // convert it when the statement runs.
    void bindUtf8(int index, std::string_view text);

    // Scope of one execution: steps the statement and resets it on leaving.
    class Run {
    public:
        explicit Run(Prepared& statement) : m_statement(statement) {}
        ~Run();
        Run(const Run&) = delete;
        Run& operator=(const Run&) = delete;

        // True while a row is available; throws DbError on failure.
        bool step();
        qint64 integer(int column) const;
        Value value(int column) const;

    private:
        Prepared& m_statement;
    };

private:
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
};

// Throws DbError with SQLite's message for the failed call.
[[noreturn]] void throwSqlite(sqlite3* db, int code, const QString& context);
// Runs SQL without parameters or results (pragmas, transaction control, fixed DDL).
void execSql(sqlite3* db, const QString& sql);

}  // namespace mr::db
