#include "servers/RowListModel.h"

RowListModel::RowListModel(const QStringList &headers, bool withTicks, QObject *parent)
    : QAbstractTableModel(parent)
    , m_headers(headers)
    , m_withTicks(withTicks)
    , m_alignments(headers.size(), Qt::AlignLeft | Qt::AlignVCenter)
{
}

void RowListModel::setColumnAlignment(int column, Qt::Alignment alignment)
{
    m_alignments[column] = alignment;
}

int RowListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

int RowListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_headers.size());
}

QVariant RowListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ListRow &r = m_rows[size_t(index.row())];
    if (role == Qt::DisplayRole)
        return index.column() == 0 ? r.mainText : r.subTexts.value(index.column() - 1);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(m_alignments[index.column()]);
    if (role == Qt::CheckStateRole && m_withTicks && index.column() == 0)
        return r.ticked ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool RowListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || !m_withTicks || index.column() != 0
        || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    SetItemChecked(index.row() + 1, value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

QVariant RowListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_headers.size())
        return {};
    if (role == Qt::DisplayRole)
        return m_headers[section];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(m_alignments[section]);
    return {};
}

Qt::ItemFlags RowListModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (index.isValid() && m_withTicks && index.column() == 0)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

void RowListModel::appendRow(ListRow row)
{
    beginInsertRows({}, count(), count());
    m_rows.push_back(std::move(row));
    endInsertRows();
}

void RowListModel::removeRowAt(int position)
{
    beginRemoveRows({}, position - 1, position - 1);
    m_rows.erase(m_rows.begin() + (position - 1));
    endRemoveRows();
}

void RowListModel::SetItemChecked(int position, bool ticked)
{
    m_rows[size_t(position - 1)].ticked = ticked;
    const QModelIndex cell = index(position - 1, 0);
    Q_EMIT dataChanged(cell, cell, {Qt::CheckStateRole});
}

bool RowListModel::IsItemChecked(int position) const
{
    return m_rows[size_t(position - 1)].ticked;
}

void RowListModel::MoveItemsUp(const QList<int> &selectedPositions)
{
    moveSelectedRows(selectedPositions, -1);
}

void RowListModel::MoveItemsDown(const QList<int> &selectedPositions)
{
    moveSelectedRows(selectedPositions, +1);
}

// Scans against the direction of `step`, so a selected row moves only past an unselected one.
void RowListModel::moveSelectedRows(const QList<int> &selectedPositions, int step)
{
    std::vector<char> selected(size_t(count()) + 2, 0);
    for (const int position : selectedPositions)
        selected[size_t(position)] = 1;
    bool unselectedPassed = false;
    for (int p = step < 0 ? 1 : count(); p >= 1 && p <= count(); p -= step) {
        if (!selected[size_t(p)]) {
            unselectedPassed = true;
        } else if (unselectedPassed) {
            moveRowTo(p, p + step);
            std::swap(selected[size_t(p)], selected[size_t(p + step)]);
        }
    }
    renumber();
}

void RowListModel::MoveItemByDrop(int draggedPosition, int targetPosition)
{
    if (draggedPosition < 1 || targetPosition < 1 || draggedPosition > count() || targetPosition > count())
        return;
    moveRowTo(draggedPosition, targetPosition);
    renumber();
}

// Moves the row at `from` so that it ends at position `to`.
void RowListModel::moveRowTo(int from, int to)
{
    if (from == to)
        return;
    // Qt counts the destination before the move: one past the target when moving down.
    beginMoveRows({}, from - 1, from - 1, {}, to > from ? to : to - 1);
    ListRow moving = std::move(m_rows[size_t(from - 1)]);
    m_rows.erase(m_rows.begin() + (from - 1));
    m_rows.insert(m_rows.begin() + (to - 1), std::move(moving));
    endMoveRows();
}

void RowListModel::renumber()
{
    for (int p = 1; p <= count(); ++p)
        m_rows[size_t(p - 1)].mainText = QString::number(p);
    if (count() > 0)
        Q_EMIT dataChanged(index(0, 0), index(count() - 1, 0), {Qt::DisplayRole});
}
