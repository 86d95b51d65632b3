#include "transfer/peercatalog.h"

#include "catalog/mrtree.h"
#include "core/fields.h"
#include "db/cursor.h"
#include "db/database.h"
#include "db/filters.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>

namespace mr {

namespace {

enum Verdict : quint8 {
    kGranted = 0,
    kRestricted = 1,
    kRestrictedOther = 2,
    kNoCredit = 3,
    kBanned = 4,
    kNotFound = 5,
    kWrongPassword = 6,
};

db::Cursor openTable(const QString& table) {
    return db::Cursor(QString::fromLatin1(db::kDatabaseName), table);
}

const QString kFiles = QStringLiteral("files");
const QString kCredits = QStringLiteral("credits");

// A row the user removed stays in the catalog until the service confirms; it is no longer shared.
bool isRemoved(const db::Cursor& row) {
    return row.asString(u"Action").compare(u"D", Qt::CaseInsensitive) == 0;
}

bool passwordAccepts(const QString& filePassword, const QString& loginPassword) {
    return filePassword.isEmpty() || filePassword.compare(loginPassword, Qt::CaseInsensitive) == 0;
}

qint32 truncatedCredit(double value) {
    constexpr double lo = std::numeric_limits<qint32>::min();
    constexpr double hi = std::numeric_limits<qint32>::max();
    return static_cast<qint32>(std::trunc(std::clamp(value, lo, hi)));
}

// Status as the ban list writes it; the test is the one the file request check has always made.
bool isBanned(qint64 status) {
    return (status & 2) == status;
}

// The rules for a requester without a credits row.
quint8 verdictWithoutAccount(quint8 ratioStyle, quint8 download, const QString& filePassword,
                             const QString& loginPassword, RequestVerdict& verdict) {
    if (ratioStyle > 1) {
        verdict.RatioStyle = ratioStyle;
        verdict.Credit = 0;
        return kNoCredit;
    }
    switch (download) {
        case 0:
            return passwordAccepts(filePassword, loginPassword) ? kGranted : kWrongPassword;
        case 4:
            return kRestrictedOther;
        default:
            // 2 is restricted; any other setting is unknown and must not open the file.
            return kRestricted;
    }
}

// The rules for a requester with a credits row.
quint8 verdictWithAccount(const db::Cursor& account, const db::Cursor& file, quint8 ratioStyle,
                          quint8 download, const QString& filePassword,
                          const QString& loginPassword, RequestVerdict& verdict) {
    const qint64 status = account.asInteger(u"Status");
    if (isBanned(status))
        return kBanned;
    if (download == 2 && (status & 4) != status)
        return kRestricted;

    double up = 0;
    double down = 0;
    double cost = 0;
    if (ratioStyle == 2) {
        up = static_cast<double>(account.asInteger(u"FilesUploaded"));
        down = static_cast<double>(account.asInteger(u"FilesDownloaded"));
        cost = 1;
    } else if (ratioStyle == 4) {
        up = static_cast<double>(account.asInteger(u"BytesUploaded"));
        down = static_cast<double>(account.asInteger(u"BytesDownloaded"));
        cost = static_cast<double>(file.asInteger(u"Size"));
    }
    if (ratioStyle == 2 || ratioStyle == 4) {
        if (2 * up - down - cost < 0) {
            verdict.RatioStyle = ratioStyle;
            verdict.Credit = truncatedCredit(2 * up - down);
            return kNoCredit;
        }
    }
    if (download == 4) {
        return kRestrictedOther;
    }
    // Every requester who ever traded with us has an account: it must not open protected files.
    return passwordAccepts(filePassword, loginPassword) ? kGranted : kWrongPassword;
}

// Puts the credits cursor on the user's row, ready to be written: found and in edit mode, or
// appended with his name; true when appended.
bool editAccount(db::Cursor& account, const QString& userName) {
    account.setFilter(db::creditAccount(userName), true);
    if (account.eof()) {
        account.append();
        account.setString(u"Username", userName);
        return true;
    }
    account.edit();
    return false;
}

}  // namespace

RequestVerdict FileRequestCheck(const QString& userName, const QString& requestedPath,
                                const QString& peerAddress, const QString& password) {
    Q_UNUSED(peerAddress);
    RequestVerdict verdict;
    verdict.Code = kNotFound;
    const int id = TMRTree::idOf(nullptr, QString(), requestedPath);
    if (id < 0)
        return verdict;

    db::Cursor file = openTable(kFiles);
    file.setFilter(db::creditFileData(id), true);
    if (file.eof() || isRemoved(file))
        return verdict;
    const QString localPath = file.asString(u"FileName");
    const QFileInfo info(localPath);
    if (localPath.isEmpty() || !info.isFile())
        return verdict;
    verdict.LocalPath = localPath;
    verdict.Size = info.isReadable() ? info.size() : 0;

    const auto ratioStyle = static_cast<quint8>(file.asInteger(u"RatioStyle"));
    const auto download = static_cast<quint8>(file.asInteger(u"Download"));

    db::Cursor account = openTable(kCredits);
    account.setFilter(db::creditAccount(userName), true);
    if (account.eof()) {
        verdict.Code = verdictWithoutAccount(ratioStyle, download, file.asString(u"Password"),
                                             password, verdict);
    } else {
        verdict.Code = verdictWithAccount(account, file, ratioStyle, download,
                                          file.asString(u"Password"), password, verdict);
    }
    return verdict;
}

void SetUserStatus(const QString& userName, int status) {
    if (userName.isEmpty())
        return;
    db::Cursor account = openTable(kCredits);
    editAccount(account, userName);
    account.setInteger(u"Status", status);
    account.post();
}

QStringList BannedUserNames() {
    db::Cursor account = openTable(kCredits);
    account.setFilter(db::bannedPeers(kUserStatusBanned));
    QStringList names;
    for (; !account.eof(); account.next())
        names.append(account.asString(u"Username"));
    return names;
}

QList<CreditAccount> CreditAccounts() {
    db::Cursor account = openTable(kCredits);
    QList<CreditAccount> accounts;
    for (; !account.eof(); account.next()) {
        accounts.append(
            {account.asString(u"Username"), static_cast<int>(account.asInteger(u"Status")),
             account.asInteger(u"FilesUploaded"), account.asInteger(u"FilesDownloaded"),
             account.asInteger(u"BytesUploaded"), account.asInteger(u"BytesDownloaded")});
    }
    return accounts;
}

void CountTransfer(const QString& userName, qint64 bytes, CreditDirection direction) {
    if (userName.isEmpty())
        return;
    db::Cursor account = openTable(kCredits);
    if (editAccount(account, userName)) {
        account.setInteger(u"Status", kUserStatusNormal);
        for (const auto field :
             {u"FilesUploaded", u"FilesDownloaded", u"BytesUploaded", u"BytesDownloaded"})
            account.setInteger(field, 0);
    }
    const bool gave = direction == CreditDirection::GaveUs;
    const auto files = gave ? u"FilesUploaded" : u"FilesDownloaded";
    const auto size = gave ? u"BytesUploaded" : u"BytesDownloaded";
    account.setInteger(files, account.asInteger(files) + 1);
    account.setInteger(size, account.asInteger(size) + std::max<qint64>(0, bytes));
    account.post();
}

QString LocalPathOfShare(const QString& sharePath) {
    const int id = TMRTree::idOf(nullptr, QString(), sharePath);
    if (id < 0)
        return {};
    db::Cursor file = openTable(kFiles);
    file.setFilter(db::creditFileData(id), true);
    if (file.eof() || isRemoved(file))
        return {};
    return file.asString(u"FileName");
}

void BuildMRDirectory(int folderId, const QString& folderPath, QByteArray& out) {
    db::Cursor rows = openTable(kFiles);
    rows.setFilter(db::folderListing(folderId));
    const QByteArray path = EncodeField(folderPath.toUtf8());
    bool first = true;
    for (; !rows.eof(); rows.next()) {
        // Other users' entries and removed ones are not this user's shares.
        if (!rows.asString(u"Username").isEmpty() || isRemoved(rows))
            continue;
        if (!first)
            out += ' ';
        first = false;
        out += EncodeField(rows.asString(u"Name").toUtf8());
        out += ' ';
        out += path;
        out += ' ';
        out += QByteArray::number(rows.asInteger(u"FileSize"));
        out += ' ';
        out += QByteArray::number(rows.asDateTime(u"FileDate"), 'g', 15);
        out += ' ';
        out += EncodeField(rows.asString(u"Description").toUtf8());
    }
}

std::optional<QByteArray> FolderListing(const QString& userName, const QString& path,
                                        const QString& password) {
    const int id = TMRTree::idOf(nullptr, QString(), path);
    if (id < 0)
        return std::nullopt;
    {
        // A banned user learns no more of our shares than he may fetch.
        db::Cursor account = openTable(kCredits);
        account.setFilter(db::creditAccount(userName), true);
        if (!account.eof() && isBanned(account.asInteger(u"Status")))
            return std::nullopt;
    }
    {
        db::Cursor folder = openTable(kFiles);
        folder.setFilter(db::publishedFile(id));
        if (folder.eof() || folder.asString(u"Password").toLower() != password.toLower())
            return std::nullopt;
    }
    QByteArray listing;
    BuildMRDirectory(id, path, listing);
    return listing;
}

}  // namespace mr
