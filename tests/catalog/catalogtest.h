#pragma once

#include "dbtestutil.h"

#include <QString>
#include <QTemporaryDir>

#include <vector>

namespace mr::test {

// One row of files, as a test reads it back.
struct CatalogRow {
    int id = 0;
    int parentId = 0;
    QString user;
    QString name;
    QString fileName;
    int attributes = 0;
    int size = 0;
    QString action;
    QString password;
};

// A connected catalog plus a scratch folder for generated trees.
class CatalogTest : public DbTest {
protected:
    void SetUp() override;

    // Appends a row; returns its id.
    int addRow(const QString& name, int parentId, bool folder, const QString& action = "A",
               const QString& user = {}, const QString& fileName = {});
    std::vector<CatalogRow> catalog() const;
    const CatalogRow* find(const QString& name) const;
    int countAction(const QString& action) const;
    // Every row's parent exists and is a folder.
    ::testing::AssertionResult isForest() const;

    // Creates a file of n bytes (folders on the way) below the scratch folder.
    QString makeFile(const QString& relative, int n = 1) const;
    QString makeDir(const QString& relative) const;
    QString scratch(const QString& relative = {}) const;

    QTemporaryDir m_disk;
};

}  // namespace mr::test
