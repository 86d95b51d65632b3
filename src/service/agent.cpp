#include "service/agent.h"

#include "core/hostinfo.h"
#include "core/profile.h"
#include "core/record.h"
#include "core/userinfo.h"
#include "service/wire.h"

namespace mr {

namespace {

const QString kPing = QString::fromLatin1(wire::kPingPath);
const QString kShare = QString::fromLatin1(wire::kSharePath);
constexpr int kLogoutWaitMs = 2000;

QByteArray pack(std::string_view format, std::initializer_list<PackValue> values) {
    return PackRecord(format, values).bytes;
}

}  // namespace

TMRAgentHttp::TMRAgentHttp(TIdleQueue* idle, QObject* parent)
    : QObject(parent), m_connection(idle) {
    connect(&m_connection, &THttpCompSync::Connected, this, &TMRAgentHttp::onConnected);
    connect(&m_connection, &THttpCompSync::Disconnected, this, &TMRAgentHttp::onDisconnected);
}

TMRAgentHttp::~TMRAgentHttp() = default;

QByteArray TMRAgentHttp::loginPayload(const TUserInfo& info, std::uint16_t infoPort,
                                      std::uint16_t fileServerPort) {
    return pack("IAWW", {info.id(), info.password(), unsigned{infoPort}, unsigned{fileServerPort}});
}

QByteArray TMRAgentHttp::profilePayload(const TUserInfo& info) {
    const QString sex = info.sex();
    return pack("AAAAABDAAAAB",
                {info.firstName(), info.lastName(), info.email(), info.country(), info.password(),
                 info.connection(), info.bDate(), sex.trimmed().isEmpty() ? QString() : sex.left(1),
                 info.message(), info.languages(), info.homepage(), info.showInfo()});
}

QByteArray TMRAgentHttp::shareLoginRecord(const TUserInfo& info) {
    return pack("BIA", {int{'L'}, info.id(), info.password()});
}

void TMRAgentHttp::ServiceLogin(std::uint16_t infoPort, std::uint16_t fileServerPort) {
    m_connecting = true;
    HostStore& hosts = HostInfo();
    // An index past the end (the list may have shrunk) starts again at the first host.
    if (m_hostIndex >= hosts.count(HostStore::Moonrake) || m_hostIndex < 0) {
        m_hostIndex = 0;
    }
    if (const auto entry = hosts.get(HostStore::Moonrake, m_hostIndex)) {
        m_connection.setService(entry->host, static_cast<std::uint16_t>(entry->port));
    }
    m_infoPort = infoPort;
    m_fileServerPort = fileServerPort;
    if (!m_connection.Connect() && m_connection.cancelled()) {
        m_connecting = false;
    }
}

bool TMRAgentHttp::AdvanceHost() {
    ++m_hostIndex;
    return m_hostIndex < HostInfo().count(HostStore::Moonrake);
}

void TMRAgentHttp::onConnected(bool success) {
    if (success &&
        Send('L', kPing, loginPayload(UserInfo(), m_infoPort, m_fileServerPort), true,
             TChannel::KeepAlive, this, [this](TRequest& request) { loginReply(request); })) {
        return;
    }
    m_connecting = false;
    emit OnLogin(false);
}

void TMRAgentHttp::loginReply(TRequest& request) {
    m_online = !request.failed();
    if (!m_online) {
        // A refused sign-on leaves no channel open: the next attempt may go to another host.
        m_connection.Close(kLogoutWaitMs);
    }
    m_connecting = false;
    emit OnLogin(m_online);
}

void TMRAgentHttp::onDisconnected() {
    m_online = false;
    emit OnDisconnect();
}

void TMRAgentHttp::ServiceLogout() {
    if (!m_connection.connected()) {
        return;
    }
    if (Send('Q', kPing, {}, false, TChannel::KeepAlive, nullptr, {})) {
        m_connection.waitForKeepAliveWorker(kLogoutWaitMs);
    }
    m_online = false;
}

bool TMRAgentHttp::Send(char code, const QString& path, const QByteArray& payload, bool multiRecord,
                        TChannel channel, QObject* owner, RequestHandler handler,
                        std::uint32_t tag) {
    auto request = std::make_shared<TRequest>(code, payload, path, multiRecord,
                                              owner ? owner : this, std::move(handler), tag);
    if (m_connection.Enqueue(request, channel)) {
        return true;
    }
    request->discard();
    return false;
}

bool TMRAgentHttp::SendProfile(QObject* owner, RequestHandler handler, std::uint32_t tag) {
    return Send('?', kPing, profilePayload(UserInfo()), false, TChannel::KeepAlive, owner,
                std::move(handler), tag);
}

bool TMRAgentHttp::PollContacts(QObject* owner, RequestHandler handler, std::uint32_t tag) {
    return Send('C', kPing, {}, true, TChannel::KeepAlive, owner, std::move(handler), tag);
}

bool TMRAgentHttp::AddContact(QObject* owner, RequestHandler handler, const QString& nickname,
                              std::uint32_t tag) {
    return Send('A', kPing, pack("A", {nickname}), false, TChannel::KeepAlive, owner,
                std::move(handler), tag);
}

bool TMRAgentHttp::RemoveContact(QObject* owner, RequestHandler handler, qint32 userId,
                                 std::uint32_t tag) {
    return Send('D', kPing, pack("I", {userId}), true, TChannel::KeepAlive, owner,
                std::move(handler), tag);
}

bool TMRAgentHttp::LocateUser(QObject* owner, RequestHandler handler, qint32 userId,
                              std::uint32_t tag) {
    return Send('H', kPing, pack("I", {userId}), false, TChannel::OneShot, owner,
                std::move(handler), tag);
}

UserLocator TMRAgentHttp::locator() {
    return [this](QObject* owner, qint32 userId,
                  std::function<void(std::optional<UserLocation>)> done) {
        return LocateUser(
            owner,
            [done = std::move(done)](TRequest& request) {
                done(request.failed() ? std::nullopt : UserLocation::parse(request.replyData()));
            },
            userId);
    };
}

bool TMRAgentHttp::ListFolder(QObject* owner, RequestHandler handler, qint32 userId,
                              const QString& folder, std::uint32_t tag) {
    return Send('F', kPing, pack("IA", {userId, folder}), true, TChannel::OneShot, owner,
                std::move(handler), tag);
}

bool TMRAgentHttp::SearchFiles(QObject* owner, RequestHandler handler, const FileSearchCriteria& c,
                               std::uint32_t tag) {
    return Send('S', kPing, FileSearchBody(c), true, TChannel::OneShot, owner, std::move(handler),
                tag);
}

bool TMRAgentHttp::SearchUsers(QObject* owner, RequestHandler handler, const QString& a,
                               const QString& b, const QString& c, const QString& d,
                               std::uint32_t tag) {
    return Send('V', kPing, pack("AAAA", {a, b, c, d}), true, TChannel::OneShot, owner,
                std::move(handler), tag);
}

bool TMRAgentHttp::RequestUserInfo(QObject* owner, RequestHandler handler, qint32 userId,
                                   std::uint32_t tag) {
    return Send('I', kPing, pack("I", {userId}), false, TChannel::OneShot, owner,
                std::move(handler), tag);
}

bool TMRAgentHttp::UpdateShareList(QObject* owner, RequestHandler handler,
                                   const QByteArray& records, std::uint32_t tag) {
    return Send('T', kShare, shareLoginRecord(UserInfo()) + records, false, TChannel::OneShot,
                owner, std::move(handler), tag);
}

}  // namespace mr
