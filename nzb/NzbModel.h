#pragma once

#include "nzb/ArticleQueue.h"

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <array>
#include <optional>
#include <vector>

enum class ItemStatus { Queued = 1, Checking = 2, Available = 3, Missing = 4 };

// One file of the NZB and one row of the item list.
struct NzbItem {
    QString name;         // display name from the subject
    QString fileName;     // the file's name from the subject, whatever the display shows
    QString subject;      // as the NZB gives it
    int announced = 0;    // parts the subject announces
    int segmentCount = 0; // segments the NZB lists
    QString available = QStringLiteral("0");
    ItemStatus status = ItemStatus::Queued;

    QString partsText() const;
};

// Per-item answer counts of a check; slot i belongs to item i, slot 0 is unused.
struct ItemCounters {
    std::vector<int> answered;
    std::vector<int> found;
    std::vector<int> notFound;

    void resize(int itemCount);
    void reset();
};

// 64-bit sums: announced counts of many files can exceed 32 bits together.
struct LoadStatistics {
    int fileCount = 0;
    qint64 requiredCount = 0;
    qint64 foundCount = 0;
    std::optional<qint64> postedDaysAgo; // none without a date
};

// The separator line that ends each block of the activity log.
inline const QString kSeparatorLine(64, u'-');

// The six summary lines of the last load.
struct LoadSummary {
    std::array<QString, 6> lines;

    // The block the log shows after a load: the six lines, the separator and an empty line.
    QStringList logLines() const;
};

// What the NZB says of one article besides its message-ID.
struct SegmentInfo {
    std::int32_t number = 0; // part number: the NZB's, else the position in its file
    std::int32_t bytes = 0;  // the article's size as the NZB gives it; 0 when it does not (or over 2 GiB)
};

// Everything a load produces, built aside and handed to the model whole.
struct NzbContents {
    std::vector<NzbItem> items;
    ArticleQueue articleQueue;
    std::vector<SegmentInfo> segments; // in the order of the queue as loaded
    QString groupName;
    LoadStatistics statistics;
    LoadSummary summary;
};

// The loaded NZB. As a table it shows one row per item with the columns
// "Subject", "Parts" and "Available", and the status as the row's icon.
class NzbModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { SubjectColumn, PartsColumn, AvailableColumn, ColumnCount };
    enum Role { StatusRole = Qt::UserRole + 1 };

    explicit NzbModel(QObject *parent = nullptr);
    explicit NzbModel(NzbContents contents, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Icons per status, Queued first; the core holds them as variants so it needs no GUI module.
    void setStatusIcons(const std::array<QVariant, 4> &icons);

    // Items are addressed by their 1-based index, as the queue entries name them.
    int itemCount() const { return int(m_contents.items.size()); }
    const NzbItem &item(int index) const { return m_contents.items[size_t(index - 1)]; }
    void setItemStatus(int index, ItemStatus status);
    void setItemAvailable(int index, const QString &available);

    // While collecting, row changes wait and reach the views in one signal at flushRowChanges(),
    // so that a fast check repaints at the screen's pace rather than per answer.
    void setCollectRowChanges(bool collect);
    void flushRowChanges();

    ArticleQueue &articleQueue() { return m_contents.articleQueue; }
    const ArticleQueue &articleQueue() const { return m_contents.articleQueue; }
    ItemCounters &counters() { return m_counters; }
    const ItemCounters &counters() const { return m_counters; }
    const QString &groupName() const { return m_contents.groupName; }
    const std::vector<SegmentInfo> &segments() const { return m_contents.segments; }
    const LoadStatistics &statistics() const { return m_contents.statistics; }
    const LoadSummary &summary() const { return m_contents.summary; }

private:
    void emitRowChanged(int index, int firstColumn, int lastColumn);

    NzbContents m_contents;
    ItemCounters m_counters;
    std::array<QVariant, 4> m_statusIcons;
    bool m_collectRowChanges = false;
    int m_firstChangedRow = -1; // 0-based; -1 when nothing waits
    int m_lastChangedRow = -1;
};
