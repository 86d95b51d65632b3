#pragma once

#include <QString>

namespace mr::db {

class Connection;

// An SQL statement on the database, without result set. The only statement the client issues
// publishes a batch of added catalog rows:
//     update files set action = '' where id in (1,2,3) and action = 'A'
// Text of exactly that shape is accepted (keywords in any letter case, any value string, ids as
// decimal integers, the closing "and FIELD = 'value'" optional and compared without regard to
// case) and run with bound parameters; anything else throws DbError.
class Statement {
public:
    // Opens its own connection to the table the text names when executed.
    explicit Statement(const QString& databaseName);
    // Runs on a shared connection, inside its transaction if one is active.
    explicit Statement(Connection& connection);

    void setText(const QString& text) { m_text = text; }
    const QString& text() const { return m_text; }

    // Returns the number of rows changed.
    int execute();

private:
    QString m_databaseName;
    Connection* m_connection = nullptr;
    QString m_text;
};

}  // namespace mr::db
