#pragma once

#include "net/ftpwire.h"
#include "transfer/transferstatus.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>

namespace mr {

// The downloader's login password when it knows no file password.
inline constexpr char kNoFilePassword[] = "qlmtvokrenbhxa";
// The owner's login password when it pushes a file.
inline constexpr char kPushPassword[] = "Pargo";

// The fields of a file request.
struct ReqfParams {
    QString path;  // the share path on the owner's side
    qint64 resumeOffset = 0;
    quint16 callbackPort = 0;
    qint32 requesterId = 0;
    QString requesterName;  // how the requester's queue names the owner
};

// "path*offset*port*id" NUL "*name*".
QByteArray BuildReqfParameter(const ReqfParams& params);

// Reads a REQF parameter; a missing fifth field becomes ownerNickname. Returns the error text for
// the "501" answer when fields 2 to 4 are missing, not decimal or out of range.
struct ReqfParse {
    std::optional<ReqfParams> params;
    QString error;
};
ReqfParse ParseReqfParameter(const QByteArray& parameter, const QString& ownerNickname);

// "Code RatioStyle Credit Reserved Size".
QByteArray FormatVerdict(const RequestVerdict& verdict);
// The verdict code of a reply: the text before its first blank as a number, or nothing.
std::optional<int> VerdictCode(const QByteArray& line);
// The total size a reply announces: the text after its first four blank-separated tokens,
// trimmed, as a non-negative number; nothing when that is not a number.
std::optional<qint64> VerdictSize(const QByteArray& line);

// The requested path: dir with a trailing "/" ensured, then the file name.
QString JoinSharePath(const QString& dir, const QString& file);
// A share path split at its last "/" into folder (with the "/") and file name.
std::pair<QString, QString> SplitSharePath(const QString& path);

// A name that is safe to create inside the download folder: not empty, not "." or "..", no
// "/", "\" or control characters.
bool IsSafeLocalFileName(const QString& name);

// The download item's state for a verdict code.
std::pair<TTransferStatus, TTransferError> VerdictState(int code);

}  // namespace mr
