#pragma once

#include "dbtestutil.h"

#include "db/cursor.h"
#include "db/database.h"
#include "ui/progressform.h"

#include <QStringList>

namespace mr::test {

// A fresh catalog whose message boxes the test answers: questions are collected in m_asked and
// answered with m_answer, warnings collected in m_warnings.
class CatalogTest : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        m_savedPrompts = catalogPrompts();
        catalogPrompts().yesNo = [this](QWidget*, const QString& text) {
            m_asked << text;
            return m_answer;
        };
        catalogPrompts().warning = [this](QWidget*, const QString& text) { m_warnings << text; };
    }
    void TearDown() override {
        catalogPrompts() = m_savedPrompts;
        DbTest::TearDown();
    }

    // A row of the files table; a negative size makes it a folder. Returns its id.
    int addRow(const QString& name, int parentId, qint32 size, const QString& action = "A") const {
        db::Cursor files(QString::fromLatin1(db::kDatabaseName), QStringLiteral("files"));
        files.append();
        files.setInteger(u"ParentId", parentId);
        files.setString(u"Name", name);
        files.setString(u"FileName", "/disk/" + name);
        files.setInteger(u"Attributes", size < 0 ? 1 : 0);
        files.setInteger(u"FileSize", size);
        files.setDateTime(u"FileDate", 45000.5);
        files.setString(u"Action", action);
        files.post();
        return static_cast<int>(files.asInteger(u"id"));
    }

    // A column of the files rows of a name, the rows joined by "|"; empty when there are none.
    QString field(const QString& name, const QString& column) const {
        return rawQuery(QStringLiteral("files.dat"),
                        QStringLiteral("select group_concat(%1, '|') from files where Name = '%2'")
                            .arg(column, QString(name).replace(u'\'', QLatin1String("''"))));
    }

    QStringList m_asked;
    bool m_answer = false;
    QStringList m_warnings;

private:
    CatalogPrompts m_savedPrompts;
};

}  // namespace mr::test
