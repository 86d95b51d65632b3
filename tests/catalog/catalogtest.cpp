#include "catalogtest.h"

#include "db/cursor.h"
#include "db/database.h"
#include "e2e/process.h"
#include "testutil.h"

#include <algorithm>

namespace mr::test {

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
                        files.asString(u"FileName"), files.asString(u"Action")});
    }
    return rows;
}

const CatalogRow* CatalogTest::find(const QString& name) const {
    static thread_local std::vector<CatalogRow> snapshot;
    snapshot = catalog();
    const auto it = std::find_if(snapshot.begin(), snapshot.end(),
                                 [&](const CatalogRow& r) { return r.name == name; });
    return it == snapshot.end() ? nullptr : &*it;
}

int CatalogTest::countAction(const QString& action) const {
    const auto rows = catalog();
    return static_cast<int>(std::count_if(rows.begin(), rows.end(),
                                          [&](const CatalogRow& r) { return r.action == action; }));
}

::testing::AssertionResult CatalogTest::isForest() const {
    const QString orphans = rawQuery("files.dat",
                                     "select group_concat(Name) from files f where ParentId <> -1 "
                                     "and not exists (select 1 from files p where p.id = "
                                     "f.ParentId and p.Attributes = 1)");
    if (orphans.isEmpty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "without a folder: " << orphans.toStdString();
}

QString CatalogTest::makeFile(const QString& relative, int n) const {
    EXPECT_TRUE(writeFile(scratch(relative), QByteArray(n, 'x')));
    return scratch(relative);
}

void RecordingView::exec(Progress& progress, const QString& caption, const QString& text,
                         const std::function<void()>& start) {
    captions << caption + ": " + text;
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
