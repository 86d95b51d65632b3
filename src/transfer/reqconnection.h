#pragma once

#include "service/userlocation.h"
#include "transfer/mrftpserver.h"
#include "transfer/queue.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QTimer;

namespace mr {

class TMRFtpClient;

// One download conversation: finds the owner, logs in, asks for the file with REQF and turns
// the owner's verdict into the item's state. Or, for the password dialog, a permission check
// with CHKP that changes no queue item. Frees itself when done.
class TMRReqConnection : public QObject {
    Q_OBJECT
public:
    TMRReqConnection(TMRWantedList& wanted, qint32 itemId, quint16 callbackPort, UserLocator locate,
                     PeerSettings settings, QObject* parent = nullptr);
    ~TMRReqConnection() override;

    // A password check: serves no queue item and changes no queue item. Already started.
    static TMRReqConnection* checkPassword(qint32 ownerId, const QString& path,
                                           const QString& password, UserLocator locate,
                                           PeerSettings settings, QObject* parent);

    // Begins on the next turn of the event loop.
    void start();
    // The whole conversation, look-up included, ends after this long without progress.
    void setTimeout(int ms);

signals:
    void passwordChecked(
        int verdict);  // 0..6 from the owner, or -1 when the reply was not a verdict
    void checkFailed(const QString& text);  // owner unreachable/offline: e.g. "User is offline"
    void finished();

private:
    TMRReqConnection(qint32 ownerId, const QString& path, const QString& password,
                     UserLocator locate, PeerSettings settings, QObject* parent);

    void locate();
    void onLocated(const std::optional<UserLocation>& location);
    void onRequestDone(int request, int error);
    void onResponse(const QByteArray& line);
    void unreachable();
    // Changes the item only while it is still being negotiated: a user's abort wins.
    void setItem(TTransferStatus status, TTransferError error);
    void quit();
    void done();

    QPointer<TMRWantedList> m_wanted;
    qint32 m_itemId = -1;
    qint32 m_ownerId = 0;
    QString m_path;
    QString m_password;
    QString m_localName;
    QString m_requesterName;
    bool m_checkOnly = false;
    quint16 m_callbackPort = 0;
    UserLocator m_locate;
    PeerSettings m_settings;
    TMRFtpClient* m_client = nullptr;
    QTimer* m_timer;
    bool m_fileRequestPending = false;
    bool m_done = false;
};

}  // namespace mr
