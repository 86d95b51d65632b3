#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace mr::bench {

// One line of the shared summary: what is measured, the unit of every figure, which way is
// better, and the goal on the ratio of the bests (ours/baseline), ">=0.9" or "<=1.5"; a measure
// without a goal is detail, printed but left out of the summary.
struct Measure {
    const char* name;
    const char* unit;
    bool higherIsBetter;
    const char* goal;
};

struct Samples {
    std::vector<double> baseline;
    std::vector<double> ours;
};

// Runs baseline and ours in turn, `runs` times each, `prepare` before every single run, so that
// neither side always finds the machine as the other left it. A run returns its figure in the
// measure's unit, or a negative number when it failed. Prints every round, the best and spread
// of each side and the ratio of the bests, and keeps the measure's SUMMARY line, which is
// printed when the program exits. Nothing when a run failed.
std::optional<Samples> alternate(const Measure& measure, int runs,
                                 const std::function<double()>& baseline,
                                 const std::function<double()>& ours,
                                 const std::function<void()>& prepare = {});

// The value of `--runs N` among the arguments (at least 3), or `fallback`.
int runsOption(const QStringList& args, int fallback = 3);

// A run's figure from work done in a time: amount / seconds, or -1 when it failed.
double perSecond(double amount, double seconds, bool ok = true);
// The middle value, or the mean of the middle two; 0 for none.
double median(std::vector<double> values);

// A program built beside the benchmark.
QString program(const QString& name);

// Runs `moonrake-cli --profile PROFILE ARGS...`; true when it exits 0, its output in `out`.
// A failure is reported on stderr unless `quiet` (a caller that polls until it succeeds).
bool cli(const QString& profile, const QStringList& args, QString* out = nullptr,
         bool quiet = false);

struct Endpoint {
    QString host;
    quint16 port = 0;
};

// "HOST:PORT" as the server's ready line writes it.
Endpoint parseEndpoint(const QString& text);

// A moonrake-server on a data folder of the caller's; killed with the object.
class ServerProcess {
public:
    ServerProcess(const QString& program, const QString& dataDir);
    ~ServerProcess();

    bool ready() const { return m_service.port != 0 && m_web.port != 0; }
    Endpoint service() const { return m_service; }
    Endpoint web() const { return m_web; }

private:
    QProcess m_process;
    Endpoint m_service;
    Endpoint m_web;
};

// A new account on the server's web port; its id, or 0.
qint32 registerUser(const Endpoint& web, const QString& nick, const QString& password);

// The baselines' client: one request on its own plain socket, the reply read to its end; the
// reply's data, or nothing when the request failed.
std::optional<QByteArray> plainRequest(const Endpoint& service, const QByteArray& frame,
                                       bool multi);

}  // namespace mr::bench
