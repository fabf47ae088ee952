#pragma once

#include <QString>

#include <algorithm>

// C0, DEL and C1: the characters that could forge a log line or start a terminal's escape.
inline bool isControlCharacter(QChar c)
{
    return c.unicode() < 32 || (c.unicode() >= 127 && c.unicode() < 160);
}

inline bool holdsControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), isControlCharacter);
}

// A line for the activity log: each control character becomes a blank, so that text from an
// NZB or a server can neither forge log lines nor reach a terminal as an escape.
inline QString singleLogLine(QString text)
{
    if (!holdsControlCharacter(text))
        return text;
    std::replace_if(text.begin(), text.end(), isControlCharacter, u' ');
    return text;
}
