#pragma once

#include "servers/ServerRecord.h"

#include <QAbstractTableModel>
#include <QList>

#include <vector>

// The user's newsservers in the order they are asked, addressed by 1-based positions. A row's
// priority is its position. The tick is the check state of the first column. Moves go through
// beginMoveRows, so a view's selection and current row travel with their rows.
class ServerListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Priority, Nickname, Port, Threads, Username, Password, ColumnCount };
    static constexpr int kMaxServers = 99; // the keys run from K01 to K99
    static const QString kMaskedPassword;

    explicit ServerListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // A row dragged within the list and dropped on another row takes that row's place.
    Qt::DropActions supportedDropActions() const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

    int count() const { return int(m_rows.size()); }
    const ServerRecord &server(int position) const { return m_rows[size_t(position - 1)].server; }
    std::vector<ServerRecord> servers() const;

    // `masked` says whether the Password cell shows the mask instead of the password.
    void appendServer(ServerRecord server, bool masked);
    void replaceServer(int position, ServerRecord server, bool masked);
    // Removes the rows at the given positions, in any order.
    void removeServers(const QList<int> &positions);
    // Masks every row that has a row key, or shows every password.
    void setPasswordsHidden(bool hidden);
    bool isPasswordMasked(int position) const { return m_rows[size_t(position - 1)].masked; }

    void SetItemChecked(int position, bool ticked);
    bool IsItemChecked(int position) const { return server(position).checked; }

    // Each selected row with an unselected row somewhere above it rises one place.
    void MoveItemsUp(const QList<int> &selectedPositions);
    // The mirror image of MoveItemsUp.
    void MoveItemsDown(const QList<int> &selectedPositions);
    // The dragged row takes the target row's place; 0 for either means there is none.
    void MoveItemByDrop(int draggedPosition, int targetPosition);

    // The smallest key number from 1 no row uses, as "K" and two digits. The row at
    // `editedPosition` (0 for none) does not count, so that an edit of the 99th server finds one.
    QString NextFreeKey(int editedPosition = 0) const;

private:
    struct Row {
        ServerRecord server;
        bool masked = false;
    };

    void moveSelectedRows(const QList<int> &selectedPositions, int step);
    void moveRowTo(int from, int to);
    void priorityCellsChanged();

    std::vector<Row> m_rows;
};
