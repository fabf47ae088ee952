#include "servers/RowListModel.h"

#include <QItemSelectionModel>
#include <QTest>

namespace {

// Rows named by letters, each with its own key, tag and sub-texts; the ticked ones are given.
void fill(RowListModel &model, const QString &names, const QString &ticked = {})
{
    for (const QChar name : names) {
        model.appendRow({QString::number(model.count() + 1),
                         {QStringLiteral("nick-") + name, QStringLiteral("119"), QStringLiteral("4")},
                         QStringLiteral("K0") + name, QStringLiteral("host-") + name, ticked.contains(name)});
    }
}

QString order(const RowListModel &model)
{
    QString names;
    for (int p = 1; p <= model.count(); ++p) {
        const ListRow &row = model.row(p);
        // Every field must travel with its row, and the main texts are renumbered.
        const QChar name = row.key.back();
        if (row.mainText != QString::number(p) || row.tag != QStringLiteral("host-") + name
            || row.subTexts.value(0) != QStringLiteral("nick-") + name)
            return QStringLiteral("broken row %1").arg(p);
        names += name;
    }
    return names;
}

QList<int> selectedPositions(const QItemSelectionModel &selection)
{
    QList<int> positions;
    for (const QModelIndex &index : selection.selectedRows())
        positions << index.row() + 1;
    std::sort(positions.begin(), positions.end());
    return positions;
}

} // namespace

class TestRowListModel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void movesSelectedRows_data();
    void movesSelectedRows();
    void movesByDrop_data();
    void movesByDrop();
    void ticksStayWithTheirRows();
};

void TestRowListModel::movesSelectedRows_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<bool>("up");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QList<int>>("selectedAfter");

    QTest::newRow("Y, Z up") << QStringLiteral("XYZ") << QList<int>{2, 3} << true << QStringLiteral("YZX") << QList<int>{1, 2};
    QTest::newRow("run at the top stays") << QStringLiteral("XYZ") << QList<int>{1, 2} << true << QStringLiteral("XYZ")
                                          << QList<int>{1, 2};
    QTest::newRow("X, Y down") << QStringLiteral("XYZ") << QList<int>{1, 2} << false << QStringLiteral("ZXY")
                               << QList<int>{2, 3};
    QTest::newRow("X, Z up") << QStringLiteral("WXYZ") << QList<int>{2, 4} << true << QStringLiteral("XWZY")
                             << QList<int>{1, 3};
    QTest::newRow("run at the bottom stays") << QStringLiteral("WXYZ") << QList<int>{3, 4} << false
                                             << QStringLiteral("WXYZ") << QList<int>{3, 4};
    QTest::newRow("nothing selected") << QStringLiteral("XYZ") << QList<int>{} << false << QStringLiteral("XYZ") << QList<int>{};
}

void TestRowListModel::movesSelectedRows()
{
    QFETCH(QString, rows);
    QFETCH(QList<int>, selected);
    QFETCH(bool, up);
    QFETCH(QString, result);
    QFETCH(QList<int>, selectedAfter);

    RowListModel model({QStringLiteral("Priority"), QStringLiteral("Nickname"), QStringLiteral("Port"),
                        QStringLiteral("Threads")},
                       true);
    fill(model, rows);
    QItemSelectionModel selection(&model);
    for (const int position : selected)
        selection.select(model.index(position - 1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (up)
        model.MoveItemsUp(selected);
    else
        model.MoveItemsDown(selected);
    QCOMPARE(order(model), result);
    QCOMPARE(selectedPositions(selection), selectedAfter);
}

void TestRowListModel::movesByDrop_data()
{
    QTest::addColumn<int>("dragged");
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("result");
    QTest::newRow("4 onto 2") << 4 << 2 << QStringLiteral("ADBC");
    QTest::newRow("2 onto 4") << 2 << 4 << QStringLiteral("ACDB");
    QTest::newRow("onto itself") << 3 << 3 << QStringLiteral("ABCD");
    QTest::newRow("below the last row") << 2 << 0 << QStringLiteral("ABCD");
    QTest::newRow("no current row") << 0 << 2 << QStringLiteral("ABCD");
}

void TestRowListModel::movesByDrop()
{
    QFETCH(int, dragged);
    QFETCH(int, target);
    QFETCH(QString, result);
    RowListModel model({QStringLiteral("Priority"), QStringLiteral("Nickname")}, true);
    fill(model, QStringLiteral("ABCD"));
    model.MoveItemByDrop(dragged, target);
    QCOMPARE(order(model), result);
}

void TestRowListModel::ticksStayWithTheirRows()
{
    RowListModel model({QStringLiteral("Priority"), QStringLiteral("Nickname")}, true);
    fill(model, QStringLiteral("XYZ"), QStringLiteral("Z"));
    model.MoveItemsUp({3});
    model.MoveItemsUp({2});
    QCOMPARE(order(model), QStringLiteral("ZXY"));
    QVERIFY(model.IsItemChecked(1));
    QVERIFY(!model.IsItemChecked(2) && !model.IsItemChecked(3));
    QCOMPARE(model.data(model.index(0, 0), Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);

    QVERIFY(model.setData(model.index(2, 0), Qt::Checked, Qt::CheckStateRole));
    QVERIFY(model.IsItemChecked(3));
    QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsUserCheckable);

    RowListModel plain({QStringLiteral("Subject")}, false);
    fill(plain, QStringLiteral("A"));
    QVERIFY(!plain.data(plain.index(0, 0), Qt::CheckStateRole).isValid());
}

QTEST_GUILESS_MAIN(TestRowListModel)
#include "tst_rowlistmodel.moc"
