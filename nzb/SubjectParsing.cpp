#include "nzb/SubjectParsing.h"

#include "nzb/Blanks.h"

#include <QRegularExpression>

#include <limits>

namespace subject {
namespace {

constexpr int kFallbackNameLength = 85;

// Steps from a UTF-16 position over `count` code points, not splitting surrogate pairs.
qsizetype advanceCodePoints(QStringView text, qsizetype pos, qsizetype count)
{
    while (count-- > 0 && pos < text.size())
        pos += (text[pos].isHighSurrogate() && pos + 1 < text.size() && text[pos + 1].isLowSurrogate()) ? 2 : 1;
    return pos;
}

// The UTF-16 position where the last `count` code points of `text` begin.
qsizetype startOfLastCodePoints(QStringView text, qsizetype count)
{
    qsizetype pos = text.size();
    while (count-- > 0 && pos > 0)
        pos -= (pos >= 2 && text[pos - 1].isLowSurrogate() && text[pos - 2].isHighSurrogate()) ? 2 : 1;
    return pos;
}

} // namespace

int AnnouncedPartCount(const QString &subject)
{
    const qsizetype slash = subject.lastIndexOf(u'/');
    const qsizetype paren = subject.lastIndexOf(u')');
    if (slash < 0 || paren < 0 || paren < slash)
        return 0;
    const QString digits = trimBlanks(QStringView(subject).sliced(slash + 1, paren - slash - 1));
    if (digits.isEmpty())
        return 0;
    qint64 value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return 0;
        value = value * 10 + (c.unicode() - u'0');
        if (value > std::numeric_limits<qint32>::max())
            return 0;
    }
    return static_cast<int>(value);
}

int AnnouncedFileCount(const QString &subject)
{
    static const QRegularExpression counter(QStringLiteral(R"(\[\s*(\d{1,9})\s*/\s*(\d{1,9})\s*\])"));
    const qsizetype quote = subject.indexOf(u'"');
    const QRegularExpressionMatch match = counter.match(quote < 0 ? QStringView(subject) : QStringView(subject).first(quote));
    if (!match.hasMatch())
        return 0;
    const int position = match.capturedView(1).toInt(), count = match.capturedView(2).toInt();
    return position >= 1 && position <= count ? count : 0;
}

QString SubjectWithoutCounter(const QString &subject)
{
    const qsizetype paren = subject.lastIndexOf(u'(');
    if (paren < 0)
        return subject;
    // Drops the "(" and the one character before it; a surrogate pair counts as one character.
    const qsizetype keep = startOfLastCodePoints(QStringView(subject).first(paren), 1);
    return subject.first(keep);
}

QString FileNameFromSubject(const QString &subject)
{
    const QString cut = SubjectWithoutCounter(subject);
    const QStringView text(cut);

    const qsizetype closingQuote = text.lastIndexOf(u'"');
    if (closingQuote >= 0) {
        const qsizetype openingQuote = closingQuote > 0 ? text.first(closingQuote).lastIndexOf(u'"') : -1;
        return text.sliced(openingQuote + 1, closingQuote - openingQuote - 1).toString();
    }

    const qsizetype bracket = text.lastIndexOf(u']');
    if (bracket >= 0) {
        // Skips the two characters after "]", normally " -".
        return trimBlanks(text.sliced(advanceCodePoints(text, bracket + 1, 2)));
    }

    return trimBlanks(text.sliced(startOfLastCodePoints(text, kFallbackNameLength)));
}

} // namespace subject
