#include "benchutil.h"

#include "service/registrationclient.h"
#include "service/wire.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace mr::bench {

namespace {

std::vector<QByteArray>& summaryLines() {
    static std::vector<QByteArray> lines;
    return lines;
}

// The summary comes last, after whatever detail a benchmark prints, even when it gives up early.
void printSummary() {
    std::fflush(stdout);
    for (const QByteArray& line : summaryLines()) {
        std::printf("%s\n", line.constData());
    }
}

QByteArray figure(double value, const char* unit) {
    const int decimals = qstrcmp(unit, "req/s") == 0 ? 0 : value >= 100 ? 1 : value >= 1 ? 2 : 3;
    return QByteArray::number(value, 'f', decimals) + ' ' + unit;
}

struct Stats {
    double best;
    double low;
    double high;
};

Stats stats(const std::vector<double>& v, bool higherIsBetter) {
    const auto [low, high] = std::minmax_element(v.begin(), v.end());
    return {higherIsBetter ? *high : *low, *low, *high};
}

}  // namespace

std::optional<Samples> alternate(const Measure& measure, int runs,
                                 const std::function<double()>& baseline,
                                 const std::function<double()>& ours,
                                 const std::function<void()>& prepare) {
    Samples samples;
    const auto once = [&](const std::function<double()>& work, std::vector<double>& into,
                          const char* who, int run) {
        if (prepare) {
            prepare();
        }
        const double value = work();
        if (value < 0) {
            std::fprintf(stderr, "%s: %s, run %d, failed\n", measure.name, who, run);
            return false;
        }
        into.push_back(value);
        return true;
    };
    for (int run = 1; run <= runs; ++run) {
        if (!once(baseline, samples.baseline, "baseline", run) ||
            !once(ours, samples.ours, "ours", run)) {
            return std::nullopt;
        }
        std::printf("%s run %d: baseline %s, ours %s\n", measure.name, run,
                    figure(samples.baseline.back(), measure.unit).constData(),
                    figure(samples.ours.back(), measure.unit).constData());
        std::fflush(stdout);
    }
    const Stats b = stats(samples.baseline, measure.higherIsBetter);
    const Stats o = stats(samples.ours, measure.higherIsBetter);
    const double ratio = o.best / b.best;
    for (const auto& [who, s] : {std::pair{"baseline", b}, std::pair{"ours", o}}) {
        std::printf("%s %s: best %s, spread %s (max/min %.2f)\n", measure.name, who,
                    figure(s.best, measure.unit).constData(),
                    figure(s.high - s.low, measure.unit).constData(), s.high / s.low);
    }
    std::printf("%s: ratio of the bests %.2f, goal %s\n", measure.name, ratio,
                measure.goal ? measure.goal : "none");
    // Beside it, the ratio of a typical run to the baseline run beside it: a measure whose
    // runs scatter widely can owe its best to one lucky run.
    std::vector<double> perRun;
    for (std::size_t i = 0; i < samples.ours.size(); ++i) {
        perRun.push_back(samples.ours[i] / samples.baseline[i]);
    }
    std::printf("%s: median of the runs' ratios %.2f\n", measure.name, median(perRun));
    std::fflush(stdout);
    if (!measure.goal) {
        return samples;
    }
    if (summaryLines().empty()) {
        std::atexit(printSummary);
    }
    summaryLines().push_back(QByteArray("SUMMARY|") + measure.name + '|' +
                             figure(o.best, measure.unit) + '|' + figure(b.best, measure.unit) +
                             '|' + QByteArray::number(ratio, 'f', 2) + '|' + measure.goal);
    return samples;
}

int runsOption(const QStringList& args, int fallback) {
    const qsizetype at = args.indexOf(QStringLiteral("--runs"));
    return at >= 0 && at + 1 < args.size() ? std::max(3, args[at + 1].toInt()) : fallback;
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double perSecond(double amount, double seconds, bool ok) {
    return ok && seconds > 0 ? amount / seconds : -1;
}

QString program(const QString& name) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

bool cli(const QString& profile, const QStringList& args, QString* out, bool quiet) {
    QProcess p;
    p.start(program(QStringLiteral("moonrake-cli")), QStringList{"--profile", profile} + args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        if (!quiet) {
            std::fprintf(stderr, "moonrake-cli %s failed: %s\n", qPrintable(args.join(' ')),
                         p.readAllStandardError().constData());
        }
        return false;
    }
    if (out) {
        *out = QString::fromUtf8(p.readAllStandardOutput());
    }
    return true;
}

Endpoint parseEndpoint(const QString& text) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    return {text.left(colon), static_cast<quint16>(text.mid(colon + 1).toUInt())};
}

ServerProcess::ServerProcess(const QString& program, const QString& dataDir) {
    m_process.start(program, {QStringLiteral("--data"), dataDir});
    if (!m_process.waitForStarted(5000) || !m_process.waitForReadyRead(10000)) {
        return;
    }
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    for (const QString& part : line.split(QLatin1Char(' '))) {
        if (part.startsWith(QLatin1String("service="))) {
            m_service = parseEndpoint(part.mid(8));
        } else if (part.startsWith(QLatin1String("web="))) {
            m_web = parseEndpoint(part.mid(4));
        }
    }
}

ServerProcess::~ServerProcess() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

qint32 registerUser(const Endpoint& web, const QString& nick, const QString& password) {
    RegistrationClient registration;
    registration.setEndpoint(web.host, web.port);
    const auto reply = registration.getAndWait(RegistrationClient::registerPath(nick, password));
    return reply ? RegistrationClient::parseRegisterReply(*reply) : 0;
}

std::optional<QByteArray> plainRequest(const Endpoint& service, const QByteArray& frame,
                                       bool multi) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(service.port);
    ::inet_pton(AF_INET, service.host.toLatin1().constData(), &a.sin_addr);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              ::send(fd, frame.constData(), frame.size(), MSG_NOSIGNAL) == frame.size();
    wire::ReplyReader reader(multi, false);
    char buf[65536];
    while (ok && reader.bytesWanted() > 0) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        ok = n > 0;
        if (ok) {
            reader.feed(QByteArrayView(buf, n));
        }
    }
    ::close(fd);
    if (!ok || !reader.complete() || reader.errorEnd()) {
        return std::nullopt;
    }
    return reader.data();
}

}  // namespace mr::bench
