#include "nzb/Numbers.h"

#include <charconv>
#include <cmath>

QString formatRounded(double value, int decimals, QChar decimalSeparator)
{
    if (!std::isfinite(value))
        return QStringLiteral("0");
    // to_chars rounds the exact binary value, ties to even, as printf does.
    char buffer[400];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    QString text = error == std::errc{} ? QString::fromLatin1(buffer, end - buffer) : QStringLiteral("0");
    if (text.contains(u'.')) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
        text.replace(u'.', decimalSeparator);
    }
    if (text == QLatin1String("-0"))
        return QStringLiteral("0");
    return text;
}
