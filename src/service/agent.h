#pragma once

#include "directory/filesearch.h"
#include "service/httpcompsync.h"
#include "service/request.h"
#include "service/userlocation.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>

namespace mr {

class TIdleQueue;
class TUserInfo;

// The client's single door to the service: every operation becomes a request on the
// keep-alive channel or on a one-shot connection. Operations return whether the request was
// queued; when it was, its handler runs later on the main thread (unless its owner is gone).
// A null owner makes the agent the owner.
class TMRAgentHttp : public QObject {
    Q_OBJECT
public:
    explicit TMRAgentHttp(TIdleQueue* idle = nullptr, QObject* parent = nullptr);
    ~TMRAgentHttp() override;

    THttpCompSync& connection() { return m_connection; }

    // Opens the keep-alive channel to the current service host and sends "L"; the outcome
    // arrives through OnLogin.
    void ServiceLogin(std::uint16_t infoPort, std::uint16_t fileServerPort);
    // Sends "Q" when connected, waits at most 2000 ms for the channel to end, goes offline.
    void ServiceLogout();
    // The next sign-on uses the next service host; false when the list has no more.
    bool AdvanceHost();
    int hostIndex() const { return m_hostIndex; }
    bool online() const { return m_online.load(); }
    bool connecting() const { return m_connecting.load(); }
    std::uint16_t infoPort() const { return m_infoPort; }
    std::uint16_t fileServerPort() const { return m_fileServerPort; }

    // Queues any request; the typed operations below are built on it.
    bool Send(char code, const QString& path, const QByteArray& payload, bool multiRecord,
              TChannel channel, QObject* owner, RequestHandler handler, std::uint32_t tag = 0);

    // "?": the profile from the settings, on the keep-alive channel.
    bool SendProfile(QObject* owner, RequestHandler handler, std::uint32_t tag = 0);
    // "C": the contacts poll.
    bool PollContacts(QObject* owner, RequestHandler handler, std::uint32_t tag = 0);
    // "A": adds a contact by nickname.
    bool AddContact(QObject* owner, RequestHandler handler, const QString& nickname,
                    std::uint32_t tag = 0);
    // "D": removes a contact by user id.
    bool RemoveContact(QObject* owner, RequestHandler handler, qint32 userId,
                       std::uint32_t tag = 0);
    // "H": a user's address, info port and peer-server port (reply "AWW").
    bool LocateUser(QObject* owner, RequestHandler handler, qint32 userId, std::uint32_t tag = 0);
    // The same look-up as a function the peer code can hold without knowing the agent.
    UserLocator locator();
    // "F": one folder of a user's published catalog.
    bool ListFolder(QObject* owner, RequestHandler handler, qint32 userId, const QString& folder,
                    std::uint32_t tag = 0);
    // "S": file search.
    bool SearchFiles(QObject* owner, RequestHandler handler, const FileSearchCriteria& criteria,
                     std::uint32_t tag = 0);
    // "V": user search by four texts.
    bool SearchUsers(QObject* owner, RequestHandler handler, const QString& a, const QString& b,
                     const QString& c, const QString& d, std::uint32_t tag = 0);
    // "I": a user's public profile.
    bool RequestUserInfo(QObject* owner, RequestHandler handler, qint32 userId,
                         std::uint32_t tag = 0);
    // "T": share-list changes; the login record is put in front of the given records.
    bool UpdateShareList(QObject* owner, RequestHandler handler, const QByteArray& records,
                         std::uint32_t tag = 0);

    // Layout "IAWW": user id, password, info port, file-server port.
    static QByteArray loginPayload(const TUserInfo& info, std::uint16_t infoPort,
                                   std::uint16_t fileServerPort);
    // Layout "AAAAABDAAAAB": first name, last name, e-mail, country, password, connection,
    // birth date, sex, message, languages, home page, show-info.
    static QByteArray profilePayload(const TUserInfo& info);
    // Layout "BIA": the byte 'L', user id, password.
    static QByteArray shareLoginRecord(const TUserInfo& info);

signals:
    void OnLogin(bool success);
    void OnDisconnect();

private:
    void onConnected(bool success);
    void loginReply(TRequest& request);
    void onDisconnected();

    THttpCompSync m_connection;
    int m_hostIndex = 0;
    std::uint16_t m_infoPort = 0;
    std::uint16_t m_fileServerPort = 0;
    std::atomic<bool> m_online{false};
    std::atomic<bool> m_connecting{false};
    bool m_loginPending = false;  // Connect was called by ServiceLogin
};

}  // namespace mr
