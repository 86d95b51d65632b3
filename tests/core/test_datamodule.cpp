#include "core/profile.h"
#include "transfer/datamodule.h"

#include "db/cursor.h"
#include "db/database.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using mr::TMRDataModule;

namespace {

QStringList catalogIndexes() {
    mr::db::Cursor files(QString::fromLatin1(mr::db::kDatabaseName), "files");
    return files.indexNames();
}

}  // namespace

TEST(DataModule, FirstStartInstallsTheTablesAndTheIndexAndOpensThePeerSockets) {
    QTemporaryDir dir;
    mr::setActiveProfile(dir.path());
    TMRDataModule module(dir.path());
    ASSERT_EQ(module.create(), TMRDataModule::StartResult::Started);
    EXPECT_EQ(TMRDataModule::firstMissingFile(module.dataDirectory()), QString());
    EXPECT_EQ(catalogIndexes(), QStringList{"inxUsername"});
    // Both listen on ports the system chose, ready to be announced at sign-on.
    EXPECT_NE(module.infoPort(), 0);
    EXPECT_NE(module.fileServerPort(), 0);
    EXPECT_NE(module.infoPort(), module.fileServerPort());
    EXPECT_NE(module.wantedList(), nullptr);

    // A second start leaves the index as it is.
    TMRDataModule again(dir.path());
    ASSERT_EQ(again.create(false), TMRDataModule::StartResult::Started);
    EXPECT_EQ(catalogIndexes(), QStringList{"inxUsername"});
}

TEST(DataModule, ExistingCatalogWithoutIndexGetsIt) {
    QTemporaryDir dir;
    TMRDataModule::install(dir.path());
    mr::db::Database::connect(QString::fromLatin1(mr::db::kDatabaseName), dir.filePath("data"));
    EXPECT_TRUE(catalogIndexes().isEmpty());
    TMRDataModule module(dir.path());
    ASSERT_EQ(module.create(false), TMRDataModule::StartResult::Started);
    EXPECT_EQ(catalogIndexes(), QStringList{"inxUsername"});
}

TEST(DataModule, AnyMissingTableRefusesTheStart) {
    for (const char* missing : {"contacts.dat", "files.dat", "credits.dat"}) {
        QTemporaryDir dir;
        TMRDataModule::install(dir.path());
        ASSERT_TRUE(QFile::remove(dir.filePath(QString("data/") + missing)));
        EXPECT_EQ(TMRDataModule::firstMissingFile(dir.filePath("data")), missing);
        TMRDataModule module(dir.path());
        EXPECT_EQ(module.create(), TMRDataModule::StartResult::DataFilesMissing) << missing;
        // Damage is reported, never repaired behind the user's back.
        EXPECT_FALSE(QFileInfo::exists(dir.filePath(QString("data/") + missing)));
    }
}

TEST(DataModule, ChecksTheFilesInTheirFixedOrder) {
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("data"));
    EXPECT_EQ(TMRDataModule::firstMissingFile(dir.filePath("data")), "contacts.dat");
}
