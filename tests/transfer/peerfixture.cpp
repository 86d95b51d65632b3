#include "transfer/peerfixture.h"

#include <QFileInfo>
#include <QRandomGenerator>

namespace mr::test {

PeerSide::PeerSide(const QString& nick, qint32 userId, int slotCount)
    : downloadDir(root.filePath("downloads")), nickname(nick), id(userId), wanted(slotCount) {
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
    catalog.listing = [this](const QString&, const QString& folder,
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

void PeerSide::share(const QString& sharePath, const QByteArray& content, const QString& password) {
    files.insert(sharePath, root.filePath("shared/" + sharePath.section('/', -1)));
    writeFile(files.value(sharePath), content);
    if (!password.isEmpty())
        passwords.insert(sharePath, password);
}

PeerSettings PeerSide::settings() const {
    PeerSettings s;
    s.nickname = [this] { return nickname; };
    s.userId = [this] { return id; };
    s.downloadPath = [this] { return downloadDir; };
    return s;
}

QByteArray pattern(int size, int seed) {
    QList<quint32> words(size / 4 + 1);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), size);
}

}  // namespace mr::test
