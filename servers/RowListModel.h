#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

#include <vector>

// One row of a report-style list: its main text (first column), the texts of the other
// columns, a key unique in the list, a free tag and a tick.
struct ListRow {
    QString mainText;
    QStringList subTexts;
    QString key;
    QString tag;
    bool ticked = false;
};

// A list of rows addressed by 1-based positions, with the moves of the server list.
// Moves go through beginMoveRows, so a view's selection and current row travel with their rows.
class RowListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    RowListModel(const QStringList &headers, bool withTicks, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Alignment of a column's header and cells; left unless set.
    void setColumnAlignment(int column, Qt::Alignment alignment);

    int count() const { return int(m_rows.size()); }
    const ListRow &row(int position) const { return m_rows[size_t(position - 1)]; }
    void appendRow(ListRow row);
    void removeRowAt(int position);

    void SetItemChecked(int position, bool ticked);
    bool IsItemChecked(int position) const;

    // Each selected row with an unselected row somewhere above it rises one place; then renumbers.
    void MoveItemsUp(const QList<int> &selectedPositions);
    // The mirror image of MoveItemsUp.
    void MoveItemsDown(const QList<int> &selectedPositions);
    // The dragged row takes the target row's place; 0 for either means there is none.
    void MoveItemByDrop(int draggedPosition, int targetPosition);

private:
    void moveSelectedRows(const QList<int> &selectedPositions, int step);
    void moveRowTo(int from, int to);
    void renumber();

    QStringList m_headers;
    bool m_withTicks;
    QList<Qt::Alignment> m_alignments;
    std::vector<ListRow> m_rows;
};
