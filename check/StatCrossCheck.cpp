#include "check/StatCrossCheck.h"

void StatCrossCheck::startPass(qsizetype articles)
{
    m_articles = articles;
    m_taken = 0;
    m_out = 0;
}

bool StatCrossCheck::takes(qsizetype position)
{
    // The first, then the first beyond each third that the ones taken so far have not reached.
    if (m_taken >= 3 || (m_taken > 0 && position * 3 <= m_articles * m_taken))
        return false;
    ++m_taken;
    return true;
}
