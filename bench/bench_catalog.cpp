// The catalog's three costs, each beside a baseline measured in the same run:
//   1. sharing a generated tree, against a plain recursive walk that stats every entry;
//   2. synchronising 100,000 pending additions with moonrake-server, against the same 1,000
//      request bodies sent over plain one-shot sockets;
//   3. browsing a folder of 10,000 entries, against one plain "F" request and a parse.
//
//   bench_catalog [--server PATH] [--files N] [--folders N] [--listing N]

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
#include "service/agent.h"
#include "service/headlesssession.h"
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

#include <cstdio>
#include <functional>
#include <optional>

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

qint64 timed(const std::function<void()>& work) {
    QElapsedTimer t;
    t.start();
    work();
    return t.nsecsElapsed();
}

void report(const char* what, qint64 ours, qint64 baseline, double goal) {
    const double ratio = baseline > 0 ? double(ours) / double(baseline) : 0;
    std::printf("%-34s ours %8.1f ms  baseline %8.1f ms  ratio %.2f (goal <= %.1f) %s\n", what,
                ours / 1e6, baseline / 1e6, ratio, goal, ratio <= goal ? "ok" : "OVER");
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
    int files = 100000, folders = 1000, listing = 10000;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--server")
            serverPath = args[i + 1];
        else if (args[i] == "--files")
            files = args[i + 1].toInt();
        else if (args[i] == "--folders")
            folders = args[i + 1].toInt();
        else if (args[i] == "--listing")
            listing = args[i + 1].toInt();
    }
    QTemporaryDir scratch;
    const QString profile = scratch.filePath("profile");
    setActiveProfile(profile);

    // 1. Share against a walk.
    const QString tree = scratch.filePath("tree");
    std::printf("generating %d files in %d folders...\n", files, folders);
    makeTree(tree, folders, files);
    const QByteArray native = QFile::encodeName(tree);
    walk(native);  // warm the cache for both
    int walked = 0;
    const qint64 walkNs = timed([&] { walked = walk(native); });
    resetCatalog(profile);
    ShareOutcome shared;
    const qint64 shareNs = timed([&] {
        auto node = TActualFileNode::fromPath(tree);
        TLocalMRTree local(nullptr, nullptr);
        shared = local.ShareFolder(node.get(), "/tree", true, {});
    });
    std::printf("walk saw %d entries; share wrote %d rows\n", walked, shared.rows);
    report("1. share tree vs stat walk", shareNs, walkNs, 2.0);

    // The service, with two accounts.
    QTemporaryDir data;
    bench::ServerProcess server(serverPath, data.path());
    if (!server.ready()) {
        std::fprintf(stderr, "bench_catalog: moonrake-server did not start (%s)\n",
                     qPrintable(serverPath));
        return 1;
    }
    const Endpoint service = server.service();
    const auto registered = [&](const QString& nick) {
        return bench::registerUser(server.web(), nick, "pw");
    };
    const qint32 seeder = registered("seeder");
    const qint32 lister = registered("lister");
    UserInfo().setId(seeder);
    UserInfo().setPassword("pw");
    HostInfo().set(HostStore::Moonrake, service.host + ':' + QString::number(service.port));

    // 2. Sync against plain sockets: the same 100,000 files in their folders, shared afresh.
    const QString tree2 = tree;
    resetCatalog(profile);
    {
        auto node = TActualFileNode::fromPath(tree2);
        TLocalMRTree(nullptr, nullptr).ShareFolder(node.get(), "/tree2", true, {});
    }
    QList<QByteArray> bodies;
    int rowsWanted = 0;
    {
        db::Cursor rows(QString::fromLatin1(db::kDatabaseName), "files");
        TLocalMRTree local(nullptr, nullptr);
        QHash<int, QString> paths;
        QByteArray batch;
        int n = 0;
        for (; !rows.eof(); rows.next()) {
            const int parent = static_cast<int>(rows.asInteger(u"ParentId"));
            if (!paths.contains(parent))
                paths.insert(parent, local.PathOf(parent));
            batch += additionRecord(*TMRTree::ItemFromRow(rows, paths.value(parent)));
            if (++n % kShareBatchSize == 0) {
                bodies << TMRAgentHttp::shareLoginRecord(UserInfo()) + batch;
                batch.clear();
            }
        }
        if (!batch.isEmpty())
            bodies << TMRAgentHttp::shareLoginRecord(UserInfo()) + batch;
        rowsWanted = n;
    }
    // The baseline talks to a service of its own, as new as the measured one: sent to the same
    // service first, the same entries would leave it a bigger catalog to add to.
    QTemporaryDir baselineData;
    bench::ServerProcess baselineServer(serverPath, baselineData.path());
    if (!baselineServer.ready() ||
        bench::registerUser(baselineServer.web(), "seeder", "pw") != seeder) {
        std::fprintf(stderr, "bench_catalog: the baseline's service did not start alike\n");
        return 1;
    }
    const Endpoint baselineService = baselineServer.service();
    bool baselineOk = true;
    const qint64 plainSyncNs = timed([&] {
        for (const QByteArray& body : bodies)
            baselineOk =
                bench::plainRequest(baselineService, shareFrame(body), false).has_value() &&
                baselineOk;
    });
    HeadlessSession session;
    if (!session.signOn(0, 0)) {
        std::fprintf(stderr, "bench_catalog: cannot sign on\n");
        return 1;
    }
    SyncResult synced;
    const qint64 syncNs = timed([&] {
        TLocalMRTree local(nullptr, &session.agent());
        synced = local.UpdateServer();
    });
    // Every entry is on the service: count the listing of each folder.
    int listed = 0;
    QStringList folderQueue{QString()};
    while (!folderQueue.isEmpty()) {
        const QString folder = folderQueue.takeFirst();
        const auto reply = bench::plainRequest(
            service,
            wire::frameRequest(wire::kPingPath,
                               wire::requestBody('F', 1, PackRecord("IA", {seeder, folder}).bytes),
                               false),
            true);
        for (const auto& item : parseListing(reply.value_or(QByteArray()), "seeder")) {
            ++listed;
            if (item->size == -1)
                folderQueue << (item->Path + item->Name).mid(1);
        }
    }
    std::printf(
        "%lld bodies (baseline %s); sync accepted %d of %d additions; service lists "
        "%d entries\n",
        static_cast<long long>(bodies.size()), baselineOk ? "ok" : "FAILED",
        synced.additionsAccepted, rowsWanted, listed);
    report("2. sync vs plain one-shot sockets", syncNs, plainSyncNs, 1.5);

    // 3. Browse against one plain request and a parse.
    UserInfo().setId(lister);
    TFileItem bigFolder("Big", "/");
    QByteArray batch = additionRecord(bigFolder);
    for (int i = 0; i < listing; ++i) {
        TFileItem item(QStringLiteral("entry%1.bin").arg(i), "/Big/");
        item.size = i;
        item.date = 45000.5;
        batch += additionRecord(item);
        if ((i + 1) % kShareBatchSize == 0 || i + 1 == listing) {
            bench::plainRequest(
                service, shareFrame(TMRAgentHttp::shareLoginRecord(UserInfo()) + batch), false);
            batch.clear();
        }
    }
    const QByteArray listFrame = wire::frameRequest(
        wire::kPingPath, wire::requestBody('F', 1, PackRecord("IA", {lister, "Big"}).bytes), false);
    size_t parsed = 0;
    bench::plainRequest(service, listFrame, true);  // warm the server's pages
    const qint64 plainBrowseNs = timed([&] {
        parsed =
            parseListing(bench::plainRequest(service, listFrame, true).value_or(QByteArray()), "x")
                .size();
    });
    int shown = 0;
    {
        TLogicalTree root;
        TRemoteMRTree prime(nullptr, &session.agent(), "lister", lister, &root);
        root.setGetItems([&](TFileNode* n) { prime.NodeGetItems(n); });
        root.Initialize();
        prime.WaitForFolder("/", 60000);  // the root listing is not part of the measure
        const qint64 browseNs = timed([&] {
            TFileNode* big = prime.WaitForFolder("/Big", 60000);
            shown = big ? big->Children().count() : -1;
        });
        std::printf("plain parse read %zu entries; browse shows %d\n", parsed, shown);
        report("3. browse vs plain request + parse", browseNs, plainBrowseNs, 2.0);
    }
    session.signOff();
    return 0;
}
