// File search from the console, with the search window's request and result texts.

#include "cli_commands.h"

#include "core/profile.h"
#include "directory/filesearch.h"
#include "directory/searchresults.h"
#include "service/headlesssession.h"
#include "service/idlequeue.h"
#include "service/session.h"

#include <QEventLoop>
#include <QTimer>

namespace mr::cli {

namespace {

// The index of an entry typed as it is listed, letter case and outer blanks aside; -1 when
// the list has no such entry.
int entryIndex(const QStringList& entries, const QString& typed) {
    for (int i = 0; i < entries.size(); ++i) {
        if (entries.at(i).trimmed().compare(typed.trimmed(), Qt::CaseInsensitive) == 0) {
            return i;
        }
    }
    return -1;
}

// One field of a result line: a tab or line break sent by the service would split the line.
QString field(QString text) {
    for (QChar& ch : text) {
        if (ch.unicode() < 0x20) {
            ch = u' ';
        }
    }
    return text;
}

// Runs the event loop until the signal comes, or for at most timeoutMs when that is given.
template <typename Sender, typename Signal>
void waitFor(Sender* sender, Signal signal, int timeoutMs = -1) {
    QEventLoop loop;
    QObject::connect(sender, signal, &loop, &QEventLoop::quit);
    if (timeoutMs >= 0) {
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    }
    loop.exec();
}

int cmdSearch(const Context& c, const QStringList& args) {
    FileSearchForm form;
    bool ping = false;
    std::optional<QString> pattern;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        const bool takesValue = arg == u"--type" || arg == u"--desc" || arg == u"--min" ||
                                arg == u"--max" || arg == u"--filter" || arg == u"--min-line";
        if (takesValue && i + 1 >= args.size()) {
            return usageError(c, arg + QStringLiteral(" needs a value"));
        }
        if (arg == u"--offline") {
            form.showOffline = true;
        } else if (arg == u"--ping") {
            ping = true;
        } else if (arg == u"--type") {
            form.mediaType = entryIndex(MediaTypeNames(), args.at(++i));
            if (form.mediaType < 0) {
                return usageError(c, QStringLiteral("--type is one of ") +
                                         MediaTypeNames().join(QStringLiteral(", ")));
            }
        } else if (arg == u"--min-line") {
            form.minLine = entryIndex(MinLineNames(), args.at(++i));
            if (form.minLine < 0) {
                QStringList names;
                for (const QString& name : MinLineNames()) {
                    names << name.trimmed();
                }
                return usageError(
                    c, QStringLiteral("--min-line is one of ") + names.join(QStringLiteral(", ")));
            }
            form.advanced = true;
        } else if (takesValue) {
            const QString value = args.at(++i);
            QString& target = arg == u"--desc"  ? form.description
                              : arg == u"--min" ? form.minKb
                              : arg == u"--max" ? form.maxKb
                                                : form.filter;
            target = value;
            form.advanced = true;
        } else if (arg.startsWith(QStringLiteral("--")) || pattern) {
            return usageError(c, QStringLiteral("unexpected argument: ") + arg);
        } else {
            pattern = arg;
        }
    }
    if (!pattern) {
        return usageError(c, QStringLiteral("search takes a PATTERN"));
    }
    form.name = *pattern;
    const FileSearchRequest request = BuildFileSearch(form);
    if (!request.criteria) {
        return usageError(c, request.error);
    }

    setActiveProfile(c.profileDir);
    HeadlessSession headless;
    TIdleQueue idle;
    OnlineSession session(headless.agent(), idle);
    // Offline the search cannot be placed and ends as the window's does, in error.
    if (!signOn(c, session, kInfoPort, kFileServerPort)) {
        print(c.err, QString::fromLatin1(OnlineSession::kUnableText));
    }
    SearchResults results;
    FileSearch search(results);
    if (search.start(&headless.agent(), *request.criteria) && search.searching()) {
        waitFor(&search, &FileSearch::finished, HeadlessSession::kDefaultStepTimeoutMs);
    }
    session.SignOff();
    if (search.searching()) {
        search.readReply({}, true);
    }
    if (ping && !search.failed()) {
        PingSequence pings(results);
        pings.start();
        // Every ping ends by its own time-out, so the sequence always finishes.
        if (pings.running()) {
            waitFor(&pings, &PingSequence::finished);
        }
    }

    for (int row = 0; row < results.rowCount(); ++row) {
        const TRemoteFileItem& r = results.result(row);
        QStringList line = {QString::number(r.userId),
                            r.userName,
                            results.text(row, SearchResults::ColStatus),
                            results.text(row, SearchResults::ColSize),
                            results.text(row, SearchResults::ColLine),
                            ResultRemotePath(r),
                            r.description};
        if (ping) {
            line << results.text(row, SearchResults::ColPing);
        }
        for (QString& text : line) {
            text = field(text);
        }
        print(c.out, line.join(u'\t'));
    }
    print(c.out, search.statusText());
    return search.failed() ? Failure : Success;
}

}  // namespace

std::optional<int> runSearchCommand(const Context& c, const QString& command,
                                    const QStringList& args) {
    static constexpr Command kCommands[] = {
        {"search", cmdSearch},
    };
    return runFrom(kCommands, c, command, args);
}

}  // namespace mr::cli
