// The user's own catalog (sharing, removing, listing, synchronising) and browsing another
// user's.

#include "cli_commands.h"

#include "catalog/actualfilenode.h"
#include "catalog/confirmations.h"
#include "catalog/localmrtree.h"
#include "catalog/logicaltree.h"
#include "catalog/remotemrtree.h"
#include "core/datetime.h"
#include "core/profile.h"
#include "service/headlesssession.h"

namespace mr::cli {

namespace {

// Signs on, sends the pending changes and signs off; prints what the service accepted.
int syncCatalog(const Context& c) {
    HeadlessSession session;
    if (!session.signOn(kInfoPort, kFileServerPort)) {
        print(c.err, QStringLiteral("Unable to connect: the changes stay pending until the "
                                    "next sync"));
        return Failure;
    }
    TLocalMRTree tree(nullptr, &session.agent());
    const SyncResult r = tree.UpdateServer();
    session.signOff();
    if (!r.ran) {
        print(c.out, QStringLiteral("Nothing to send"));
        return Success;
    }
    print(c.out, QStringLiteral("Additions accepted: %1").arg(r.additionsAccepted));
    print(c.out, QStringLiteral("Removals accepted: %1").arg(r.removalsAccepted));
    if (!r.complete()) {
        print(c.err, QStringLiteral("Some changes stay pending until the next sync"));
        return Failure;
    }
    return Success;
}

int cmdShare(const Context& c, const QStringList& args) {
    QString dir, name, password;
    QStringList extensions;
    bool subfolders = true;
    bool yes = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == u"--name" && hasValue) {
            name = catalogPath(args[++i]);
        } else if (a == u"--ext" && hasValue) {
            extensions = TLocalMRTree::parseExtensions(args[++i]);
        } else if (a == u"--password" && hasValue) {
            password = args[++i];
        } else if (a == u"--no-subfolders") {
            subfolders = false;
        } else if (a == u"--yes") {
            yes = true;
        } else if (dir.isEmpty() && !a.startsWith(u"--")) {
            dir = a;
        } else {
            return usageError(c, QStringLiteral("share takes LOCALDIR [--name VPATH] [--ext "
                                                "LIST] [--no-subfolders] [--password P] [--yes]"));
        }
    }
    if (dir.isEmpty()) {
        return usageError(c, QStringLiteral("share takes the LOCALDIR to share"));
    }
    auto node = TActualFileNode::fromPath(dir);
    if (!node || !node->isFolder()) {
        print(c.err, QStringLiteral("Not a folder: ") + dir);
        return Failure;
    }
    const CatalogAccess catalog = openCatalog(c, TableUse::Writing);
    if (!catalog) {
        return Failure;
    }
    if (name.isEmpty()) {
        name = u'/' + node->item()->Name;
    }
    TLocalMRTree tree(nullptr, nullptr);
    if (const QString problem = tree.shareNameProblem(name); !problem.isEmpty()) {
        print(c.err, problem);
        return Failure;
    }
    const int count = node->count(subfolders);
    if (count > kShareConfirmLimit && !yes) {
        print(c.out, shareConfirmationText(count));
        print(c.err, QStringLiteral("Not shared; run again with --yes to go ahead."));
        return Failure;
    }
    const ShareOutcome outcome =
        tree.ShareFolder(node.get(), name, subfolders, extensions, password);
    switch (outcome.kind) {
        case ShareOutcome::Kind::AlreadyShared:
            print(c.out, QStringLiteral("Already shared: ") + node->localPath());
            return Success;
        case ShareOutcome::Kind::NoSuchFolder:
            print(c.err, QStringLiteral("No such folder in the catalog: ") + name);
            return Failure;
        case ShareOutcome::Kind::Shared:
        case ShareOutcome::Kind::Cancelled:
            break;
        case ShareOutcome::Kind::Failed:
            print(c.err, QStringLiteral("Sharing failed; the catalog is unchanged"));
            return Failure;
    }
    print(c.out, QStringLiteral("Shared %1 as %2 (%3 entries)")
                     .arg(node->localPath(), outcome.name)
                     .arg(outcome.rows));
    return syncCatalog(c);
}

int cmdUnshare(const Context& c, const QStringList& args) {
    if (args.size() != 1) {
        return usageError(c, QStringLiteral("unshare takes the VPATH to remove"));
    }
    const CatalogAccess catalog = openCatalog(c, TableUse::Writing);
    if (!catalog) {
        return Failure;
    }
    const QString path = catalogPath(args.first());
    TLocalMRTree tree(nullptr, nullptr);
    const auto item = tree.ItemAt(path);
    if (!item || tree.RemoveShare(*item) != RemoveOutcome::Removed) {
        print(c.err, QStringLiteral("Not in the catalog: ") + path);
        return Failure;
    }
    print(c.out, QStringLiteral("Removed ") + path);
    return syncCatalog(c);
}

int cmdList(const Context& c, const QStringList& args) {
    if (args.size() > 1) {
        return usageError(c, QStringLiteral("list takes at most one VPATH"));
    }
    const CatalogAccess catalog = openCatalog(c, TableUse::Reading);
    if (!catalog) {
        return Failure;
    }
    const QString path = catalogPath(args.value(0, QStringLiteral("/")));
    const auto rows = TLocalMRTree(nullptr, nullptr).listRows(path);
    if (!rows) {
        print(c.err, QStringLiteral("Not in the catalog: ") + path);
        return Failure;
    }
    // One row a line: flag ("-" when published), size ("Dir" for folders), path.
    for (const CatalogListingRow& row : *rows) {
        print(c.out, (row.action.isEmpty() ? QStringLiteral("-") : row.action) + u' ' +
                         (row.folder ? QStringLiteral("Dir") : QString::number(row.size)) + u' ' +
                         escapedLine(row.path));
    }
    return Success;
}

int cmdSync(const Context& c, const QStringList& args) {
    if (!args.isEmpty()) {
        return usageError(c, QStringLiteral("sync takes no arguments"));
    }
    const CatalogAccess catalog = openCatalog(c, TableUse::Writing);
    if (!catalog) {
        return Failure;
    }
    return syncCatalog(c);
}

int cmdBrowse(const Context& c, const QStringList& args) {
    bool ok = false;
    const qint32 userId = !args.isEmpty() ? args.first().trimmed().toInt(&ok) : 0;
    if (!ok || args.size() > 2) {
        return usageError(c, QStringLiteral("browse takes a numeric USERID and a VPATH"));
    }
    const QString path = catalogPath(args.value(1, QStringLiteral("/")));
    setActiveProfile(c.profileDir);
    HeadlessSession session;
    if (!session.signOn(kInfoPort, kFileServerPort)) {
        print(c.err, QStringLiteral("You must connect first"));
        return Failure;
    }
    TLogicalTree logical;
    TRemoteMRTree tree(nullptr, &session.agent(), QString(), userId, &logical);
    logical.setGetItems([&tree](TFileNode* node) { tree.NodeGetItems(node); });
    logical.Initialize();
    bool listingFailed = false;
    TFileNode* folder =
        tree.WaitForFolder(path, HeadlessSession::kDefaultStepTimeoutMs, &listingFailed);
    if (!folder) {
        session.signOff();
        print(c.err, (listingFailed ? QStringLiteral("The service could not list ")
                                    : QStringLiteral("No such folder: ")) +
                         path);
        return Failure;
    }
    for (const auto& node : folder->Children()) {
        const TFileItem* item = node->item();
        const QString size = item->size < 0 ? QStringLiteral("Dir") : QString::number(item->size);
        const QString date =
            item->date > 0
                ? fromDateTime(item->date).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                : QStringLiteral("-");
        // Another member's names: a line break in one must not make a line of its own.
        print(c.out, size + u' ' + date + u' ' + escapedLine(item->Name));
    }
    session.signOff();
    return Success;
}

}  // namespace

std::optional<int> runCatalogCommand(const Context& c, const QString& command,
                                     const QStringList& args) {
    static constexpr Command kCommands[] = {
        {"share", cmdShare}, {"unshare", cmdUnshare}, {"list", cmdList},
        {"sync", cmdSync},   {"browse", cmdBrowse},
    };
    return runFrom(kCommands, c, command, args);
}

}  // namespace mr::cli
