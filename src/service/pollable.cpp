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

PollableEvent::PollableEvent() : m_fd(makeEventFd(0)) {}

PollableEvent::~PollableEvent() {
    ::close(m_fd);
}

void PollableEvent::set() {
    addToCounter(m_fd, 1);
}

void PollableEvent::reset() {
    std::uint64_t value = 0;
    while (::read(m_fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

bool PollableEvent::isSet() const {
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

PollableSemaphore::PollableSemaphore() : m_fd(makeEventFd(EFD_SEMAPHORE)) {}

PollableSemaphore::~PollableSemaphore() {
    ::close(m_fd);
}

void PollableSemaphore::release(std::uint64_t n) {
    if (n > 0) {
        addToCounter(m_fd, n);
    }
}

bool PollableSemaphore::tryAcquire() {
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
