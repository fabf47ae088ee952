#pragma once

#include <QString>

// Reading a Usenet subject such as
//   [3/9] - "a.part1.rar" yEnc (1/50)
// Positions count characters (Unicode code points) of the decoded subject.
namespace subject {

// The part count of the trailing "(i/n)" counter, 0 when there is none.
int AnnouncedPartCount(const QString &subject);

// The file count N of the first "[i/N]" counter, as in "[3/9] - ..." or "[tag]-[NAME]-[3/9] -
// ...", before the quoted name if any; 0 when there is none or i is not within 1 to N.
int AnnouncedFileCount(const QString &subject);

// The subject cut before its last "(", dropping that "(" and the character before it.
QString SubjectWithoutCounter(const QString &subject);

// The file name: the last quoted text, else what follows the last "] -",
// else the last 85 characters.
QString FileNameFromSubject(const QString &subject);

} // namespace subject
