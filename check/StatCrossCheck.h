#pragma once

#include <QtGlobal>

// Some servers answer "430 " to STAT for articles they have. In each pass, up to three of the
// articles a server answered "430 " for are asked again with HEAD, and one HEAD finds with
// BODY: the first, the first after a third of the pass and the first after two thirds. A body
// that comes shows that the server's STAT is not to be trusted.
class StatCrossCheck
{
public:
    void startPass(qsizetype articles);
    // Whether the "430 " for `position` is one to ask again.
    bool takes(qsizetype position);
    void sent() { ++m_out; }
    // A cross-check ended: answered, or its connection lost.
    void ended(int count = 1) { m_out -= count; }
    bool waiting() const { return m_out > 0; }

private:
    qsizetype m_articles = 0;
    int m_taken = 0; // 0 to 3
    int m_out = 0;
};
