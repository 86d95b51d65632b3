#pragma once

#include <QString>
#include <QStringList>

namespace mr::server {

// Patterns longer than this are refused: matching costs up to pattern x text steps.
inline constexpr qsizetype kMaxPatternLength = 1024;

// The case folding LIKE patterns compare under; the search index keeps texts in this form, so
// whatever a pattern accepts the index finds.
QString likeFold(const QString& text);

// SQL LIKE: "%" any run of characters, "_" exactly one; letter case is ignored. Folded once,
// for matching many texts.
class LikePattern {
public:
    explicit LikePattern(const QString& pattern);
    bool matches(const QString& text) const;

private:
    QString m_folded;
    bool m_any;  // nothing but "%"
};

// A colon-separated list of file name extensions; an entry "%" or a list without entries
// accepts every name.
class ExtensionList {
public:
    explicit ExtensionList(const QString& list);
    // Whether the name's extension (the text after its last ".") is in the list.
    bool matches(const QString& name) const;

private:
    QStringList m_extensions;  // folded
    bool m_any = false;
};

}  // namespace mr::server
