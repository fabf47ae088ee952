#include "CheckHarness.h"

#include "check/CheckResults.h"
#include "check/CheckRun.h"
#include "check/ReplyReader.h"
#include "nzb/NzbLoader.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QString kSeparator(64, u'-');

QStringList ending(const QString &nickname)
{
    return {QStringLiteral("Terminating newsserver: ") + nickname, kSeparator, QString()};
}

QStringList report(qint64 checked, qint64 undownloadable, const QString &share)
{
    QStringList lines{QStringLiteral("Parts checked: %1").arg(checked),
                      QStringLiteral("Undownloadable parts: %1").arg(undownloadable)};
    lines << (undownloadable == 0 ? QStringLiteral("All OK!") : share + QStringLiteral("% of the data can't be downloaded!"));
    return lines << QString();
}

// Answers STAT with 430 for the given message-IDs and 223 for the others.
ScriptedNntpServer::Responder missing(QList<QByteArray> ids)
{
    return [ids](int, const QByteArray &command) {
        if (command.startsWith("STAT <") && ids.contains(command.mid(6, command.size() - 7)))
            return ScriptedNntpServer::Reply{"430 no such article\r\n"};
        return ScriptedNntpServer::standardReply(command);
    };
}

} // namespace

class TestCheckRun : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void settlesRowsPerPass();
    void writesTheReport_data();
    void writesTheReport();
    void sharesTheQueueAmongConnections();
    void logsInAndSelectsTheGroup_data();
    void logsInAndSelectsTheGroup();
    void sendsOnlyAGroupNntpCanCarry_data();
    void sendsOnlyAGroupNntpCanCarry();
    void givesUpAServerThatFailsAtOnce();
    void asksWhatALateDropLeft();
    void handsOnlyTheMissingToTheNextServer();
    void readsRepliesAsLines();
    void closesOnWhatItCannotTake_data();
    void closesOnWhatItCannotTake();
    void asksAgainAfterAFailedConnection();
    void givesUpAServer_data();
    void givesUpAServer();
    void neverSendsAnUnsafeMessageId();
    void clampsHandEditedValues();
    void cancelLeavesNothingBehind();
    void endsAtOnceWithNothingToAsk();
};

void TestCheckRun::settlesRowsPerPass()
{
    auto nzb = makeNzb({{3, {"a1@x", "a2@x", "a3@x"}}, {5, {"b1@x", "b2@x", "b3@x"}}, {0, {"c1@x", "c2@x"}}});
    for (int item : {1, 2, 3})
        QVERIFY(results::MarkChecking(*nzb, item));
    QVERIFY(!results::MarkChecking(*nzb, 1)); // already Checking: the row is not shown again
    results::RecordFound(*nzb, 1);
    results::RecordNotFound(*nzb, 1);
    QCOMPARE(nzb->item(1).status, ItemStatus::Checking);
    results::RecordFound(*nzb, 1);
    QCOMPARE(nzb->item(1).status, ItemStatus::Missing);
    QCOMPARE(nzb->item(1).available, QStringLiteral("2"));
    // The next pass asks the one missing entry, and the file completes with it.
    QVERIFY(results::MarkChecking(*nzb, 1));
    results::RecordFound(*nzb, 1);
    QCOMPARE(nzb->item(1).status, ItemStatus::Available);
    QCOMPARE(nzb->item(1).available, QStringLiteral("3"));

    for (int i = 0; i < 3; ++i)
        results::RecordFound(*nzb, 2);
    QCOMPARE(nzb->item(2).status, ItemStatus::Missing); // 3/5: all listed found, parts missing
    QCOMPARE(nzb->item(2).available, QStringLiteral("3"));
    results::RecordFound(*nzb, 3);
    results::RecordFound(*nzb, 3);
    QCOMPARE(nzb->item(3).status, ItemStatus::Missing); // 2/0

    results::ResetRowsToQueued(*nzb);
    for (int item : {1, 2, 3}) {
        QCOMPARE(nzb->item(item).status, ItemStatus::Queued);
        QCOMPARE(nzb->item(item).available, QStringLiteral("0"));
    }
}

void TestCheckRun::writesTheReport_data()
{
    QTest::addColumn<int>("announced");
    QTest::addColumn<int>("listed");
    QTest::addColumn<int>("found");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("10 announced, 9 found") << 10 << 9 << 9 << report(9, 1, QStringLiteral("10"));
    QTest::newRow("1 of 3") << 3 << 3 << 2 << report(3, 1, QStringLiteral("33,33"));
    QTest::newRow("1 of 8") << 8 << 8 << 7 << report(8, 1, QStringLiteral("12,5"));
    QTest::newRow("all there") << 4 << 4 << 4 << report(4, 0, {});
    QTest::newRow("more listed than announced") << 2 << 3 << 3 << report(3, -1, QStringLiteral("-50"));
    // Nothing announced: the share would divide by zero and is left out.
    QTest::newRow("no counter") << 0 << 2 << 2
                                << QStringList{QStringLiteral("Parts checked: 2"), QStringLiteral("Undownloadable parts: -2"), QString()};
}

void TestCheckRun::writesTheReport()
{
    QFETCH(int, announced);
    QFETCH(int, listed);
    QFETCH(int, found);
    QFETCH(QStringList, lines);
    QList<QByteArray> ids;
    for (int i = 1; i <= listed; ++i)
        ids << "p" + QByteArray::number(i) + "@x";
    auto nzb = makeNzb({{announced, ids}});
    for (int i = 0; i < listed; ++i) {
        if (i < found)
            results::RecordFound(*nzb, 1);
        else
            results::RecordNotFound(*nzb, 1);
    }
    QCOMPARE(results::WriteSummary(*nzb, u','), lines);
}

// Three entries, two connections: the first greeted asks entry 1, the other entry 2; the first
// answer asks entry 3; the next answer finds the queue used up; the third ends the pass.
void TestCheckRun::sharesTheQueueAmongConnections()
{
    ScriptedNntpServer nntp;
    nntp.autoGreet = false;
    nntp.respond = nullptr;
    Check check({{3, {"m1@x", "m2@x", "m3@x"}}}, {server(nntp.port(), 2)});
    check.run.start();
    QTRY_COMPARE(nntp.connectionCount(), 2);
    nntp.send(2, "201 no posting\r\n");
    QTRY_COMPARE(nntp.commands(), QStringList{QStringLiteral("2> STAT <m1@x>")});
    nntp.send(1, "200 hello\r\n");
    QTRY_COMPARE(nntp.commands().size(), 2);
    QCOMPARE(nntp.commands()[1], QStringLiteral("1> STAT <m2@x>"));
    QCOMPARE(check.row(1), QStringLiteral("Checking 0"));
    QCOMPARE(check.run.captionPosition(), 2);
    nntp.send(1, "223 0 <m2@x>\r\n");
    QTRY_COMPARE(nntp.commands().size(), 3);
    QCOMPARE(nntp.commands()[2], QStringLiteral("1> STAT <m3@x>"));
    nntp.send(2, "430 no such article\r\n");
    QTest::qWait(50);
    QCOMPARE(nntp.commands().size(), 3); // nothing left to ask: it waits, without QUIT, for the pass to end
    nntp.send(1, "223 0 <m3@x>\r\n");
    QVERIFY(check.waitForEnd());
    QTRY_COMPARE(nntp.commands().size(), 5);
    QCOMPARE(nntp.commands().mid(3), (QStringList{QStringLiteral("1> QUIT"), QStringLiteral("2> QUIT")}));
    const QStringList expected = QStringList{QStringLiteral("Initializing newsserver: one"), QStringLiteral("Article not found: m1@x")}
                                 + ending(QStringLiteral("one")) + report(3, 1, QStringLiteral("33.33"));
    QCOMPARE(check.log, expected);
    QCOMPARE(check.row(1), QStringLiteral("Missing 2"));
    QCOMPARE(check.run.missingLeft(), 1);
    QCOMPARE(check.finishedCount, 1);
}

void TestCheckRun::logsInAndSelectsTheGroup_data()
{
    QTest::addColumn<bool>("userAlone"); // the server takes the user name without a password
    QTest::newRow("user and password") << false;
    QTest::newRow("user name alone") << true;
}

void TestCheckRun::logsInAndSelectsTheGroup()
{
    QFETCH(bool, userAlone);
    ScriptedNntpServer nntp;
    bool groupSelected = false;
    nntp.respond = [&groupSelected, userAlone](int, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command == "AUTHINFO user alice")
            return {userAlone ? "281 welcome\r\n" : "381 password please\r\n"};
        if (command == "AUTHINFO pass s3cret:x")
            return {"281 welcome\r\n"};
        if (command == "GROUP alt.test") {
            groupSelected = true;
            return {"211 2 1 2 alt.test\r\n"};
        }
        if (command.startsWith("STAT") && !groupSelected)
            return {"412 no newsgroup selected\r\n"};
        return ScriptedNntpServer::standardReply(command);
    };
    CheckServer login = server(nntp.port());
    login.username = QStringLiteral("alice");
    login.password = QStringLiteral("s3cret:x");
    Check check({{2, {"m1@x", "m2@x"}}}, {login});
    check.run.start();
    QVERIFY(check.waitForEnd());
    QStringList dialogue{QStringLiteral("1> AUTHINFO user alice"), QStringLiteral("1> AUTHINFO pass s3cret:x"),
                         QStringLiteral("1> STAT <m1@x>"), QStringLiteral("1> GROUP alt.test"),
                         QStringLiteral("1> STAT <m1@x>"), QStringLiteral("1> STAT <m2@x>"),
                         QStringLiteral("1> QUIT")};
    if (userAlone)
        dialogue.removeAt(1);
    QTRY_COMPARE(nntp.commands(), dialogue);
    QCOMPARE(check.row(1), QStringLiteral("Available 2"));
    QCOMPARE(check.log.mid(1, 3), ending(QStringLiteral("one")));
}

void TestCheckRun::sendsOnlyAGroupNntpCanCarry_data()
{
    QTest::addColumn<QByteArray>("group"); // as the NZB's XML writes it
    QTest::addColumn<bool>("sendable");
    QTest::newRow("a line break and a command") << QByteArray("alt.test&#13;&#10;POST") << false;
    QTest::newRow("a blank") << QByteArray("alt test") << false;
    QTest::newRow("none") << QByteArray() << false;
    QTest::newRow("498 bytes") << QByteArray(498, 'g') << false;
    QTest::newRow("497 bytes") << QByteArray(497, 'g') << true;
}

// A group that NNTP cannot carry is never sent: the server that asks for one is given up.
void TestCheckRun::sendsOnlyAGroupNntpCanCarry()
{
    QFETCH(QByteArray, group);
    QFETCH(bool, sendable);
    ScriptedNntpServer nntp, backup;
    bool selected = false;
    nntp.respond = [&selected](int, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command.startsWith("GROUP "))
            selected = true;
        if (command.startsWith("STAT ") && !selected)
            return {"412 no newsgroup selected\r\n"};
        return ScriptedNntpServer::standardReply(command);
    };
    Check check({{2, {"m1@x", "m2@x"}}}, {server(nntp.port()), server(backup.port(), 1, QStringLiteral("backup"))}, group);
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.row(1), QStringLiteral("Available 2"));
    QCOMPARE(nntp.commands().filter(QStringLiteral("GROUP")).size(), sendable ? 1 : 0);
    QCOMPARE(nntp.commands().filter(QStringLiteral("POST")), QStringList());
    QCOMPARE(backup.commands().filter(QStringLiteral("STAT")).size(), sendable ? 0 : 2);
    if (!sendable)
        QCOMPARE(check.log.mid(0, 3), (QStringList{QStringLiteral("Initializing newsserver: one"), QStringLiteral("Initializing newsserver: backup"),
                                                   QStringLiteral("Server error: -1 - The server asks for a newsgroup, and the NZB names none that can be sent.")}));
}

// Some connect failures come from inside connectToHost(): the server is given up only after
// the loop that opens its connections, so none of them joins the next server's pass and that
// server's login goes to its own host alone.
void TestCheckRun::givesUpAServerThatFailsAtOnce()
{
    ScriptedNntpServer backup;
    backup.respond = [](int, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command.startsWith("AUTHINFO user "))
            return {"381 more\r\n"};
        if (command.startsWith("AUTHINFO pass "))
            return {"281 in\r\n"};
        return ScriptedNntpServer::standardReply(command);
    };
    CheckServer unreachable = server(119, 10, QStringLiteral("unreachable"));
    unreachable.address = QStringLiteral("255.255.255.255"); // a broadcast address: refused by connect() itself
    CheckServer second = server(backup.port(), 2, QStringLiteral("backup"));
    second.username = QStringLiteral("second");
    second.password = QStringLiteral("pw");
    Check check({{4, {"m1@x", "m2@x", "m3@x", "m4@x"}}}, {unreachable, second});
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.log.mid(0, 2), (QStringList{QStringLiteral("Initializing newsserver: unreachable"), QStringLiteral("Initializing newsserver: backup")}));
    QCOMPARE(check.log.filter(QStringLiteral("Server error: ")).size(), 1);
    QCOMPARE(check.row(1), QStringLiteral("Available 4"));
    QCOMPARE(backup.connectionCount(), 2);
    QCOMPARE(backup.commands().filter(QStringLiteral("AUTHINFO user")).size(), 2);
}

// A connection with nothing left to ask stays until the pass ends: what a connection that
// drops later leaves is asked on it, not given up.
void TestCheckRun::asksWhatALateDropLeft()
{
    ScriptedNntpServer nntp;
    nntp.respond = [](int connection, const QByteArray &command) {
        return connection == 2 && command.startsWith("STAT ") ? ScriptedNntpServer::Reply{} : ScriptedNntpServer::standardReply(command);
    };
    Check check({{3, {"m1@x", "m2@x", "m3@x"}}}, {server(nntp.port(), 2)});
    check.run.start();
    QTRY_COMPARE(nntp.commands().filter(QStringLiteral("1> STAT")).size(), 2);
    QTest::qWait(50);
    nntp.close(2);
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.row(1), QStringLiteral("Available 3"));
    QCOMPARE(nntp.commands().filter(QStringLiteral("1> STAT")).size(), 3);
    QCOMPARE(check.log.filter(QStringLiteral("not found")), QStringList());
}

// Three servers, the middle one not ticked (so not given): the second pass asks only what the
// first lacked, with no more connections than entries.
void TestCheckRun::handsOnlyTheMissingToTheNextServer()
{
    ScriptedNntpServer first, second;
    first.respond = missing({"a2@x", "b1@x"});
    Check check({{3, {"a1@x", "a2@x", "a3@x"}}, {2, {"b1@x", "b2@x"}}},
                {server(first.port(), 4, QStringLiteral("first")), server(second.port(), 10, QStringLiteral("second"))});
    QSignalSpy lines(&check.run, &CheckRun::logLine);
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(first.connectionCount(), 4);
    QCOMPARE(second.connectionCount(), 2);
    QStringList asked = second.commands().filter(QStringLiteral("STAT"));
    for (QString &command : asked)
        command = command.mid(3);
    std::sort(asked.begin(), asked.end());
    QCOMPARE(asked, (QStringList{QStringLiteral("STAT <a2@x>"), QStringLiteral("STAT <b1@x>")}));
    QCOMPARE(check.row(1), QStringLiteral("Available 3"));
    QCOMPARE(check.row(2), QStringLiteral("Available 2"));
    QCOMPARE(check.log.filter(QStringLiteral("Article not found")).size(), 2);
    QCOMPARE(check.log.mid(check.log.size() - 4), report(5, 0, {}));
    QCOMPARE(check.run.missingLeft(), 0);
}

void TestCheckRun::readsRepliesAsLines()
{
    // Every reply cut into single bytes, then several replies in one write.
    ScriptedNntpServer nntp;
    nntp.autoGreet = false;
    nntp.respond = [&nntp](int connection, const QByteArray &command) {
        const QByteArray reply = ScriptedNntpServer::standardReply(command).bytes;
        for (int i = 0; i < reply.size(); ++i)
            QTimer::singleShot(i, &nntp, [&nntp, connection, byte = reply.mid(i, 1)] { nntp.send(connection, byte); });
        return ScriptedNntpServer::Reply{};
    };
    Check bytewise({{2, {"m1@x", "m2@x"}}}, {server(nntp.port())});
    bytewise.run.start();
    QTRY_COMPARE(nntp.connectionCount(), 1);
    for (const char c : QByteArray("200 hi\r\n"))
        nntp.send(1, QByteArray(1, c));
    QVERIFY(bytewise.waitForEnd());
    QCOMPARE(bytewise.row(1), QStringLiteral("Available 2"));

    // A greeting with an answer nobody asked for: the extra line closes the connection, and the
    // article it might have answered is asked again, not counted twice.
    ScriptedNntpServer eager;
    eager.greeting = "200 hi\r\n223 0 <m1@x>\r\n";
    Check extra({{2, {"m1@x", "m2@x"}}}, {server(eager.port(), 2)});
    extra.run.start();
    QVERIFY(extra.waitForEnd());
    QCOMPARE(extra.log.count(QStringLiteral("223 0 <m1@x>")), 4); // the two new connections fare alike
    QCOMPARE(extra.run.missingLeft(), 2); // no connection is left to answer
    QCOMPARE(extra.nzb->counters().answered[1], 0);
}

void TestCheckRun::closesOnWhatItCannotTake_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("logged");
    QTest::newRow("no blank after the code") << QByteArray("223\r\n") << QStringLiteral("223");
    QTest::newRow("unknown code") << QByteArray("999 what\r\n") << QStringLiteral("999 what");
    QTest::newRow("found without an article asked") << QByteArray("223 0 <x>\r\n") << QStringLiteral("223 0 <x>");
    // A reply counts only as the answer to the command it is owed for.
    QTest::newRow("login accepted for a greeting") << QByteArray("281 ok\r\n") << QStringLiteral("281 ok");
    QTest::newRow("password wanted for a greeting") << QByteArray("381 more\r\n") << QStringLiteral("381 more");
    QTest::newRow("group selected for a greeting") << QByteArray("211 1 1 1 g\r\n") << QStringLiteral("211 1 1 1 g");
    QTest::newRow("no group for a greeting") << QByteArray("412 none\r\n") << QStringLiteral("412 none");
    QTest::newRow("NUL bytes") << QByteArray("50\0 x\r\n", 7) << QStringLiteral("50  x");
    QTest::newRow("endless line") << QByteArray(ReplyReader::kLongestLine + 10, 'x') << QString(ReplyReader::kLongestLine + 10, u'x');
}

// Such a reply is logged and closes its own connection only; here there is no other, so one
// new connection tries again, then the server is given up and the check ends with everything missing.
void TestCheckRun::closesOnWhatItCannotTake()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, logged);
    ScriptedNntpServer nntp;
    nntp.greeting = reply;
    Check check({{1, {"m1@x"}}}, {server(nntp.port())});
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.log.mid(0, 3), (QStringList{QStringLiteral("Initializing newsserver: one"), logged, logged}));
    QCOMPARE(check.log.mid(3, 3), ending(QStringLiteral("one")));
    QCOMPARE(check.log.mid(6), report(1, 1, QStringLiteral("100")));
    QCOMPARE(check.run.missingLeft(), 1);
    QCOMPARE(check.row(1), QStringLiteral("Missing 0"));
}

// A connection that fails while an article is out hands it to the next ready connection; an
// article that fails twice counts as missing on that server.
void TestCheckRun::asksAgainAfterAFailedConnection()
{
    ScriptedNntpServer nntp;
    int fails = 0;
    nntp.respond = [&fails](int, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command == "STAT <bad@x>" && ++fails <= 2)
            return {"503 timeout\r\n"};
        if (command == "STAT <gone@x>")
            return {{}, true}; // the server hangs up
        return ScriptedNntpServer::standardReply(command);
    };
    QList<QByteArray> ids{"bad@x", "gone@x"};
    for (int i = 1; i <= 40; ++i)
        ids << "ok" + QByteArray::number(i) + "@x";
    ScriptedNntpServer backup;
    Check check({{42, ids}}, {server(nntp.port(), 10), server(backup.port(), 1, QStringLiteral("backup"))});
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(fails, 2);
    QCOMPARE(check.log.count(QStringLiteral("503 timeout")), 2);
    QCOMPARE(check.log.count(QStringLiteral("Article not found: bad@x")), 1);
    QCOMPARE(check.log.count(QStringLiteral("Article not found: gone@x")), 1);
    // Each failure costs its connection; the six left ask the rest.
    QCOMPARE(nntp.commands().filter(QStringLiteral("STAT <ok")).size(), 40);
    QStringList askedBackup = backup.commands().filter(QStringLiteral("STAT"));
    std::sort(askedBackup.begin(), askedBackup.end());
    QCOMPARE(askedBackup, (QStringList{QStringLiteral("1> STAT <bad@x>"), QStringLiteral("1> STAT <gone@x>")}));
    QCOMPARE(check.row(1), QStringLiteral("Available 42"));
}

void TestCheckRun::givesUpAServer_data()
{
    QTest::addColumn<QByteArray>("refusal");
    QTest::addColumn<bool>("reset");
    QTest::newRow("480") << QByteArray("480 authentication required") << false;
    QTest::newRow("482") << QByteArray("482 rejected") << false;
    QTest::newRow("481 on every connection") << QByteArray("481 bad password") << false;
    QTest::newRow("reset: a close, not an error") << QByteArray() << true;
}

// What the server found stays found; what it lacked or never answered goes to the next server,
// counted once; with no server after it the check ends with the report.
void TestCheckRun::givesUpAServer()
{
    QFETCH(QByteArray, refusal);
    QFETCH(bool, reset);
    ScriptedNntpServer nntp, backup;
    int stats = 0;
    nntp.respond = [&](int connection, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (!command.startsWith("STAT"))
            return ScriptedNntpServer::standardReply(command);
        if (++stats <= 3)
            return {command.contains("a1@") ? "430 no\r\n" : "223 0 x\r\n"};
        if (reset) {
            nntp.reset(connection);
            return {};
        }
        return {refusal + "\r\n"};
    };
    const QList<FileSpec> files{{4, {"a1@x", "a2@x", "a3@x", "a4@x"}}, {2, {"b1@x", "b2@x"}}};
    for (bool withBackup : {true, false}) {
        stats = 0;
        std::vector<CheckServer> servers{server(nntp.port(), 1)};
        if (withBackup)
            servers.push_back(server(backup.port(), 1, QStringLiteral("backup")));
        Check check(files, servers);
        check.run.start();
        QVERIFY(check.waitForEnd());
        QCOMPARE(check.finishedCount, 1);
        // "480 " and "482 " give the server up; anything else costs its connection, and the
        // one new connection the server gets in a pass ends the same way.
        const bool refusesLogin = refusal.startsWith("48") && !refusal.startsWith("481");
        QStringList refused = refusesLogin ? QStringList{QString::fromLatin1(refusal)} : QStringList{};
        if (!refusesLogin)
            refused = QStringList(reset ? 0 : 2, QString::fromLatin1(refusal)) << QStringLiteral("Article not found: a4@x");
        refused << ending(QStringLiteral("one"));
        QCOMPARE(check.log.mid(2, refused.size()), refused);
        QCOMPARE(check.log.value(1), QStringLiteral("Article not found: a1@x"));
        if (withBackup) {
            // a1 was missing; a4, b1 and b2 were never answered.
            QCOMPARE(backup.commands().filter(QStringLiteral("STAT")).size(), 4);
            QCOMPARE(check.row(1), QStringLiteral("Available 4"));
            QCOMPARE(check.row(2), QStringLiteral("Available 2"));
            QCOMPARE(check.log.mid(check.log.size() - 4), report(6, 0, {}));
        } else {
            QCOMPARE(check.run.missingLeft(), 4);
            QCOMPARE(check.row(1), QStringLiteral("Missing 2"));
            QCOMPARE(check.row(2), QStringLiteral("Missing 0")); // never asked, and settled all the same
            QCOMPARE(check.log.mid(check.log.size() - 4), report(6, 4, QStringLiteral("66.67")));
        }
    }
}

void TestCheckRun::neverSendsAnUnsafeMessageId()
{
    ScriptedNntpServer nntp, backup;
    const QByteArray longest(248, 'l');
    const QList<QByteArray> unsafe{"two words@x", "in&#13;jected@x", "a&gt;b@x", QByteArray(249, 'l'), "tab&#9;@x", "\xC3\xA9@x"};
    Check check({{9, QList<QByteArray>{"fine@x", longest} + unsafe + QList<QByteArray>{"last@x"}}},
                {server(nntp.port()), server(backup.port(), 1, QStringLiteral("backup"))});
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(nntp.commands(), (QStringList{QStringLiteral("1> STAT <fine@x>"), QStringLiteral("1> STAT <") + QString::fromLatin1(longest) + u'>',
                                           QStringLiteral("1> STAT <last@x>"), QStringLiteral("1> QUIT")}));
    QCOMPARE(backup.commands(), QStringList{}); // connected, but nothing to send; closed at the end
    QCOMPARE(check.log.filter(QStringLiteral("Article not found: ")).size(), 12); // on both servers
    QCOMPARE(check.row(1), QStringLiteral("Missing 3"));
}

void TestCheckRun::clampsHandEditedValues()
{
    QCOMPARE(CheckServer::fromRecord({{}, {}, QStringLiteral("119"), QStringLiteral("0"), {}, QStringLiteral("K01pw"), true}).connections, 1);
    QCOMPARE(CheckServer::fromRecord({{}, {}, QStringLiteral("119"), QStringLiteral("many"), {}, {}, true}).connections, 1);
    QCOMPARE(CheckServer::fromRecord({{}, {}, QStringLiteral("119"), QStringLiteral("25"), {}, {}, true}).connections, 10);
    const CheckServer record = CheckServer::fromRecord({{}, {}, QStringLiteral("563"), QStringLiteral("4"), {}, QStringLiteral("K01pw"), true});
    QCOMPARE(record.port, 563);
    QCOMPARE(record.password, QStringLiteral("pw"));

    ScriptedNntpServer backup;
    CheckServer badPort = server(0);
    badPort.portText = QStringLiteral("70000");
    badPort.port = CheckServer::fromRecord({{}, {}, badPort.portText, {}, {}, {}, true}).port;
    QCOMPARE(badPort.port, 0);
    Check check({{1, {"m1@x"}}}, {badPort, server(backup.port(), 1, QStringLiteral("backup"))});
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.log.mid(0, 3), (QStringList{QStringLiteral("Initializing newsserver: one"), QStringLiteral("Initializing newsserver: backup"),
                                               QStringLiteral("Server error: -1 - The port \"70000\" is not a number from 1 to 65535.")}));
    QCOMPARE(check.row(1), QStringLiteral("Available 1"));

    // A refused connection and a name no resolver accepts give up their servers too.
    Check unreachable({{1, {"m1@x"}}}, {server(closedPort())});
    unreachable.run.start();
    QVERIFY(unreachable.waitForEnd());
    QCOMPARE(unreachable.log.value(1), QStringLiteral("Server error: 0 - Connection refused"));
    CheckServer nameless = server(119);
    nameless.address = QStringLiteral("bad..name");
    Check unresolvable({{1, {"m1@x"}}}, {nameless});
    unresolvable.run.start();
    QVERIFY(unresolvable.waitForEnd());
    QVERIFY2(unresolvable.log.value(1).startsWith(QStringLiteral("Server error: 2 - ")), qPrintable(unresolvable.log.value(1)));
}

void TestCheckRun::cancelLeavesNothingBehind()
{
    ScriptedNntpServer nntp;
    nntp.autoGreet = false;
    nntp.respond = nullptr;
    Check check({{2, {"m1@x", "m2@x"}}}, {server(nntp.port(), 2)});
    check.run.start();
    check.run.cancel(); // while connecting
    QVERIFY(!check.run.isRunning());
    check.run.start();
    QTRY_COMPARE(nntp.connectionCount(), 4);
    nntp.send(3, "200 hi\r\n");
    QTRY_COMPARE(nntp.commands().size(), 1);
    check.run.cancel(); // while asking
    QCOMPARE(check.row(1), QStringLiteral("Queued 0"));
    for (int connection = 1; connection <= 4; ++connection)
        nntp.send(connection, "200 hi\r\n223 0 <m1@x>\r\n");
    QTest::qWait(100);
    QCOMPARE(nntp.commands().size(), 1);
    QCOMPARE(check.log.size(), 2); // the two "Initializing" lines
    QCOMPARE(check.nzb->counters().answered[1], 0);
    QCOMPARE(check.finishedCount, 0);

    // A cancel in a later pass: the new check asks the whole NZB again, not what that pass had left.
    ScriptedNntpServer first, silent;
    first.respond = missing({"m1@x"});
    silent.respond = nullptr;
    Check later({{2, {"m1@x", "m2@x"}}}, {server(first.port()), server(silent.port(), 1, QStringLiteral("silent"))});
    later.run.start();
    QTRY_COMPARE(silent.connectionCount(), 1);
    later.run.cancel();
    later.run.start();
    QTRY_COMPARE(first.commands().filter(QStringLiteral("STAT <m2@x>")).size(), 2);
    later.run.cancel();

    // A new check asks the whole NZB again.
    nntp.autoGreet = true;
    nntp.respond = [](int, const QByteArray &command) { return ScriptedNntpServer::standardReply(command); };
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.row(1), QStringLiteral("Available 2"));
}

void TestCheckRun::endsAtOnceWithNothingToAsk()
{
    ScriptedNntpServer nntp;
    Check check({{3, {}}}, {server(nntp.port())});
    check.run.start();
    QCOMPARE(check.finishedCount, 1);
    QCOMPARE(check.log, report(0, 3, QStringLiteral("100")));
    QCOMPARE(nntp.connectionCount(), 0);
}

QTEST_GUILESS_MAIN(TestCheckRun)
#include "tst_checkrun.moc"
