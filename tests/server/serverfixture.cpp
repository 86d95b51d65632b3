#include "serverfixture.h"

#include "core/record.h"
#include "service/wire.h"

namespace mr::test {

void ServerFixture::SetUp() {
    ASSERT_TRUE(m_dir.isValid());
    QString error;
    ASSERT_TRUE(m_store.open(m_dir.path(), &error)) << error.toStdString();
}

int ServerFixture::newAccount(const QString& nickname, const QString& password) {
    const int id = m_store.createAccount(nickname, password);
    EXPECT_NE(id, 0) << nickname.toStdString();
    return id;
}

server::Session ServerFixture::signOn(int user, const QString& address, int infoPort,
                                      int filePort) {
    server::Session s;
    s.id = m_nextSession++;
    s.peerAddress = address;
    const auto a = m_store.account(user);
    const server::Reply r =
        call(s, 'L', pack("IAWW", {user, a ? a->password : QString(), infoPort, filePort}));
    EXPECT_EQ(r.kind, server::Reply::Kind::Multi);
    return s;
}

server::Reply ServerFixture::call(server::Session& session, char code, const QByteArray& payload,
                                  bool keepAlive, const char* path) {
    server::ServiceRequest request;
    request.path = path ? path : (code == 'T' ? wire::kSharePath : wire::kPingPath);
    request.keepAlive = keepAlive;
    request.body = wire::requestBody(code, 7, payload);
    return server::handleRequest(m_store, m_presence, session, request);
}

server::Reply ServerFixture::ask(char code, const QByteArray& payload) {
    server::Session s;
    s.id = m_nextSession++;
    s.peerAddress = "10.9.9.9";
    return call(s, code, payload, false);
}

QByteArray pack(std::string_view format, std::initializer_list<PackValue> values) {
    const PackResult r = PackRecord(format, values);
    EXPECT_TRUE(r.ok());
    return r.bytes;
}

}  // namespace mr::test
