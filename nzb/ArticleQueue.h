#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <vector>

// One message-ID to ask about, tied to its file by the 1-based item index.
struct QueueEntry {
    int itemIndex = 0;
    QByteArrayView messageId; // without angle brackets; valid while the queue is unchanged
    qsizetype segment = 0;    // 0-based position in the NZB's list of all segments

    // The text form "index*****message-ID" that the log and the tool show.
    QString text() const;
};

// An ordered list of queue entries, positions counted from 1.
// A million entries are common, so the message-IDs share one byte buffer
// instead of one string object each.
class ArticleQueue
{
public:
    void reserve(qsizetype entries, qsizetype messageIdBytes);
    void append(int itemIndex, QByteArrayView messageId, qsizetype segment);
    void clear();

    qsizetype count() const { return qsizetype(m_itemIndices.size()); }
    bool isEmpty() const { return m_itemIndices.empty(); }
    QueueEntry entry(qsizetype position) const;

private:
    QByteArray m_messageIds;
    std::vector<std::int32_t> m_itemIndices;
    std::vector<std::int32_t> m_segments;
    std::vector<qsizetype> m_ends; // end offset of each message-ID in m_messageIds
};

// The entries the current server lacked; it becomes the next pass's ArticleQueue.
using RetryQueue = ArticleQueue;
