#include "service/blockingsocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mr {

BlockingSocket::BlockingSocket(int stopFd) : m_stopFd(stopFd) {}

BlockingSocket::~BlockingSocket() {
    close();
}

void BlockingSocket::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

BlockingSocket::Result BlockingSocket::waitFor(short events, int timeoutMs) {
    pollfd fds[2] = {{m_fd, events, 0}, {m_stopFd, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, timeoutMs < 0 ? -1 : timeoutMs);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return Result::Error;
        }
        if (fds[1].revents & POLLIN) {
            m_error = QStringLiteral("stopped");
            return Result::Stopped;
        }
        if (n == 0) {
            m_error = QStringLiteral("timed out");
            return Result::Timeout;
        }
        return Result::Ok;
    }
}

BlockingSocket::Result BlockingSocket::connectTo(const QString& host, std::uint16_t port,
                                                 int timeoutMs) {
    close();
    // A numeric address, the usual case, needs no resolver round.
    sockaddr_in numeric{};
    if (::inet_pton(AF_INET, host.toLatin1().constData(), &numeric.sin_addr) == 1) {
        numeric.sin_family = AF_INET;
        numeric.sin_port = htons(port);
        addrinfo single{};
        single.ai_family = AF_INET;
        single.ai_socktype = SOCK_STREAM;
        single.ai_addr = reinterpret_cast<sockaddr*>(&numeric);
        single.ai_addrlen = sizeof numeric;
        return connectToAny(&single, timeoutMs);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const QByteArray service = QByteArray::number(port);
    const int rc = ::getaddrinfo(host.toUtf8().constData(), service.constData(), &hints, &list);
    if (rc != 0 || !list) {
        m_error = QStringLiteral("cannot resolve %1: %2")
                      .arg(host, QString::fromLocal8Bit(gai_strerror(rc)));
        return Result::Error;
    }
    const Result result = connectToAny(list, timeoutMs);
    ::freeaddrinfo(list);
    return result;
}

BlockingSocket::Result BlockingSocket::connectToAny(const addrinfo* list, int timeoutMs) {
    Result result = Result::Error;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        m_fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (m_fd < 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            continue;
        }
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(m_fd, a->ai_addr, a->ai_addrlen) == 0) {
            result = Result::Ok;
            break;
        }
        if (errno != EINPROGRESS) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            close();
            continue;
        }
        result = waitFor(POLLOUT, timeoutMs);
        if (result == Result::Ok) {
            int error = 0;
            socklen_t len = sizeof error;
            ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &len);
            if (error == 0) {
                break;
            }
            m_error = QString::fromLocal8Bit(std::strerror(error));
            result = Result::Error;
        }
        close();
        if (result == Result::Stopped) {
            break;
        }
    }
    return result;
}

BlockingSocket::Result BlockingSocket::writeAll(QByteArrayView data, int timeoutMs) {
    qsizetype sent = 0;
    while (sent < data.size()) {
        const ssize_t n =
            ::send(m_fd, data.data() + sent, static_cast<size_t>(data.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const Result r = waitFor(POLLOUT, timeoutMs);
            if (r != Result::Ok) {
                return r;
            }
            continue;
        }
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return Result::Error;
    }
    return Result::Ok;
}

BlockingSocket::Result BlockingSocket::waitReadable(int timeoutMs) {
    return waitFor(POLLIN, timeoutMs);
}

BlockingSocket::Result BlockingSocket::readSome(char* buffer, qsizetype max, qsizetype& got,
                                                int timeoutMs) {
    got = 0;
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, static_cast<size_t>(max), 0);
        if (n > 0) {
            got = n;
            return Result::Ok;
        }
        if (n == 0) {
            m_error = QStringLiteral("connection closed by the peer");
            return Result::Closed;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return Result::Error;
        }
        const Result r = waitFor(POLLIN, timeoutMs);
        if (r != Result::Ok) {
            return r;
        }
    }
}

BlockingSocket::Wake BlockingSocket::waitIdle(int otherFd) {
    pollfd fds[3] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}, {otherFd, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 3, -1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return Wake::Error;
        }
        if (fds[1].revents & POLLIN) {
            return Wake::Stopped;
        }
        if (fds[2].revents & POLLIN) {
            return Wake::Other;
        }
        return Wake::Readable;
    }
}

}  // namespace mr
