#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Cuts the bytes a server sends into reply lines at CR LF, whether a line arrives in pieces
// or several arrive at once.
class ReplyReader
{
public:
    // A line this long without CR LF is no NNTP reply.
    static constexpr qsizetype kLongestLine = 64 * 1024;

    void append(QByteArrayView bytes);
    // Takes the next complete line, without its CR LF; false when none is complete.
    bool takeLine(QByteArray &line);
    // More than kLongestLine bytes wait without CR LF.
    bool overflowed() const { return m_buffer.size() - m_start > kLongestLine; }
    // The bytes that wait for their CR LF.
    QByteArray pending() const { return m_buffer.mid(m_start); }

private:
    QByteArray m_buffer;
    qsizetype m_start = 0; // where the bytes not yet taken begin
    qsizetype m_searchFrom = 0; // no CR LF starts before this
};
