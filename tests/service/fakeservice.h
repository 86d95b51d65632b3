#pragma once

#include "testutil.h"

#include <QByteArray>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace mr::test {

// One request as the fake service received it.
struct SeenRequest {
    QByteArray raw;  // every byte, head and body
    bool keepAlive = false;
    QByteArray body;
    char code() const { return body.isEmpty() ? 0 : body[0]; }
};

// A one-shot signal between threads, with a bounded wait.
class Gate {
public:
    void open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    bool wait(int timeoutMs = 5000) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
};

// One accepted connection; every call blocks for at most its time-out.
class FakeService;
class FakeConnection {
public:
    FakeConnection(FakeService& service, int fd, int stopFd)
        : m_service(service), m_fd(fd), m_stopFd(stopFd) {}
    // Nothing when the peer closed, the bytes were not a request, or the time-out passed.
    std::optional<SeenRequest> readRequest(int timeoutMs = 5000);
    bool send(const QByteArray& bytes);
    // True when the peer closes its side within the time-out.
    bool peerClosed(int timeoutMs = 5000);

private:
    FakeService& m_service;
    int m_fd;
    int m_stopFd;
    QByteArray m_buffer;
};

// A scripted stand-in for the service on 127.0.0.1: each accepted connection runs the script
// on its own thread and is closed when the script returns. Every request read is recorded.
class FakeService {
public:
    using Script = std::function<void(FakeConnection&, int connectionIndex)>;

    explicit FakeService(Script script);
    ~FakeService();

    std::uint16_t port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    int accepted() const { return m_accepted.load(); }
    std::vector<SeenRequest> requests() const;
    int count(char code) const;
    void record(const SeenRequest& r) {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(r);
    }

private:
    Script m_script;
    std::uint16_t m_port = 0;
    int m_listenFd;
    int m_stopFd;
    std::atomic<int> m_accepted{0};
    mutable std::mutex m_mutex;
    std::vector<SeenRequest> m_requests;
    std::vector<std::thread> m_threads;
    std::thread m_acceptThread;
};

}  // namespace mr::test
