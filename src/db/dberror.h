#pragma once

#include <QString>

#include <stdexcept>

namespace mr::db {

// Every failure of the table engine: bad filters, lock conflicts, missing files, SQLite errors.
class DbError : public std::runtime_error {
public:
    explicit DbError(const QString& message);

    QString message() const;
};

}  // namespace mr::db
