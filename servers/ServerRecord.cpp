#include "servers/ServerRecord.h"

#include <limits>

int leadingNumber(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    constexpr qint64 limit = std::numeric_limits<int>::max();
    qint64 value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = qMin(limit, value * 10 + (text[i].unicode() - u'0'));
    return int(negative ? -value : value);
}
