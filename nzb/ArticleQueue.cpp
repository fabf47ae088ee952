#include "nzb/ArticleQueue.h"

#include <QtGlobal>

QString QueueEntry::text() const
{
    return QString::number(itemIndex) + QLatin1String("*****") + QString::fromUtf8(messageId);
}

void ArticleQueue::reserve(qsizetype entries, qsizetype messageIdBytes)
{
    m_itemIndices.reserve(size_t(entries));
    m_segments.reserve(size_t(entries));
    m_ends.reserve(size_t(entries));
    m_messageIds.reserve(messageIdBytes);
}

void ArticleQueue::append(int itemIndex, QByteArrayView messageId, qsizetype segment)
{
    m_segments.push_back(std::int32_t(segment));
    m_messageIds.append(messageId);
    m_itemIndices.push_back(itemIndex);
    m_ends.push_back(m_messageIds.size());
}

void ArticleQueue::clear()
{
    m_messageIds.clear();
    m_itemIndices.clear();
    m_segments.clear();
    m_ends.clear();
}

QueueEntry ArticleQueue::entry(qsizetype position) const
{
    Q_ASSERT(position >= 1 && position <= count());
    const size_t i = size_t(position - 1);
    const qsizetype begin = i == 0 ? 0 : m_ends[i - 1];
    return {m_itemIndices[i], QByteArrayView(m_messageIds.constData() + begin, m_ends[i] - begin), m_segments[i]};
}
