#include "transfer/peerfixture.h"

#include <QDir>
#include <QFile>

namespace mr::test {

PeerSide::PeerSide(const QString& nick, qint32 userId, int slotCount)
    : sharedDir(root.filePath(QStringLiteral("shared"))),
      downloadDir(root.filePath(QStringLiteral("downloads"))),
      nickname(nick),
      id(userId),
      wanted(slotCount) {
    QDir().mkpath(sharedDir);
    PeerCatalog catalog;
    catalog.check = [this](const QString&, const QString& path, const QString&,
                           const QString& password) {
        RequestVerdict v;
        v.LocalPath = files.value(path);
        v.Size = QFileInfo(v.LocalPath).size();
        const QString wanted = passwords.value(path);
        if (!files.contains(path))
            v.Code = 5;
        else if (!wanted.isEmpty() && wanted.compare(password, Qt::CaseInsensitive) != 0)
            v.Code = 6;
        return v;
    };
    catalog.localPath = [this](const QString& path) { return files.value(path); };
    catalog.listing = [this](const QString& folder,
                             const QString& password) -> std::optional<QByteArray> {
        if (!folders.contains(folder) ||
            password.compare(passwords.value(folder), Qt::CaseInsensitive) != 0) {
            return std::nullopt;
        }
        return folders.value(folder);
    };
    server = std::make_unique<TMRFtpServer>(wanted, catalog, settings(), slotCount);
    server->start(QHostAddress::LocalHost);
}

QString PeerSide::share(const QString& sharePath, const QByteArray& content,
                        const QString& password) {
    const QString local = QDir(sharedDir).filePath(sharePath.section(QLatin1Char('/'), -1));
    QFile f(local);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    files.insert(sharePath, local);
    if (!password.isEmpty()) {
        passwords.insert(sharePath, password);
    }
    return local;
}

QString PeerSide::downloadFile(const QString& name) const {
    return QDir(downloadDir).filePath(name);
}

QByteArray PeerSide::downloaded(const QString& name) const {
    QFile f(downloadFile(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool PeerSide::writeDownload(const QString& name, const QByteArray& content) const {
    QDir().mkpath(downloadDir);
    QFile f(downloadFile(name));
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

PeerSettings PeerSide::settings() const {
    PeerSettings s;
    s.nickname = [this] { return nickname; };
    s.userId = [this] { return id; };
    s.downloadPath = [this] { return downloadDir; };
    return s;
}

QByteArray pattern(int size, int seed) {
    QByteArray out(size, Qt::Uninitialized);
    quint32 x = 2463534242u + static_cast<quint32>(seed);
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x);
    }
    return out;
}

}  // namespace mr::test
