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

// Whatever the first server did, it or the backup found everything, so every file ends
// complete and nothing was counted twice.
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
    void keepsEveryLogLineOneLine();
    void cancelsAServerThatNeverAnswers();
};

void TestHostileServers::survivesAResetAtEveryStage_data()
{
    QTest::addColumn<QByteArray>("resetOn"); // the command answered with a reset; empty: at the greeting
    QTest::newRow("before the greeting") << QByteArray();
    QTest::newRow("user name") << QByteArray("AUTHINFO user u");
    QTest::newRow("password") << QByteArray("AUTHINFO pass p");
    QTest::newRow("group") << QByteArray("GROUP alt.test");
    QTest::newRow("second article") << QByteArray("STAT <m2@x>");
}

// A reset costs its connection; a new one asks what it left, so the backup is never needed.
void TestHostileServers::survivesAResetAtEveryStage()
{
    QFETCH(QByteArray, resetOn);
    ScriptedNntpServer hostile, backup;
    hostile.autoGreet = !resetOn.isEmpty();
    bool groupAsked = false;
    bool resetDone = false;
    hostile.respond = [&](int, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command == resetOn && !std::exchange(resetDone, true))
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
        hostile.autoGreet = true;
    }
    QVERIFY(check.waitForEnd());
    expectCompleteThroughBackup(check);
    QCOMPARE(hostile.connectionCount(), 2);
    QCOMPARE(askedIds(backup), QStringList());
    QCOMPARE(check.finishedCount, 1);
}

// The client holds at most one line's worth and one read of it, then closes the connection.
void TestHostileServers::closesOnAnEndlessLine()
{
    ScriptedNntpServer hostile, backup;
    qint64 sent = 0;
    int asking = 0;
    QTimer pump;
    hostile.respond = [&](int connection, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command.startsWith("STAT")) {
            asking = connection;
            pump.start(0);
        }
        return {};
    };
    QObject::connect(&pump, &QTimer::timeout, [&] {
        if (!hostile.isConnected(asking) || sent > 64 * 1024 * 1024) {
            pump.stop();
            return;
        }
        hostile.send(asking, QByteArray(64 * 1024, 'x'));
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
    QCOMPARE(check.log.filter(QStringLiteral("<m1@x>")).size(), 2); // one line for each of its two connections
    QVERIFY(askedIds(hostile).size() <= 2);
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
    QVERIFY(check.log.contains(QStringLiteral("43  no")));
    QCOMPARE(askedIds(backup), (QStringList{QStringLiteral("m2@x"), QStringLiteral("m3@x")}));
    expectCompleteThroughBackup(check);
}

// Control bytes of an NZB, a server or a hand-edited nickname never reach the log: each line
// stays one line, and no escape sequence is left for a terminal.
void TestHostileServers::keepsEveryLogLineOneLine()
{
    ScriptedNntpServer hostile;
    hostile.respond = [](int, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command == "STAT <m1@x>")
            return {"999 \x1b]0;owned\x07 \x9b\x7f\r\n"};
        return ScriptedNntpServer::standardReply(command);
    };
    Check check({{2, {"forged&#10;All OK!@x", "m1@x"}}}, {server(hostile.port(), 1, QString::fromLatin1("tab\tbell\a"))});
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.log.mid(0, 3), (QStringList{QStringLiteral("Initializing newsserver: tab bell "),
                                                QStringLiteral("Article not found: forged All OK!@x"),
                                                QStringLiteral("999  ]0;owned    ")}));
    QCOMPARE(check.log.filter(QStringLiteral("All OK!")).size(), 1); // the forged one only
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
