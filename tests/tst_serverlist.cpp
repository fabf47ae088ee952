#include "servers/ServerListModel.h"

#include <QItemSelectionModel>
#include <QMimeData>
#include <QTest>

namespace {

// One server per letter, with its own address and password; upper case letters are ticked.
void fill(ServerListModel &model, const QString &names)
{
    for (const QChar name : names)
        model.appendServer({QStringLiteral("nick-") + name.toUpper(), QStringLiteral("host-") + name.toUpper(), QStringLiteral("119"),
                            QStringLiteral("4"), QString(), QStringLiteral("K0") + name + u'p' + name.toUpper(), name.isUpper()},
                           false);
}

// The letters in list order, upper case where ticked; every field must travel with its row, and
// the priorities read 1 to n.
QString order(const ServerListModel &model)
{
    QString names;
    for (int p = 1; p <= model.count(); ++p) {
        const ServerRecord &server = model.server(p);
        const QChar name = server.nickname.back();
        if (model.data(model.index(p - 1, 0)).toString() != QString::number(p) || server.address != QStringLiteral("host-") + name || server.password() != u'p' + QString(name))
            return QStringLiteral("broken row %1").arg(p);
        names += model.data(model.index(p - 1, 0), Qt::CheckStateRole) == Qt::Checked ? name : name.toLower();
    }
    return names;
}

} // namespace

class TestServerList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void movesAndRemovesRows_data()
    {
        // Rows, operation and positions (the selection; for a drop the dragged row and the target),
        // then the rows and the selection after it.
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("result");
        QTest::newRow("Y, Z up") << "XYZ up 2,3" << "YZX 1,2";
        QTest::newRow("run at the top stays") << "XYZ up 1,2" << "XYZ 1,2";
        QTest::newRow("X, Y down") << "XYZ down 1,2" << "ZXY 2,3";
        QTest::newRow("X, Z up") << "WXYZ up 2,4" << "XWZY 1,3";
        QTest::newRow("run at the bottom stays") << "WXYZ down 3,4" << "WXYZ 3,4";
        QTest::newRow("nothing selected") << "XYZ down " << "XYZ -";
        QTest::newRow("ticks travel") << "xyZ up 3" << "xZy 2";
        QTest::newRow("4 dropped onto 2") << "ABCD drop 4,2" << "ADBC 2";
        QTest::newRow("2 dropped onto 4") << "ABCD drop 2,4" << "ACDB 4";
        QTest::newRow("dropped onto itself") << "ABCD drop 3,3" << "ABCD 3";
        QTest::newRow("dropped below the last row") << "ABCD drop 2,0" << "ABCD 2";
        QTest::newRow("dropped with no current row") << "ABCD drop 0,2" << "ABCD -";
        // The view hands a drag over as mime data: the model moves the row itself and answers false,
        // or the view would remove the dragged row as the source of a move.
        QTest::newRow("row dragged onto 2") << "ABCD mime 4,2" << "ADBC 2";
        QTest::newRow("row dragged below the rows") << "ABCD mime 4,0" << "ABCD 4";
        QTest::newRow("file dragged onto 1") << "ABCD file 0,1" << "ABCD -";
        QTest::newRow("remove 3 and 1") << "ABC remove 3,1" << "B -";
        QTest::newRow("remove a position twice") << "ABC remove 2,2" << "AC -";
        QTest::newRow("remove all") << "ABC remove 1,2,3" << " -";
    }

    void movesAndRemovesRows()
    {
        QFETCH(QString, operation);
        const QStringList words = operation.split(u' ');
        QList<int> positions;
        for (const QString &number : words[2].split(u',', Qt::SkipEmptyParts))
            positions << number.toInt();
        ServerListModel model;
        fill(model, words[0]);
        QItemSelectionModel selection(&model);
        const bool dragged = words[1] == u"drop" || words[1] == u"mime" || words[1] == u"file";
        for (const int position : dragged ? positions.mid(0, 1) : positions)
            selection.select(model.index(position - 1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        std::unique_ptr<QMimeData> mime(words[1] == u"mime" ? model.mimeData({model.index(positions[0] - 1, 1)}) : new QMimeData);
        mime->setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.nzb"))});
        if (words[1] == u"up")
            model.MoveItemsUp(positions);
        else if (words[1] == u"down")
            model.MoveItemsDown(positions);
        else if (words[1] == u"remove")
            model.removeServers(positions);
        else if (words[1] == u"drop")
            model.MoveItemByDrop(positions[0], positions[1]);
        else
            QVERIFY(!model.dropMimeData(mime.get(), Qt::MoveAction, -1, -1, model.index(positions[1] - 1, 0)));
        QStringList selected;
        for (const QModelIndex &index : selection.selectedRows())
            selected << QString::number(index.row() + 1);
        selected.sort();
        QTEST(order(model) + u' ' + (selected.isEmpty() ? QStringLiteral("-") : selected.join(u',')), "result");
    }

    // Only keys "K" and two ASCII digits are taken; a hand-edited file can list more than 99 servers,
    // and the key still takes exactly three characters. The last key has an Arabic-Indic six.
    void findsTheNextFreeKey()
    {
        ServerListModel model;
        for (const char *key : {"K01x", "K02", "K03", "K1", "K+4", "k05", "K0\u0666"})
            model.appendServer({{}, {}, {}, {}, {}, QString::fromUtf8(key)}, false);
        QString keys = model.NextFreeKey();
        for (int number = 1; number <= 99; ++number)
            model.appendServer({{}, {}, {}, {}, {}, QStringLiteral("K%1").arg(number, 2, 10, QLatin1Char('0'))}, false);
        QCOMPARE(keys + model.NextFreeKey(), QStringLiteral("K04K00"));
        // Masking: every row with a row key, also one without a password; an empty key is a hand-edited file's.
        model.appendServer({}, false);
        model.setPasswordsHidden(true);
        QCOMPARE(model.data(model.index(1, ServerListModel::Password)).toString() + u'|' + model.data(model.index(106, ServerListModel::Password)).toString(), ServerListModel::kMaskedPassword + u'|');
    }
};

QTEST_GUILESS_MAIN(TestServerList)
#include "tst_serverlist.moc"
