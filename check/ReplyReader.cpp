#include "check/ReplyReader.h"

void ReplyReader::append(QByteArrayView bytes)
{
    // Drop the lines already taken before the buffer grows, so it holds one line's worth at most.
    if (m_start > 0 && m_start == m_buffer.size()) {
        m_buffer.clear();
        m_searchFrom -= m_start;
        m_start = 0;
    } else if (m_start > 4096) {
        m_buffer.remove(0, m_start);
        m_searchFrom -= m_start;
        m_start = 0;
    }
    m_buffer.append(bytes.data(), bytes.size());
}

bool ReplyReader::takeLine(QByteArray &line)
{
    const qsizetype end = m_buffer.indexOf("\r\n", qMax(m_start, m_searchFrom));
    if (end < 0) {
        // A CR at the very end may be the first half of the next CR LF.
        m_searchFrom = qMax(m_start, m_buffer.size() - 1);
        return false;
    }
    line = m_buffer.sliced(m_start, end - m_start);
    m_start = end + 2;
    m_searchFrom = m_start;
    return true;
}
