#include "transfer/mrftpclient.h"

#include "transfer/peerdialect.h"

#include <QFileInfo>

namespace mr {

TMRFtpClient::TMRFtpClient(QObject* parent) : TFtpClient(parent) {}

qint64 TMRFtpClient::resumeOffset() const {
    if (LocalFileName.isEmpty()) {
        return 0;
    }
    const QFileInfo partial(LocalFileName);
    return partial.isFile() ? partial.size() : 0;
}

bool TMRFtpClient::RequestFileAsync(quint16 callbackPort, qint32 requesterId,
                                    const QString& requesterName) {
    if (HostDirName.isEmpty() || HostFileName.isEmpty()) {
        emit message(QStringLiteral("Error!"));
        return false;
    }
    RestartOffset = resumeOffset();
    ReqfParams p;
    p.path = JoinSharePath(HostDirName, HostFileName);
    p.resumeOffset = RestartOffset;
    p.callbackPort = callbackPort;
    p.requesterId = requesterId;
    p.requesterName = requesterName;
    return CustomAsync("REQF " + BuildReqfParameter(p), 0, 6);
}

bool TMRFtpClient::CheckPassword() {
    if (HostDirName.isEmpty() || HostFileName.isEmpty()) {
        emit message(QStringLiteral("Error!"));
        return false;
    }
    return CustomAsync("CHKP " + JoinSharePath(HostDirName, HostFileName).toUtf8(), 0, 6);
}

}  // namespace mr
