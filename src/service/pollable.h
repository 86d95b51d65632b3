#pragma once

#include <cstdint>

namespace mr {

// A manual-reset event whose state a worker can wait for in the same poll() as its socket.
class PollableEvent {
public:
    PollableEvent();
    ~PollableEvent();
    PollableEvent(const PollableEvent&) = delete;
    PollableEvent& operator=(const PollableEvent&) = delete;

    void set();
    void reset();
    bool isSet() const;
    // Readable while the event is set.
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// A counting semaphore that poll() can wait for: readable while its count is above zero.
class PollableSemaphore {
public:
    PollableSemaphore();
    ~PollableSemaphore();
    PollableSemaphore(const PollableSemaphore&) = delete;
    PollableSemaphore& operator=(const PollableSemaphore&) = delete;

    void release(std::uint64_t n = 1);
    // Takes one unit when one is there; never blocks.
    bool tryAcquire();
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

}  // namespace mr
