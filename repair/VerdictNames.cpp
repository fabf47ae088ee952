#include "repair/VerdictNames.h"

#include "nzb/Blanks.h"

#include <QRegularExpression>

namespace repair {
namespace {

QString fallbackName(int position)
{
    return QStringLiteral("file %1").arg(position);
}

// The last bracketed text of the subject that is no "[i/n]" counter, before its empty quotes.
QString bracketedName(const QString &subject)
{
    static const QRegularExpression bracketed(QStringLiteral(R"(\[([^\[\]]*)\])"));
    static const QRegularExpression counter(QStringLiteral(R"(^\s*\d+\s*/\s*\d+\s*$)"));
    const qsizetype quotes = subject.indexOf(QLatin1String("\"\""));
    QString name;
    for (const QRegularExpressionMatch &match : bracketed.globalMatch(quotes < 0 ? subject : subject.first(quotes))) {
        if (!counter.match(match.capturedView(1)).hasMatch())
            name = trimBlanks(match.capturedView(1));
    }
    return name;
}

} // namespace

QString VerdictFileName(const QString &subject, const QString &listName, int position)
{
    QString name = listName;
    if (!subject.contains(u'"')) {
        static const QRegularExpression trailingYenc(QStringLiteral(R"(\s+yEnc$)"), QRegularExpression::CaseInsensitiveOption);
        name = trimBlanks(QString(name).remove(trailingYenc));
    } else if (trimBlanks(name).isEmpty()) {
        name = bracketedName(subject);
    }
    return name.trimmed().isEmpty() ? fallbackName(position) : name;
}

bool IsFallbackName(const QString &name, int position)
{
    return name == fallbackName(position);
}

} // namespace repair
