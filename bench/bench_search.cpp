// The service's file search over a large network, answered over its wire, against a baseline
// run alternately: the same rows scanned in process by a plain SQLite LIKE query with the same
// cap of 100 results. Then presence look-ups ("H") and sign-ons while searches that the index
// cannot serve keep the service busy, beside the same on an idle service.
//
//   bench_search [--server PATH] [--data DIR] [--members N] [--entries N] [--runs N]
//
// The data folder is filled once through the service's store and kept (by default under the
// build folder), since filling a million entries takes a while.

#include "benchutil.h"
#include "core/record.h"
#include "service/wire.h"
#include "store.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>
#include <vector>

using namespace mr;
using bench::Endpoint;

namespace {

// In no generated word: the syllables never use these letters.
const char kRareWord[] = "zyxquv";
// In about three names of ten.
const char kCommonWord[] = "live";
const char kPassword[] = "pw";

// Names from a vocabulary of made-up words; one entry in 100,000 carries the rare word.
class Names {
public:
    Names() : m_random(12345) {
        const char* consonants = "bcdfghjklmnprstw";
        const char* vowels = "aeiou";
        for (int i = 0; i < 3000; ++i) {
            QByteArray word;
            const int syllables = 2 + i % 3;
            for (int s = 0; s < syllables; ++s) {
                word += consonants[m_random() % 16];
                word += vowels[m_random() % 5];
            }
            m_words.push_back(word);
        }
    }
    QByteArray word() { return m_words[m_random() % m_words.size()]; }
    QByteArray file(qint64 serial) {
        QByteArray name = word() + ' ' + word() + " - " + word();
        if (m_random() % 10 < 3) {
            name += QByteArray(" (") + kCommonWord + ')';
        }
        if (serial % 100000 == 77777) {
            name += QByteArray(" ") + kRareWord;
        }
        static const char* const extensions[] = {".mp3", ".ogg", ".jpg", ".avi", ".zip"};
        return name + extensions[m_random() % 5];
    }
    QByteArray description() {
        return m_random() % 4 == 0 ? word() + ' ' + word() : QByteArray(" ");
    }

private:
    std::mt19937 m_random;
    std::vector<QByteArray> m_words;
};

bool fill(const QString& dir, int members, int entries) {
    server::Store store;
    QString error;
    if (!store.open(dir, &error)) {
        std::fprintf(stderr, "bench_search: %s\n", qPrintable(error));
        return false;
    }
    Names names;
    const int perFolder = 50;
    qint64 serial = 0;
    for (int m = 0; m < members; ++m) {
        const int id = store.createAccount(QStringLiteral("member%1").arg(m), kPassword);
        QList<server::CatalogEntry> list;
        for (int i = 0; list.size() < entries; ++i) {
            const QByteArray folder = "Album " + QByteArray::number(i / perFolder);
            if (i % perFolder == 0) {
                list.append({id, "", folder, -1, 45000, false, " "});
            } else {
                list.append({id, folder, names.file(serial++), 1000 + (i * 7919) % 9000000,
                             45000 + i / 1440.0, i % 50 == 3, names.description()});
            }
        }
        if (!id || !store.applyShareChanges(id, {}, list)) {
            std::fprintf(stderr, "bench_search: cannot publish member %d\n", m);
            return false;
        }
        if (m % 100 == 99) {
            std::printf("  %d members published\n", m + 1);
            std::fflush(stdout);
        }
    }
    return true;
}

QByteArray searchFrame(const QByteArray& name) {
    const QByteArray payload = PackRecord("AAIIABBB", {name, "%", -2, -2, "%", 0, 100, 0}).bytes;
    return wire::frameRequest(wire::kPingPath, wire::requestBody('S', 1, payload), false);
}

QByteArray whereFrame(int user) {
    return wire::frameRequest(wire::kPingPath,
                              wire::requestBody('H', 1, PackRecord("I", {user}).bytes), false);
}

// Records in a search reply.
int countResults(const QByteArray& data) {
    int n = 0;
    for (QByteArrayView rest(data); !rest.isEmpty(); ++n) {
        std::int32_t i = 0;
        double d = 0;
        std::uint16_t w = 0;
        std::uint8_t b = 0;
        QByteArray a;
        const auto r = UnpackRecord(rest, "IITWBAAAAAWWBB",
                                    {&i, &i, &d, &w, &b, &a, &a, &a, &a, &a, &w, &w, &b, &b});
        if (!r.ok()) {
            return -1;
        }
        rest = rest.sliced(r.consumed);
    }
    return n;
}

// A member signed on over a keep-alive connection of its own, present while it lasts.
class Presence {
public:
    Presence(const Endpoint& service, int user) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(service.port);
        ::inet_pton(AF_INET, service.host.toLatin1().constData(), &a.sin_addr);
        const QByteArray frame = wire::frameRequest(
            wire::kPingPath,
            wire::requestBody('L', 1, PackRecord("IAWW", {user, kPassword, 4000, 4001}).bytes),
            true);
        wire::ReplyReader reader(true, true);
        bool ok = ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                  ::send(m_fd, frame.constData(), frame.size(), MSG_NOSIGNAL) == frame.size();
        char buf[256];
        while (ok && reader.bytesWanted() > 0) {
            const ssize_t n =
                ::recv(m_fd, buf, std::min<qsizetype>(sizeof buf, reader.bytesWanted()), 0);
            ok = n > 0 && reader.feed(QByteArrayView(buf, n)) == n;
        }
        m_present = ok && reader.complete() && !reader.errorEnd();
    }
    ~Presence() { ::close(m_fd); }
    Presence(const Presence&) = delete;
    Presence& operator=(const Presence&) = delete;
    bool present() const { return m_present; }

private:
    int m_fd = -1;
    bool m_present = false;
};

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))];
}

template <typename F>
double millis(F&& work) {
    QElapsedTimer t;
    t.start();
    work();
    return t.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString serverPath = QCoreApplication::applicationDirPath() + "/moonrake-server";
    QString dataDir;
    int members = 1000, entries = 1000;
    const int runs = bench::runsOption(args, 7);
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--server")
            serverPath = args[i + 1];
        else if (args[i] == "--data")
            dataDir = args[i + 1];
        else if (args[i] == "--members")
            members = args[i + 1].toInt();
        else if (args[i] == "--entries")
            entries = args[i + 1].toInt();
    }
    if (dataDir.isEmpty()) {
        dataDir = QCoreApplication::applicationDirPath() +
                  QStringLiteral("/../bench-search-%1x%2").arg(members).arg(entries);
    }
    const QString stamp = QDir(dataDir).filePath("complete");
    if (!QFile::exists(stamp)) {
        std::printf("publishing %d entries of %d members in %s...\n", members * entries, members,
                    qPrintable(QDir::cleanPath(dataDir)));
        std::fflush(stdout);
        QDir(dataDir).removeRecursively();
        QDir().mkpath(dataDir);
        bool ok = false;
        const double ms = millis([&] { ok = fill(dataDir, members, entries); });
        if (!ok) {
            return 1;
        }
        QFile(stamp).open(QIODevice::WriteOnly);
        std::printf("published in %.1f s (%.1f us an entry, index included)\n", ms / 1e3,
                    ms * 1e3 / (double(members) * entries));
    }

    bench::ServerProcess server(serverPath, dataDir);
    if (!server.ready()) {
        std::fprintf(stderr, "bench_search: moonrake-server did not start (%s)\n",
                     qPrintable(serverPath));
        return 1;
    }
    const Endpoint service = server.service();
    // One member in twenty present, so that present members' files come first as they would.
    std::vector<std::unique_ptr<Presence>> present;
    for (int user = 1; user <= members; user += 20) {
        present.push_back(std::make_unique<Presence>(service, user));
        if (!present.back()->present()) {
            std::fprintf(stderr, "bench_search: member %d cannot sign on\n", user);
            return 1;
        }
    }

    sqlite3* db = nullptr;
    const QByteArray dbPath = QFile::encodeName(QDir(dataDir).filePath(server::Store::fileName()));
    if (sqlite3_open_v2(dbPath.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "bench_search: cannot open %s\n", dbPath.constData());
        return 1;
    }
    sqlite3_stmt* like = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT owner, folder, name, size, date, has_password, description "
                       "FROM catalog WHERE CAST(name AS TEXT) LIKE ?1 LIMIT 100",
                       -1, &like, nullptr);
    // Each side's figure is the time to its results; a side that finds nothing has failed.
    auto baseline = [&](const QByteArray& pattern) {
        int rows = 0;
        const double ms = millis([&] {
            sqlite3_reset(like);
            sqlite3_bind_text(like, 1, pattern.constData(), -1, SQLITE_TRANSIENT);
            while (sqlite3_step(like) == SQLITE_ROW) {
                ++rows;
            }
        });
        return rows > 0 ? ms : -1;
    };
    auto ours = [&](const QByteArray& pattern) {
        int found = -1;
        const double ms = millis([&] {
            const auto reply = bench::plainRequest(service, searchFrame(pattern), true);
            found = reply ? countResults(*reply) : -1;
        });
        return found > 0 ? ms : -1;
    };

    std::printf(
        "search over %d entries of %d members, %zu present; a rare word, then a common one\n",
        members * entries, members, present.size());
    for (const char* word : {kRareWord, kCommonWord}) {
        const QByteArray pattern = QByteArray("%") + word + '%';
        const bool rare = word == kRareWord;
        if (!bench::alternate(
                {rare ? "search" : "search-common", "ms", false, rare ? "<=0.1" : nullptr}, runs,
                [&] { return baseline(pattern); }, [&] { return ours(pattern); })) {
            return 1;
        }
    }
    sqlite3_finalize(like);
    sqlite3_close(db);

    // Presence look-ups and sign-ons on an idle service, then while two clients keep searching
    // for a two-letter run, which no index serves and which reads every entry.
    const int lookups = 200;
    auto measure = [&](std::vector<double>& where, std::vector<double>& signOn) {
        for (int i = 0; i < lookups; ++i) {
            const int user = 1 + (i * 20) % members;
            where.push_back(millis([&] { bench::plainRequest(service, whereFrame(user), false); }));
            if (i % 4 == 0) {
                signOn.push_back(millis([&] { Presence member(service, user + 1); }));
            }
        }
    };
    std::vector<double> idleWhere, idleSignOn;
    measure(idleWhere, idleSignOn);
    std::atomic<bool> stop = false;
    std::atomic<int> searches = 0;
    std::vector<double> slowSearch;
    std::vector<std::thread> searchers;
    for (int t = 0; t < 2; ++t) {
        searchers.emplace_back([&, t] {
            while (!stop) {
                const double ms =
                    millis([&] { bench::plainRequest(service, searchFrame("%qz%"), true); });
                ++searches;
                if (t == 0) {
                    slowSearch.push_back(ms);
                }
            }
        });
    }
    // Let both searches start before measuring.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<double> busyWhere, busySignOn;
    measure(busyWhere, busySignOn);
    stop = true;
    for (std::thread& t : searchers) {
        t.join();
    }
    std::printf("while %d searches ran that read every entry (median %.0f ms each):\n",
                searches.load(), bench::median(slowSearch));
    std::printf(
        "  \"H\" look-up: idle median %.2f ms p99 %.2f ms, busy median %.2f ms p99 %.2f ms\n",
        bench::median(idleWhere), percentile(idleWhere, 0.99), bench::median(busyWhere),
        percentile(busyWhere, 0.99));
    std::printf("  sign-on:     idle median %.2f ms p99 %.2f ms, busy median %.2f ms p99 %.2f ms\n",
                bench::median(idleSignOn), percentile(idleSignOn, 0.99), bench::median(busySignOn),
                percentile(busySignOn, 0.99));
    return 0;
}
