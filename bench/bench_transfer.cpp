// A 1 GiB file pushed from one `moonrake-cli serve` to a `moonrake-cli get` on loopback,
// against the fastest plain copy: the same bytes read and written with 1 MiB buffers over one
// loopback TCP connection into a file on the same disk. Both read a source already in the page
// cache, write a target that does not exist yet, start without dirty pages and on free memory
// just touched, and never fsync.
// Ours is timed from the moment the pushed data starts to flow (the downloader's "Transfering")
// to its "Completed"; the whole download, program start and sign-on included, is printed beside.
// Also prints how far the downloader's memory grew.
//
//   bench_transfer [--runs N]

#include "benchutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using mr::bench::cli;
using mr::bench::program;

constexpr qint64 kFileSize = qint64(1) << 30;
constexpr qint64 kChunk = 1 << 20;
constexpr double kMemoryGoalMiB = 64;

bool writeRandomFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        return false;
    }
    std::vector<quint32> block(kChunk / sizeof(quint32));
    for (qint64 done = 0; done < kFileSize; done += kChunk) {
        QRandomGenerator::global()->fillRange(block.data(), block.size());
        if (f.write(reinterpret_cast<const char*>(block.data()), kChunk) != kChunk) {
            return false;
        }
    }
    return true;
}

// Touches `bytes` of fresh memory and gives it back. On a virtual machine whose host takes back
// the memory the guest leaves free (free page reporting), the first write to such a page faults
// on the host: a copy that fills a gigabyte of page cache from pages given back runs at a fifth
// of its speed, and whether a run gets such pages depends on how long the machine idled before
// it. Touched just before a run, the pages that run is given are the ones just freed, backed.
void warmMemory(std::size_t bytes) {
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        return;
    }
    std::memset(p, 1, bytes);
    ::munmap(p, bytes);
}

bool writeAll(int fd, const char* data, ssize_t size) {
    for (ssize_t off = 0; off < size;) {
        const ssize_t n = ::write(fd, data + off, static_cast<size_t>(size - off));
        if (n <= 0) {
            return false;
        }
        off += n;
    }
    return true;
}

// The baseline: the file read with read(2) and written to one loopback connection, whose other
// end writes what arrives into the target with write(2). MiB/s, or -1 on failure.
double plainCopy(const QString& source, const QString& target) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listener);
        return -1;
    }
    QElapsedTimer clock;
    clock.start();
    qint64 received = 0;
    std::thread receiver([&] {
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        const int out = ::open(QFile::encodeName(target).constData(),
                               O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        std::vector<char> buffer(kChunk);
        for (ssize_t n; connection >= 0 && out >= 0 &&
                        (n = ::read(connection, buffer.data(), buffer.size())) > 0;) {
            if (!writeAll(out, buffer.data(), n)) {
                break;
            }
            received += n;
        }
        ::close(out);
        ::close(connection);
    });
    const int sender = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    bool sent =
        in >= 0 && ::connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    std::vector<char> buffer(kChunk);
    for (ssize_t n; sent && (n = ::read(in, buffer.data(), buffer.size())) > 0;) {
        sent = writeAll(sender, buffer.data(), n);
    }
    ::close(in);
    ::close(sender);
    if (!sent) {
        ::shutdown(listener, SHUT_RDWR);  // wakes a receiver still waiting to accept
    }
    receiver.join();
    ::close(listener);
    const double seconds = clock.nsecsElapsed() / 1e9;
    return mr::bench::perSecond(kFileSize / double(1 << 20), seconds,
                                sent && received == kFileSize);
}

// The rate a file was written at by its own times, from creation to the last write: a check on
// the clock of either side, which the machine's load cannot delay. -1 when unknown.
double fileTimesRate(const QString& path) {
    struct statx st {};
    if (::statx(AT_FDCWD, QFile::encodeName(path).constData(), 0, STATX_BTIME | STATX_MTIME, &st) !=
            0 ||
        !(st.stx_mask & STATX_BTIME)) {
        return -1;
    }
    const auto seconds = [](const statx_timestamp& t) { return t.tv_sec + t.tv_nsec / 1e9; };
    return mr::bench::perSecond(st.stx_size / double(1 << 20),
                                seconds(st.stx_mtime) - seconds(st.stx_btime));
}

bool sameContent(const QString& a, const QString& b) {
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) ||
        first.size() != second.size()) {
        return false;
    }
    while (!first.atEnd()) {
        if (first.read(kChunk) != second.read(kChunk)) {
            return false;
        }
    }
    return true;
}

// Resident memory of a process in KiB, 0 when it is gone.
qint64 residentKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir data, owner, downloader, disk, downloads;
    mr::bench::ServerProcess server(program(QStringLiteral("moonrake-server")), data.path());
    if (!server.ready()) {
        std::fprintf(stderr, "moonrake-server did not start\n");
        return 1;
    }
    const QString service =
        server.service().host + QLatin1Char(':') + QString::number(server.service().port);
    const QString web = server.web().host + QLatin1Char(':') + QString::number(server.web().port);
    QString ownerId;
    for (const auto& [profile, nick] : {std::pair{owner.path(), QStringLiteral("owner")},
                                        std::pair{downloader.path(), QStringLiteral("fetcher")}}) {
        QString id;
        if (!cli(profile, {"set", "Host/Moonrake", service}) ||
            !cli(profile, {"set", "Host/Http", web}) ||
            !cli(profile, {"register", nick, QStringLiteral("secret")}, &id)) {
            return 1;
        }
        if (nick == QLatin1String("owner")) {
            ownerId = id.trimmed();
        }
    }
    if (!cli(downloader.path(), {"set", "UserInfo/DownloadPath", downloads.path()})) {
        return 1;
    }
    QDir().mkpath(disk.filePath(QStringLiteral("Share")));
    const QString source = disk.filePath(QStringLiteral("Share/big.bin"));
    std::printf("writing a %lld MiB random file...\n", kFileSize >> 20);
    if (!writeRandomFile(source) ||
        !cli(owner.path(), {"share", disk.filePath(QStringLiteral("Share")), "--yes"})) {
        return 1;
    }

    const QString plainTarget = downloads.filePath(QStringLiteral("plain.bin"));
    const QString pushTarget = downloads.filePath(QStringLiteral("big.bin"));
    const QString queueFile = downloader.filePath(QStringLiteral("data/queue.dat"));
    if (!sameContent(source, source)) {  // reads the source into the page cache
        return 1;
    }
    QProcess serve;
    serve.start(program(QStringLiteral("moonrake-cli")),
                {"--profile", owner.path(), QStringLiteral("serve")});
    QByteArray serveOut;
    while (!serveOut.contains("Serving") && serve.waitForReadyRead(30000)) {
        serveOut += serve.readAllStandardOutput();
    }

    const double mib = static_cast<double>(kFileSize) / (1 << 20);
    double growth = 0;
    double wholeBest = 0;
    const auto push = [&]() -> double {
        QElapsedTimer whole;
        whole.start();
        QProcess get;
        get.start(program(QStringLiteral("moonrake-cli")),
                  {"--profile", downloader.path(), QStringLiteral("get"), ownerId,
                   QStringLiteral("/Share/big.bin")});
        QByteArray getOut;
        QElapsedTimer flowing;
        double seconds = -1;
        qint64 before = 0;
        qint64 peak = 0;
        while (get.state() != QProcess::NotRunning) {
            get.waitForReadyRead(20);
            getOut += get.readAllStandardOutput();
            const qint64 rss = residentKiB(get.processId());
            if (!flowing.isValid() && getOut.contains("Transfering")) {
                flowing.start();
                before = rss;
            }
            if (flowing.isValid() && seconds < 0 && getOut.contains("Completed")) {
                seconds = flowing.nsecsElapsed() / 1e9;
            }
            if (flowing.isValid()) {
                peak = std::max(peak, rss);
            }
        }
        getOut += get.readAllStandardOutput();
        if (get.exitCode() != 0 || seconds < 0 || !sameContent(source, pushTarget)) {
            std::fprintf(stderr, "the download failed or differs from the shared file:\n%s%s\n",
                         getOut.constData(), get.readAllStandardError().constData());
            return -1;
        }
        growth = std::max(growth, static_cast<double>(peak - before) / 1024);
        wholeBest = std::max(wholeBest, mib / (whole.nsecsElapsed() / 1e9));
        return mr::bench::perSecond(mib, seconds);
    };
    // No target, no kept download queue, no dirty pages left for either side to pay for, and
    // the free memory the target's page cache will take touched just before.
    const auto prepare = [&] {
        QFile::remove(plainTarget);
        QFile::remove(pushTarget);
        QFile::remove(queueFile);
        ::sync();
        warmMemory(2 * static_cast<std::size_t>(kFileSize));
    };
    const auto ok = mr::bench::alternate(
        {"push", "MiB/s", true, ">=0.9"}, mr::bench::runsOption(app.arguments()),
        [&] {
            const double rate = plainCopy(source, plainTarget);
            std::printf("  baseline by the target's own times: %.1f MiB/s\n",
                        fileTimesRate(plainTarget));
            return rate;
        },
        [&] {
            const double rate = push();
            std::printf("  ours by the target's own times: %.1f MiB/s\n",
                        fileTimesRate(pushTarget));
            return rate;
        },
        prepare);
    serve.terminate();
    serve.waitForFinished(10000);
    if (!ok) {
        return 1;
    }
    std::printf("the whole download, program start and sign-on included: best %.1f MiB/s\n",
                wholeBest);
    std::printf("downloader memory grew %.1f MiB at most (goal <= %.0f): %s\n", growth,
                kMemoryGoalMiB, growth <= kMemoryGoalMiB ? "met" : "MISSED");
    return 0;
}
