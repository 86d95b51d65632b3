#include "service/pollable.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace mr {

namespace {

int makeEventFd(int flags) {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | flags);
    if (fd < 0) {
        throw std::runtime_error("eventfd failed");
    }
    return fd;
}

void addToCounter(int fd, std::uint64_t n) {
    while (::write(fd, &n, sizeof n) < 0 && errno == EINTR) {
    }
}

}  // namespace

TPollableEvent::TPollableEvent() : m_fd(makeEventFd(0)) {}

TPollableEvent::~TPollableEvent() {
    ::close(m_fd);
}

void TPollableEvent::set() {
    addToCounter(m_fd, 1);
}

void TPollableEvent::reset() {
    std::uint64_t value = 0;
    while (::read(m_fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

bool TPollableEvent::isSet() const {
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

TPollableSemaphore::TPollableSemaphore() : m_fd(makeEventFd(EFD_SEMAPHORE)) {}

TPollableSemaphore::~TPollableSemaphore() {
    ::close(m_fd);
}

void TPollableSemaphore::release(std::uint64_t n) {
    if (n > 0) {
        addToCounter(m_fd, n);
    }
}

bool TPollableSemaphore::tryAcquire() {
    std::uint64_t value = 0;
    for (;;) {
        if (::read(m_fd, &value, sizeof value) == sizeof value) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

}  // namespace mr
