#include "patterns.h"

#include <QStringList>

namespace mr::server {

namespace {

// The classic wildcard walk: on a mismatch, let the last "%" swallow one more character.
bool matchFolded(const QString& p, const QString& t) {
    qsizetype pi = 0;
    qsizetype ti = 0;
    qsizetype starP = -1;
    qsizetype starT = 0;
    while (ti < t.size()) {
        if (pi < p.size() && (p[pi] == u'_' || (p[pi] != u'%' && p[pi] == t[ti]))) {
            ++pi;
            ++ti;
        } else if (pi < p.size() && p[pi] == u'%') {
            starP = pi++;
            starT = ti;
        } else if (starP >= 0) {
            pi = starP + 1;
            ti = ++starT;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == u'%') {
        ++pi;
    }
    return pi == p.size();
}

}  // namespace

bool likeMatch(const QString& pattern, const QString& text) {
    return matchFolded(likeFold(pattern), likeFold(text));
}

QString likeFold(const QString& text) {
    return text.toCaseFolded();
}

bool extensionListMatches(const QString& list, const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1).toCaseFolded();
    bool anyEntry = false;
    for (QString entry : list.split(u':')) {
        entry = entry.trimmed();
        // People type "*.mp3" or ".mp3" as often as "mp3".
        if (entry.startsWith(u"*.")) {
            entry.remove(0, 2);
        } else if (entry.startsWith(u'.')) {
            entry.remove(0, 1);
        }
        if (entry.isEmpty()) {
            continue;
        }
        anyEntry = true;
        if (entry == u"%" || entry.toCaseFolded() == extension) {
            return true;
        }
    }
    return !anyEntry;
}

}  // namespace mr::server
