// The catalog's three costs, each against a baseline run alternately with it:
//   sharing a generated tree, against a plain recursive walk that stats every entry;
//   synchronising 20,000 pending additions with a fresh moonrake-server, against the same 200
//   request bodies sent over plain one-shot sockets to a fresh server, five at a time as the
//   agent's one-shot workers may:
//   the service's work is the same, so the goal of 1.5 leaves the catalog half again for
//   reading its rows, building the records and marking what the service accepted;
//   browsing a folder of 10,000 entries, against one plain "F" request and a parse.
//
// The service's work per request dominates the sync, so a smaller tree than the shared one
// gives the same ratio in a fifth of the time.
//
//   bench_catalog [--server PATH] [--files N] [--folders N] [--sync-files N] [--listing N]
//                 [--runs N] [--tree DIR]
//
// --tree DIR keeps the shared tree in DIR, made there when missing, for profiling runs.

#include "benchutil.h"
#include "catalog/actualfilenode.h"
#include "catalog/listing.h"
#include "catalog/localmrtree.h"
#include "catalog/logicaltree.h"
#include "catalog/remotemrtree.h"
#include "catalog/shareupdate.h"
#include "core/hostinfo.h"
#include "core/profile.h"
#include "core/record.h"
#include "core/userinfo.h"
#include "db/cursor.h"
#include "db/database.h"
#include "db/journalfolder.h"
#include "service/agent.h"
#include "service/headlesssession.h"
#include "service/httpcompsync.h"
#include "service/wire.h"
#include "transfer/datamodule.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

using namespace mr;
using bench::Endpoint;

namespace {

QByteArray shareFrame(const QByteArray& payload) {
    return wire::frameRequest(wire::kSharePath, wire::requestBody('T', 1, payload), false);
}

// The baseline walk: every entry read and stat'ed once.
int walk(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir)
        return 0;
    int n = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.' && (!e->d_name[1] || (e->d_name[1] == '.' && !e->d_name[2])))
            continue;
        struct stat st {};
        if (::fstatat(fd, e->d_name, &st, 0) != 0)
            continue;
        ++n;
        if (S_ISDIR(st.st_mode))
            n += walk(path + '/' + e->d_name);
    }
    ::closedir(dir);
    return n;
}

void makeTree(const QString& root, int folders, int files) {
    for (int d = 0; d < folders; ++d) {
        const QString dir = QStringLiteral("%1/d%2").arg(root).arg(d, 4, 10, QChar('0'));
        QDir().mkpath(dir);
        const int count = files / folders;
        for (int f = 0; f < count; ++f) {
            QFile file(QStringLiteral("%1/f%2.dat").arg(dir).arg(f));
            file.open(QIODevice::WriteOnly);
            file.write("x", f % 2);
        }
    }
}

double millis(const std::function<void()>& work) {
    QElapsedTimer t;
    t.start();
    work();
    return t.nsecsElapsed() / 1e6;
}

void resetCatalog(const QString& dir) {
    db::Database::disconnect(QString::fromLatin1(db::kDatabaseName));
    QDir(dir + "/data").removeRecursively();
    TMRDataModule::install(dir);
    db::Database::connect(QString::fromLatin1(db::kDatabaseName), dir + "/data");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString serverPath = QCoreApplication::applicationDirPath() + "/moonrake-server";
    int files = 100000, folders = 1000, syncFiles = 20000, listing = 10000;
    QString keptTree;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--server")
            serverPath = args[i + 1];
        else if (args[i] == "--files")
            files = args[i + 1].toInt();
        else if (args[i] == "--folders")
            folders = args[i + 1].toInt();
        else if (args[i] == "--sync-files")
            syncFiles = args[i + 1].toInt();
        else if (args[i] == "--listing")
            listing = args[i + 1].toInt();
        else if (args[i] == "--tree")
            keptTree = args[i + 1];
    }
    const int runs = bench::runsOption(args);
    QTemporaryDir scratch;
    const QString profile = scratch.filePath("profile");
    setActiveProfile(profile);

    // Sharing against a walk, both on a warm cache and after the catalog was emptied.
    const QString tree = keptTree.isEmpty() ? scratch.filePath("tree") : keptTree;
    if (keptTree.isEmpty() || !QFileInfo::exists(keptTree)) {
        std::printf("generating %d files in %d folders...\n", files, folders);
        std::fflush(stdout);
        makeTree(tree, folders, files);
    }
    const QByteArray native = QFile::encodeName(tree);
    const int walked = walk(native);
    const auto share = [&](const QString& folder) {
        auto node = TActualFileNode::fromPath(folder);
        return TLocalMRTree(nullptr, nullptr).ShareFolder(node.get(), "/tree", true, {});
    };
    const auto seconds = [](double ms) { return ms / 1000; };
    double foldMs = 0;
    if (!bench::alternate(
            {"sharing", "s", false, "<=1.5"}, runs,
            [&] {
                int n = 0;
                const double ms = millis([&] { n = walk(native); });
                return n == walked ? seconds(ms) : -1;
            },
            [&] {
                ShareOutcome shared;
                const double ms = millis([&] { shared = share(tree); });
                // The share ends without waiting for its journal to be folded into the table
                // file: waited for here, untimed, so that it never runs into the next run.
                foldMs = std::max(foldMs, millis([] { db::waitForJournalFolds(); }));
                return shared.kind == ShareOutcome::Kind::Shared && shared.rows >= walked
                           ? seconds(ms)
                           : -1;
            },
            [&] { resetCatalog(profile); })) {
        return 1;
    }
    std::printf("sharing: the journal fold after a share took up to %.1f ms on its own thread\n",
                foldMs);

    // Browsing, on a service of its own with two accounts.
    std::optional<QTemporaryDir> data(std::in_place);
    std::optional<bench::ServerProcess> server(std::in_place, serverPath, data->path());
    if (!server->ready()) {
        std::fprintf(stderr, "bench_catalog: moonrake-server did not start (%s)\n",
                     qPrintable(serverPath));
        return 1;
    }
    const auto useService = [&] {
        const Endpoint service = server->service();
        HostInfo().set(HostStore::Moonrake, service.host + ':' + QString::number(service.port));
        return bench::registerUser(server->web(), "seeder", "pw");
    };
    const qint32 seeder = useService();
    const qint32 lister = bench::registerUser(server->web(), "lister", "pw");
    UserInfo().setId(lister);
    UserInfo().setPassword("pw");
    TFileItem bigFolder("Big", "/");
    QByteArray batch = additionRecord(bigFolder);
    for (int i = 0; i < listing; ++i) {
        TFileItem item(QStringLiteral("entry%1.bin").arg(i), "/Big/");
        item.size = i;
        item.date = 45000.5;
        batch += additionRecord(item);
        if ((i + 1) % kShareBatchSize == 0 || i + 1 == listing) {
            bench::plainRequest(server->service(),
                                shareFrame(TMRAgentHttp::shareLoginRecord(UserInfo()) + batch),
                                false);
            batch.clear();
        }
    }
    UserInfo().setId(seeder);
    const QByteArray listFrame = wire::frameRequest(
        wire::kPingPath, wire::requestBody('F', 1, PackRecord("IA", {lister, "Big"}).bytes), false);
    bench::plainRequest(server->service(), listFrame, true);  // warm the server's pages
    std::optional<HeadlessSession> session(std::in_place);
    if (!session->signOn(0, 0)) {
        std::fprintf(stderr, "bench_catalog: cannot sign on\n");
        return 1;
    }
    const auto browsed = bench::alternate(
        {"browse", "ms", false, "<=2.0"}, runs,
        [&] {
            // The items outlive the measure, as ours's tree does.
            std::vector<std::unique_ptr<TRemoteFileItem>> items;
            const double ms = millis([&] {
                const auto reply = bench::plainRequest(server->service(), listFrame, true);
                items = parseListing(reply.value_or(QByteArray()), "x");
            });
            return items.size() == size_t(listing) ? ms : -1;
        },
        [&] {
            // A tree of its own each time, with the root listing loaded outside the measure.
            TLogicalTree root;
            TRemoteMRTree remote(nullptr, &session->agent(), "lister", lister, &root);
            root.setGetItems([&](TFileNode* n) { remote.NodeGetItems(n); });
            root.Initialize();
            remote.WaitForFolder("/", 60000);
            int shown = -1;
            const double ms = millis([&] {
                TFileNode* big = remote.WaitForFolder("/Big", 60000);
                shown = big ? big->Children().count() : -1;
            });
            return shown == listing ? ms : -1;
        });
    session->signOff();
    session.reset();
    if (!browsed) {
        return 1;
    }

    // Synchronising: every run of either side starts with the tree freshly shared and a fresh
    // service whose only account is the seeder's.
    const QString syncTree = scratch.filePath("synctree");
    makeTree(syncTree, std::max(1, syncFiles / 100), syncFiles);
    const auto prepareSync = [&] {
        server.reset();
        data.emplace();
        server.emplace(serverPath, data->path());
        resetCatalog(profile);
        share(syncTree);
        return server->ready() && useService() == seeder;
    };
    if (!prepareSync()) {
        std::fprintf(stderr, "bench_catalog: a fresh service did not start alike\n");
        return 1;
    }
    QList<QByteArray> bodies;
    int rowsWanted = 0;
    {
        db::Cursor rows(QString::fromLatin1(db::kDatabaseName), "files");
        TLocalMRTree local(nullptr, nullptr);
        QHash<int, QString> paths;
        for (; !rows.eof(); rows.next()) {
            const int parent = static_cast<int>(rows.asInteger(u"ParentId"));
            if (!paths.contains(parent))
                paths.insert(parent, local.PathOf(parent));
            batch += additionRecord(*TMRTree::ItemFromRow(rows, paths.value(parent)));
            if (++rowsWanted % kShareBatchSize == 0) {
                bodies << TMRAgentHttp::shareLoginRecord(UserInfo()) + batch;
                batch.clear();
            }
        }
        if (!batch.isEmpty())
            bodies << TMRAgentHttp::shareLoginRecord(UserInfo()) + batch;
    }
    std::printf("sync: %d additions in %lld requests\n", rowsWanted,
                static_cast<long long>(bodies.size()));
    bool prepared = true;
    const auto synced = bench::alternate(
        {"sync", "s", false, "<=1.5"}, runs,
        [&] {
            // As many plain sockets at a time as the agent has one-shot workers.
            std::atomic<int> next = 0;
            std::atomic<bool> ok = prepared;
            const double ms = millis([&] {
                std::vector<std::thread> senders;
                for (int t = 0; t < THttpCompSync::kMaxOneShotWorkers; ++t) {
                    senders.emplace_back([&] {
                        for (int i; ok && (i = next++) < bodies.size();) {
                            if (!bench::plainRequest(server->service(), shareFrame(bodies[i]),
                                                     false))
                                ok = false;
                        }
                    });
                }
                for (std::thread& sender : senders)
                    sender.join();
            });
            return ok ? seconds(ms) : -1;
        },
        [&] {
            HeadlessSession online;
            if (!prepared || !online.signOn(0, 0))
                return -1.0;
            SyncResult result;
            const double ms = millis([&] {
                TLocalMRTree local(nullptr, &online.agent());
                result = local.UpdateServer();
            });
            online.signOff();
            return result.additionsAccepted == rowsWanted ? seconds(ms) : -1;
        },
        [&] { prepared = prepareSync(); });
    return synced ? 0 : 1;
}
