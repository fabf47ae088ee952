#pragma once

#include <QByteArrayView>
#include <QString>

#include <algorithm>

// What may go into a command line, checked before it is sent: text from an NZB that holds a
// line break would be a second command.

// What NNTP allows between the angle brackets; anything else could inject a command or draw
// a syntax error that closes connection after connection.
inline bool isSendableMessageId(QByteArrayView id)
{
    if (id.isEmpty() || id.size() > 248)
        return false;
    return std::all_of(id.begin(), id.end(), [](char c) { return c >= 33 && c <= 126 && c != '<' && c != '>'; });
}

// A user name or password that AUTHINFO can carry: a line break would end the command and
// start one of the sender's making.
inline bool holdsLineBreakOrNul(const QString &text)
{
    return text.contains(u'\r') || text.contains(u'\n') || text.contains(QChar(0));
}

// A newsgroup name as a GROUP command can carry it: printable, no blanks, within the line limit.
inline bool isSendableGroup(QByteArrayView group)
{
    if (group.isEmpty() || group.size() > 497)
        return false;
    return std::all_of(group.begin(), group.end(), [](char c) { return c >= 33 && c <= 126; });
}
