#pragma once

#include <QString>

namespace mr::db {

// One field value as SQLite stores it; the row buffer of a cursor and the bound values of a
// filter are made of these.
struct Value {
    enum class Kind { Null, Integer, Real, Text };

    Kind kind = Kind::Null;
    qint64 integer = 0;
    double real = 0;
    QString text;
};

}  // namespace mr::db
