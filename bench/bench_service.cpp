// The service under a whole network at once: N members sign on over keep-alive connections,
// each publishes M entries, then each signs on again, polls its contacts, searches and locates
// another member while the others search. Ours is moonrake-server answering over its wire; the
// baseline is one plain loop making the same store calls (the same SQL) on a copy of the same
// data, in process and on one thread. Besides the rate it reports the slowest reply and the
// slowest sign-on or presence reply ("L", "C", "H") of one more member while the others
// search, beside the same while the others send the same burst without its searches: what
// searches add to presence is the difference.
//
//   bench_service [--server PATH] [--members N] [--entries M] [--batch B] [--searches S]
//                 [--threads T] [--runs R] [--soak]
//
// --soak runs the service once and checks it: every request answered, the counts right, and
// presence gone once the members' connections have closed; it exits 1 when a check fails.

#include "benchutil.h"
#include "core/record.h"
#include "service/wire.h"
#include "store.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <random>
#include <thread>
#include <vector>

using namespace mr;
using bench::Endpoint;

namespace {

const char kPassword[] = "pw";
const char kFolder[] = "Music";
constexpr int kWords = 400;
// A phase that has not finished by then has lost requests.
constexpr qint64 kPhaseTimeoutMs = 600000;

struct Options {
    QString server;
    int members = 1000;
    int entries = 1000;
    int batch = 100;
    int searches = 2;
    int threads = 4;
    int runs = 3;
    bool soak = false;
};

QByteArray word(int i) {
    static const char* consonants = "bcdfghjklmnprstv";
    static const char* vowels = "aeiou";
    QByteArray w;
    std::mt19937 random(static_cast<unsigned>(i) * 7919u + 1u);
    for (int s = 0; s < 3; ++s) {
        w += consonants[random() % 16];
        w += vowels[random() % 5];
    }
    return w;
}

// The entries one member publishes: his folder, then files in it.
QList<server::CatalogEntry> entriesOf(int member, int count) {
    QList<server::CatalogEntry> list;
    list.append({member, "", kFolder, -1, 45000, false, " "});
    for (int i = 1; i < count; ++i) {
        const int serial = member * 7 + i * 13;
        list.append({member, kFolder,
                     word(serial % kWords) + ' ' + word((serial / 3) % kWords) + " - " +
                         QByteArray::number(i) + ".mp3",
                     1000 + (i * 7919) % 9000000, 45000 + i / 1440.0, false,
                     i % 4 == 0 ? word(i % kWords) : QByteArray(" ")});
    }
    return list;
}

QByteArray searchPattern(int member, int n) {
    return '%' + word((member * 31 + n * 17) % kWords) + '%';
}

int otherMember(int member, int members) {
    return member % members + 1;
}

QByteArray frame(const char* path, char code, const QByteArray& payload, bool keepAlive) {
    return wire::frameRequest(path, wire::requestBody(code, 1, payload), keepAlive);
}

// One request of the workload, as sent on the wire.
struct Request {
    char code = 0;
    QByteArray bytes;
    bool multi = false;
    int expectAdded = -1;  // for "T": how many additions the reply must count
};

Request signOnRequest(int member) {
    return {'L',
            frame(wire::kPingPath, 'L', PackRecord("IAWW", {member, kPassword, 4000, 4001}).bytes,
                  true),
            true};
}

Request pollRequest() {
    return {'C', frame(wire::kPingPath, 'C', {}, true), true};
}

Request locateRequest(int member) {
    return {'H', frame(wire::kPingPath, 'H', PackRecord("I", {member}).bytes, false), false};
}

Request searchRequest(const QByteArray& pattern) {
    return {'S',
            frame(wire::kPingPath, 'S',
                  PackRecord("AAIIABBB", {pattern, "%", -2, -2, "%", 0, 100, 0}).bytes, false),
            true};
}

QList<Request> publishRequests(int member, int entries, int batch) {
    const QList<server::CatalogEntry> all = entriesOf(member, entries);
    QList<Request> out;
    for (qsizetype from = 0; from < all.size(); from += batch) {
        QByteArray payload = PackRecord("BIA", {'L', member, kPassword}).bytes;
        const qsizetype to = std::min<qsizetype>(all.size(), from + batch);
        for (qsizetype i = from; i < to; ++i) {
            const server::CatalogEntry& e = all[i];
            payload += 'A';
            payload +=
                PackRecord("IDWBAAA", {e.size, e.date, 0, 0, "/" + e.folder, e.name, e.description})
                    .bytes;
        }
        out.append({'T', frame(wire::kSharePath, 'T', payload, false), false,
                    static_cast<int>(to - from)});
    }
    return out;
}

// The "Q" record of a contacts poll: online files, files, present members, members.
std::optional<std::array<std::int32_t, 4>> pollCounts(const QByteArray& data) {
    const qsizetype q = data.lastIndexOf('Q');
    if (q < 0 || data.size() - q != 17) {
        return std::nullopt;
    }
    std::array<std::int32_t, 4> n{};
    if (!UnpackRecord(QByteArrayView(data).sliced(q + 1), "IIII", {&n[0], &n[1], &n[2], &n[3]})
             .ok()) {
        return std::nullopt;
    }
    return n;
}

double msSince(const QElapsedTimer& t) {
    return t.nsecsElapsed() / 1e6;
}

// What a phase of the workload came to.
struct Tally {
    qint64 requests = 0;
    qint64 lost = 0;
    double seconds = 0;
    double slowestMs = 0;
    double slowestPresenceMs = 0;  // "L", "C" and "H"
    QStringList faults;

    void add(const Tally& o) {
        requests += o.requests;
        lost += o.lost;
        seconds += o.seconds;
        slowestMs = std::max(slowestMs, o.slowestMs);
        slowestPresenceMs = std::max(slowestPresenceMs, o.slowestPresenceMs);
        faults += o.faults;
    }
    void fault(const QString& what) {
        ++lost;
        if (faults.size() < 10) {
            faults.append(what);
        }
    }
};

// A member's two channels: one keep-alive connection that lasts across phases and carries its
// requests in turn, and one-shot connections, one per request, beside it.
struct Channel {
    explicit Channel(bool keepAlive) : keepAlive(keepAlive) {}

    bool keepAlive;
    int fd = -1;
    bool connecting = false;
    std::deque<Request> queue;
    QByteArray out;
    qsizetype sent = 0;
    std::optional<wire::ReplyReader> reader;
    QElapsedTimer started;
};

struct Member {
    int id = 0;
    Channel alive{true};
    Channel once{false};
    QByteArray lastPoll;  // data of the last "C" reply
};

int openConnection(const Endpoint& service) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(service.port);
    ::inet_pton(AF_INET, service.host.toLatin1().constData(), &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Drives the queued requests of some members over their channels with one poll loop, until
// every queue is empty.
class Driver {
public:
    Driver(const Endpoint& service, std::vector<Member*> members)
        : m_service(service), m_members(std::move(members)) {}

    Tally run() {
        Tally tally;
        QElapsedTimer clock;
        clock.start();
        std::vector<pollfd> fds;
        std::vector<Channel*> owners;
        std::vector<Member*> ownerMembers;
        for (;;) {
            fds.clear();
            owners.clear();
            ownerMembers.clear();
            for (Member* m : m_members) {
                for (Channel* c : {&m->alive, &m->once}) {
                    if (!c->reader && !c->queue.empty()) {
                        start(*m, *c, tally);
                    }
                    if (c->fd >= 0 && c->reader) {
                        const bool writing = c->connecting || c->sent < c->out.size();
                        fds.push_back({c->fd, static_cast<short>(writing ? POLLOUT : POLLIN), 0});
                        owners.push_back(c);
                        ownerMembers.push_back(m);
                    }
                }
            }
            if (fds.empty()) {
                break;
            }
            if (clock.elapsed() > kPhaseTimeoutMs) {
                for (size_t i = 0; i < owners.size(); ++i) {
                    fail(*ownerMembers[i], *owners[i], tally, "no reply within the time-out");
                }
                continue;
            }
            if (::poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR) {
                tally.fault(QStringLiteral("poll failed"));
                break;
            }
            for (size_t i = 0; i < fds.size(); ++i) {
                if (fds[i].revents != 0) {
                    service(*ownerMembers[i], *owners[i], fds[i].revents, tally);
                }
            }
        }
        return tally;
    }

private:
    void start(Member& m, Channel& c, Tally& tally) {
        c.started.start();
        if (c.fd < 0) {
            c.fd = openConnection(m_service);
            c.connecting = true;
            if (c.fd < 0) {
                c.reader.emplace(false, false);
                fail(m, c, tally, QStringLiteral("cannot connect"));
                return;
            }
        }
        c.out = c.queue.front().bytes;
        c.sent = 0;
        c.reader.emplace(c.queue.front().multi, c.keepAlive);
    }

    void service(Member& m, Channel& c, short revents, Tally& tally) {
        if (c.connecting) {
            int error = 0;
            socklen_t len = sizeof error;
            ::getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &len);
            if (error != 0 || (revents & (POLLERR | POLLHUP))) {
                fail(m, c, tally, QStringLiteral("connect failed: %1").arg(strerror(error)));
                return;
            }
            c.connecting = false;
        }
        while (c.sent < c.out.size()) {
            const ssize_t n =
                ::send(c.fd, c.out.constData() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN) {
                    return;
                }
                fail(m, c, tally, QStringLiteral("send failed"));
                return;
            }
            c.sent += n;
        }
        if (!(revents & (POLLIN | POLLHUP | POLLERR))) {
            return;
        }
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
            if (n < 0 && errno == EAGAIN) {
                return;
            }
            if (n <= 0) {
                fail(m, c, tally, QStringLiteral("connection closed before the reply ended"));
                return;
            }
            QByteArrayView rest(buf, n);
            while (!rest.isEmpty() && c.reader->bytesWanted() > 0) {
                rest = rest.sliced(c.reader->feed(rest));
            }
            if (c.reader->broken() || (!rest.isEmpty() && c.reader->complete())) {
                fail(m, c, tally, QStringLiteral("reply out of frame"));
                return;
            }
            if (c.reader->complete()) {
                finish(m, c, tally);
                return;
            }
        }
    }

    void finish(Member& m, Channel& c, Tally& tally) {
        const Request request = c.queue.front();
        const double ms = msSince(c.started);
        ++tally.requests;
        tally.slowestMs = std::max(tally.slowestMs, ms);
        if (request.code == 'L' || request.code == 'C' || request.code == 'H') {
            tally.slowestPresenceMs = std::max(tally.slowestPresenceMs, ms);
        }
        const QByteArray& data = c.reader->data();
        QString fault;
        if (c.reader->errorEnd()) {
            fault = QStringLiteral("error reply");
        } else if (request.code == 'T') {
            std::int32_t removed = 0, added = 0;
            if (!UnpackRecord(data, "II", {&removed, &added}).ok() ||
                added != request.expectAdded) {
                fault = QStringLiteral("publish not taken whole");
            }
        } else if (request.code == 'C') {
            m.lastPoll = data;
            if (!pollCounts(data)) {
                fault = QStringLiteral("poll without counts");
            }
        } else if (request.code == 'H') {
            QByteArray address;
            std::uint16_t info = 0, file = 0;
            if (!UnpackRecord(data, "AWW", {&address, &info, &file}).ok() || file != 4001) {
                fault = QStringLiteral("present member not located");
            }
        }
        if (!fault.isEmpty()) {
            tally.fault(QStringLiteral("member %1 '%2': %3")
                            .arg(m.id)
                            .arg(QLatin1Char(request.code))
                            .arg(fault));
        }
        c.queue.pop_front();
        c.reader.reset();
        if (!c.keepAlive) {
            ::close(c.fd);
            c.fd = -1;
        }
    }

    void fail(Member& m, Channel& c, Tally& tally, const QString& why) {
        tally.fault(QStringLiteral("member %1 '%2': %3")
                        .arg(m.id)
                        .arg(QLatin1Char(c.queue.front().code))
                        .arg(why));
        c.queue.pop_front();
        c.reader.reset();
        if (c.fd >= 0) {
            ::close(c.fd);
        }
        c.fd = -1;
        // What a broken keep-alive channel still had to carry is lost with it.
        while (c.keepAlive && !c.queue.empty()) {
            tally.fault(QStringLiteral("member %1 '%2': its channel broke")
                            .arg(m.id)
                            .arg(QLatin1Char(c.queue.front().code)));
            c.queue.pop_front();
        }
    }

    Endpoint m_service;
    std::vector<Member*> m_members;
};

// Runs the queued requests of every member on a few threads and waits for all of them.
Tally drive(const Endpoint& service, std::vector<Member>& members, int threads) {
    QElapsedTimer clock;
    clock.start();
    std::vector<Tally> tallies(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        std::vector<Member*> mine;
        for (size_t i = t; i < members.size(); i += threads) {
            mine.push_back(&members[i]);
        }
        workers.emplace_back([&service, &tallies, t, mine = std::move(mine)] {
            tallies[t] = Driver(service, mine).run();
        });
    }
    Tally all;
    for (int t = 0; t < threads; ++t) {
        workers[t].join();
        all.add(tallies[t]);
    }
    all.seconds = clock.nsecsElapsed() / 1e9;
    return all;
}

struct Phases {
    Tally signOn, publish, search;
    // The slowest sign-on, poll or look-up of one more member while the others search, and
    // while the others send the same burst without the searches.
    double probeMs = 0;
    double burstProbeMs = 0;
    Tally total() const {
        Tally t;
        t.add(signOn);
        t.add(publish);
        t.add(search);
        return t;
    }
    double rate() const {
        const Tally t = total();
        return t.seconds > 0 ? t.requests / t.seconds : 0;
    }
};

void closeAll(std::vector<Member>& members) {
    for (Member& m : members) {
        for (Channel* c : {&m.alive, &m.once}) {
            if (c->fd >= 0) {
                ::close(c->fd);
                c->fd = -1;
            }
        }
    }
}

// Drives the members' queued requests while one more member signs on, polls and looks up
// another over and over; `probeMs` gets the slowest of those replies.
Tally driveWithProbe(const Endpoint& service, std::vector<Member>& members, const Options& o,
                     double* probeMs) {
    std::atomic<bool> driving = true;
    Tally probeLost;
    std::thread probe([&] {
        std::vector<Member> prober(1);
        prober[0].id = members.front().id;
        while (driving) {
            prober[0].alive.queue.push_back(signOnRequest(prober[0].id));
            prober[0].alive.queue.push_back(pollRequest());
            prober[0].once.queue.push_back(locateRequest(otherMember(prober[0].id, o.members)));
            const Tally t = drive(service, prober, 1);
            *probeMs = std::max(*probeMs, t.slowestPresenceMs);
            if (t.lost != 0) {
                probeLost.add(t);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        closeAll(prober);
    });
    Tally all = drive(service, members, o.threads);
    driving = false;
    probe.join();
    probeLost.seconds = 0;
    all.add(probeLost);
    return all;
}

// Each member signs on again, polls his contacts, searches `searches` times and looks up
// another member.
void queueBurst(std::vector<Member>& members, const Options& o, int searches) {
    for (Member& m : members) {
        for (int s = 0; s < searches; ++s) {
            m.once.queue.push_back(searchRequest(searchPattern(m.id, s)));
        }
        m.once.queue.push_back(locateRequest(otherMember(m.id, o.members)));
        m.alive.queue.push_back(signOnRequest(m.id));
        m.alive.queue.push_back(pollRequest());
    }
}

Phases runOurs(const Endpoint& service, std::vector<Member>& members, const Options& o) {
    Phases p;
    for (Member& m : members) {
        m.alive.queue.push_back(signOnRequest(m.id));
    }
    p.signOn = drive(service, members, o.threads);
    for (Member& m : members) {
        for (const Request& r : publishRequests(m.id, o.entries, o.batch)) {
            m.once.queue.push_back(r);
        }
    }
    p.publish = drive(service, members, o.threads);
    // The burst without its searches first, untimed: what the probe meets there is the cost
    // of the burst itself, which the searches must not add to.
    queueBurst(members, o, 0);
    const Tally burst = driveWithProbe(service, members, o, &p.burstProbeMs);
    // Searches go out first, so the probe meets them queued.
    queueBurst(members, o, o.searches);
    p.search = driveWithProbe(service, members, o, &p.probeMs);
    // What the untimed burst lost is still lost.
    p.search.lost += burst.lost;
    p.search.faults += burst.faults;
    return p;
}

// The same requests as plain store calls, one after the other.
Phases runBaseline(const QString& dataDir, const QList<int>& ids, const Options& o) {
    Phases p;
    server::Store store;
    if (!store.open(dataDir, nullptr)) {
        p.signOn.fault(QStringLiteral("cannot open the store"));
        return p;
    }
    QHash<int, int> present;  // with the files of each
    QElapsedTimer clock;
    auto timed = [&clock](Tally& t, auto&& work) {
        clock.start();
        work();
        t.seconds = clock.nsecsElapsed() / 1e9;
    };
    timed(p.signOn, [&] {
        for (int id : ids) {
            if (store.checkPassword(id, kPassword)) {
                present.insert(id, store.fileCount(id));
            }
            ++p.signOn.requests;
        }
    });
    std::vector<QList<server::CatalogEntry>> catalogs;
    for (int id : ids) {
        catalogs.push_back(entriesOf(id, o.entries));
    }
    timed(p.publish, [&] {
        for (size_t m = 0; m < catalogs.size(); ++m) {
            for (qsizetype from = 0; from < catalogs[m].size(); from += o.batch) {
                if (!store.checkPassword(ids[m], kPassword) ||
                    !store.applyShareChanges(ids[m], {}, catalogs[m].mid(from, o.batch))) {
                    p.publish.fault(QStringLiteral("publish failed"));
                }
                present.insert(ids[m], store.fileCount(ids[m]));
                ++p.publish.requests;
            }
        }
    });
    timed(p.search, [&] {
        for (int id : ids) {
            // A sign-on again counts the member's files; the poll reports the sum kept of
            // those present.
            if (store.checkPassword(id, kPassword)) {
                present.insert(id, store.fileCount(id));
            }
            store.contacts(id);
            QList<int> online = present.keys();
            std::sort(online.begin(), online.end());
            store.fileCount();
            store.accountCount();
            for (int s = 0; s < o.searches; ++s) {
                server::CatalogQuery q;
                q.name = QString::fromLatin1(searchPattern(id, s));
                QHash<int, bool> owners;
                for (const server::CatalogEntry& e : store.search(q, online)) {
                    if (!owners.contains(e.owner)) {
                        owners.insert(e.owner, store.account(e.owner).has_value());
                    }
                }
            }
            present.contains(otherMember(id, o.members));
            p.search.requests += 3 + o.searches;
        }
    });
    return p;
}

bool copyStore(const QString& from, const QString& to) {
    QDir().mkpath(to);
    const QString name = server::Store::fileName();
    QFile::remove(QDir(to).filePath(name));
    return QFile::copy(QDir(from).filePath(name), QDir(to).filePath(name));
}

// One member signed on over a connection of its own, polling until the service counts the
// expected number present; false when it never does.
bool waitForPresentCount(const Endpoint& service, int member, int expected, int* seen) {
    std::vector<Member> one(1);
    one[0].id = member;
    one[0].alive.queue.push_back(signOnRequest(member));
    bool ok = false;
    QElapsedTimer clock;
    clock.start();
    while (!ok && clock.elapsed() < 60000) {
        one[0].alive.queue.push_back(pollRequest());
        if (drive(service, one, 1).lost != 0) {
            break;
        }
        const auto counts = pollCounts(one[0].lastPoll);
        *seen = counts ? (*counts)[2] : -1;
        ok = *seen == expected;
        if (!ok) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    closeAll(one);
    return ok;
}

void printPhases(const char* who, const Phases& p) {
    std::printf("  %-8s sign-on %7.2f s  publish %7.2f s  search %7.2f s  = %9.1f req/s", who,
                p.signOn.seconds, p.publish.seconds, p.search.seconds, p.rate());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    Options o;
    o.server = QCoreApplication::applicationDirPath() + "/moonrake-server";
    for (int i = 1; i < args.size(); ++i) {
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        if (args[i] == "--soak") {
            o.soak = true;
            continue;
        }
        if (args[i] == "--server") {
            o.server = next;
        } else if (args[i] == "--members") {
            o.members = std::max(2, next.toInt());
        } else if (args[i] == "--entries") {
            o.entries = std::max(1, next.toInt());
        } else if (args[i] == "--batch") {
            o.batch = std::max(1, next.toInt());
        } else if (args[i] == "--searches") {
            o.searches = std::max(0, next.toInt());
        } else if (args[i] == "--threads") {
            o.threads = std::clamp(next.toInt(), 1, 64);
        } else if (args[i] == "--runs") {
            o.runs = std::max(1, next.toInt());
        } else {
            std::fprintf(stderr, "bench_service: unknown option %s\n", qPrintable(args[i]));
            return 2;
        }
        ++i;
    }
    // Each member holds a keep-alive and a one-shot connection at once.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    QTemporaryDir work;
    const QString seed = work.filePath("seed");
    QList<int> ids;
    {
        server::Store store;
        QString error;
        if (!QDir().mkpath(seed) || !store.open(seed, &error)) {
            std::fprintf(stderr, "bench_service: %s\n", qPrintable(error));
            return 1;
        }
        for (int m = 0; m < o.members; ++m) {
            ids.append(store.createAccount(QStringLiteral("member%1").arg(m), kPassword));
        }
        if (ids.contains(0)) {
            std::fprintf(stderr, "bench_service: cannot create the members\n");
            return 1;
        }
    }
    const int perMember = static_cast<int>(publishRequests(1, o.entries, o.batch).size());
    std::printf(
        "%d members, %d entries each in requests of %d, %d searches each, %d client "
        "threads\n",
        o.members, o.entries, o.batch, o.searches, o.threads);
    std::printf(
        "requests a run: %d sign-ons, %d publishes, %d sign-ons, polls, searches and "
        "look-ups\n",
        o.members, o.members * perMember, o.members * (3 + o.searches));
    std::fflush(stdout);

    auto ours = [&](int run, bool check) -> std::optional<Phases> {
        const QString dir = work.filePath(QStringLiteral("ours%1").arg(run));
        if (!copyStore(seed, dir)) {
            return std::nullopt;
        }
        bench::ServerProcess server(o.server, dir);
        if (!server.ready()) {
            std::fprintf(stderr, "bench_service: moonrake-server did not start (%s)\n",
                         qPrintable(o.server));
            return std::nullopt;
        }
        std::vector<Member> members(ids.size());
        for (qsizetype i = 0; i < ids.size(); ++i) {
            members[i].id = ids[i];
        }
        Phases p = runOurs(server.service(), members, o);
        if (check) {
            // Everybody present, every file counted, as one member's poll reports them.
            const auto counts = pollCounts(members[0].lastPoll);
            const std::array<std::int32_t, 4> want = {
                o.members * (o.entries - 1), o.members * (o.entries - 1), o.members, o.members};
            std::printf("  last poll: online files %d, files %d, present %d, members %d\n",
                        counts ? (*counts)[0] : -1, counts ? (*counts)[1] : -1,
                        counts ? (*counts)[2] : -1, counts ? (*counts)[3] : -1);
            if (!counts || *counts != want) {
                p.search.fault(QStringLiteral("the last poll's counts are wrong"));
            }
            closeAll(members);
            int seen = -1;
            const bool gone = waitForPresentCount(server.service(), ids[0], 1, &seen);
            std::printf("  after the members left: present %d (want 1, the one asking)\n", seen);
            if (!gone) {
                p.search.fault(QStringLiteral("presence outlived the connections"));
            }
        }
        closeAll(members);
        return p;
    };

    if (o.soak) {
        const auto p = ours(0, true);
        if (!p) {
            return 1;
        }
        const Tally t = p->total();
        printPhases("service", *p);
        std::printf(
            "\n  requests %lld, lost %lld, slowest reply %.1f ms, slowest of the burst "
            "of sign-ons, polls and look-ups %.1f ms\n",
            static_cast<long long>(t.requests), static_cast<long long>(t.lost), t.slowestMs,
            p->search.slowestPresenceMs);
        std::printf(
            "  slowest sign-on or presence reply while the others searched %.1f ms, in "
            "the same burst without searches %.1f ms\n",
            p->probeMs, p->burstProbeMs);
        for (const QString& f : t.faults) {
            std::printf("  FAULT %s\n", qPrintable(f));
        }
        return t.lost == 0 ? 0 : 1;
    }

    std::vector<double> slowest, slowestPresence, slowestBurstPresence;
    int run = 0;
    const auto baseline = [&]() -> double {
        const QString dir = work.filePath(QStringLiteral("base%1").arg(run));
        if (!copyStore(seed, dir)) {
            return -1;
        }
        const Phases base = runBaseline(dir, ids, o);
        printPhases("baseline", base);
        std::printf("\n");
        QDir(dir).removeRecursively();
        return base.total().lost == 0 ? base.rate() : -1;
    };
    const auto measured = [&]() -> double {
        const auto p = ours(run, false);
        QDir(work.filePath(QStringLiteral("ours%1").arg(run++))).removeRecursively();
        if (!p) {
            return -1;
        }
        const Tally t = p->total();
        printPhases("ours", *p);
        std::printf(
            "  slowest %.1f ms, sign-on/presence while searching %.1f ms (%.1f ms in the "
            "same burst without searches)%s\n",
            t.slowestMs, p->probeMs, p->burstProbeMs,
            t.lost ? qPrintable(QStringLiteral(", %1 LOST").arg(t.lost)) : "");
        for (const QString& f : t.faults) {
            std::printf("  FAULT %s\n", qPrintable(f));
        }
        std::fflush(stdout);
        slowest.push_back(t.slowestMs);
        slowestPresence.push_back(p->probeMs);
        slowestBurstPresence.push_back(p->burstProbeMs);
        return t.lost == 0 ? p->rate() : -1;
    };
    if (!mr::bench::alternate({"service-load", "req/s", true, ">=0.5"}, o.runs, baseline,
                              measured)) {
        return 1;
    }
    const auto best = [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    };
    const auto worst = [](const std::vector<double>& v) {
        return *std::max_element(v.begin(), v.end());
    };
    std::printf("slowest reply (best run) %.1f ms\n", best(slowest));
    std::printf(
        "slowest sign-on or presence reply, best to worst run: while searches ran "
        "%.1f-%.1f ms, in the same burst without searches %.1f-%.1f ms\n",
        best(slowestPresence), worst(slowestPresence), best(slowestBurstPresence),
        worst(slowestBurstPresence));
    return 0;
}
