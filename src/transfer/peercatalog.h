#pragma once

#include "transfer/transferstatus.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace mr {

// Values of the credits table's Status.
inline constexpr int kUserStatusNormal = 1;
inline constexpr int kUserStatusBanned = 2;

// The owner's decision on a file request or permission check from userName, who logged in with
// password, for the share path requestedPath of the local catalog. peerAddress is not used.
// Reads the running profile's files and credits tables.
RequestVerdict FileRequestCheck(const QString& userName, const QString& requestedPath,
                                const QString& peerAddress, const QString& password);

// Writes Status of userName's credits row, appending the row when the user has none.
void SetUserStatus(const QString& userName, int status);
// Names of every credits row with Status 2, in table order.
QStringList BannedUserNames();

// One row of the credits table: what a user gave this computer (uploaded) and took from it
// (downloaded).
struct CreditAccount {
    QString userName;
    int status = kUserStatusNormal;
    qint64 filesUploaded = 0;
    qint64 filesDownloaded = 0;
    qint64 bytesUploaded = 0;
    qint64 bytesDownloaded = 0;
};
// Every row, in table order.
QList<CreditAccount> CreditAccounts();

// Counts one completed file of that size: a download from userName as what he gave (his
// FilesUploaded and BytesUploaded), an upload to him as what he took. A user without a row gets
// one with Status 1.
enum class CreditDirection { GaveUs, TookFromUs };
void CountTransfer(const QString& userName, qint64 bytes, CreditDirection direction);

// The local file behind a share path of the local catalog; empty when there is none.
QString LocalPathOfShare(const QString& sharePath);

// Appends the listing of one catalog folder: per child row "Name FolderPath FileSize FileDate
// Description", fields encoded with EncodeField, records and fields separated by one blank.
void BuildMRDirectory(int folderId, const QString& folderPath, QByteArray& out);

// The listing of a published local folder for a peer that logged in with password; nothing when
// the path is unknown, unpublished, the folder's password differs (case-insensitively) or the
// user is banned.
std::optional<QByteArray> FolderListing(const QString& userName, const QString& folderPath,
                                        const QString& password);

}  // namespace mr
