// Resident memory of the desktop client signed on to a local service with two explorer
// windows open, against a bare Qt frame with an MDI area, a menu bar and a tool bar. Both run
// on the offscreen platform with the same style, alternately, and are measured once their
// memory has settled: VmRSS (the ratio), and PSS and private memory from smaps_rollup, which
// also depend on how many other processes map the same libraries at the time. The same frame
// holding one loopback connection is measured beside them, to show what the network library
// alone adds. Where the client's resident memory lies (the heap, its own code, SQLite, the Qt
// libraries, fonts) is printed beside the frame's, from /proc/<pid>/smaps of the best run.
//
//   bench_memory [--runs N]

#include "benchutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <optional>
#include <vector>

namespace {

using mr::bench::cli;
using mr::bench::program;

constexpr double kGoal = 1.3;
constexpr int kSampleMs = 250;
// Settled: over the last two seconds resident memory moved by no more than this.
constexpr int kSettleSamples = 8;
constexpr qint64 kSettleSpreadKiB = 64;
constexpr int kSettleTimeoutMs = 30000;
constexpr int kSignOnTimeoutMs = 60000;

// What a mapping holds, told by its path.
enum Region {
    Heap,
    Anonymous,
    Program,
    Sqlite,
    Network,
    QtLibraries,
    Libraries,
    Fonts,
    Files,
    RegionCount
};
constexpr const char* kRegionNames[RegionCount] = {
    "heap",       "anonymous, stacks",  "the program",     "SQLite",
    "QtNetwork",  "other Qt libraries", "other libraries", "font files",
    "other files"};

struct Memory {
    qint64 rssKiB = 0;
    qint64 pssKiB = 0;
    qint64 privateKiB = 0;
    // Resident KiB by what holds it.
    std::array<qint64, RegionCount> regionKiB{};
};

Region regionOf(const QByteArray& path, const QByteArray& program) {
    if (path == "[heap]") {
        return Heap;
    }
    if (path.isEmpty() || path.startsWith('[')) {
        return Anonymous;
    }
    if (path == program) {
        return Program;
    }
    if (path.contains("/libsqlite3")) {
        return Sqlite;
    }
    if (path.contains("/libQt6Network")) {
        return Network;
    }
    if (path.contains("/libQt6")) {
        return QtLibraries;
    }
    if (path.contains(".so")) {
        return Libraries;
    }
    return path.contains("/fonts/") ? Fonts : Files;
}

// Resident KiB of each region of a process, from the Rss line under each mapping's header
// ("start-end perms offset device inode [path]").
std::array<qint64, RegionCount> residentRegions(qint64 pid, const QString& programPath) {
    std::array<qint64, RegionCount> regions{};
    QFile smaps(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (!smaps.open(QIODevice::ReadOnly)) {
        return regions;
    }
    const QByteArray program = QFileInfo(programPath).canonicalFilePath().toLocal8Bit();
    Region region = Anonymous;
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 5 && fields[0].contains('-') && !fields[0].endsWith(':')) {
            region = regionOf(fields.size() > 5 ? fields.mid(5).join(' ') : QByteArray(), program);
        } else if (fields.size() >= 2 && fields[0] == "Rss:") {
            regions[region] += fields[1].toLongLong();
        }
    }
    return regions;
}

// The value of a "Name:   1234 kB" line of a /proc file, or -1.
qint64 procValue(const QByteArray& text, const QByteArray& name) {
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith(name + ':')) {
            return line.mid(name.size() + 1).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

std::optional<Memory> readMemory(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    Memory m;
    m.rssKiB = procValue(status.readAll(), "VmRSS");
    if (m.rssKiB <= 0) {
        return std::nullopt;
    }
    if (rollup.open(QIODevice::ReadOnly)) {
        const QByteArray text = rollup.readAll();
        m.pssKiB = procValue(text, "Pss");
        m.privateKiB = procValue(text, "Private_Clean") + procValue(text, "Private_Dirty");
    }
    return m;
}

// The memory of a running process once it has held still for a while; nothing when the
// process ended. One that never settles is measured at the time-out and said so.
std::optional<Memory> settledMemory(QProcess& process) {
    const auto withRegions = [&process](Memory m) {
        m.regionKiB = residentRegions(process.processId(), process.program());
        return m;
    };
    std::deque<qint64> recent;
    QElapsedTimer clock;
    clock.start();
    std::optional<Memory> last;
    while (process.state() == QProcess::Running) {
        last = readMemory(process.processId());
        if (!last) {
            return std::nullopt;
        }
        recent.push_back(last->rssKiB);
        if (recent.size() > kSettleSamples) {
            recent.pop_front();
        }
        if (recent.size() == kSettleSamples &&
            *std::max_element(recent.begin(), recent.end()) -
                    *std::min_element(recent.begin(), recent.end()) <=
                kSettleSpreadKiB) {
            return withRegions(*last);
        }
        if (clock.elapsed() > kSettleTimeoutMs) {
            std::printf("  (still moving after %d s; measured as it stood)\n",
                        kSettleTimeoutMs / 1000);
            return withRegions(*last);
        }
        QThread::msleep(kSampleMs);
    }
    return std::nullopt;
}

QProcessEnvironment guiEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_STYLE_OVERRIDE"), QStringLiteral("Fusion"));
    env.remove(QStringLiteral("MOONRAKE_PROFILE"));
    return env;
}

void stop(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

struct Setup {
    QString desktopProfile;
    QString watcherProfile;
    QString desktopId;
};

// The desktop client on its profile, measured once it answers pings as signed on.
std::optional<Memory> measureDesktop(const Setup& s) {
    QProcess desktop;
    desktop.setProcessEnvironment(guiEnvironment());
    desktop.start(program(QStringLiteral("moonrake")),
                  {"--profile", s.desktopProfile, "--open-explorers", "2"});
    if (!desktop.waitForStarted(10000)) {
        std::fprintf(stderr, "moonrake did not start\n");
        return std::nullopt;
    }
    QElapsedTimer clock;
    clock.start();
    bool online = false;
    while (!online && desktop.state() == QProcess::Running && clock.elapsed() < kSignOnTimeoutMs) {
        QString answer;
        online = cli(s.watcherProfile, {"ping", s.desktopId}, &answer, true);
        if (!online) {
            QThread::msleep(kSampleMs);
        }
    }
    std::optional<Memory> m;
    if (online) {
        m = settledMemory(desktop);
    } else {
        std::fprintf(stderr, "moonrake did not sign on: %s\n",
                     desktop.readAllStandardError().constData());
    }
    stop(desktop);
    return m;
}

// The bare frame, or with `network` the same frame holding one loopback connection.
std::optional<Memory> measureBaseline(bool network = false) {
    const QString name =
        network ? QStringLiteral("memory_baseline_network") : QStringLiteral("memory_baseline");
    QProcess frame;
    frame.setProcessEnvironment(guiEnvironment());
    frame.start(program(name), {});
    if (!frame.waitForReadyRead(30000)) {
        std::fprintf(stderr, "%s did not start\n", qPrintable(name));
        return std::nullopt;
    }
    std::optional<Memory> m = settledMemory(frame);
    stop(frame);
    return m;
}

double mb(qint64 kib) {
    return static_cast<double>(kib) * 1024 / 1e6;
}

void printRun(const char* who, int run, const Memory& m) {
    std::printf("%-8s run %d: RSS %.1f MB, PSS %.1f MB, private %.1f MB\n", who, run, mb(m.rssKiB),
                mb(m.pssKiB), mb(m.privateKiB));
}

// Best (least) and spread of one figure over the runs.
void printBest(const char* who, const std::vector<Memory>& runs, qint64 Memory::*figure,
               const char* name) {
    qint64 least = runs.front().*figure;
    qint64 most = least;
    for (const Memory& m : runs) {
        least = std::min(least, m.*figure);
        most = std::max(most, m.*figure);
    }
    std::printf("%-8s %-8s best %.1f MB, spread %.1f MB\n", who, name, mb(least), mb(most - least));
}

const Memory& bestRun(const std::vector<Memory>& runs) {
    return *std::min_element(runs.begin(), runs.end(),
                             [](const Memory& a, const Memory& b) { return a.rssKiB < b.rssKiB; });
}

qint64 bestRss(const std::vector<Memory>& runs) {
    return bestRun(runs).rssKiB;
}

void printRegions(const Memory& ours, const Memory& frame) {
    std::printf("%-36s %8s %8s %10s\n", "resident, best run of each", "moonrake", "frame",
                "difference");
    for (int region = 0; region < RegionCount; ++region) {
        const qint64 a = ours.regionKiB[region];
        const qint64 b = frame.regionKiB[region];
        std::printf("  %-34s %5.1f MB %5.1f MB %+7.1f MB\n", kRegionNames[region], mb(a), mb(b),
                    mb(a - b));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir data, desktopProfile, watcherProfile, downloads;
    mr::bench::ServerProcess server(program(QStringLiteral("moonrake-server")), data.path());
    if (!server.ready()) {
        std::fprintf(stderr, "moonrake-server did not start\n");
        return 1;
    }
    const QString service =
        server.service().host + QLatin1Char(':') + QString::number(server.service().port);
    const QString web = server.web().host + QLatin1Char(':') + QString::number(server.web().port);
    Setup setup{desktopProfile.path(), watcherProfile.path(), {}};
    for (const auto& [profile, nick] : {std::pair{setup.desktopProfile, QStringLiteral("desk")},
                                        std::pair{setup.watcherProfile, QStringLiteral("watch")}}) {
        QString id;
        if (!cli(profile, {"init"}) || !cli(profile, {"set", "Host/Moonrake", service}) ||
            !cli(profile, {"set", "Host/Http", web}) ||
            !cli(profile, {"set", "UserInfo/DownloadPath", downloads.path()}) ||
            !cli(profile, {"register", nick, QStringLiteral("secret")}, &id)) {
            std::fprintf(stderr, "the profile of %s could not be made\n", qPrintable(nick));
            return 1;
        }
        if (nick == QLatin1String("desk")) {
            setup.desktopId = id.trimmed();
        }
    }

    // One unmeasured start of each first, so that all find the same files in the cache.
    if (!measureBaseline() || !measureDesktop(setup) || !measureBaseline(true)) {
        return 1;
    }
    std::vector<Memory> ours, baseline, network;
    const int runs = mr::bench::runsOption(app.arguments());
    for (int run = 1; run <= runs; ++run) {
        const auto base = measureBaseline();
        const auto desk = measureDesktop(setup);
        const auto net = measureBaseline(true);
        if (!base || !desk || !net) {
            return 1;
        }
        printRun("baseline", run, *base);
        printRun("moonrake", run, *desk);
        printRun("network", run, *net);
        baseline.push_back(*base);
        ours.push_back(*desk);
        network.push_back(*net);
    }
    for (const auto& [who, runs] : {std::pair{"baseline", &baseline}, std::pair{"moonrake", &ours},
                                    std::pair{"network", &network}}) {
        printBest(who, *runs, &Memory::rssKiB, "RSS");
        printBest(who, *runs, &Memory::pssKiB, "PSS");
        printBest(who, *runs, &Memory::privateKiB, "private");
    }
    printRegions(bestRun(ours), bestRun(baseline));
    const double oursMb = mb(bestRss(ours));
    const double baseMb = mb(bestRss(baseline));
    const double ratio = oursMb / baseMb;
    // For comparison only: the goal is judged against the bare frame.
    std::printf(
        "the frame with one loopback connection (QtNetwork) holds %.1f MB more than the "
        "bare frame\n",
        mb(bestRss(network)) - baseMb);
    std::printf("ratio %.2f (goal <= %.1f): %s\n", ratio, kGoal, ratio <= kGoal ? "met" : "MISSED");
    std::printf("SUMMARY|memory|%.1f MB|%.1f MB|%.2f|<=%.1f\n", oursMb, baseMb, ratio, kGoal);
    return 0;
}
