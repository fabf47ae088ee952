#pragma once

#include <QString>

#include <algorithm>

// A line for the activity log: each control character (C0, DEL and C1) becomes a blank, so that
// text from an NZB or a server can neither forge log lines nor reach a terminal as an escape.
inline QString singleLogLine(QString text)
{
    const auto isControl = [](QChar c) { return c.unicode() < 32 || (c.unicode() >= 127 && c.unicode() < 160); };
    if (std::none_of(text.cbegin(), text.cend(), isControl))
        return text;
    std::replace_if(text.begin(), text.end(), isControl, u' ');
    return text;
}
