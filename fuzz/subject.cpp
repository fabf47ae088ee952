// The subject functions on any text, read both as UTF-8 and as Latin-1.

#include "FuzzCheck.h"
#include "nzb/SubjectParsing.h"
#include "repair/VerdictNames.h"

#include <QList>

#include <cstdint>

namespace {

qsizetype codePoints(const QString &text)
{
    return text.toUcs4().size();
}

void readSubject(const QString &text)
{
    FUZZ_CHECK(subject::AnnouncedPartCount(text) >= 0);
    FUZZ_CHECK(codePoints(subject::SubjectWithoutCounter(text)) <= codePoints(text));
    FUZZ_CHECK(codePoints(subject::FileNameFromSubject(text)) <= codePoints(text));
    // The verdict prints no line with an empty name.
    FUZZ_CHECK(!repair::VerdictFileName(text, subject::FileNameFromSubject(text), 7).trimmed().isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    readSubject(QString::fromUtf8(text, qsizetype(size)));
    readSubject(QString::fromLatin1(text, qsizetype(size)));
    return 0;
}
