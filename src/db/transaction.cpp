#include "db/transaction.h"

#include "db/connection.h"
#include "db/cursor.h"
#include "db/dberror.h"

namespace mr::db {

Transaction::Transaction(Connection& connection) : m_connection(connection) {
    m_level = m_connection.beginTransaction();
    m_active = true;
}

Transaction::Transaction(Cursor& cursor) : Transaction(cursor.connection()) {}

Transaction::~Transaction() {
    if (!m_active)
        return;
    try {
        m_connection.endTransaction(m_level, false);
    } catch (const DbError&) {
        // Nothing can be reported from a destructor; SQLite rolls back on close at the latest.
    }
}

void Transaction::commit() {
    if (!m_active)
        throw DbError(QStringLiteral("The transaction has already ended"));
    m_active = false;
    m_connection.endTransaction(m_level, true);
}

void Transaction::rollback() {
    if (!m_active)
        throw DbError(QStringLiteral("The transaction has already ended"));
    m_active = false;
    m_connection.endTransaction(m_level, false);
}

}  // namespace mr::db
