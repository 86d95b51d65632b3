// SIGKILL at the worst moments: nothing that was committed may be lost, nothing half-written may
// show, and the next run carries on from where the killed one stopped.

#include "process.h"
#include "serverprocess.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <iostream>
#include <memory>

using namespace mr;

namespace {

constexpr int kLongMs = 180000;

// The run's seed, printed so that a failure can be replayed with MOONRAKE_KILL_SEED.
quint32 killSeed() {
    bool ok = false;
    quint32 seed = qEnvironmentVariable("MOONRAKE_KILL_SEED").toUInt(&ok);
    if (!ok)
        seed = QRandomGenerator::global()->generate();
    std::cout << "MOONRAKE_KILL_SEED=" << seed << std::endl;
    return seed;
}

QByteArray randomBytes(qsizetype size, quint32 seed) {
    QList<quint32> words(size / 4 + 1);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), size);
}

qint64 fileSize(const QString& path) {
    const QFileInfo info(path);
    return info.exists() ? info.size() : 0;
}

// Processor time a running process has used so far, in clock ticks: how far it has got, whatever
// else the machine is doing.
qint64 cpuTicks(const QProcess& p) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(p.processId()));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // After the command name: state is the first field, utime the twelfth, stime the thirteenth.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : 0;
}

void killNow(QProcess& p) {
    p.kill();
    p.waitForFinished(kLongMs);
}

// The rows one read-only query returns, each as its columns joined by a tab.
QStringList query(const QString& database, const char* sql, int parameter = 0) {
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    QStringList rows;
    if (sqlite3_open_v2(QFile::encodeName(database).constData(), &db, SQLITE_OPEN_READONLY,
                        nullptr) == SQLITE_OK &&
        sqlite3_busy_timeout(db, 10000) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_int(st, 1, parameter);
        while (sqlite3_step(st) == SQLITE_ROW) {
            QStringList columns;
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                columns << QString::fromUtf8(
                    reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                    sqlite3_column_bytes(st, i));
            }
            rows << columns.join(u'\t');
        }
    } else {
        rows << QStringLiteral("cannot read ") + database;
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

// Where the test's folders go: tens of thousands of files and a sync per service commit are quick
// in memory, and a kill loses nothing there that it would not lose on a disk.
QString scratch() {
    const QString memory = QStringLiteral("/dev/shm");
    return QDir(QFileInfo(memory).isWritable() ? memory : QDir::tempPath())
        .filePath(QStringLiteral("moonrake-kill-XXXXXX"));
}

// 20 folders of 10 folders of 100 files, below one top folder: 20,221 catalog rows.
constexpr int kTreeRows = 1 + 20 + 20 * 10 + 20 * 10 * 100;

void writeTree(const QString& top) {
    for (int a = 0; a < 20; ++a) {
        for (int b = 0; b < 10; ++b) {
            const QString folder = QStringLiteral("%1/d%2/e%3").arg(top).arg(a).arg(b);
            ASSERT_TRUE(QDir().mkpath(folder));
            for (int c = 0; c < 100; ++c) {
                QFile f(QStringLiteral("%1/f%2.txt").arg(folder).arg(c));
                ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(QByteArray(c + 1, 'x')) > 0);
            }
        }
    }
}

// One service and two members: alice, who shares, and bob, who downloads.
class KillTest : public ::testing::Test {
protected:
    void SetUp() override {
        startServer();
        ASSERT_TRUE(server->ready()) << server->readyLine().toStdString();
        aliceId = test::registerUser(alice.path(), *server, "alice");
        ASSERT_GT(aliceId, 0);
        ASSERT_GT(test::registerUser(bob.path(), *server, "bob"), 0);
    }

    // A new server on the same data, and alice's profile pointed at it.
    void startServer() {
        server = std::make_unique<test::Server>(QStringList{"--data", data.path()});
        if (aliceId > 0) {
            ASSERT_EQ(cli(alice, {"set", "Host/Moonrake", server->service().text()}).exitCode, 0);
        }
    }

    test::RunResult cli(const QTemporaryDir& profile, const QStringList& args) {
        return test::cli(profile.path(), args, kLongMs);
    }

    QProcess* start(const QTemporaryDir& profile, const QStringList& args) {
        return test::startProgram("moonrake-cli", QStringList{"--profile", profile.path()} + args);
    }

    QString serverDatabase() const { return data.filePath("moonrake-server.db"); }
    QString aliceCatalog() const { return alice.filePath("data/files.dat"); }

    // Every row of alice's catalog published, and the service listing exactly those paths.
    void expectPublishedEverywhere(int rows) {
        EXPECT_EQ(query(aliceCatalog(), "select count(*) from files where Action <> ''"),
                  QStringList{"0"});
        QStringList local = query(aliceCatalog(),
                                  "with recursive p(id, path) as ("
                                  "select id, '/' || Name from files where ParentId = -1 "
                                  "union all select f.id, p.path || '/' || f.Name "
                                  "from files f join p on f.ParentId = p.id) select path from p");
        EXPECT_EQ(local.size(), rows);
        QStringList service =
            query(serverDatabase(),
                  "select '/' || case length(folder) when 0 then name else folder || '/' || name "
                  "end from catalog where owner = ?",
                  aliceId);
        local.sort();
        service.sort();
        EXPECT_TRUE(local == service)
            << local.size() << " rows here, " << service.size() << " at the service";
    }

    QTemporaryDir data{scratch()}, alice{scratch()}, bob{scratch()}, disk{scratch()},
        downloads{scratch()};
    std::unique_ptr<test::Server> server;
    int aliceId = 0;
};

}  // namespace

TEST_F(KillTest, AKilledDownloadResumesFromItsPartialFileEveryTime) {
    const quint32 seed = killSeed();
    SCOPED_TRACE("MOONRAKE_KILL_SEED=" + std::to_string(seed));
    QRandomGenerator random(seed);
    const QByteArray content = randomBytes(50 * 1024 * 1024, seed);
    ASSERT_TRUE(test::writeFile(disk.filePath("Big/big.bin"), content));
    ASSERT_EQ(cli(alice, {"share", disk.filePath("Big")}).exitCode, 0);
    ASSERT_EQ(cli(bob, {"set", "UserInfo/DownloadPath", downloads.path()}).exitCode, 0);
    test::Serving serving(alice.path());
    ASSERT_TRUE(serving.ready()) << serving.err().toStdString();

    // Killed each time the file has grown past the next offset, or past where the last kill
    // left it; the last quarter is left to the final run.
    QList<qint64> offsets;
    for (int i = 0; i < 20; ++i)
        offsets << random.bounded(qint64(1), content.size() * 3 / 4);
    std::sort(offsets.begin(), offsets.end());
    const QString partial = downloads.filePath("big.bin");
    const QStringList get{"get", QString::number(aliceId), "/Big/big.bin"};
    const QString resumed = "Negotiating\nRemotely Queued\nResuming\n";
    bool completed = false;
    for (const qint64 offset : offsets) {
        const qint64 before = fileSize(partial);
        ASSERT_TRUE(test::readFile(partial) == content.left(before)) << "at " << before;
        std::unique_ptr<QProcess> bobs(start(bob, get));
        const qint64 killAt = std::max(offset, before);
        ASSERT_TRUE(test::waitUntil(
            [&] { return fileSize(partial) > killAt || bobs->state() == QProcess::NotRunning; },
            kLongMs));
        // A busy machine may look again only after the rest has arrived: then it is complete.
        // So may the kill, when the last bytes came at once: the download is then recorded
        // complete, and the program was killed on its way out.
        const bool exited = bobs->state() == QProcess::NotRunning;
        if (!exited)
            killNow(*bobs);
        completed = exited || cli(bob, {"queue"}).out.contains(u"\tCompleted\t");
        // What it printed shows that it went on from the partial file, not from the start.
        const QString out = QString::fromUtf8(bobs->readAllStandardOutput());
        if (before > 0 && completed && !exited) {
            EXPECT_TRUE(out == resumed || out == resumed + "Completed\n")
                << "at " << before << ": " << out.toStdString();
        } else if (before > 0) {
            EXPECT_EQ(out, completed ? resumed + "Completed\n" : resumed) << "at " << before;
        }
        if (completed) {
            std::cout << "the download completed before kill " << offsets.indexOf(offset) + 1
                      << std::endl;
            break;
        }
    }
    if (!completed) {
        EXPECT_TRUE(test::ended(cli(bob, get), 0, resumed + "Completed\n"));
    }
    EXPECT_TRUE(test::readFile(partial) == content);
    // One item, however often it was taken up again.
    const QString id = QString::number(aliceId);
    EXPECT_EQ(cli(bob, {"queue"}).out, id + '\t' + id + "\t/Big/big.bin\tCompleted\t" +
                                           QString::number(content.size()) + '\t' +
                                           QString::number(content.size()) + '\n');
}

TEST_F(KillTest, AKilledShareLeavesTheWholeTreeOrNothingAndTheNextRunFinishesIt) {
    const quint32 seed = killSeed();
    SCOPED_TRACE("MOONRAKE_KILL_SEED=" + std::to_string(seed));
    QRandomGenerator random(seed);
    writeTree(disk.filePath("Tree"));
    const QStringList share{"share", disk.filePath("Tree"), "--yes"};
    // The empty catalog is there first: a run killed before it made one would leave no file
    // to read, which is nothing shared all the same.
    ASSERT_EQ(cli(alice, {"init"}).exitCode, 0);

    // Each run is killed once it has used a random share of the processor time a whole run
    // takes, in the walk, while the rows are written, or while they are sent; a run that ends
    // first has shared it all.
    for (int kill = 0; kill < 4; ++kill) {
        const qint64 ticks = random.bounded(5, 200);
        std::unique_ptr<QProcess> run(start(alice, share));
        ASSERT_TRUE(test::waitUntil(
            [&] { return cpuTicks(*run) >= ticks || run->state() == QProcess::NotRunning; },
            kLongMs));
        const bool killed = run->state() != QProcess::NotRunning;
        killNow(*run);
        const QStringList rows = query(aliceCatalog(), "select count(*) from files");
        ASSERT_TRUE(rows == QStringList{"0"} || rows == QStringList{QString::number(kTreeRows)})
            << rows.join(u' ').toStdString() << " rows after a kill at " << ticks << " ticks";
        EXPECT_EQ(query(aliceCatalog(),
                        "select count(*) from files c where ParentId <> -1 and not exists "
                        "(select 1 from files p where p.id = c.ParentId)"),
                  QStringList{"0"});
        if (!killed || rows != QStringList{"0"})
            break;
    }
    // Whatever was left pending goes now.
    if (query(aliceCatalog(), "select count(*) from files") == QStringList{"0"}) {
        EXPECT_EQ(cli(alice, share).exitCode, 0);
    }
    EXPECT_EQ(cli(alice, {"sync"}).exitCode, 0);
    expectPublishedEverywhere(kTreeRows);

    // The catalog takes the next share as if nothing had happened.
    ASSERT_TRUE(test::writeFile(disk.filePath("More/a.txt"), "a"));
    EXPECT_TRUE(test::ended(cli(alice, {"share", disk.filePath("More")}), 0,
                            "Shared " + disk.filePath("More") +
                                " as /More (2 entries)\nAdditions accepted: 2\n"
                                "Removals accepted: 0\n"));
    expectPublishedEverywhere(kTreeRows + 2);
}

TEST_F(KillTest, AServiceKilledDuringASyncConvergesWithTheNextSync) {
    const quint32 seed = killSeed();
    SCOPED_TRACE("MOONRAKE_KILL_SEED=" + std::to_string(seed));
    QRandomGenerator random(seed);
    writeTree(disk.filePath("Tree"));
    // Shared while the service is away: every row waits as an addition.
    ASSERT_EQ(cli(alice, {"set", "Host/Moonrake", "127.0.0.1:1"}).exitCode, 0);
    ASSERT_EQ(cli(alice, {"share", disk.filePath("Tree"), "--yes"}).exitCode, 1);
    ASSERT_EQ(cli(alice, {"set", "Host/Moonrake", server->service().text()}).exitCode, 0);

    // The service is killed three times, each once it holds a random number of the entries.
    QList<int> thresholds;
    for (int i = 0; i < 3; ++i)
        thresholds << random.bounded(1, kTreeRows - 500);
    std::sort(thresholds.begin(), thresholds.end());
    const auto held = [&] {
        return query(serverDatabase(), "select count(*) from catalog where owner = ?", aliceId)
            .value(0)
            .toInt();
    };
    for (const int threshold : thresholds) {
        std::unique_ptr<QProcess> sync(start(alice, {"sync"}));
        ASSERT_TRUE(test::waitUntil(
            [&] { return held() >= threshold || sync->state() == QProcess::NotRunning; }, kLongMs));
        server->kill();
        ASSERT_TRUE(sync->waitForFinished(kLongMs));
        startServer();
        ASSERT_TRUE(server->ready()) << server->readyLine().toStdString();
    }
    const auto r = cli(alice, {"sync"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    expectPublishedEverywhere(kTreeRows);
}
