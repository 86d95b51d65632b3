// The agent's request throughput against moonrake-server (or, when it cannot be started, an
// in-process responder), measured beside a plain-socket baseline in the same run, and beside it
// the floor of its design: the same plain requests made on a worker thread whose replies are
// handed to the event loop.
//
//   bench_agent [--server PATH] [--requests N] [--profiles N] [--runs N]

#include "benchutil.h"
#include "core/hostinfo.h"
#include "core/profile.h"
#include "core/record.h"
#include "core/userinfo.h"
#include "service/headlesssession.h"
#include "service/wire.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

using namespace mr;
using bench::Endpoint;

namespace {

// Adds one to an eventfd's counter, waking whoever waits on it; false when that failed.
bool signalEventFd(int fd) {
    const std::uint64_t one = 1;
    return ::write(fd, &one, sizeof one) == sizeof one;
}

// Answers "L", "?", "H" and "Q" the way the service frames them; one thread per connection.
class Responder {
public:
    Responder() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_fd, 128);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        m_stop = ::eventfd(0, EFD_CLOEXEC);
        m_thread = std::thread([this] { acceptLoop(); });
    }
    ~Responder() {
        signalEventFd(m_stop);
        m_thread.join();
        ::close(m_fd);
        ::close(m_stop);
    }
    std::uint16_t port = 0;

private:
    bool readable(int fd) {
        pollfd p[2] = {{fd, POLLIN, 0}, {m_stop, POLLIN, 0}};
        return ::poll(p, 2, -1) > 0 && !(p[1].revents & POLLIN);
    }
    void acceptLoop() {
        struct Served {
            std::thread thread;
            std::shared_ptr<std::atomic<bool>> done;
        };
        std::vector<Served> threads;
        while (readable(m_fd)) {
            const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            // The threads of finished connections are joined as new ones come: one kept per
            // one-shot request would run out of threads within a run.
            std::erase_if(threads, [](Served& s) {
                if (!*s.done) {
                    return false;
                }
                s.thread.join();
                return true;
            });
            auto done = std::make_shared<std::atomic<bool>>(false);
            threads.push_back({std::thread([this, fd, done] {
                                   serve(fd);
                                   *done = true;
                               }),
                               done});
        }
        for (Served& s : threads) {
            s.thread.join();
        }
    }
    void serve(int fd) {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        wire::RequestReader reader;
        QByteArray pending;
        char buf[4096];
        while (readable(fd)) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
                break;
            }
            pending.append(buf, n);
            for (;;) {
                pending.remove(0, reader.feed(pending));
                if (reader.status() != wire::RequestReader::Status::Ready) {
                    break;
                }
                const char code = reader.body().isEmpty() ? 0 : reader.body()[0];
                const bool keepAlive = reader.keepAlive();
                QByteArray reply;
                if (code == 'L') {
                    reply = wire::endRecord('T', keepAlive);
                } else if (code == 'H') {
                    reply = wire::replyRecord('H', PackRecord("AWW", {"127.0.0.1", 0, 0}).bytes);
                } else if (code == '?') {
                    reply = wire::replyRecord('?');
                } else if (code != 'Q') {
                    reply = wire::endRecord('E', keepAlive);
                }
                if (code == 'Q' || ::send(fd, reply.constData(), reply.size(), MSG_NOSIGNAL) < 0 ||
                    !keepAlive) {
                    ::close(fd);
                    return;
                }
                reader.reset();
            }
            if (reader.status() == wire::RequestReader::Status::Broken) {
                break;
            }
        }
        ::close(fd);
    }

    int m_fd = -1;
    int m_stop = -1;
    std::thread m_thread;
};

// Sends `count` requests through `send`, keeping at most `window` of them outstanding, and
// returns the elapsed nanoseconds (or -1 when a request failed or was refused).
qint64 runThroughAgent(int count, int window,
                       const std::function<bool(QObject*, RequestHandler)>& send) {
    QObject owner;
    QEventLoop loop;
    int sent = 0, done = 0, failed = 0;
    std::function<void()> topUp;
    const RequestHandler handler = [&](TRequest& r) {
        ++done;
        failed += r.failed();
        if (done == count) {
            loop.quit();
        } else {
            topUp();
        }
    };
    topUp = [&] {
        while (sent < count && sent - done < window) {
            if (!send(&owner, handler)) {
                failed = count;
                loop.quit();
                return;
            }
            ++sent;
        }
    };
    QElapsedTimer timer;
    timer.start();
    topUp();
    if (failed == 0) {
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const qint64 ns = timer.nsecsElapsed();
    return failed == 0 && done == count ? ns : -1;
}

// The least a request costs when it runs on a worker thread and completes on the main thread's
// event loop, as the agent's do: `count` plain-socket requests, one at a time, each made on one
// waiting thread and its end handed to the event loop, which hands the next back. Requests per
// second, or -1 when one failed.
double workerFloor(int count, const std::function<bool()>& request) {
    const int toWorker = ::eventfd(0, EFD_CLOEXEC);
    const int toMain = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::atomic<bool> ok{toWorker >= 0 && toMain >= 0};
    std::thread worker([&] {
        std::uint64_t value = 0;
        for (int i = 0; i < count && ok && ::read(toWorker, &value, sizeof value) > 0; ++i) {
            ok = request() && ok;
            signalEventFd(toMain);
        }
    });
    QEventLoop loop;
    QSocketNotifier done(toMain, QSocketNotifier::Read);
    int finished = 0;
    QObject::connect(&done, &QSocketNotifier::activated, &loop, [&] {
        std::uint64_t value = 0;
        [[maybe_unused]] const auto r = ::read(toMain, &value, sizeof value);
        if (++finished == count || !ok) {
            loop.quit();
        } else {
            signalEventFd(toWorker);
        }
    });
    QElapsedTimer timer;
    timer.start();
    if (ok && signalEventFd(toWorker)) {
        loop.exec();
    }
    const qint64 ns = timer.nsecsElapsed();
    ok = ok && finished == count;
    if (!ok) {
        signalEventFd(toWorker);  // a worker still waiting reads this, finds !ok and ends
    }
    worker.join();
    ::close(toWorker);
    ::close(toMain);
    return bench::perSecond(count, ns / 1e9, ok);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString serverPath = QCoreApplication::applicationDirPath() + "/moonrake-server";
    int requests = 2000;
    int profiles = 10000;
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--server") {
            serverPath = args[i + 1];
        } else if (args[i] == "--requests") {
            requests = args[i + 1].toInt();
        } else if (args[i] == "--profiles") {
            profiles = args[i + 1].toInt();
        }
    }

    QTemporaryDir profileDir, dataDir;
    setActiveProfile(profileDir.path());

    Endpoint service;
    std::optional<bench::ServerProcess> server;
    std::optional<Responder> responder;
    if (QFileInfo(serverPath).isExecutable()) {
        server.emplace(serverPath, dataDir.path());
    }
    qint32 userId = 1;
    if (server && server->ready()) {
        service = server->service();
        userId = bench::registerUser(server->web(), QStringLiteral("bench"), QStringLiteral("pw"));
        std::printf("service: moonrake-server at %s:%u\n", qPrintable(service.host), service.port);
    } else {
        responder.emplace();
        service = {QStringLiteral("127.0.0.1"), responder->port};
        std::printf("service: in-process responder (moonrake-server not available)\n");
    }
    UserInfo().setId(userId);
    UserInfo().setPassword(QStringLiteral("pw"));
    HostInfo().set(HostStore::Moonrake, service.host + ':' + QString::number(service.port));

    HeadlessSession session;
    if (userId <= 0 || !session.signOn(0, 0)) {
        std::fprintf(stderr, "bench_agent: cannot sign on\n");
        return 1;
    }
    TMRAgentHttp& agent = session.agent();
    const auto locate = [&](QObject* owner, RequestHandler h) {
        return agent.LocateUser(owner, std::move(h), userId);
    };
    const QByteArray frame = wire::frameRequest(
        wire::kPingPath, wire::requestBody('H', 1, PackRecord("I", {userId}).bytes), false);

    // One-shot "H" requests: the baseline opens a plain socket per request, one at a time.
    const auto plain = [&] {
        QElapsedTimer timer;
        timer.start();
        bool ok = true;
        for (int i = 0; i < requests && ok; ++i) {
            ok = bench::plainRequest(service, frame, false).has_value();
        }
        return bench::perSecond(requests, timer.nsecsElapsed() / 1e9, ok);
    };
    const auto through = [&](int window) {
        return [&, window] {
            const qint64 ns = runThroughAgent(requests, window, locate);
            return bench::perSecond(requests, ns / 1e9, ns >= 0);
        };
    };
    std::printf("one-shot \"H\" x %d; ours one at a time, then 64 queued on 5 workers\n", requests);
    runThroughAgent(100, 1, locate);  // warm-up
    const int runs = bench::runsOption(args);
    // No goal: how close to plain sockets any agent can come whose requests run on a worker and
    // complete on the main thread, the two hand-overs per request and nothing else.
    std::printf(
        "request-floor: \"ours\" is the plain request made on a worker thread, each "
        "reply handed to the event loop\n");
    const auto onWorker = [&] {
        return workerFloor(requests,
                           [&] { return bench::plainRequest(service, frame, false).has_value(); });
    };
    if (!bench::alternate({"request-floor", "req/s", true, nullptr}, runs, plain, onWorker) ||
        !bench::alternate({"request", "req/s", true, ">=0.8"}, runs, plain, through(1)) ||
        !bench::alternate({"request-queued", "req/s", true, ">=1.3"}, runs, plain, through(64))) {
        return 1;
    }

    const qint64 keepAlive = runThroughAgent(profiles, 1, [&](QObject* owner, RequestHandler h) {
        return agent.SendProfile(owner, std::move(h));
    });
    if (keepAlive < 0) {
        std::fprintf(stderr, "bench_agent: a profile request failed\n");
        return 1;
    }
    std::printf("keep-alive \"?\" x %d, one at a time: %.0f req/s\n", profiles,
                bench::perSecond(profiles, keepAlive / 1e9));

    session.signOff();
    return 0;
}
