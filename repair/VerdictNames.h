#pragma once

#include <QString>

// The file names the repair verdict matches and prints. They differ from the list's names only
// where a subject's format hides the name from the list's reading.
namespace repair {

// `listName` is the list's name from `subject`; `position` the file's place in the NZB, from 1.
// Drops a trailing "yEnc" token of an unquoted name, takes NAME from subjects such as
// [tag]-[tag]-[NAME]-[3/9] - "" yEnc 1234 (1/5), and falls back to "file N".
QString VerdictFileName(const QString &subject, const QString &listName, int position);

// The name is VerdictFileName's last fallback: an article's own name is better.
bool IsFallbackName(const QString &name, int position);

} // namespace repair
