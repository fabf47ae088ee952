#pragma once

#include <QString>
#include <QStringView>

// Removes the space character at both ends; other white space is part of the text.
inline QString trimBlanks(QStringView text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ')
        ++first;
    while (last > first && text[last - 1] == u' ')
        --last;
    return text.sliced(first, last - first).toString();
}
