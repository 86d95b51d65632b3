#include "patterns.h"

#include <algorithm>

namespace mr::server {

namespace {

// The length in UTF-16 units of the character that starts at i: 2 for a surrogate pair.
qsizetype charLength(const QString& t, qsizetype i) {
    return t[i].isHighSurrogate() && i + 1 < t.size() && t[i + 1].isLowSurrogate() ? 2 : 1;
}

// The classic wildcard walk: on a mismatch, let the last "%" swallow one more character. "_"
// and the swallowing go by whole characters, so a character outside the Basic Multilingual
// Plane counts as one, as SQL's LIKE has it.
bool matchFolded(const QString& p, const QString& t) {
    qsizetype pi = 0;
    qsizetype ti = 0;
    qsizetype starP = -1;
    qsizetype starT = 0;
    while (ti < t.size()) {
        if (pi < p.size() && p[pi] == u'_') {
            ++pi;
            ti += charLength(t, ti);
        } else if (pi < p.size() && p[pi] != u'%' && p[pi] == t[ti]) {
            ++pi;
            ++ti;
        } else if (pi < p.size() && p[pi] == u'%') {
            starP = pi++;
            starT = ti;
        } else if (starP >= 0) {
            pi = starP + 1;
            starT += charLength(t, starT);
            ti = starT;
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

QString likeFold(const QString& text) {
    return text.toCaseFolded();
}

LikePattern::LikePattern(const QString& pattern)
    : m_folded(likeFold(pattern)),
      m_any(std::ranges::all_of(pattern, [](QChar c) { return c == u'%'; }) && !pattern.isEmpty()) {
}

bool LikePattern::matches(const QString& text) const {
    return m_any || matchFolded(m_folded, likeFold(text));
}

ExtensionList::ExtensionList(const QString& list) {
    for (QString entry : list.split(u':')) {
        entry = entry.trimmed();
        // People type "*.mp3" or ".mp3" as often as "mp3".
        if (entry.startsWith(u"*.")) {
            entry.remove(0, 2);
        } else if (entry.startsWith(u'.')) {
            entry.remove(0, 1);
        }
        if (entry == u"%") {
            m_any = true;
        } else if (!entry.isEmpty()) {
            m_extensions.append(entry.toCaseFolded());
        }
    }
    m_any = m_any || m_extensions.isEmpty();
}

bool ExtensionList::matches(const QString& name) const {
    if (m_any) {
        return true;
    }
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot >= 0 && m_extensions.contains(name.mid(dot + 1).toCaseFolded());
}

}  // namespace mr::server
