#pragma once

#include "nzb/ArticleQueue.h"

#include <deque>
#include <vector>

// The articles one server is asked in its pass: which comes next, what each answer was, and
// what is left for the next server. Positions count from 1, as in the queue.
class PassQueue
{
public:
    // A new pass over `queue`, which must outlive it.
    void start(const ArticleQueue &queue);
    const ArticleQueue &queue() const { return *m_queue; }
    qsizetype count() const { return m_queue ? m_queue->count() : 0; }
    // The next position to ask: first one that a failed connection left, then the next of the queue.
    bool takeNext(qsizetype &position);
    // How far into the queue the pass has come.
    qsizetype reached() const { return m_reached; }
    bool hasLeftovers() const { return !m_leftovers.empty(); }

    // The answer for `position`; a missing article joins what the next server is asked.
    void record(qsizetype position, bool found);
    // A connection ended with `position` unanswered. The article is asked again, once; true
    // when it failed before and is to be counted missing now.
    bool failedTwice(qsizetype position);
    // Asked again without counting a failure: the connection that lost it never worked.
    void askAgain(qsizetype position) { m_leftovers.push_back(position); }
    bool complete() const { return m_answers == count(); }

    // What the next server is asked: the missing articles, and with `unanswered` also those
    // this server never answered.
    ArticleQueue takeMissing(bool unanswered);

private:
    enum State : quint8 { Unanswered = 0, Found = 1, Missing = 2, FailedOnce = 4 };

    const ArticleQueue *m_queue = nullptr;
    std::vector<quint8> m_states;      // per position, from 1
    std::deque<qsizetype> m_leftovers; // positions to ask again after a connection failed on them
    qsizetype m_reached = 0;
    qsizetype m_answers = 0;
    ArticleQueue m_missing;
};
