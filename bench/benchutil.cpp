#include "benchutil.h"

#include "service/registrationclient.h"
#include "service/wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mr::bench {

Endpoint parseEndpoint(const QString& text) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    return {text.left(colon), static_cast<quint16>(text.mid(colon + 1).toUInt())};
}

ServerProcess::ServerProcess(const QString& program, const QString& dataDir) {
    m_process.start(program, {QStringLiteral("--data"), dataDir});
    if (!m_process.waitForStarted(5000) || !m_process.waitForReadyRead(10000)) {
        return;
    }
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    for (const QString& part : line.split(QLatin1Char(' '))) {
        if (part.startsWith(QLatin1String("service="))) {
            m_service = parseEndpoint(part.mid(8));
        } else if (part.startsWith(QLatin1String("web="))) {
            m_web = parseEndpoint(part.mid(4));
        }
    }
}

ServerProcess::~ServerProcess() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

qint32 registerUser(const Endpoint& web, const QString& nick, const QString& password) {
    RegistrationClient registration;
    registration.setEndpoint(web.host, web.port);
    const auto reply = registration.getAndWait(RegistrationClient::registerPath(nick, password));
    return reply ? RegistrationClient::parseRegisterReply(*reply) : 0;
}

std::optional<QByteArray> plainRequest(const Endpoint& service, const QByteArray& frame,
                                       bool multi) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(service.port);
    ::inet_pton(AF_INET, service.host.toLatin1().constData(), &a.sin_addr);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              ::send(fd, frame.constData(), frame.size(), MSG_NOSIGNAL) == frame.size();
    wire::ReplyReader reader(multi, false);
    char buf[65536];
    while (ok && reader.bytesWanted() > 0) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        ok = n > 0;
        if (ok) {
            reader.feed(QByteArrayView(buf, n));
        }
    }
    ::close(fd);
    if (!ok || !reader.complete() || reader.errorEnd()) {
        return std::nullopt;
    }
    return reader.data();
}

}  // namespace mr::bench
