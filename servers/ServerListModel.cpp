#include "servers/ServerListModel.h"

#include <QMimeData>

#include <algorithm>

namespace {

const QString kRowMimeType = QStringLiteral("application/x-orvalis-server-position");

const QString &headerText(int column)
{
    static const QString headers[] = {QStringLiteral("Priority"), QStringLiteral("Server Nickname"),
                                      QStringLiteral("Port"),     QStringLiteral("Threads "),
                                      QStringLiteral("Username"), QStringLiteral("Password")};
    return headers[column];
}

Qt::Alignment alignment(int column)
{
    const bool centred = column == ServerListModel::Port || column == ServerListModel::Threads;
    return (centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter;
}

} // namespace

const QString ServerListModel::kMaskedPassword = QStringLiteral("************");

ServerListModel::ServerListModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

int ServerListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

int ServerListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ServerListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows[size_t(index.row())];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(alignment(index.column()));
    if (role == Qt::CheckStateRole && index.column() == Priority)
        return row.server.checked ? Qt::Checked : Qt::Unchecked;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Priority: return QString::number(index.row() + 1);
    case Nickname: return row.server.nickname;
    case Port: return row.server.port;
    case Threads: return row.server.threads;
    case Username: return row.server.username;
    default: return row.masked ? kMaskedPassword : row.server.password();
    }
}

bool ServerListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != Priority
        || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    SetItemChecked(index.row() + 1, value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

QVariant ServerListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return headerText(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(alignment(section));
    return {};
}

Qt::ItemFlags ServerListModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (!index.isValid())
        return result;
    result |= Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    if (index.column() == Priority)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

Qt::DropActions ServerListModel::supportedDropActions() const
{
    return Qt::MoveAction;
}

QStringList ServerListModel::mimeTypes() const
{
    return {kRowMimeType};
}

QMimeData *ServerListModel::mimeData(const QModelIndexList &indexes) const
{
    if (indexes.isEmpty())
        return nullptr;
    auto *mime = new QMimeData;
    mime->setData(kRowMimeType, QByteArray::number(indexes.constFirst().row() + 1));
    return mime;
}

// Always answers false: the row has been moved here, and a true answer would have the view
// remove the dragged row as the source of a move.
bool ServerListModel::dropMimeData(const QMimeData *data, Qt::DropAction, int, int, const QModelIndex &parent)
{
    if (data && data->hasFormat(kRowMimeType) && parent.isValid())
        MoveItemByDrop(data->data(kRowMimeType).toInt(), parent.row() + 1);
    return false;
}

std::vector<ServerRecord> ServerListModel::servers() const
{
    std::vector<ServerRecord> result;
    result.reserve(m_rows.size());
    for (const Row &row : m_rows)
        result.push_back(row.server);
    return result;
}

void ServerListModel::appendServer(ServerRecord server, bool masked)
{
    beginInsertRows({}, count(), count());
    m_rows.push_back({std::move(server), masked});
    endInsertRows();
}

void ServerListModel::replaceServer(int position, ServerRecord server, bool masked)
{
    m_rows[size_t(position - 1)] = {std::move(server), masked};
    Q_EMIT dataChanged(index(position - 1, 0), index(position - 1, ColumnCount - 1));
}

void ServerListModel::removeServers(const QList<int> &positions)
{
    QList<int> descending = positions;
    std::sort(descending.begin(), descending.end(), std::greater<>());
    descending.erase(std::unique(descending.begin(), descending.end()), descending.end());
    for (const int position : descending) {
        beginRemoveRows({}, position - 1, position - 1);
        m_rows.erase(m_rows.begin() + (position - 1));
        endRemoveRows();
    }
    priorityCellsChanged();
}

void ServerListModel::setPasswordsHidden(bool hidden)
{
    for (Row &row : m_rows)
        row.masked = hidden && !row.server.rowKey.isEmpty();
    if (count() > 0)
        Q_EMIT dataChanged(index(0, Password), index(count() - 1, Password), {Qt::DisplayRole});
}

void ServerListModel::SetItemChecked(int position, bool ticked)
{
    m_rows[size_t(position - 1)].server.checked = ticked;
    const QModelIndex cell = index(position - 1, Priority);
    Q_EMIT dataChanged(cell, cell, {Qt::CheckStateRole});
}

void ServerListModel::MoveItemsUp(const QList<int> &selectedPositions)
{
    moveSelectedRows(selectedPositions, -1);
}

void ServerListModel::MoveItemsDown(const QList<int> &selectedPositions)
{
    moveSelectedRows(selectedPositions, +1);
}

// Scans against the direction of `step`, so a selected row moves only past an unselected one.
void ServerListModel::moveSelectedRows(const QList<int> &selectedPositions, int step)
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
    priorityCellsChanged();
}

void ServerListModel::MoveItemByDrop(int draggedPosition, int targetPosition)
{
    if (draggedPosition < 1 || targetPosition < 1 || draggedPosition > count() || targetPosition > count())
        return;
    moveRowTo(draggedPosition, targetPosition);
    priorityCellsChanged();
}

// Moves the row at `from` so that it ends at position `to`.
void ServerListModel::moveRowTo(int from, int to)
{
    if (from == to)
        return;
    // Qt counts the destination before the move: one past the target when moving down.
    beginMoveRows({}, from - 1, from - 1, {}, to > from ? to : to - 1);
    Row moving = std::move(m_rows[size_t(from - 1)]);
    m_rows.erase(m_rows.begin() + (from - 1));
    m_rows.insert(m_rows.begin() + (to - 1), std::move(moving));
    endMoveRows();
}

// Priorities are positions: after a removal or a move the first column of every row may read anew.
void ServerListModel::priorityCellsChanged()
{
    if (count() > 0)
        Q_EMIT dataChanged(index(0, Priority), index(count() - 1, Priority), {Qt::DisplayRole});
}

QString ServerListModel::NextFreeKey(int editedPosition) const
{
    std::vector<char> used(kMaxServers + 1, 0);
    const auto isAsciiDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    for (int p = 1; p <= count(); ++p) {
        const QString key = server(p).key();
        if (p != editedPosition && key.size() == 3 && key[0] == u'K' && isAsciiDigit(key[1]) && isAsciiDigit(key[2]))
            used[size_t(key.mid(1).toInt())] = 1; // "K00" marks nothing that is ever handed out
    }
    const auto candidate = std::find(used.begin() + 1, used.end(), char(0));
    // No number is free only in a hand-edited file of more than 99 servers. "K00" keeps the
    // key three characters long, so the password still reads from the fourth.
    const int number = candidate == used.end() ? 0 : int(candidate - used.begin());
    return u'K' + QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'));
}
