// How connections reach and wait for servers: TLS, the idle timeout, pipelined queries and
// the HEAD fallback, and how they stand servers that break the protocol, against scripted
// servers on loopback (golden transcripts).

#include "CheckHarness.h"

#include "check/ConnectionPool.h"
#include "check/ReplyReader.h"

using namespace Qt::StringLiterals;

class TestConnections : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void dialogue_data()
    {
        QTest::addColumn<Dialogue>("d");
        QTest::newRow("TLS") << Dialogue{{{.tls = "tls-loopback"}}, {{3, ids(3)}}, "alt.test", "tls-loopback"};
        // A TLS failure is a socket error: one "Server error: " line, and the next server is asked.
        QTest::newRow("TLS, self-signed, not trusted") << Dialogue{{{.tls = "tls-loopback"}, {}}};
        QTest::newRow("TLS, wrong host name") << Dialogue{{{.tls = "tls-wrong-host"}, {}}, {{3, ids(3)}}, "alt.test", "tls-wrong-host"};
        QTest::newRow("TLS to a plain server") << Dialogue{{{.tls = "plain"}, {}}};
        QTest::newRow("silent before the greeting") << Dialogue{{{.rules = {"hello="}}, {}}};
        QTest::newRow("silent after a command") << Dialogue{{{.rules = {"STAT="}}, {}}};
        QTest::newRow("silent plain server asked with TLS") << Dialogue{{{.rules = {"hello="}, .tls = "plain"}, {}}};
        // Two of three connections fall silent: they cost themselves only, their articles go to the
        // one that answers, and their common error is logged at once, once.
        QTest::newRow("silent connections beside one that works") << Dialogue{{{.rules = {"2>STAT=", "3>STAT="}, .connections = 3}, {}}, {{6, ids(6)}}};
        // The limit is on silence since the last whole line: a slow header keeps the connection, a
        // byte now and then without a line end does not.
        const QByteArray drip = "HEAD=221 0 $\n|X-Line: x\n|X-Line: x\n|X-Line: x\n|X-Line: x\n|\n.";
        QTest::newRow("header lines slower than the limit") << Dialogue{{{.rules = {"STAT=500 What?", drip}}}, {{1, ids(1)}}};
        QTest::newRow("bytes that end no line") << Dialogue{{{.rules = {"STAT=500 What?", QByteArray(drip).replace("X-Line: x\n", "x")}}}, {{1, ids(1)}}};
        // Replies for queries sent after the bytes arrived cannot be in them: a third reply to two
        // queries is unexpected, although a third query went out while the first was handled.
        QTest::newRow("more replies than owed") << Dialogue{{{.rules = {"1>STAT <m1@x>=", "1>STAT <m2@x>=223 0 <m1@x>\n223 0 <m2@x>\n223 0 <m3@x>"}, .depth = 2}}};
        // A "223 " after a greeting that fills a whole read chunk answers no STAT: the STAT went out
        // after those bytes had come.
        QTest::newRow("replies owed counted once per read") << Dialogue{{{.rules = {"hello=200 " + QByteArray(16384 - 6, 'x') + "\n223 0 <m1@x>", "STAT=430 no"}}}, {{1, ids(1)}}};
        // "412 " for every query already out: GROUP is sent once, then each of them is asked again.
        QTest::newRow("pipelined through the group selection") << Dialogue{{{.rules = {"GROUP=211 4 1 4 alt.test", "STAT#3=412 no newsgroup selected"}, .depth = 3}}, {{4, ids(4)}}};
        // "500 " to STAT: that server is asked with HEAD for the rest of its pass, "221 " with its
        // header counting as found; the next server is asked with STAT again.
        const QList<QByteArray> head{"STAT=500 What?", "HEAD <m2@x>=430 no such article", "HEAD=221 0 $\nPath: x\n..dot-stuffed\nSubject: s\n."};
        QTest::newRow("HEAD") << Dialogue{{{.rules = head}, {}}, {{4, ids(4)}}};
        QTest::newRow("HEAD, one byte at a time") << Dialogue{{{.rules = head, .chunk = 1}, {}}, {{4, ids(4)}}};
        QTest::newRow("HEAD, pipelined") << Dialogue{{{.rules = head, .depth = 3}, {}}, {{4, ids(4)}}};
        // A header without end is no reply: the connection closes long before the server stops.
        QTest::newRow("endless header") << Dialogue{{{.rules = {"STAT=500 What?", "HEAD=221 0 $\n" + ("X-Filler: " + QByteArray(990, 'x') + '\n').repeated(4000)}}}, {{1, ids(1)}}};
        // Servers that break the protocol: replies no command is owed, resets at every stage, floods,
        // NUL and control bytes, lines without end.
        // A reply counts only as the answer to the command it is owed for; anything else is logged
        // and closes its connection; one new connection tries again, then the server is given up.
        const QList<QByteArray> replies{"223", "999 what", "223 0 <x>", "281 ok", "381 more", "211 1 1 1 g", "412 none", "50\0 x"_ba,
                                        QByteArray(ReplyReader::kLongestLine + 10, 'x') + '~'};
        for (const char *stage : {"hello", "STAT"})
            for (const QByteArray &reply : replies)
                QTest::newRow(qPrintable(stage + (" " + reply.left(12)))) << Dialogue{{{.rules = {stage + ('=' + reply)}}}, {{1, ids(1)}}};
        // A reset costs its connection; a new one asks what it left, so the backup is never needed.
        for (const char *stage : {"hello", "AUTHINFO user", "AUTHINFO pass", "GROUP", "STAT <m2@x>"})
            QTest::newRow(qPrintable("reset at "_ba + stage)) << Dialogue{{{.rules = {stage + "#1=!reset"_ba, "AUTHINFO user=381 more", "AUTHINFO pass=281 ok",
                                                                                      "GROUP=211 3 1 3 alt.test", "STAT#1=412 no group"}, .login = "u:p"}, {}}};
        QTest::newRow("NUL bytes") << Dialogue{{{.rules = {"hello=200 hi\0there"_ba, "STAT <m1@x>=223 0 <m1@x>\0\0"_ba, "STAT <m2@x>=43\0 no"_ba}}, {}}};
        // A greeting and 10,000 replies nobody asked for: the first line beyond what was owed closes
        // the connection, and nothing of the rest is counted.
        QByteArray flood = "hello=200 hello";
        for (int i = 1; i <= 10000; ++i)
            flood += "\n223 " + QByteArray::number(i) + " <m1@x>";
        QTest::newRow("a flood of replies") << Dialogue{{{.rules = {flood}}, {}}};
        // Control bytes of an NZB, a server or a hand-edited nickname never reach the log: each line
        // stays one line, and no escape sequence is left for a terminal.
        QTest::newRow("control bytes") << Dialogue{{{.rules = {"STAT <m1@x>=999 \x1b]0;owned\x07 \x9b\x7f"}, .name = "tab\tbell\a"}},
                                                   {{2, {"forged&#10;All OK!@x", "m1@x"}}}};
    }
    void dialogue() { QFETCH(Dialogue, d); COMPARE_GOLDEN(goldenName(), runDialogue(d).transcript); }

    // Four queries out at once; replies in bursts are matched to the entries in the order asked.
    void matchesPipelinedRepliesInOrder()
    {
        ScriptedNntpServer nntp;
        nntp.respond = nullptr;
        CheckServer deep = server(nntp.port());
        deep.pipelineDepth = 4;
        Check check({{10, ids(10)}}, {deep});
        check.run.start();
        // A "430 " draws a HEAD that takes its place in the pipeline.
        const std::pair<const char *, int> bursts[] = {{"", 4}, {"223 0 <m1@x>\r\n430 no\r\n223 0 <m3@x>\r\n", 7}, {"223", 7},
                                                       {" 0 <m4@x>\r\n223 0 <m5@x>\r\n430 no\r\n223 0 <m6@x>\r\n", 11},
                                                       {"223 0 <m7@x>\r\n223 0 <m8@x>\r\n430 no\r\n430 no\r\n", 13}};
        for (const auto &[burst, commands] : bursts) {
            if (*burst)
                nntp.send(1, burst);
            QTRY_COMPARE(nntp.commands().size(), commands);
            QTest::qWait(20); // nothing more is asked than there is room for
            QCOMPARE(nntp.commands().size(), commands);
        }
        nntp.send(1, "430 no\r\n430 no\r\n");
        QVERIFY(check.waitForEnd());
        QTRY_COMPARE(nntp.commands().size(), 14);
        COMPARE_GOLDEN("check-pipelined-bursts.txt", (check.log + nntp.commands() << check.row(1)).join(u'\n').toUtf8());
    }

    // The pool hands out no connection that waited too long: servers drop idle ones unheard.
    void poolLetsStaleConnectionsGo()
    {
        ScriptedNntpServer nntp;
        ConnectionPool pool(std::chrono::milliseconds(300));
        for (const int wait : {0, 0, 600}) {
            QTest::qWait(wait);
            Check check({{1, ids(1)}}, {server(nntp.port())});
            check.run.setConnectionPool(&pool);
            check.run.start();
            QVERIFY(check.waitForEnd());
        }
        QTRY_COMPARE(nntp.commands().join(u'|'), QStringLiteral("1> STAT <m1@x>|1> STAT <m1@x>|1> QUIT|2> STAT <m1@x>"));
    }

    // The client holds at most one line's worth and one read of it, then closes the connection.
    void holdsOneLineOfAnEndlessOne()
    {
        const Outcome outcome = runDialogue({{{.rules = {"STAT=" + QByteArray(16 << 20, 'x') + '~'}}, {}}});
        const QString logged = outcome.log.value(1);
        QVERIFY(logged.size() > ReplyReader::kLongestLine && logged.size() <= ReplyReader::kLongestLine + 16384);
        QCOMPARE(logged.count(u'x'), logged.size());
        QVERIFY(outcome.transcript.endsWith("== finished 1, left missing 0\nAvailable 3/3\n"));
    }
};

QTEST_GUILESS_MAIN(TestConnections)
#include "tst_connections.moc"
