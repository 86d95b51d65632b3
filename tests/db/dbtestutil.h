#pragma once

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace mr::test {

// A fresh data folder with the three tables, connected under the client's database name.
class DbTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString dataDir() const { return m_dir.path(); }
    // Runs SQL through a plain SQLite handle, as the sqlite3 tool would (no engine functions).
    void rawExec(const QString& file, const QString& sql) const;
    // First column of the first row of a query through a plain SQLite handle.
    QString rawQuery(const QString& file, const QString& sql) const;
    // Appends a files row with the fields a share operation writes; returns its id.
    qint64 addFile(const QString& name, qint64 parentId,
                   const QString& action = QStringLiteral("A"),
                   const QString& user = QString()) const;

    QTemporaryDir m_dir;
};

}  // namespace mr::test
