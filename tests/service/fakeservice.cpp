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
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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

void Gate::open() {
    std::lock_guard lock(m_mutex);
    m_open = true;
    m_cv.notify_all();
}

bool Gate::wait(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_open; });
}

std::optional<SeenRequest> FakeConnection::readRequest(int timeoutMs) {
    wire::RequestReader reader;
    SeenRequest seen;
    for (;;) {
        if (!m_buffer.isEmpty()) {
            const qsizetype used = reader.feed(m_buffer);
            seen.raw.append(m_buffer.left(used));
            m_buffer.remove(0, used);
            if (reader.status() == wire::RequestReader::Status::Ready) {
                seen.path = reader.path();
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
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.constData() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += n;
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

FakeService::FakeService(Script script) : m_script(std::move(script)) {
    m_listenFd = listenOn(16, m_port);
    m_stopFd = ::eventfd(0, EFD_CLOEXEC);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

FakeService::~FakeService() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto w = ::write(m_stopFd, &one, sizeof one);
    if (m_acceptThread.joinable()) {
        m_acceptThread.join();
    }
    for (auto& t : m_threads) {
        t.join();
    }
    ::close(m_listenFd);
    ::close(m_stopFd);
}

void FakeService::acceptLoop() {
    while (waitReadable(m_listenFd, m_stopFd, -1) == 1) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        const int index = m_accepted++;
        m_threads.emplace_back([this, fd, index] {
            FakeConnection connection(*this, fd, m_stopFd);
            m_script(connection, index);
            ::close(fd);
        });
    }
}

void FakeService::record(const SeenRequest& r) {
    std::lock_guard lock(m_mutex);
    m_requests.push_back(r);
}

std::vector<SeenRequest> FakeService::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::uint16_t refusedPort() {
    std::uint16_t port = 0;
    const int fd = listenOn(1, port);
    ::close(fd);
    return port;
}

}  // namespace mr::test
