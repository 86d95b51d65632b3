// A 1 GiB file pushed from one `moonrake-cli serve` to a `moonrake-cli get` on loopback,
// against the same bytes sent over one plain loopback TCP connection into a file on the same
// disk. Prints both rates, their ratio, and how far the downloader's memory grew.

#include "benchutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr qint64 kFileSize = qint64(1) << 30;
constexpr qint64 kChunk = 1 << 20;
constexpr double kRateGoal = 0.8;
constexpr double kMemoryGoalMiB = 64;

QString program(const QString& name) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

bool cli(const QString& profile, const QStringList& args, QString* out = nullptr) {
    QProcess p;
    p.start(program(QStringLiteral("moonrake-cli")), QStringList{"--profile", profile} + args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        std::fprintf(stderr, "moonrake-cli %s failed: %s\n", qPrintable(args.join(' ')),
                     p.readAllStandardError().constData());
        return false;
    }
    if (out) {
        *out = QString::fromUtf8(p.readAllStandardOutput());
    }
    return true;
}

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

// The baseline: the file read in chunks and written to one loopback connection, whose other
// end writes what arrives into a file. Seconds taken, or a negative number on failure.
double plainCopy(const QString& source, const QString& target) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
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
    bool received = false;
    std::thread receiver([&] {
        const int connection = ::accept(listener, nullptr, nullptr);
        QFile out(target);
        if (connection < 0 || !out.open(QIODevice::WriteOnly)) {
            return;
        }
        std::vector<char> buffer(kChunk);
        qint64 total = 0;
        for (ssize_t n; (n = ::read(connection, buffer.data(), buffer.size())) > 0;) {
            out.write(buffer.data(), n);
            total += n;
        }
        ::close(connection);
        received = total == kFileSize;
    });
    const int sender = ::socket(AF_INET, SOCK_STREAM, 0);
    QFile in(source);
    bool sent = ::connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                in.open(QIODevice::ReadOnly);
    std::vector<char> buffer(kChunk);
    while (sent) {
        const qint64 n = in.read(buffer.data(), kChunk);
        if (n <= 0) {
            break;
        }
        for (qint64 off = 0; off < n && sent;) {
            const ssize_t w = ::write(sender, buffer.data() + off, static_cast<size_t>(n - off));
            sent = w > 0;
            off += w;
        }
    }
    ::close(sender);
    receiver.join();
    ::close(listener);
    return sent && received ? clock.elapsed() / 1000.0 : -1;
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

    // Each run starts with no dirty pages left to write back, so neither pays for the other.
    ::sync();
    const double plainSeconds = plainCopy(source, downloads.filePath(QStringLiteral("plain.bin")));
    QFile::remove(downloads.filePath(QStringLiteral("plain.bin")));
    ::sync();
    if (plainSeconds <= 0) {
        std::fprintf(stderr, "the plain copy failed\n");
        return 1;
    }

    QProcess serve;
    serve.start(program(QStringLiteral("moonrake-cli")),
                {"--profile", owner.path(), QStringLiteral("serve")});
    QByteArray serveOut;
    while (!serveOut.contains("Serving") && serve.waitForReadyRead(30000)) {
        serveOut += serve.readAllStandardOutput();
    }
    // The whole download is timed, program start, sign-on and request included; memory is
    // measured from the moment the data starts to flow.
    QElapsedTimer clock;
    clock.start();
    QProcess get;
    get.start(program(QStringLiteral("moonrake-cli")),
              {"--profile", downloader.path(), QStringLiteral("get"), ownerId,
               QStringLiteral("/Share/big.bin")});
    QByteArray getOut;
    bool flowing = false;
    qint64 before = 0;
    qint64 peak = 0;
    while (get.state() != QProcess::NotRunning) {
        get.waitForReadyRead(20);
        getOut += get.readAllStandardOutput();
        const qint64 rss = residentKiB(get.processId());
        if (!flowing && getOut.contains("Transfering")) {
            flowing = true;
            before = rss;
        }
        if (flowing) {
            peak = std::max(peak, rss);
        }
    }
    const double seconds = flowing ? clock.elapsed() / 1000.0 : -1;
    getOut += get.readAllStandardOutput();
    serve.terminate();
    serve.waitForFinished(10000);
    if (get.exitCode() != 0 || seconds <= 0) {
        std::fprintf(stderr, "the download failed:\n%s%s\n", getOut.constData(),
                     get.readAllStandardError().constData());
        return 1;
    }
    if (!sameContent(source, downloads.filePath(QStringLiteral("big.bin")))) {
        std::fprintf(stderr, "the downloaded copy differs from the shared file\n");
        return 1;
    }

    const double mib = static_cast<double>(kFileSize) / (1 << 20);
    const double plainRate = mib / plainSeconds;
    const double rate = mib / seconds;
    const double growth = static_cast<double>(peak - before) / 1024;
    std::printf("plain loopback copy: %.1f MiB/s\n", plainRate);
    std::printf("peer push:           %.1f MiB/s\n", rate);
    std::printf("ratio %.2f (goal >= %.1f): %s\n", rate / plainRate, kRateGoal,
                rate / plainRate >= kRateGoal ? "met" : "MISSED");
    std::printf("downloader memory grew %.1f MiB (goal <= %.0f): %s\n", growth, kMemoryGoalMiB,
                growth <= kMemoryGoalMiB ? "met" : "MISSED");
    return 0;
}
