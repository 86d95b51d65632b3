#pragma once

namespace mr::db {

class Connection;
class Cursor;

// A transaction on one connection: begun on construction, rolled back on destruction unless
// committed. Bulk work (many appends) runs in one, so it lands whole or not at all, and fast.
// Transactions on the same connection nest as savepoints and must end innermost first.
class Transaction {
public:
    explicit Transaction(Connection& connection);
    // The transaction of the cursor's connection; other cursors sharing that connection take
    // part too.
    explicit Transaction(Cursor& cursor);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();
    void rollback();
    bool isActive() const { return m_active; }

private:
    Connection& m_connection;
    int m_level = 0;
    bool m_active = false;
};

}  // namespace mr::db
