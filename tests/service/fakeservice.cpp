#include "fakeservice.h"

#include "service/wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace mr::test {

namespace {

int listenOn(int backlog, std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, backlog);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

// 1 readable, 0 time-out, -1 stopped or failed.
int waitReadable(int fd, int stopFd, int timeoutMs) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    int n;
    do {
        n = ::poll(fds, 2, timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n < 0 || (fds[1].revents & POLLIN)) {
        return -1;
    }
    return n == 0 ? 0 : 1;
}

}  // namespace

std::optional<SeenRequest> FakeConnection::readRequest(int timeoutMs) {
    wire::RequestReader reader;
    SeenRequest seen;
    for (;;) {
        if (!m_buffer.isEmpty()) {
            const qsizetype used = reader.feed(m_buffer);
            seen.raw.append(m_buffer.left(used));
            m_buffer.remove(0, used);
            if (reader.status() == wire::RequestReader::Status::Ready) {
                seen.keepAlive = reader.keepAlive();
                seen.body = reader.body();
                m_service.record(seen);
                return seen;
            }
            if (reader.status() == wire::RequestReader::Status::Broken) {
                return std::nullopt;
            }
        }
        if (waitReadable(m_fd, m_stopFd, timeoutMs) != 1) {
            return std::nullopt;
        }
        char chunk[4096];
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return std::nullopt;
        }
        m_buffer.append(chunk, n);
    }
}

bool FakeConnection::send(const QByteArray& bytes) {
    for (qsizetype sent = 0, n = 0; sent < bytes.size(); sent += n) {
        n = ::send(m_fd, bytes.constData() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
    }
    return true;
}

bool FakeConnection::peerClosed(int timeoutMs) {
    if (waitReadable(m_fd, m_stopFd, timeoutMs) != 1) {
        return false;
    }
    char c;
    return ::recv(m_fd, &c, 1, 0) == 0;
}

FakeService::FakeService(Script script)
    : m_script(std::move(script)),
      m_listenFd(listenOn(16, m_port)),
      m_stopFd(::eventfd(0, EFD_CLOEXEC)),
      m_acceptThread([this] {
          while (waitReadable(m_listenFd, m_stopFd, -1) == 1) {
              const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
              if (fd < 0) {
                  continue;
              }
              m_threads.emplace_back([this, fd, index = m_accepted++] {
                  FakeConnection connection(*this, fd, m_stopFd);
                  m_script(connection, index);
                  ::close(fd);
              });
          }
      }) {}

FakeService::~FakeService() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto w = ::write(m_stopFd, &one, sizeof one);
    m_acceptThread.join();
    for (auto& t : m_threads) {
        t.join();
    }
    ::close(m_listenFd);
    ::close(m_stopFd);
}

std::vector<SeenRequest> FakeService::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int FakeService::count(char code) const {
    int n = 0;
    for (const SeenRequest& r : requests()) {
        n += r.code() == code;
    }
    return n;
}

}  // namespace mr::test
