#pragma once

#include "net/ftpclient.h"

#include <functional>

namespace mr {

// The peer dialect's client: a file request or permission check towards an owner, or a push
// towards a requester.
class TMRFtpClient : public TFtpClient {
    Q_OBJECT
public:
    explicit TMRFtpClient(QObject* parent = nullptr);

    bool UploadMode = false;
    qint32 ItemId = 0;

    // Sends "REQF path*offset*port*id NUL*name*", accepting verdicts 0 to 6. The resume offset,
    // also kept in RestartOffset, is the size of LocalFileName when that file exists. False
    // without a remote folder and file name: nothing is sent.
    bool RequestFileAsync(quint16 callbackPort, qint32 requesterId, const QString& requesterName);
    // Sends "CHKP path", accepting verdicts 0 to 6; false as above.
    bool CheckPassword();
    // The resume offset RequestFileAsync sends.
    qint64 resumeOffset() const;

signals:
    // The message a window shows when a request cannot be built.
    void message(const QString& text);
};

}  // namespace mr
