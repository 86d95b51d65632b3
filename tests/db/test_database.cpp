#include "dbtestutil.h"

namespace {

class DbSchema : public mr::test::DbTest {
protected:
    QString columns(const QString& file, const QString& table) const {
        return rawQuery(
            file, QStringLiteral("SELECT group_concat(name, ',') FROM pragma_table_info('%1')")
                      .arg(table));
    }
};

}  // namespace

// The tables are plain SQLite files that other tools read by these exact names.
TEST_F(DbSchema, TablesAndColumnsCarryTheirExactNames) {
    EXPECT_EQ(columns(QStringLiteral("files.dat"), QStringLiteral("files")),
              u"id,Username,ParentId,Name,FileName,Attributes,FileSize,FileDate,Media,Description,"
              u"Password,IsPassword,Action,RatioStyle,Download,Size");
    EXPECT_EQ(columns(QStringLiteral("credits.dat"), QStringLiteral("credits")),
              u"Username,Status,FilesUploaded,FilesDownloaded,BytesUploaded,BytesDownloaded");
    EXPECT_EQ(columns(QStringLiteral("contacts.dat"), QStringLiteral("Contacts")),
              u"Username,UserID");
    EXPECT_TRUE(rawQuery(QStringLiteral("files.dat"),
                         QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'files'"))
                    .contains(u"AUTOINCREMENT"));
}
