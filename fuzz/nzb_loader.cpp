// The NZB loader from bytes to model and summary lines: whatever the bytes, a model whose
// queue entries all name an item, or a box that says what was wrong.

#include "FuzzCheck.h"
#include "nzb/NzbLoader.h"

#include <cstdint>

namespace {

void readEveryCell(const NzbModel &model)
{
    for (int row = 0; row < model.rowCount(); ++row) {
        for (int column = 0; column < model.columnCount(); ++column) {
            const QModelIndex index = model.index(row, column);
            model.data(index, Qt::DisplayRole);
            model.data(index, Qt::DecorationRole);
        }
    }
}

void checkLoaded(const NzbLoadResult &result)
{
    const NzbModel &model = *result.model;
    FUZZ_CHECK(model.itemCount() > 0);
    const ArticleQueue &queue = model.articleQueue();
    qint64 segments = 0;
    for (int item = 1; item <= model.itemCount(); ++item) {
        FUZZ_CHECK(model.item(item).segmentCount >= 0);
        segments += model.item(item).segmentCount;
    }
    FUZZ_CHECK(queue.count() <= segments);
    for (qsizetype position = 1; position <= queue.count(); ++position) {
        const QueueEntry entry = queue.entry(position);
        FUZZ_CHECK(entry.itemIndex >= 1 && entry.itemIndex <= model.itemCount());
        entry.text();
    }
    for (const QString &line : model.summary().logLines())
        FUZZ_CHECK(!line.contains(u'\n'));
    readEveryCell(model);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    LoadOptions options;
    options.now = QDateTime(QDate(2026, 12, 7), QTime(8, 0));
    options.namesOnly = size > 0 && (data[size - 1] & 1);
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const NzbLoadResult result = LoadNzbFromBytes(bytes, QStringLiteral("fuzz.nzb"), options);
    if (result.loaded())
        checkLoaded(result);
    else
        FUZZ_CHECK(!result.boxLines().isEmpty() && !result.boxTitle().isEmpty());
    return 0;
}
