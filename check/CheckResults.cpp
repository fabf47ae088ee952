#include "check/CheckResults.h"

#include "nzb/Numbers.h"

namespace results {

namespace {

// The file is complete in this pass: its row shows what was found.
void settle(NzbModel &nzb, int item, ItemStatus status)
{
    nzb.setItemAvailable(item, QString::number(nzb.counters().found[size_t(item)]));
    nzb.setItemStatus(item, status);
}

} // namespace

bool MarkChecking(NzbModel &nzb, int item)
{
    const ItemStatus status = nzb.item(item).status;
    if (status != ItemStatus::Queued && status != ItemStatus::Missing)
        return false;
    nzb.setItemStatus(item, ItemStatus::Checking);
    return true;
}

void RecordFound(NzbModel &nzb, int item)
{
    ItemCounters &counters = nzb.counters();
    const int found = ++counters.found[size_t(item)];
    int &answered = ++counters.answered[size_t(item)];
    const NzbItem &row = nzb.item(item);
    if (answered != row.segmentCount)
        return;
    if (found == row.segmentCount) {
        // The "Parts" text compares the listed with the announced count.
        settle(nzb, item, row.segmentCount == row.announced ? ItemStatus::Available : ItemStatus::Missing);
    } else {
        answered = found;
        settle(nzb, item, ItemStatus::Missing);
    }
}

void RecordNotFound(NzbModel &nzb, int item)
{
    ItemCounters &counters = nzb.counters();
    ++counters.notFound[size_t(item)];
    int &answered = ++counters.answered[size_t(item)];
    if (answered != nzb.item(item).segmentCount)
        return;
    answered = counters.found[size_t(item)];
    settle(nzb, item, ItemStatus::Missing);
}

void LoseFound(NzbModel &nzb, int item)
{
    --nzb.counters().found[size_t(item)];
    settle(nzb, item, ItemStatus::Missing);
}

void ResetRowsToQueued(NzbModel &nzb)
{
    for (int item = 1; item <= nzb.itemCount(); ++item) {
        nzb.setItemStatus(item, ItemStatus::Queued);
        nzb.setItemAvailable(item, QStringLiteral("0"));
    }
}

void SettleUnfinishedRows(NzbModel &nzb)
{
    for (int item = 1; item <= nzb.itemCount(); ++item) {
        const NzbItem &row = nzb.item(item);
        if (row.segmentCount > 0 && row.status != ItemStatus::Available)
            settle(nzb, item, ItemStatus::Missing);
    }
}

QStringList WriteSummary(const NzbModel &nzb, QChar decimalSeparator)
{
    qint64 available = 0;
    for (int item = 1; item <= nzb.itemCount(); ++item)
        available += nzb.item(item).available.toLongLong();
    const LoadStatistics &statistics = nzb.statistics();
    const qint64 undownloadable = statistics.requiredCount - available;
    QStringList lines{QStringLiteral("Parts checked: ") + QString::number(statistics.foundCount),
                      QStringLiteral("Undownloadable parts: ") + QString::number(undownloadable)};
    if (undownloadable == 0) {
        lines << QStringLiteral("All OK!");
    } else if (statistics.requiredCount != 0) {
        const double share = double(undownloadable) / double(statistics.requiredCount) * 100.0;
        lines << formatRounded(share, 2, decimalSeparator) + QStringLiteral("% of the data can't be downloaded!");
    }
    lines << QString();
    return lines;
}

} // namespace results
