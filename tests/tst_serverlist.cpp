#include "servers/ServerEditorRules.h"
#include "servers/ServerListModel.h"

#include <QItemSelectionModel>
#include <QMimeData>
#include <QTest>

#include <memory>

namespace {

// Servers named by letters, each with its own key, address and password; the ticked ones are given.
void fill(ServerListModel &model, const QString &names, const QString &ticked = {})
{
    for (const QChar name : names) {
        ServerRecord server{QStringLiteral("nick-") + name, QStringLiteral("host-") + name, QStringLiteral("119"),
                            QStringLiteral("4"), QString(), QStringLiteral("K0") + name + u'p' + name,
                            ticked.contains(name)};
        model.appendServer(server, false);
    }
}

// The names in list order; every field must travel with its row, and the priorities read 1 to n.
QString order(const ServerListModel &model)
{
    QString names;
    for (int p = 1; p <= model.count(); ++p) {
        const ServerRecord &server = model.server(p);
        const QChar name = server.nickname.back();
        if (model.data(model.index(p - 1, ServerListModel::Priority)).toString() != QString::number(p)
            || server.address != QStringLiteral("host-") + name || server.password() != u'p' + QString(name))
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

QString passwordCells(const ServerListModel &model)
{
    QStringList cells;
    for (int row = 0; row < model.count(); ++row)
        cells << model.data(model.index(row, ServerListModel::Password)).toString();
    return cells.join(u'|');
}

ServerRecord serverWithKey(const QString &rowKey)
{
    ServerRecord server;
    server.rowKey = rowKey;
    return server;
}

} // namespace

class TestServerList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void movesSelectedRows_data();
    void movesSelectedRows();
    void movesByDrop_data();
    void movesByDrop();
    void dropsOnlyItsOwnRows();
    void ticksStayWithTheirRows();
    void removesSelectedRowsAndCloses();
    void hidesPasswords();
    void findsTheNextFreeKey();
    void appliesThePortRules_data();
    void appliesThePortRules();
    void checksInputInOrder();
    void storesTrimmedInput();
    void readsNumbersAsTheyStart();
};

void TestServerList::movesSelectedRows_data()
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

void TestServerList::movesSelectedRows()
{
    QFETCH(QString, rows);
    QFETCH(QList<int>, selected);
    QFETCH(bool, up);
    QFETCH(QString, result);
    QFETCH(QList<int>, selectedAfter);

    ServerListModel model;
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

void TestServerList::movesByDrop_data()
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

void TestServerList::movesByDrop()
{
    QFETCH(int, dragged);
    QFETCH(int, target);
    QFETCH(QString, result);
    ServerListModel model;
    fill(model, QStringLiteral("ABCD"));
    model.MoveItemByDrop(dragged, target);
    QCOMPARE(order(model), result);
}

// The view hands a drag over as mime data; the model must move the row itself and answer
// false, or the view would remove the dragged row as the source of a move.
void TestServerList::dropsOnlyItsOwnRows()
{
    ServerListModel model;
    fill(model, QStringLiteral("ABCD"));
    const std::unique_ptr<QMimeData> drag(model.mimeData({model.index(3, 1)}));
    QVERIFY(!model.dropMimeData(drag.get(), Qt::MoveAction, -1, -1, model.index(1, 0)));
    QCOMPARE(order(model), QStringLiteral("ADBC"));

    QVERIFY(!model.dropMimeData(drag.get(), Qt::MoveAction, -1, -1, {})); // below the rows
    QMimeData file;
    file.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.nzb"))});
    QVERIFY(!model.dropMimeData(&file, Qt::MoveAction, -1, -1, model.index(0, 0)));
    QCOMPARE(order(model), QStringLiteral("ADBC"));
}

void TestServerList::ticksStayWithTheirRows()
{
    ServerListModel model;
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
    QVERIFY(!model.setData(model.index(2, 1), Qt::Unchecked, Qt::CheckStateRole));
}

void TestServerList::removesSelectedRowsAndCloses()
{
    ServerListModel model;
    fill(model, QStringLiteral("ABC"));
    model.removeServers({3, 1});
    QCOMPARE(order(model), QStringLiteral("B"));
    model.removeServers({});
    QCOMPARE(order(model), QStringLiteral("B"));
    model.removeServers({1});
    QCOMPARE(model.count(), 0);
}

void TestServerList::hidesPasswords()
{
    ServerListModel model;
    model.appendServer(serverWithKey(QStringLiteral("K01secret")), true);
    model.appendServer(serverWithKey(QStringLiteral("K02")), false); // stored by the editor without a password
    model.appendServer(serverWithKey(QString()), false);             // a hand-edited file with no password value
    QCOMPARE(passwordCells(model), QStringLiteral("************||"));

    // Every row with a row key is masked, also one without a password.
    model.setPasswordsHidden(true);
    QCOMPARE(passwordCells(model), QStringLiteral("************|************|"));
    model.setPasswordsHidden(false);
    QCOMPARE(passwordCells(model), QStringLiteral("secret||"));
    QCOMPARE(model.server(1).rowKey, QStringLiteral("K01secret"));
}

void TestServerList::findsTheNextFreeKey()
{
    ServerListModel model;
    QCOMPARE(model.NextFreeKey(), QStringLiteral("K01"));
    for (const char *key : {"K01x", "K02", "K03", "K1", "K+4", "k05", "K0\xD9\xA6"}) // the last: an Arabic-Indic six
        model.appendServer(serverWithKey(QString::fromUtf8(key)), false);
    QCOMPARE(model.NextFreeKey(), QStringLiteral("K04"));
    model.removeServers({2});
    QCOMPARE(model.NextFreeKey(), QStringLiteral("K02"));
    QCOMPARE(model.NextFreeKey(1), QStringLiteral("K01")); // the edited row does not count

    ServerListModel full;
    for (int number = 1; number <= 99; ++number)
        full.appendServer(serverWithKey(QStringLiteral("K%1").arg(number, 2, 10, QLatin1Char('0'))), false);
    QCOMPARE(full.NextFreeKey(57), QStringLiteral("K57"));
    // Only a hand-edited file can hold more; the key still takes exactly three characters.
    full.appendServer(serverWithKey(QStringLiteral("K42")), false);
    QCOMPARE(full.NextFreeKey(100), QStringLiteral("K00"));
}

void TestServerList::appliesThePortRules_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("tooHigh");
    QTest::newRow("empty") << QString() << QStringLiteral("119") << false;
    QTest::newRow("zero") << QStringLiteral("0") << QStringLiteral("119") << false;
    QTest::newRow("two zeros stay") << QStringLiteral("00") << QStringLiteral("00") << false;
    QTest::newRow("leading zero stays") << QStringLiteral("0119") << QStringLiteral("0119") << false;
    QTest::newRow("highest") << QStringLiteral("65535") << QStringLiteral("65535") << false;
    QTest::newRow("highest with zeros") << QStringLiteral("0000065535") << QStringLiteral("0000065535") << false;
    QTest::newRow("one above") << QStringLiteral("65536") << QStringLiteral("119") << true;
    QTest::newRow("pasted long number") << QStringLiteral("123456789012345678901234567890") << QStringLiteral("119") << true;
    QTest::newRow("pasted sign") << QStringLiteral("-5") << QStringLiteral("119") << false;
    QTest::newRow("pasted blanks") << QStringLiteral(" 563") << QStringLiteral("119") << false;
    QTest::newRow("pasted exponent") << QStringLiteral("1e3") << QStringLiteral("119") << false;
    QTest::newRow("pasted Arabic-Indic digits") << QString::fromUtf8("\xD9\xA1\xD9\xA2") << QStringLiteral("119") << false;
}

void TestServerList::appliesThePortRules()
{
    QFETCH(QString, typed);
    QFETCH(QString, result);
    QFETCH(bool, tooHigh);
    const editor::PortText port = editor::applyPortRules(typed);
    QCOMPARE(port.text, result);
    QCOMPARE(port.tooHigh, tooHigh);
}

void TestServerList::checksInputInOrder()
{
    editor::EditorInput input;
    const auto problem = [&input](bool editMode = false, int count = 0) {
        return editor::firstInputProblem(input, editMode, count);
    };
    input.authentication = true;
    QCOMPARE(problem(false, 99), QStringLiteral("No newsserver specified. "));
    input.address = QStringLiteral("news.example.com");
    QCOMPARE(problem(false, 99), QStringLiteral("No nickname for the newsserver specified. "));
    input.nickname = QStringLiteral("   "); // blanks pass: the checks look at the texts as typed
    QCOMPARE(problem(false, 99), QStringLiteral("No username specified. "));
    input.username = QStringLiteral("user");
    QCOMPARE(problem(false, 99), QStringLiteral("No password specified. "));
    input.password = QStringLiteral("pass");
    QCOMPARE(problem(false, 99), QStringLiteral("You can add a maximum of 99 newsservers. "));
    QCOMPARE(problem(false, 98), QString());
    QCOMPARE(problem(true, 99), QString());
    input.authentication = false;
    input.username.clear();
    input.password.clear();
    QCOMPARE(problem(), QString());
}

void TestServerList::storesTrimmedInput()
{
    editor::EditorInput input{QStringLiteral("  news.example.com "), QStringLiteral("   "), QStringLiteral("0119"),
                              QStringLiteral("7"), true, QStringLiteral(" user "), QStringLiteral(" pass word ")};
    const ServerRecord server = editor::recordFromInput(input, QStringLiteral("K05"));
    QCOMPARE(server.address, QStringLiteral("news.example.com"));
    QCOMPARE(server.nickname, QString());
    QCOMPARE(server.port, QStringLiteral("0119"));
    QCOMPARE(server.threads, QStringLiteral("7"));
    QCOMPARE(server.username, QStringLiteral("user"));
    QCOMPARE(server.rowKey, QStringLiteral("K05pass word"));
    QCOMPARE(server.password(), QStringLiteral("pass word"));
    // Unticked, the fields are not stored: the check would send them to a server that needs none.
    input.authentication = false;
    const ServerRecord open = editor::recordFromInput(input, QStringLiteral("K05"));
    QCOMPARE(open.username, QString());
    QCOMPARE(open.rowKey, QStringLiteral("K05"));
    QCOMPARE(editor::threadsEntry(0), 0);
    QCOMPARE(editor::threadsEntry(10), 9);
    QCOMPARE(editor::threadsEntry(250), 9);
}

void TestServerList::readsNumbersAsTheyStart()
{
    QCOMPARE(leadingNumber(QStringLiteral("  42px")), 42);
    QCOMPARE(leadingNumber(QStringLiteral("-7")), -7);
    QCOMPARE(leadingNumber(QStringLiteral("wide")), 0);
    QCOMPARE(leadingNumber(QStringLiteral("99999999999999999999")), 2147483647);
}

QTEST_GUILESS_MAIN(TestServerList)
#include "tst_serverlist.moc"
