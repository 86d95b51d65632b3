#include "db/dberror.h"
#include "db/filter.h"
#include "db/filters.h"
#include "db/schema.h"

#include <gtest/gtest.h>

using namespace mr::db;

namespace {

const TableSchema& files() {
    return TableSchema::find(u"files");
}

QString errorOf(const QString& text, bool caseInsensitive = false) {
    try {
        Filter::parse(text, files(), caseInsensitive);
    } catch (const DbError& error) {
        return error.message();
    }
    return QStringLiteral("<accepted>");
}

}  // namespace

// Each text is exact, and each parses on its table with and without case folding.
TEST(DbFilter, BuildersGiveTheExactTextsAndEachParses) {
    const QString q = QStringLiteral("it's");
    const struct {
        QString text;
        const char16_t* expected;
        const char16_t* table = u"files";
    } cases[] = {
        {childrenOf(7), u"parentid = 7"},
        {pathStep(QString(), -1, q), u"Username = '' and ParentId = -1 and name = 'it''s'"},
        {localFileByName(q, 12),
         u"Username = '' and Name = 'it''s' and ParentId = 12 and Attributes=0"},
        {rowById(3), u"id = 3"},
        {childrenForDisplay(QString(), 4), u"Username='' and ParentId = 4 and Action <> 'D'"},
        {childrenForDisplay(QStringLiteral("bob"), 4), u"Username='bob' and ParentId = 4"},
        {sharedFolder(QStringLiteral("/m/it's")),
         u"username = '' and filename ='/m/it''s' and action <> 'D'"},
        {subtreeSizeFilter(QString(), -1, true), u"username = '' and  ParentId = -1"},
        {subtreeSizeFilter(QString(), 9, false), u" ParentId = 9"},
        {rootFiles(-1), u"username = '' and parentid = -1 and attributes = 0"},
        {pendingChanges(), u"username = '' and (ACTION = 'A' or ACTION = 'D')"},
        {pendingRemovals(), u"username = '' and Action='D'"},
        {pendingAdditions(), u"username = '' and action = 'A'"},
        {folderListing(5), u"parentid = 5"},
        {publishedFile(5), u"id = 5 and Action = ''"},
        {creditFileData(5), u"id = 5"},
        {creditAccount(q), u"username = 'it''s'", u"credits"},
        {bannedPeers(2), u"Status=2", u"credits"},
        {creditByUserName(q), u"UserName='it''s'", u"credits"},
        {contactByName(q), u"Username='it''s'", u"Contacts.db"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, QString::fromUtf16(c.expected));
        for (const bool ci : {false, true}) {
            EXPECT_NO_THROW(Filter::parse(c.text, TableSchema::find(c.table), ci))
                << c.text.toStdString();
        }
    }
    EXPECT_EQ(publishBatchStatement({1, 2, 3}),
              u"update files set action = '' where id in (1,2,3) and action = 'A'");
}

// Values become parameters; with case folding only text comparisons fold, both sides.
TEST(DbFilter, CompilesToParameterisedSql) {
    const Filter filter =
        Filter::parse("PARENTID = -999 AnD (name = 'x''; drop' OR Action <> '')", files());
    EXPECT_EQ(filter.sql(), u"\"ParentId\" = ? AND (\"Name\" = ? OR \"Action\" <> ?)");
    ASSERT_EQ(filter.values().size(), 3);
    EXPECT_EQ(filter.values()[0].integer, -999);
    EXPECT_EQ(filter.values()[1].text, u"x'; drop");
    EXPECT_EQ(filter.values()[2].kind, Value::Kind::Text);
    EXPECT_TRUE(filter.values()[2].text.isEmpty());
    EXPECT_TRUE(Filter::parse("  ", files()).isEmpty());

    const Filter folded = Filter::parse("Username = 'ÄBc' and ParentId = 3", files(), true);
    EXPECT_EQ(folded.sql(), u"mr_fold(\"Username\") = ? AND \"ParentId\" = ?");
    EXPECT_EQ(folded.values()[0].text, u"äbc");
    EXPECT_EQ(folded.values()[1].integer, 3);
}

TEST(DbFilter, RejectsTextOutsideTheGrammarNamingTheColumn) {
    EXPECT_EQ(errorOf(QStringLiteral("ParentId = (")),
              u"Filter error at column 12: expected a value, found '('");
    for (const char* text : {
             "Owner = ''",
             "Name = 'abc",
             "id = 1 2",
             "id = 1 and",
             "id 1",
             "Name = 'x'; delete from files",
             "Name = 'x' or 1 = 1",
             "Name = '' -- comment",
             "Name = Username",
             "(id = 1",
             "id = 1)",
             "ParentId = 'a'",
             "Name = 5",
             "id = 99999999999999999999",
             "id > 1",
             "and = 1",
         }) {
        EXPECT_TRUE(errorOf(QString::fromUtf8(text)).startsWith(u"Filter error at column "))
            << text << " -> " << errorOf(QString::fromUtf8(text)).toStdString();
    }
    EXPECT_TRUE(errorOf(QString(200, u'(') + QStringLiteral("id = 1") + QString(200, u')'))
                    .contains(u"nested too deeply"));
}
