#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace mr::test {

inline constexpr int kServerTimeoutMs = 15000;

struct Endpoint {
    QString host;
    quint16 port = 0;

    // "HOST:PORT", as the server's ready line and the host lists write it.
    QString text() const { return host + ':' + QString::number(port); }
};

Endpoint endpoint(const QString& text);

// A running moonrake-server; it is killed when the test is done with it unless terminated.
class Server {
public:
    explicit Server(const QStringList& args);
    ~Server();

    bool ready() const { return m_service.port != 0 && m_web.port != 0; }
    QString readyLine() const { return m_ready; }
    Endpoint service() const { return m_service; }
    Endpoint web() const { return m_web; }
    // Port 0 unless the server was started with --smtp-port.
    Endpoint smtp() const { return m_smtp; }
    // Port 0 unless the server was started with --chat-port.
    Endpoint chat() const { return m_chat; }

    // SIGTERM; the exit code, or -1 when it did not end cleanly in time.
    int terminate();
    // SIGKILL, as a crash or a power cut would end it.
    void kill();

private:
    std::unique_ptr<QProcess> m_process;
    QString m_ready;
    Endpoint m_service;
    Endpoint m_web;
    Endpoint m_smtp;
    Endpoint m_chat;
};

// Points a profile at the server, registers the nickname (password "pw " + nick) and returns
// the new user's id, 0 when registration failed.
int registerUser(const QString& profile, const Server& server, const QString& nick);

// A server on a fresh data folder (and those extra arguments) with alice, then bob, registered,
// each on a profile of their own.
struct TwoMembers {
    explicit TwoMembers(const QStringList& serverArgs = {});
    // Whether all of it stands; a failure says which part did not.
    ::testing::AssertionResult up() const;

    QTemporaryDir data, aliceDir, bobDir;
    Server server;
    const QString alice = aliceDir.path();
    const QString bob = bobDir.path();
    const int aliceId;
    const int bobId;
};

}  // namespace mr::test
