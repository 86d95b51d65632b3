#pragma once

#include <QString>
#include <QtGlobal>

namespace mr {

// Where one transfer stands; the values travel nowhere but are the ones every window shows.
enum class TTransferStatus : quint8 {
    Completed = 0,
    Negotiating = 1,
    RemotelyQueued = 2,
    LocalQueue = 3,
    Transfering = 4,
    Resuming = 5,
    Error = 6,
};

// Why a transfer failed; meaningful with TTransferStatus::Error.
enum class TTransferError : quint8 {
    None = 0,
    Error = 1,
    FileNotFound = 2,
    Banned = 3,
    Kicked = 4,
    Aborted = 5,
    UserOffline = 6,
    NotEnoughCredit = 7,
    IncorrectPassword = 8,
    CannotSave = 9,  // the download folder cannot take the pushed file
};

// "Completed", "Negotiating", ...; the error's text for Error.
QString statusText(TTransferStatus status, TTransferError error = TTransferError::Error);
// "Error", "File Not Found", ...; empty for None.
QString errorText(TTransferError error);

// An owner's answer to a file request or a permission check.
struct RequestVerdict {
    quint8 Code = 0;        // 0 accepted ... 6 wrong password
    qint32 RatioStyle = 0;  // with code 3: the file's credit style
    qint32 Credit = 0;      // with code 3: the requester's credit
    qint32 Reserved = 0;
    qint64 Size = 0;    // bytes of the file on the owner's disk
    QString LocalPath;  // the owner's path of the file; never sent
};

}  // namespace mr
