// Servers that break the protocol: replies no command is owed, resets at every stage, floods,
// NUL and control bytes, lines without end (golden transcripts).

#include "CheckHarness.h"

#include "check/ReplyReader.h"

using namespace Qt::StringLiterals;

class TestHostileServers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void dialogue_data()
    {
        QTest::addColumn<Dialogue>("d");
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

QTEST_GUILESS_MAIN(TestHostileServers)
#include "tst_hostileservers.moc"
