#include "catalogtest.h"

#include "db/cursor.h"
#include "db/database.h"
#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace mr::test {

void CatalogTest::SetUp() {
    DbTest::SetUp();
    ASSERT_TRUE(m_disk.isValid());
}

int CatalogTest::addRow(const QString& name, int parentId, bool folder, const RowFields& f) {
    db::Cursor files(QString::fromLatin1(db::kDatabaseName), QStringLiteral("files"));
    files.append();
    files.setString(u"Username", f.user);
    files.setInteger(u"ParentId", parentId);
    files.setString(u"Name", name);
    files.setString(u"FileName", f.fileName.isEmpty() ? "/disk/" + name : f.fileName);
    files.setInteger(u"Attributes", folder ? 1 : 0);
    files.setInteger(u"FileSize", folder ? -1 : f.fileSize);
    files.setDateTime(u"FileDate", f.fileDate);
    files.setString(u"Description", f.description);
    files.setString(u"Password", f.password);
    files.setString(u"Action", f.action);
    files.setInteger(u"RatioStyle", f.ratioStyle);
    files.setInteger(u"Download", f.download);
    files.setInteger(u"Size", f.size);
    files.post();
    return static_cast<int>(files.asInteger(u"id"));
}

std::vector<CatalogRow> CatalogTest::catalog() const {
    std::vector<CatalogRow> rows;
    db::Cursor files(QString::fromLatin1(db::kDatabaseName), QStringLiteral("files"));
    for (; !files.eof(); files.next()) {
        rows.push_back({static_cast<int>(files.asInteger(u"id")),
                        static_cast<int>(files.asInteger(u"ParentId")), files.asString(u"Name"),
                        files.asString(u"FileName"),
                        static_cast<int>(files.asInteger(u"Attributes")),
                        files.asString(u"Action")});
    }
    return rows;
}

const CatalogRow* CatalogTest::find(const QString& name) const {
    static thread_local std::vector<CatalogRow> snapshot;
    snapshot = catalog();
    for (const CatalogRow& r : snapshot) {
        if (r.name == name)
            return &r;
    }
    return nullptr;
}

int CatalogTest::countAction(const QString& action) const {
    const auto rows = catalog();
    return static_cast<int>(std::count_if(rows.begin(), rows.end(),
                                          [&](const CatalogRow& r) { return r.action == action; }));
}

::testing::AssertionResult CatalogTest::isForest() const {
    const auto rows = catalog();
    QSet<int> folders;
    for (const CatalogRow& r : rows) {
        if (r.attributes == 1)
            folders.insert(r.id);
    }
    for (const CatalogRow& r : rows) {
        if (r.parentId != -1 && !folders.contains(r.parentId))
            return ::testing::AssertionFailure()
                   << r.name.toStdString() << " has no folder " << r.parentId;
    }
    return ::testing::AssertionSuccess();
}

QString CatalogTest::scratch(const QString& relative) const {
    return relative.isEmpty() ? m_disk.path() : m_disk.filePath(relative);
}

QString CatalogTest::makeFile(const QString& relative, int n) const {
    const QString path = scratch(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(n, 'x'));
    return path;
}

QString CatalogTest::makeDir(const QString& relative) const {
    const QString path = scratch(relative);
    QDir().mkpath(path);
    return path;
}

void RecordingView::exec(Progress& progress, const QString& caption, const QString& text,
                         const std::function<void()>& start) {
    captions << caption + ": " + text;
    QObject::connect(&progress, &Progress::textChanged, [this](const QString& t) { texts << t; });
    QObject::connect(&progress, &Progress::progressChanged, [this](int p) { percents << p; });
    ProgressView::exec(progress, caption, text, start);
}

void CancellingView::exec(Progress& progress, const QString& caption, const QString& text,
                          const std::function<void()>& start) {
    if (!m_when)
        progress.cancel();
    ProgressView::exec(progress, caption, text, [&] {
        start();
        if (m_when) {
            EXPECT_TRUE(waitUntil(m_when));
            progress.cancel();
        }
    });
}

}  // namespace mr::test
