#include "transfer/transferstatus.h"

namespace mr {

QString statusText(TTransferStatus status, TTransferError error) {
    switch (status) {
        case TTransferStatus::Completed:
            return QStringLiteral("Completed");
        case TTransferStatus::Negotiating:
            return QStringLiteral("Negotiating");
        case TTransferStatus::RemotelyQueued:
            return QStringLiteral("Remotely Queued");
        case TTransferStatus::LocalQueue:
            return QStringLiteral("Local Queue");
        case TTransferStatus::Transfering:
            return QStringLiteral("Transfering");
        case TTransferStatus::Resuming:
            return QStringLiteral("Resuming");
        case TTransferStatus::Error:
            return errorText(error);
    }
    return {};
}

QString errorText(TTransferError error) {
    switch (error) {
        case TTransferError::None:
            return {};
        case TTransferError::Error:
            return QStringLiteral("Error");
        case TTransferError::FileNotFound:
            return QStringLiteral("File Not Found");
        case TTransferError::Banned:
            return QStringLiteral("Banned");
        case TTransferError::Kicked:
            return QStringLiteral("Kicked");
        case TTransferError::Aborted:
            return QStringLiteral("Aborted");
        case TTransferError::UserOffline:
            return QStringLiteral("User is offline");
        case TTransferError::NotEnoughCredit:
            return QStringLiteral("Not enough Credit for transfer");
        case TTransferError::IncorrectPassword:
            return QStringLiteral("Incorrect Password for file");
        case TTransferError::CannotSave:
            return QStringLiteral("Cannot save file");
    }
    return {};
}

}  // namespace mr
