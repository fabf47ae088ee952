#include "CheckHarness.h"

#include "check/ReplyReader.h"

#include <QTimer>

namespace {

const QList<QByteArray> kIds{"m1@x", "m2@x", "m3@x"};

// The STAT commands a server received, as message-IDs.
QStringList askedIds(const ScriptedNntpServer &nntp)
{
    QStringList ids;
    for (const QString &command : nntp.commands()) {
        const qsizetype stat = command.indexOf(QLatin1String("> STAT <"));
        if (stat >= 0)
            ids << command.mid(stat + 8).chopped(1);
    }
    return ids;
}

// Whatever the first server did, the backup found everything it was asked, so every file
// ends complete and nothing was counted twice.
void expectCompleteThroughBackup(const Check &check)
{
    QCOMPARE(check.row(1), QStringLiteral("Available 3"));
    QCOMPARE(check.nzb->counters().answered[1], 3);
    QCOMPARE(check.run.missingLeft(), 0);
    QCOMPARE(check.log.mid(check.log.size() - 4, 3),
             (QStringList{QStringLiteral("Parts checked: 3"), QStringLiteral("Undownloadable parts: 0"), QStringLiteral("All OK!")}));
}

} // namespace

class TestHostileServers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void survivesAResetAtEveryStage_data();
    void survivesAResetAtEveryStage();
    void closesOnAnEndlessLine();
    void takesOneReplyOfAFlood();
    void takesNulBytesAsTheyCome();
    void cancelsAServerThatNeverAnswers();
};

void TestHostileServers::survivesAResetAtEveryStage_data()
{
    QTest::addColumn<QByteArray>("resetOn"); // the command answered with a reset; empty: at the greeting
    QTest::addColumn<QStringList>("foundFirst");
    QTest::newRow("before the greeting") << QByteArray() << QStringList();
    QTest::newRow("user name") << QByteArray("AUTHINFO user u") << QStringList();
    QTest::newRow("password") << QByteArray("AUTHINFO pass p") << QStringList();
    QTest::newRow("group") << QByteArray("GROUP alt.test") << QStringList();
    QTest::newRow("second article") << QByteArray("STAT <m2@x>") << QStringList{QStringLiteral("m1@x")};
    QTest::newRow("quit") << QByteArray("QUIT") << QStringList{QStringLiteral("m1@x"), QStringLiteral("m2@x"), QStringLiteral("m3@x")};
}

void TestHostileServers::survivesAResetAtEveryStage()
{
    QFETCH(QByteArray, resetOn);
    QFETCH(QStringList, foundFirst);
    ScriptedNntpServer hostile, backup;
    hostile.autoGreet = !resetOn.isEmpty();
    bool groupAsked = false;
    hostile.respond = [&](int, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command == resetOn)
            return {{}, false, true};
        if (command.startsWith("AUTHINFO user"))
            return {"381 more\r\n"};
        if (command.startsWith("AUTHINFO pass"))
            return {"281 ok\r\n"};
        if (command.startsWith("GROUP"))
            return {"211 3 1 3 alt.test\r\n"};
        if (command.startsWith("STAT") && !std::exchange(groupAsked, true))
            return {"412 no group\r\n"};
        return ScriptedNntpServer::standardReply(command);
    };
    CheckServer first = server(hostile.port(), 1, QStringLiteral("hostile"));
    first.username = QStringLiteral("u");
    first.password = QStringLiteral("p");
    Check check({{3, kIds}}, {first, server(backup.port(), 1, QStringLiteral("backup"))});
    check.run.start();
    if (resetOn.isEmpty()) {
        QTRY_COMPARE(hostile.connectionCount(), 1);
        hostile.reset(1);
    }
    QVERIFY(check.waitForEnd());
    expectCompleteThroughBackup(check);
    QStringList handedOver;
    for (const QByteArray &id : kIds)
        if (!foundFirst.contains(QString::fromLatin1(id)))
            handedOver << QString::fromLatin1(id);
    QCOMPARE(askedIds(backup), handedOver);
    QCOMPARE(check.finishedCount, 1);
}

// The client holds at most one line's worth and one read of it, then closes the connection.
void TestHostileServers::closesOnAnEndlessLine()
{
    ScriptedNntpServer hostile, backup;
    qint64 sent = 0;
    QTimer pump;
    hostile.respond = [&](int, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command.startsWith("STAT"))
            pump.start(0);
        return {};
    };
    QObject::connect(&pump, &QTimer::timeout, [&] {
        if (!hostile.isConnected(1) || sent > 64 * 1024 * 1024) {
            pump.stop();
            return;
        }
        hostile.send(1, QByteArray(64 * 1024, 'x'));
        sent += 64 * 1024;
    });
    Check check({{3, kIds}}, {server(hostile.port(), 1, QStringLiteral("hostile")), server(backup.port(), 1, QStringLiteral("backup"))});
    check.run.start();
    QVERIFY(check.waitForEnd());
    QTRY_VERIFY(!pump.isActive());
    QVERIFY2(sent < 64 * 1024 * 1024, "the client kept reading an endless line");
    const QString logged = check.log.at(1);
    QVERIFY(logged.size() > ReplyReader::kLongestLine && logged.size() <= ReplyReader::kLongestLine + 16384);
    QVERIFY(logged.count(u'x') == logged.size());
    expectCompleteThroughBackup(check);
}

// A greeting followed by 10,000 replies nobody asked for: the first line beyond what was owed
// closes the connection, and nothing of the rest is counted. (When the greeting arrives alone,
// the first STAT is sent and the next line may be taken as its answer.)
void TestHostileServers::takesOneReplyOfAFlood()
{
    ScriptedNntpServer hostile, backup;
    QByteArray flood = "200 hello\r\n";
    for (int i = 1; i <= 10000; ++i)
        flood += "223 " + QByteArray::number(i) + " <m1@x>\r\n";
    hostile.greeting = flood;
    Check check({{3, kIds}}, {server(hostile.port(), 1, QStringLiteral("hostile")), server(backup.port(), 1, QStringLiteral("backup"))});
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.log.at(0), QStringLiteral("Initializing newsserver: hostile"));
    QVERIFY(check.log.at(1) == QStringLiteral("223 1 <m1@x>") || check.log.at(1) == QStringLiteral("223 2 <m1@x>"));
    QCOMPARE(check.log.filter(QStringLiteral("<m1@x>")).size(), 1);
    QVERIFY(askedIds(hostile).size() <= 1);
    // m1 is asked of the backup too unless the flood's first line answered it.
    const QStringList rest{QStringLiteral("m2@x"), QStringLiteral("m3@x")};
    QVERIFY(askedIds(backup) == rest || askedIds(backup) == QStringList{QStringLiteral("m1@x")} + rest);
    expectCompleteThroughBackup(check);
}

void TestHostileServers::takesNulBytesAsTheyCome()
{
    ScriptedNntpServer hostile, backup;
    hostile.greeting = QByteArray("200 hi\0there\r\n", 14);
    hostile.respond = [](int, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command == "STAT <m1@x>")
            return {QByteArray("223 0 <m1@x>\0\0\r\n", 16)}; // found: the code is what counts
        if (command == "STAT <m2@x>")
            return {QByteArray("43\0 no\r\n", 8)};
        return ScriptedNntpServer::standardReply(command);
    };
    Check check({{3, kIds}}, {server(hostile.port(), 1, QStringLiteral("hostile")), server(backup.port(), 1, QStringLiteral("backup"))});
    check.run.start();
    QVERIFY(check.waitForEnd());
    QVERIFY(check.log.contains(QString::fromLatin1("43\0 no", 6)));
    QCOMPARE(askedIds(backup), (QStringList{QStringLiteral("m2@x"), QStringLiteral("m3@x")}));
    expectCompleteThroughBackup(check);
}

// A server that greets and then keeps silent holds the check until the user cancels; the
// cancel closes the connection and nothing of it is handled afterwards.
void TestHostileServers::cancelsAServerThatNeverAnswers()
{
    ScriptedNntpServer silent;
    silent.respond = nullptr;
    Check check({{3, kIds}}, {server(silent.port(), 3, QStringLiteral("silent"))});
    check.run.start();
    QTRY_COMPARE(silent.commands().size(), 3);
    QTest::qWait(200);
    QVERIFY(check.run.isRunning());
    check.run.cancel();
    for (int connection = 1; connection <= 3; ++connection) {
        QTRY_VERIFY(!silent.isConnected(connection));
        silent.send(connection, "223 0 <m1@x>\r\n");
    }
    QTest::qWait(50);
    QCOMPARE(check.finishedCount, 0);
    QCOMPARE(check.nzb->counters().answered[1], 0);
    QCOMPARE(check.row(1), QStringLiteral("Queued 0"));
}

QTEST_GUILESS_MAIN(TestHostileServers)
#include "tst_hostileservers.moc"
