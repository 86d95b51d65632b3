#include "dbtestutil.h"

#include "db/database.h"
#include "db/dberror.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace mr::db;

TEST(DbDatabase, TableFilesComeInStartupCheckOrder) {
    EXPECT_EQ(Database::tableFiles(), (QStringList{"contacts.dat", "files.dat", "credits.dat"}));
}

TEST(DbDatabase, ConnectBindsAndRebindsNames) {
    EXPECT_THROW(Database::directory(QStringLiteral("unknown")), DbError);
    Database::connect(QStringLiteral("scratch"), QStringLiteral("/tmp/one/../two"));
    EXPECT_EQ(Database::directory(QStringLiteral("scratch")), u"/tmp/two");
    Database::connect(QStringLiteral("scratch"), QStringLiteral("/tmp/three"));
    EXPECT_EQ(Database::directory(QStringLiteral("scratch")), u"/tmp/three");
    Database::disconnect(QStringLiteral("scratch"));
    EXPECT_FALSE(Database::isConnected(QStringLiteral("scratch")));
}

TEST(DbDatabase, CreateTablesMakesOnlyMissingFilesAndNeverTouchesOthers) {
    QTemporaryDir root;
    const QString data = root.filePath(QStringLiteral("profile/data"));
    ASSERT_TRUE(QDir().mkpath(data));
    QFile existing(data + QStringLiteral("/contacts.dat"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("not a database");
    existing.close();

    Database::createTables(data);
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), "not a database");
    EXPECT_TRUE(QFile::exists(data + QStringLiteral("/files.dat")));
    EXPECT_TRUE(QFile::exists(data + QStringLiteral("/credits.dat")));
    EXPECT_EQ(QDir(data).entryList(QDir::Files).size(), 3);

    // A fresh profile: the folder itself is created too.
    const QString fresh = root.filePath(QStringLiteral("new/data"));
    Database::createTables(fresh);
    EXPECT_EQ(QDir(fresh).entryList(QDir::Files),
              (QStringList{"contacts.dat", "credits.dat", "files.dat"}));
}

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

TEST_F(DbSchema, TablesAndColumnsCarryTheirExactNames) {
    EXPECT_EQ(columns(QStringLiteral("files.dat"), QStringLiteral("files")),
              u"id,Username,ParentId,Name,FileName,Attributes,FileSize,FileDate,Media,Description,"
              u"Password,IsPassword,Action,RatioStyle,Download,Size");
    EXPECT_EQ(columns(QStringLiteral("credits.dat"), QStringLiteral("credits")),
              u"Username,Status,FilesUploaded,FilesDownloaded,BytesUploaded,BytesDownloaded");
    EXPECT_EQ(columns(QStringLiteral("contacts.dat"), QStringLiteral("Contacts")),
              u"Username,UserID");
    EXPECT_EQ(rawQuery(QStringLiteral("files.dat"),
                       QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'files'"))
                  .contains(u"AUTOINCREMENT"),
              true);
}
