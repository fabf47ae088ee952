#include "CheckHarness.h"

#include "check/ServerTest.h"

class TestServerTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // "%1" in an expected line stands for the scripted server's port; an empty port text for it too.
    void reportsEachStep_data()
    {
        QTest::addColumn<QList<QByteArray>>("rules");
        QTest::addColumn<int>("connections");
        QTest::addColumn<bool>("login");
        QTest::addColumn<QString>("portText");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("allWorked");
        const QList<QByteArray> login{"AUTHINFO user=381 more", "AUTHINFO pass=281 welcome"};
        const QStringList reached{"Connected to 127.0.0.1:%1.", "Greeting: 200 scripted server ready"};
        QTest::newRow("all good, logged in") << login << 2 << true << QString()
            << reached + QStringList{"Login accepted.", "2 of 2 connections accepted.", "STAT is answered."} << true;
        QTest::newRow("login refused") << QList<QByteArray>{"AUTHINFO user=381 more", "AUTHINFO pass=481 wrong\x01password"} << 2 << true << QString()
            << reached + QStringList{"Login refused: 481 wrong password"} << false;
        QTest::newRow("3 of 5 connections") << QList<QByteArray>{"4>hello=502 too many connections", "5>hello=502 too many connections"} << 5 << false << QString()
            << reached + QStringList{"No login.", "3 of 5 connections accepted.", "Connection 4 was refused: 502 too many connections", "STAT is answered."} << false;
        QTest::newRow("a connection reset") << QList<QByteArray>{"2>hello@100=!reset"} << 2 << false << QString()
            << reached + QStringList{"No login.", "1 of 2 connections accepted.", "Connection 2 was refused: the server closed the connection.", "STAT is answered."} << false;
        QTest::newRow("STAT unknown") << QList<QByteArray>{"STAT=500 what?"} << 1 << false << QString()
            << reached + QStringList{"No login.", "1 of 1 connections accepted.", "STAT is not supported; the check will ask with HEAD."} << false;
        QTest::newRow("silent STAT") << QList<QByteArray>{"STAT="} << 1 << false << QString()
            << reached + QStringList{"No login.", "1 of 1 connections accepted.", "No answer within 1 second."} << false;
        QTest::newRow("silent greeting") << QList<QByteArray>{"hello="} << 1 << false << QString()
            << QStringList{"Connected to 127.0.0.1:%1.", "No answer within 1 second."} << false;
        QTest::newRow("port too high") << QList<QByteArray>{} << 1 << false << QStringLiteral("65536")
            << QStringList{"You can't choose a port higher than 65535. "} << false;
    }

    void reportsEachStep()
    {
        QFETCH(QList<QByteArray>, rules);
        QFETCH(int, connections);
        QFETCH(bool, login);
        QFETCH(QString, portText);
        QFETCH(QStringList, lines);
        ScriptedNntpServer nntp;
        nntp.script(rules);
        CheckServer tried = server(nntp.port(), connections);
        tried.portText = portText.isEmpty() ? tried.portText : portText;
        tried.username = QStringLiteral("tester"), tried.password = QStringLiteral("s3cret");
        ConnectionOptions options;
        options.idleTimeoutSeconds = 1;
        ServerTest test(tried, login, options);
        QStringList added;
        int finished = 0;
        connect(&test, &ServerTest::lineAdded, this, [&added](const QString &line) { added << line; });
        connect(&test, &ServerTest::finished, this, [&finished, &test](bool allWorked) { finished += allWorked == test.allWorked() ? 1 : 100; });
        test.start();
        QVERIFY(added.isEmpty());
        QVERIFY(QTest::qWaitFor([&finished] { return finished > 0; }, 3000));
        for (QString &line : lines)
            line.replace(QStringLiteral("%1"), QString::number(nntp.port()));
        QCOMPARE(test.lines().join(u'\n'), lines.join(u'\n'));
        QCOMPARE(added, lines);
        QTEST(test.allWorked(), "allWorked");
        QVERIFY(QTest::qWaitFor([&nntp] { return nntp.allClosed(); }, 1000));
        const bool counted = !lines.filter(QStringLiteral("connections accepted.")).isEmpty();
        QCOMPARE(nntp.commands().filter(QStringLiteral("STAT")), counted ? QStringList{"1> STAT <orvalis-test@invalid>"} : QStringList());
        QTest::qWait(50);
        QCOMPARE(finished, 1);
    }
};

QTEST_MAIN(TestServerTest)
#include "tst_servertest.moc"
