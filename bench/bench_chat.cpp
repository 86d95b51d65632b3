// Channel chat under load: 200 members on loopback in one channel of moonrake-server's chat
// server, each sending 50 messages at once. Measures the time from the first send to the last
// delivery at every member, against a baseline run alternately: a minimal poll loop that
// broadcasts the same lines over plain sockets. Every message must reach every member exactly
// once and in its sender's order.
//
//   bench_chat [--server PATH] [--members N] [--messages N] [--runs N]

#include "benchutil.h"
#include "core/profile.h"
#include "messaging/chatline.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

using namespace mr;
using bench::Endpoint;

namespace {

constexpr int kRoundTimeoutMs = 120000;
const QByteArray kGroup = "@General";
const QByteArray kChannel = "lobby";

QByteArray nickOf(int i) {
    return "bench" + QByteArray::number(i).rightJustified(3, '0');
}

int connectTo(const Endpoint& e) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(e.port);
    ::inet_pton(AF_INET, e.host.toLatin1().constData(), &a.sin_addr);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const QByteArray& bytes) {
    qsizetype at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        at += n;
    }
    return true;
}

// Splits what arrived on a socket into lines, CR LF removed; false once the peer has closed.
bool readLines(int fd, QByteArray& input, const std::function<void(const QByteArray&)>& line) {
    char buf[65536];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
        return false;
    }
    input.append(buf, n);
    qsizetype start = 0;
    for (qsizetype end; (end = input.indexOf('\n', start)) >= 0; start = end + 1) {
        const qsizetype cr = end > start && input[end - 1] == '\r' ? 1 : 0;
        line(input.mid(start, end - start - cr));
    }
    input.remove(0, start);
    return true;
}

// The members' side, the same against both servers: one thread polling every socket.
class Swarm {
public:
    Swarm(int members, int messages) : m_members(members), m_messages(messages) {}
    ~Swarm() {
        for (const Member& m : m_clients) {
            ::close(m.fd);
        }
    }

    // Connects, logs each member in with his ID and password and joins the channel.
    bool enter(const Endpoint& chat, const std::vector<std::pair<qint32, QByteArray>>& logins) {
        for (int i = 0; i < m_members; ++i) {
            Member m;
            m.fd = connectTo(chat);
            m.expected.assign(m_members, 0);
            if (m.fd < 0 ||
                !sendAll(m.fd,
                         BuildChatCommand(
                             0, {"login", QByteArray::number(logins[i].first), logins[i].second}) +
                             "\r\n" + BuildChatCommand(0, {"JOIN", kGroup, kChannel}) + "\r\n")) {
                return false;
            }
            m_clients.push_back(std::move(m));
        }
        return pump([this] {
            return std::all_of(m_clients.begin(), m_clients.end(),
                               [](const Member& m) { return m.joined; });
        });
    }

    // One round: every member sends his messages; milliseconds until the last is delivered
    // everywhere, or -1.
    double round() {
        QElapsedTimer clock;
        clock.start();
        for (Member& m : m_clients) {
            QByteArray lines;
            for (int k = 0; k < m_messages; ++k) {
                lines +=
                    BuildChatCommand(0, {"msg", kGroup, kChannel, QByteArray::number(m.sent++)}) +
                    "\r\n";
            }
            if (!sendAll(m.fd, lines)) {
                return -1;
            }
        }
        const qint64 wanted = qint64(m_members) * m_members * m_messages;
        m_delivered = 0;
        if (!pump([&] { return m_delivered == wanted; })) {
            return -1;
        }
        return static_cast<double>(clock.nsecsElapsed()) / 1e6;
    }

    QString failure() const { return m_failure; }

private:
    struct Member {
        int fd = -1;
        QByteArray input;
        bool joined = false;
        int sent = 0;
        std::vector<int> expected;  // the next number from each sender
    };

    bool pump(const std::function<bool()>& done) {
        std::vector<pollfd> fds(m_clients.size());
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (!m_failure.isEmpty() || clock.hasExpired(kRoundTimeoutMs)) {
                if (m_failure.isEmpty()) {
                    m_failure = QStringLiteral("timed out");
                }
                return false;
            }
            for (size_t i = 0; i < fds.size(); ++i) {
                fds[i] = {m_clients[i].fd, POLLIN, 0};
            }
            if (::poll(fds.data(), fds.size(), 1000) < 0) {
                return false;
            }
            for (size_t i = 0; i < fds.size(); ++i) {
                if (fds[i].revents == 0) {
                    continue;
                }
                Member& m = m_clients[i];
                if (!readLines(m.fd, m.input, [&](const QByteArray& l) { handle(m, l); })) {
                    m_failure = QStringLiteral("member %1 was disconnected").arg(i);
                }
            }
        }
        return true;
    }

    void handle(Member& m, const QByteArray& line) {
        // Read by hand, so that the members' side costs both servers as little as it can.
        static const QByteArray prefix = "100 " + kGroup + ' ' + kChannel + " bench";
        if (line.startsWith(prefix)) {
            const QByteArrayView rest = QByteArrayView(line).sliced(prefix.size());
            const qsizetype blank = rest.indexOf(' ');
            bool senderOk = false, numberOk = false;
            const int sender = blank < 0 ? -1 : rest.first(blank).toInt(&senderOk);
            const int number = blank < 0 ? -1 : rest.sliced(blank + 1).toInt(&numberOk);
            if (!senderOk || !numberOk || sender < 0 || sender >= m_members ||
                number != m.expected[sender]) {
                m_failure = "out of order or twice: " + QString::fromUtf8(line);
                return;
            }
            ++m.expected[sender];
            ++m_delivered;
            return;
        }
        const int code = SplitChatLine(line).value(0).toInt();
        if (code == 366) {
            m.joined = true;
        } else if (code >= 400) {
            m_failure = "the server said " + QString::fromUtf8(line);
        }
    }

    int m_members;
    int m_messages;
    std::vector<Member> m_clients;
    qint64 m_delivered = 0;
    QString m_failure;
};

// The baseline: accepts the members, answers login and JOIN, and broadcasts every message line
// from one poll loop, what each member is owed written with one blocking send a turn.
class Broadcaster {
public:
    explicit Broadcaster(int members) : m_members(members) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), size);
        ::listen(m_listen, 1024);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &size);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~Broadcaster() {
        m_thread.join();
        ::close(m_listen);
    }

    Endpoint endpoint() const { return {QStringLiteral("127.0.0.1"), m_port}; }

private:
    struct Peer {
        int fd;
        QByteArray nick;
        QByteArray input;
        QByteArray output;
    };

    void run() {
        std::vector<Peer> peers;
        while (static_cast<int>(peers.size()) < m_members) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            peers.push_back({fd, {}, {}, {}});
        }
        std::vector<pollfd> fds(peers.size());
        for (size_t open = peers.size(); open > 0;) {
            for (size_t i = 0; i < peers.size(); ++i) {
                fds[i] = {peers[i].fd, POLLIN, 0};
            }
            ::poll(fds.data(), fds.size(), -1);
            for (size_t i = 0; i < peers.size(); ++i) {
                Peer& p = peers[i];
                if (fds[i].revents != 0 && p.fd >= 0 &&
                    !readLines(p.fd, p.input, [&](const QByteArray& l) { handle(peers, p, l); })) {
                    ::close(p.fd);
                    p.fd = -1;
                    --open;
                }
            }
            for (Peer& p : peers) {
                if (p.fd >= 0 && !p.output.isEmpty()) {
                    sendAll(p.fd, p.output);
                }
                p.output.clear();
            }
        }
    }

    static void handle(std::vector<Peer>& peers, Peer& from, const QByteArray& line) {
        const QList<QByteArray> t = SplitChatLine(line);
        if (t.value(0) == "login") {
            from.nick = nickOf(t.value(1).toInt() - 1);
            from.output += "121 'Welcome To Moonrake'\r\n";
        } else if (t.value(0) == "JOIN") {
            from.output += BuildChatCommand(366, {t.value(1), t.value(2)}) + "\r\n";
        } else if (t.value(0) == "msg") {
            const QByteArray out =
                BuildChatCommand(100, {t.value(1), t.value(2), from.nick, t.value(3)}) + "\r\n";
            for (Peer& p : peers) {
                p.output += out;
            }
        }
    }

    int m_members;
    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};

// One round on members of its own, so that one connection's burst covers the round's lines
// and none waits for the server's pace: milliseconds from the first send to the last delivery
// everywhere, or -1 with the reason printed.
double timedRound(const char* what, const Endpoint& chat, int members, int messages,
                  const std::vector<std::pair<qint32, QByteArray>>& logins) {
    Swarm swarm(members, messages);
    const double ms = swarm.enter(chat, logins) ? swarm.round() : -1;
    if (ms < 0) {
        std::fprintf(stderr, "bench_chat: %s: %s\n", what, qPrintable(swarm.failure()));
    }
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString serverPath = QCoreApplication::applicationDirPath() + "/moonrake-server";
    const int runs = bench::runsOption(args, 5);
    int members = 200, messages = 50;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--server")
            serverPath = args[i + 1];
        else if (args[i] == "--members")
            members = std::clamp(args[i + 1].toInt(), 1, 500);
        else if (args[i] == "--messages")
            messages = std::clamp(args[i + 1].toInt(), 1, 90);  // within the server's burst
    }
    QTemporaryDir data, profile;
    setActiveProfile(profile.path());  // the registration client reads its settings
    QProcess server;
    server.start(serverPath, {"--data", data.path(), "--chat-port", "0"});
    if (!server.waitForStarted(5000) || !server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "bench_chat: moonrake-server did not start (%s)\n",
                     qPrintable(serverPath));
        return 1;
    }
    Endpoint web, chat;
    for (const QString& part : QString::fromUtf8(server.readLine()).trimmed().split(u' ')) {
        if (part.startsWith("web="))
            web = bench::parseEndpoint(part.mid(4));
        else if (part.startsWith("chat="))
            chat = bench::parseEndpoint(part.mid(5));
    }
    std::vector<std::pair<qint32, QByteArray>> logins;
    for (int i = 0; i < members; ++i) {
        const qint32 id = bench::registerUser(web, QString::fromLatin1(nickOf(i)), "pw");
        if (id != i + 1) {
            std::fprintf(stderr, "bench_chat: cannot register %s\n", nickOf(i).constData());
            return 1;
        }
        logins.emplace_back(id, "pw");
    }

    std::printf(
        "%d members, %d messages each, every one delivered to every member once and in "
        "order; time from the first send to the last delivery\n",
        members, messages);
    const bool ok =
        bench::alternate(
            {"chat", "ms", false, "<=3.0"}, runs,
            [&] {
                Broadcaster baseline(members);
                return timedRound("baseline", baseline.endpoint(), members, messages, logins);
            },
            [&] { return timedRound("chat server", chat, members, messages, logins); })
            .has_value();
    server.kill();
    server.waitForFinished(5000);
    return ok ? 0 : 1;
}
