#include "nzb/NzbModel.h"

#include <algorithm>

QString NzbItem::partsText() const
{
    return QString::number(segmentCount) + u'/' + QString::number(announced);
}

void ItemCounters::resize(int itemCount)
{
    answered.assign(size_t(itemCount) + 1, 0);
    found.assign(size_t(itemCount) + 1, 0);
    notFound.assign(size_t(itemCount) + 1, 0);
}

void ItemCounters::reset()
{
    std::fill(answered.begin(), answered.end(), 0);
    std::fill(found.begin(), found.end(), 0);
    std::fill(notFound.begin(), notFound.end(), 0);
}

QStringList LoadSummary::logLines() const
{
    QStringList result(lines.begin(), lines.end());
    result << kSeparatorLine << QString();
    return result;
}

NzbModel::NzbModel(QObject *parent)
    : NzbModel(NzbContents{}, parent)
{
}

NzbModel::NzbModel(NzbContents contents, QObject *parent)
    : QAbstractTableModel(parent)
    , m_contents(std::move(contents))
{
    m_counters.resize(itemCount());
}

int NzbModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : itemCount();
}

int NzbModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant NzbModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const NzbItem &row = m_contents.items[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case SubjectColumn:
            return row.name;
        case PartsColumn:
            return row.partsText();
        case AvailableColumn:
            return row.available;
        }
        break;
    case Qt::TextAlignmentRole:
        return index.column() == SubjectColumn ? QVariant() : QVariant(Qt::AlignCenter);
    case Qt::DecorationRole:
        if (index.column() == SubjectColumn)
            return m_statusIcons[size_t(row.status) - 1];
        break;
    case StatusRole:
        return int(row.status);
    }
    return {};
}

QVariant NzbModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case SubjectColumn:
        return QStringLiteral("Subject");
    case PartsColumn:
        return QStringLiteral("Parts");
    case AvailableColumn:
        return QStringLiteral("Available");
    }
    return {};
}

void NzbModel::setStatusIcons(const std::array<QVariant, 4> &icons)
{
    m_statusIcons = icons;
    if (itemCount() > 0)
        Q_EMIT dataChanged(index(0, SubjectColumn), index(itemCount() - 1, SubjectColumn), {Qt::DecorationRole});
}

void NzbModel::setItemStatus(int index, ItemStatus status)
{
    m_contents.items[size_t(index - 1)].status = status;
    emitRowChanged(index, SubjectColumn, SubjectColumn);
}

void NzbModel::setItemAvailable(int index, const QString &available)
{
    m_contents.items[size_t(index - 1)].available = available;
    emitRowChanged(index, AvailableColumn, AvailableColumn);
}

void NzbModel::emitRowChanged(int index, int firstColumn, int lastColumn)
{
    if (!m_collectRowChanges) {
        Q_EMIT dataChanged(this->index(index - 1, firstColumn), this->index(index - 1, lastColumn));
        return;
    }
    const int row = index - 1;
    m_firstChangedRow = m_firstChangedRow < 0 ? row : qMin(m_firstChangedRow, row);
    m_lastChangedRow = qMax(m_lastChangedRow, row);
}

void NzbModel::setCollectRowChanges(bool collect)
{
    flushRowChanges();
    m_collectRowChanges = collect;
}

void NzbModel::flushRowChanges()
{
    if (m_firstChangedRow < 0)
        return;
    const QModelIndex first = index(m_firstChangedRow, 0);
    const QModelIndex last = index(m_lastChangedRow, ColumnCount - 1);
    m_firstChangedRow = m_lastChangedRow = -1;
    Q_EMIT dataChanged(first, last);
}
