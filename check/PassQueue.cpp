#include "check/PassQueue.h"

void PassQueue::start(const ArticleQueue &queue)
{
    m_queue = &queue;
    m_states.assign(size_t(queue.count()) + 1, Unanswered);
    m_leftovers.clear();
    m_reached = 0;
    m_answers = 0;
    m_missing.clear();
}

bool PassQueue::takeNext(qsizetype &position)
{
    if (!m_leftovers.empty()) {
        position = m_leftovers.front();
        m_leftovers.pop_front();
        return true;
    }
    if (m_reached >= count())
        return false;
    position = ++m_reached;
    return true;
}

void PassQueue::record(qsizetype position, bool found)
{
    ++m_answers;
    quint8 &state = m_states[size_t(position)];
    state = quint8((state & ~(Found | Missing)) | (found ? Found : Missing));
    if (!found) {
        const QueueEntry entry = m_queue->entry(position);
        m_missing.append(entry.itemIndex, entry.messageId, entry.segment);
    }
}

bool PassQueue::failedTwice(qsizetype position)
{
    quint8 &state = m_states[size_t(position)];
    if (state & FailedOnce)
        return true;
    state |= FailedOnce;
    m_leftovers.push_back(position);
    return false;
}

ArticleQueue PassQueue::takeMissing(bool unanswered)
{
    ArticleQueue next = std::exchange(m_missing, {});
    for (qsizetype position = 1; unanswered && position <= count(); ++position) {
        if ((m_states[size_t(position)] & (Found | Missing)) == Unanswered) {
            const QueueEntry entry = m_queue->entry(position);
            next.append(entry.itemIndex, entry.messageId, entry.segment);
        }
    }
    return next;
}
