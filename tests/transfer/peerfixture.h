#pragma once

#include "e2e/process.h"
#include "transfer/mrftpserver.h"
#include "transfer/queue.h"

#include <QDir>
#include <QMap>
#include <QTemporaryDir>

#include <memory>

namespace mr::test {

// One running client's peer side: temp folders, a fake catalog and a started peer server with
// that many download and upload slots.
struct PeerSide {
    PeerSide(const QString& nickname, qint32 id, int slotCount = 2);

    // Shares a file with that content at the share path.
    void share(const QString& sharePath, const QByteArray& content, const QString& password = {});
    QString downloadFile(const QString& name) const { return QDir(downloadDir).filePath(name); }
    QByteArray downloaded(const QString& name) const { return readFile(downloadFile(name)); }
    PeerSettings settings() const;

    QTemporaryDir root;
    QString downloadDir;
    QString nickname;
    qint32 id;
    QMap<QString, QString> files;       // share path -> local path
    QMap<QString, QString> passwords;   // share path -> password
    QMap<QString, QByteArray> folders;  // folder path -> listing
    TMRWantedList wanted;
    std::unique_ptr<TMRFtpServer> server;
};

QByteArray pattern(int size, int seed = 1);

}  // namespace mr::test
