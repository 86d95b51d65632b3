#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <optional>

namespace mr::bench {

struct Endpoint {
    QString host;
    quint16 port = 0;
};

// "HOST:PORT" as the server's ready line writes it.
Endpoint parseEndpoint(const QString& text);

// A moonrake-server on a data folder of the caller's; killed with the object.
class ServerProcess {
public:
    ServerProcess(const QString& program, const QString& dataDir);
    ~ServerProcess();

    bool ready() const { return m_service.port != 0 && m_web.port != 0; }
    Endpoint service() const { return m_service; }
    Endpoint web() const { return m_web; }

private:
    QProcess m_process;
    Endpoint m_service;
    Endpoint m_web;
};

// A new account on the server's web port; its id, or 0.
qint32 registerUser(const Endpoint& web, const QString& nick, const QString& password);

// The baselines' client: one request on its own plain socket, the reply read to its end; the
// reply's data, or nothing when the request failed.
std::optional<QByteArray> plainRequest(const Endpoint& service, const QByteArray& frame,
                                       bool multi);

}  // namespace mr::bench
