#include "core/datamodule.h"

#include "db/cursor.h"
#include "db/database.h"
#include "db/dberror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace mr {

TMRDataModule::TMRDataModule(const QString& profileDirectory, QObject* parent)
    : QObject(parent),
      m_profileDir(profileDirectory),
      m_dataDir(profileDirectory + QStringLiteral("/data")) {
    // What an interrupted update may have left behind.
    QFile::remove(m_profileDir + QStringLiteral("/update.exe"));
}

TMRDataModule::~TMRDataModule() = default;

void TMRDataModule::install(const QString& profileDirectory) {
    QDir().mkpath(profileDirectory);
    db::Database::createTables(profileDirectory + QStringLiteral("/data"));
}

QString TMRDataModule::firstMissingFile(const QString& dataDirectory) {
    for (const QString& file : db::Database::tableFiles()) {
        if (!QFileInfo::exists(dataDirectory + QLatin1Char('/') + file)) {
            return file;
        }
    }
    return {};
}

TMRDataModule::StartResult TMRDataModule::create() {
    if (!QFileInfo(m_dataDir).isDir()) {
        install(m_profileDir);
    }
    if (!firstMissingFile(m_dataDir).isEmpty()) {
        return StartResult::DataFilesMissing;
    }
    db::Database::connect(QString::fromLatin1(db::kDatabaseName), m_dataDir);
    ensureUsernameIndex();
    return StartResult::Started;
}

void TMRDataModule::ensureUsernameIndex() {
    try {
        db::Cursor files(QString::fromLatin1(db::kDatabaseName), QStringLiteral("files"),
                         db::OpenMode::Exclusive);
        if (!files.indexNames().contains(QStringLiteral("inxUsername"), Qt::CaseInsensitive)) {
            files.addIndex(QStringLiteral("inxUsername"), {QStringLiteral("Username")}, true);
        }
    } catch (const db::DbError&) {
        // The catalog works without the index, only slower.
    }
}

}  // namespace mr
