#pragma once

#include "nzb/NzbModel.h"

#include <QChar>
#include <QStringList>

// How the answers of the servers become the rows' statuses and "Available" counts, and the
// report at the end. A file's row settles only when every message-ID of it asked in the
// current pass has been answered; later passes add to the counts of earlier ones.
namespace results {

// True when the item turned to Checking: the view then shows its row.
bool MarkChecking(NzbModel &nzb, int item);
void RecordFound(NzbModel &nzb, int item);
void RecordNotFound(NzbModel &nzb, int item);
// After the passes: an article found by STAT whose body no server has after all.
void LoseFound(NzbModel &nzb, int item);
void ResetRowsToQueued(NzbModel &nzb);
// At the end of a check: every row with segments that is not Available shows Missing
// (partially) with what was found, also one whose entries no server came to ask.
void SettleUnfinishedRows(NzbModel &nzb);

// The report's lines: parts checked, undownloadable parts, the share that can't be
// downloaded or "All OK!", and an empty line. The share is left out when no part was announced.
QStringList WriteSummary(const NzbModel &nzb, QChar decimalSeparator);

} // namespace results
