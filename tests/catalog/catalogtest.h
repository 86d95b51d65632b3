#pragma once

#include "dbtestutil.h"

#include "catalog/progress.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <vector>

namespace mr::test {

// One row of files, as a test reads it back.
struct CatalogRow {
    int id = 0;
    int parentId = 0;
    QString name;
    QString fileName;
    QString action;
};

// What a test row carries besides its name and place in the tree.
struct RowFields {
    QString action = QStringLiteral("A");
    QString user{};
    QString fileName{};  // "/disk/<name>" when empty
    QString password{};
    QString description{};
    int fileSize = 10;  // files only: a folder's is -1
    double fileDate = 45000.5;
    int ratioStyle = 0;
    int download = 0;
    int size = 0;
};

// A connected catalog plus a scratch folder for generated trees.
class CatalogTest : public DbTest {
protected:
    // Appends a row; returns its id.
    int addRow(const QString& name, int parentId, bool folder, const RowFields& f = {});
    std::vector<CatalogRow> catalog() const;
    const CatalogRow* find(const QString& name) const;
    int countAction(const QString& action) const;
    // Every row's parent exists and is a folder.
    ::testing::AssertionResult isForest() const;

    // Creates a file of n bytes (folders on the way) below the scratch folder.
    QString makeFile(const QString& relative, int n = 1) const;
    void makeDir(const QString& relative) const { QDir().mkpath(scratch(relative)); }
    QString scratch(const QString& relative = {}) const {
        return relative.isEmpty() ? m_disk.path() : m_disk.filePath(relative);
    }

    QTemporaryDir m_disk;
};

// Records what the progress window was asked to show.
class RecordingView : public ProgressView {
public:
    void exec(Progress& progress, const QString& caption, const QString& text,
              const std::function<void()>& start) override;

    QStringList captions;
    QList<int> percents;
};

// Cancels the run once `when` holds after the worker has started; without it, before.
class CancellingView : public ProgressView {
public:
    explicit CancellingView(std::function<bool()> when = {}) : m_when(std::move(when)) {}
    void exec(Progress& progress, const QString& caption, const QString& text,
              const std::function<void()>& start) override;

private:
    std::function<bool()> m_when;
};

}  // namespace mr::test
