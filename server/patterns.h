#pragma once

#include <QString>

namespace mr::server {

// Patterns longer than this are refused: matching costs up to pattern x text steps.
inline constexpr qsizetype kMaxPatternLength = 1024;

// SQL LIKE: "%" any run of characters, "_" exactly one; letter case is ignored.
bool likeMatch(const QString& pattern, const QString& text);

// The case folding likeMatch compares under; the search index keeps texts in this form, so
// whatever likeMatch accepts the index finds.
QString likeFold(const QString& text);

// Whether a file name's extension (the text after its last ".") is in a colon-separated
// list; an entry "%" or a list without entries accepts every name.
bool extensionListMatches(const QString& list, const QString& name);

}  // namespace mr::server
