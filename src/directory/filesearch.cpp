#include "directory/filesearch.h"

#include "core/record.h"
#include "transfer/passwordcache.h"
#include "transfer/queue.h"

#include <algorithm>
#include <limits>

namespace mr {

namespace {

// "%" stands for any run of characters on the service; the user types "*".
QString starsToPercent(QString pattern) {
    return pattern.replace(u'*', u'%');
}

// Kilobytes typed in a size box as bytes; nothing when the text is not a whole number. A
// number too large for the request's 32 bits asks for as much as it can hold.
std::optional<qint32> kilobytes(const QString& text) {
    bool ok = false;
    const qlonglong kb = text.trimmed().toLongLong(&ok);
    if (!ok) {
        return std::nullopt;
    }
    constexpr qlonglong kMax = std::numeric_limits<qint32>::max() / 1000;
    constexpr qlonglong kMin = std::numeric_limits<qint32>::min() / 1000;
    return static_cast<qint32>(std::clamp(kb, kMin, kMax) * 1000);
}

QString notANumber(const QString& label, const QString& text) {
    return QStringLiteral("%1 '%2' is not a valid integer value").arg(label, text.trimmed());
}

}  // namespace

QByteArray FileSearchBody(const FileSearchCriteria& c) {
    return PackRecord("AAIIABBB",
                      {c.namePattern, c.descriptionPattern, c.minSize, c.maxSize, c.extensions,
                       unsigned{c.onlineOnly}, unsigned{c.maxResults}, unsigned{c.minLineSpeed}})
        .bytes;
}

const QStringList& MediaTypeNames() {
    static const QStringList names = {QStringLiteral("MP3"),   QStringLiteral("Pictures"),
                                      QStringLiteral("Audio"), QStringLiteral("Video"),
                                      QStringLiteral("Apps"),  QStringLiteral("Archives"),
                                      QStringLiteral("All")};
    return names;
}

QString MediaTypeExtensions(int index) {
    static const QStringList lists = {QStringLiteral("mp3:mp2"),
                                      QStringLiteral("jpeg:jpg:bmp:gif:pcx"),
                                      QStringLiteral("wav:au:aiff:ra:ram:vqf"),
                                      QStringLiteral("mpeg:mpg:avi:mov:asf"),
                                      QStringLiteral("exe:com:bat"),
                                      QStringLiteral("arj:rar:zip:lhz:ace"),
                                      QStringLiteral("%")};
    return index >= 0 && index < lists.size() ? lists.at(index) : QStringLiteral("%");
}

const QStringList& MinLineNames() {
    static const QStringList names = {
        QStringLiteral("Never Mind "), QStringLiteral("14,400"), QStringLiteral("28,800"),
        QStringLiteral("33,600"),      QStringLiteral("56K"),    QStringLiteral("ISDN 64K"),
        QStringLiteral("ISDN 128K"),   QStringLiteral("Cable"),  QStringLiteral("DSL"),
        QStringLiteral("T1"),          QStringLiteral("T3")};
    return names;
}

FileSearchRequest BuildFileSearch(const FileSearchForm& form) {
    FileSearchCriteria c;
    if (form.advanced && !form.minKb.trimmed().isEmpty()) {
        const std::optional<qint32> min = kilobytes(form.minKb);
        if (!min) {
            return {std::nullopt, notANumber(QStringLiteral("Min KB:"), form.minKb)};
        }
        c.minSize = *min;
        c.maxSize = 0;
        if (!form.maxKb.trimmed().isEmpty()) {
            const std::optional<qint32> max = kilobytes(form.maxKb);
            if (!max) {
                return {std::nullopt, notANumber(QStringLiteral("Max KB:"), form.maxKb)};
            }
            c.maxSize = *max;
        }
    }
    c.namePattern = starsToPercent(u'%' + form.name + u'%');
    c.descriptionPattern =
        starsToPercent((form.advanced ? form.description : QStringLiteral("%")) + u'%');
    c.extensions = form.advanced && !form.filter.trimmed().isEmpty()
                       ? form.filter
                       : MediaTypeExtensions(form.mediaType);
    c.onlineOnly = form.showOffline ? 0 : 1;
    c.maxResults = 100;
    c.minLineSpeed = form.advanced && form.minLine > 0 ? 1 : 0;
    return {c, {}};
}

std::vector<TRemoteFileItem> ParseFileSearchReply(QByteArrayView data) {
    std::vector<TRemoteFileItem> results;
    qsizetype offset = 0;
    while (offset < data.size()) {
        qint32 owner = 0;
        qint32 size = 0;
        double date = 0;
        quint16 unused = 0;
        quint8 passwordFlag = 0;
        QString folder, name, description, address, nickname;
        quint16 fileServerPort = 0;
        quint16 infoPort = 0;
        quint8 lineSpeed = 0;
        quint8 online = 0;
        const UnpackResult read = UnpackRecord(
            data.sliced(offset), "IITWBAAAAAWWBB",
            {&owner, &size, &date, &unused, &passwordFlag, &folder, &name, &description, &address,
             &nickname, &fileServerPort, &infoPort, &lineSpeed, &online});
        if (!read.ok() || read.consumed <= 0) {
            break;
        }
        offset += read.consumed;
        TRemoteFileItem& result = results.emplace_back(name, folder, nickname);
        result.userId = owner;
        result.size = size;
        result.date = date;
        result.passwordFlag = passwordFlag != 0;
        result.description = description;
        result.address = address;
        result.fileServerPort = fileServerPort;
        result.infoPort = infoPort;
        result.lineSpeed = lineSpeed;
        result.online = online != 0;
    }
    return results;
}

QString ResultSizeText(qint32 size) {
    if (size == -1) {
        return QStringLiteral("Dir");
    }
    return QString::number(size / 1000) + QStringLiteral("KB");
}

QString ResultStatusText(bool online) {
    return online ? QStringLiteral("Online") : QStringLiteral("Offline");
}

QString ResultRemotePath(const TRemoteFileItem& result) {
    // A file at the top of the owner's catalog has an empty folder: no "/" in front of it.
    QString folder = result.Path;
    while (folder.endsWith(u'/')) {
        folder.chop(1);
    }
    while (folder.startsWith(u'/')) {
        folder.remove(0, 1);
    }
    return folder.isEmpty() ? result.Name : folder + u'/' + result.Name;
}

SearchDownload DownloadSearchResult(const TRemoteFileItem& result, TMRWantedList& wanted,
                                    qint32 ownId, TPasswordCache& passwords,
                                    const std::function<void()>& showTransfers) {
    if (result.isFolder()) {
        return SearchDownload::Folder;
    }
    if (result.userId == ownId) {
        return SearchDownload::OwnFile;
    }
    const QString path = u'/' + ResultRemotePath(result);
    if (wanted.FindActive(result.userName, path) >= 0) {
        return SearchDownload::AlreadyQueued;
    }
    QString password;
    if (result.passwordFlag) {
        try {
            // Kept for the file's folder, so that the folder's other files are not asked for
            // again; a file at the top is its own key, or its password would serve everything.
            const QString folder = path.left(path.lastIndexOf(u'/') + 1);
            password = passwords.GetPassword(result.userId, folder.size() > 1 ? folder : path,
                                             result.userName, path, false);
        } catch (const EPasswordAbort&) {
            return SearchDownload::NoPassword;
        }
    }
    if (showTransfers) {
        showTransfers();
    }
    wanted.Add(result.userId, result.userName, path, password);
    return SearchDownload::Queued;
}

}  // namespace mr
