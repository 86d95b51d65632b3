#pragma once

#include <QString>

namespace mr::db {

// In-process open modes of a table file: either one exclusive holder, or any number of shared
// ones. Holders are connections, so the cursors of one operation (sharing one connection) never
// lock each other out. Released on destruction.
class TableLock {
public:
    TableLock(const QString& filePath, const QString& tableName, const void* holder,
              bool exclusive);
    ~TableLock();
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

private:
    QString m_filePath;
    const void* m_holder;
    bool m_exclusive;
};

}  // namespace mr::db
