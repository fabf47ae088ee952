// The check run: results, whole dialogues with scripted servers (golden transcripts), and the
// steps a test drives by hand: the queue shared between connections, and cancel.

#include "CheckHarness.h"
#include "Par2Bytes.h"

#include "check/CheckResults.h"

class TestCheckRun : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void settlesRowsPerPass()
    {
        auto nzb = makeNzb({{3, ids(3)}});
        QVERIFY(results::MarkChecking(*nzb, 1));
        QVERIFY(!results::MarkChecking(*nzb, 1)); // already Checking: the row is not shown again
        results::RecordFound(*nzb, 1);
        results::RecordNotFound(*nzb, 1);
        QCOMPARE(nzb->item(1).status, ItemStatus::Checking);
        results::RecordFound(*nzb, 1);
        QCOMPARE(nzb->item(1).available, QStringLiteral("2"));
        QVERIFY(results::MarkChecking(*nzb, 1)); // the next pass asks the one missing entry
        results::RecordFound(*nzb, 1);
        QCOMPARE(nzb->item(1).status, ItemStatus::Available);
        results::ResetRowsToQueued(*nzb);
        QCOMPARE(nzb->item(1).status, ItemStatus::Queued);
        QCOMPARE(nzb->item(1).available, QStringLiteral("0"));
    }

    void writesTheReport_data()
    {
        QTest::addColumn<FileSpec>("file");
        QTest::addColumn<int>("found");
        QTest::addColumn<QString>("lines");
        QTest::newRow("10 announced, 9 found") << FileSpec{10, ids(9)} << 9 << "Parts checked: 9|Undownloadable parts: 1|10% of the data can't be downloaded!|";
        QTest::newRow("1 of 3") << FileSpec{3, ids(3)} << 2 << "Parts checked: 3|Undownloadable parts: 1|33,33% of the data can't be downloaded!|";
        QTest::newRow("1 of 8") << FileSpec{8, ids(8)} << 7 << "Parts checked: 8|Undownloadable parts: 1|12,5% of the data can't be downloaded!|";
        QTest::newRow("all there") << FileSpec{4, ids(4)} << 4 << "Parts checked: 4|Undownloadable parts: 0|All OK!|";
        QTest::newRow("more listed than announced") << FileSpec{2, ids(3)} << 3 << "Parts checked: 3|Undownloadable parts: -1|-50% of the data can't be downloaded!|";
        // Nothing announced: the share would divide by zero and is left out.
        QTest::newRow("no counter") << FileSpec{0, ids(2)} << 2 << "Parts checked: 2|Undownloadable parts: -2|";
    }

    void writesTheReport()
    {
        QFETCH(FileSpec, file);
        QFETCH(int, found);
        auto nzb = makeNzb({file});
        for (int i = 0; i < file.messageIds.size(); ++i)
            i < found ? results::RecordFound(*nzb, 1) : results::RecordNotFound(*nzb, 1);
        QTEST(results::WriteSummary(*nzb, u',').join(u'|'), "lines");
    }

    void dialogue_data()
    {
        QTest::addColumn<Dialogue>("d");
        const QList<QByteArray> group{"GROUP alt.test=211 2 1 2 alt.test", "STAT#1=412 no newsgroup selected"};
        QTest::newRow("user and password") << Dialogue{{{.rules = QList<QByteArray>{"AUTHINFO user alice=381 password please",
                                                        "AUTHINFO pass s3cret:x=281 welcome"} + group, .login = "alice:s3cret:x"}}, {{2, ids(2)}}};
        QTest::newRow("user name alone") << Dialogue{{{.rules = QList<QByteArray>{"AUTHINFO user alice=281 welcome"} + group, .login = "alice:s3cret:x"}}, {{2, ids(2)}}};
        // A group that NNTP cannot carry is never sent: the server that asks for one is given up.
        for (const QByteArray &g : {QByteArray("alt.test&#13;&#10;POST"), QByteArray("alt test"), QByteArray(), QByteArray(498, 'g'), QByteArray(497, 'g')})
            QTest::newRow(qPrintable("group of " + QByteArray::number(g.size()) + " bytes " + g.left(8)))
                << Dialogue{{{.rules = {"GROUP=211 2 1 2 g", "STAT#1=412 no newsgroup selected"}}, {}}, {{2, ids(2)}}, g};
        // Connect failures from inside connectToHost(): no connection of that server joins the next
        // server's pass, so the backup's login goes to its own host alone.
        QTest::newRow("connect fails at once") << Dialogue{{{.connections = 10, .at = "255.255.255.255:119"},
                                                            {.rules = {"AUTHINFO user=381 more", "AUTHINFO pass=281 in"}, .connections = 2, .login = "second:pw"}}, {{4, ids(4)}}};
        QTest::newRow("a drop after the queue ran dry") << Dialogue{{{.rules = {"2>STAT@200=!close"}, .connections = 2}}};
        QTest::newRow("the next server asks what the first lacked") << Dialogue{{{.rules = {"STAT <a2@x>=430 no", "STAT <b1@x>=430 no"}, .connections = 4},
                                                                                  {.connections = 10}}, {{3, ids(3, "a")}, {2, ids(2, "b")}}, "alt.test", {}, 1, true};
        QTest::newRow("every reply byte by byte") << Dialogue{{{.chunk = 1}}, {{0, ids(2)}}};
        // The extra line closes the connection; the article it might have answered is asked again.
        QTest::newRow("a line beyond what is owed") << Dialogue{{{.rules = {"hello=200 hi\n223 0 <m1@x>"}, .connections = 2}}, {{2, ids(2)}}};
        // Each failure costs its connection; an article that fails twice is missing on that server.
        QTest::newRow("failures cost their connections") << Dialogue{{{.rules = {"STAT <bad@x>#2=503 timeout", "STAT <gone@x>=!close"}, .connections = 10}, {}},
                                                                     {{42, QList<QByteArray>{"bad@x", "gone@x"} + ids(40, "ok")}}, "alt.test", {}, 1, true};
        // "480 " and "482 " give the server up; anything else costs its connection, and the one new
        // connection the server gets ends alike. What it found stays found; the rest goes on.
        for (const QByteArray refusal : {"480 authentication required", "482 rejected", "481 bad password", "!reset"}) {
            for (const bool backup : {true, false}) {
                std::vector<Srv> servers{{.rules = {"STAT <a1@x>=430 no", "STAT <a4@x>=" + refusal, "STAT <b=" + refusal}}};
                if (backup)
                    servers.push_back({});
                QTest::newRow(qPrintable(refusal.left(3) + (backup ? " then a backup" : " alone"))) << Dialogue{servers, {{4, ids(4, "a"), "a.rar"}, {2, ids(2, "b"), "b.rar"}}};
            }
        }
        const QList<QByteArray> unsafe{"two words@x", "in&#13;jected@x", "a&gt;b@x", QByteArray(249, 'l'), "tab&#9;@x", "\xC3\xA9@x"};
        QTest::newRow("unsafe message-IDs") << Dialogue{{{}, {}}, {{9, QList<QByteArray>{"fine@x", QByteArray(248, 'l')} + unsafe + QList<QByteArray>{"last@x"}}}};
        // Servers whose STAT says "430 " for articles they have: up to three of its "430 "s are asked
        // with HEAD, and with BODY when HEAD finds one; a body shows STAT is wrong, and what it lacked
        // is asked again with HEAD. Headers without a body change nothing.
        const QByteArray head = "HEAD=221 0 $\nPath: x\n.", body = "BODY=222 0 $\nbody\n.";
        QTest::newRow("STAT wrong for some") << Dialogue{{{.rules = {"STAT <m2@x>=430 no", "STAT <m5@x>=430 no", "STAT <m6@x>=430 no", head, body}}}, {{6, ids(6)}}};
        QTest::newRow("STAT wrong for all") << Dialogue{{{.rules = {"STAT=430 no", head, body}, .connections = 2}, {}}, {{4, ids(4)}}, "alt.test", {}, 1, true};
        QTest::newRow("STAT wrong after the first hundred") << Dialogue{{{.rules = {"STAT <b=430 no", head, body}, .depth = 8}}, {{100, ids(100, "a")}, {50, ids(50, "b")}}};
        QTest::newRow("a cross-check ended by 205") << Dialogue{{{.rules = {"STAT <m2@x>=430 no", "HEAD=205 bye"}, .connections = 2}, {}}, {{6, ids(6)}}};
        QTest::newRow("STAT right, HEAD keeps headers of gone bodies") << Dialogue{{{.rules = {"STAT <m2@x>=430 no", head, "BODY=430 no"}}, {}}, {{3, ids(3)}}};
        // Servers whose STAT says "223 " for bodies they lack: the sampled bodies show it; a later
        // server that has the body whole keeps the article, else it is gone.
        const QByteArray yenc = "222 0 $\n=ybegin line=128 size=3 name=x\n\x8b\x8c\x8d\n=yend size=3 crc32=352441c2\n.";
        const QList<FileSpec> two{{2, ids(2, "a"), "a.rar"}, {2, ids(2, "b"), "b.rar"}};
        QTest::newRow("sample: bodies whole") << Dialogue{{{.rules = {"BODY=" + yenc}}}, two, "alt.test", {}, 1, false, 3};
        QTest::newRow("sample: a body refused") << Dialogue{{{.rules = {"BODY <b1@x>=430 no", "BODY=" + yenc}}}, two, "alt.test", {}, 1, false, 3};
        QTest::newRow("sample: a CRC wrong, a later server whole") << Dialogue{{{.rules = {"BODY <b1@x>=" + QByteArray(yenc).replace("352441c2", "1"), "BODY=" + yenc}},
                                                                               {.rules = {"BODY=" + yenc}}}, two, "alt.test", {}, 1, false, 2};
        QTest::newRow("sample: cut short, a later server lacks it") << Dialogue{{{.rules = {"BODY <a1@x>=222 0 $\n=ybegin line=128 size=3 name=x\n\x8b\n."}},
                                                                                 {.rules = {"STAT=430 no"}}}, two, "alt.test", {}, 1, false, 1};
        // Only the set with articles from the server whose body failed is in doubt.
        QTest::newRow("sample: one set in doubt") << Dialogue{{{.rules = {"STAT <p=430 no"}}, {.rules = {"BODY=" + yenc}}},
                                                              {{1, {"pi@x"}, "p.par2"}, {1, {"pa@x"}, "p.bin"}, {1, {"qi@x"}, "q.par2"}, {1, {"qb@x"}, "q.bin"}},
                                                              "alt.test", {}, 1, false, 4};
        QTest::newRow("sample: 223 No such article") << Dialogue{{{.rules = {"STAT=223 No such article", "BODY=430 no such article"}}}, two, "alt.test", {}, 1, false, 2};
        // A server that asks for the group it has just selected would be asked for ever.
        QTest::newRow("a newsgroup asked for again") << Dialogue{{{.rules = {"GROUP=211 2 1 2 alt.test", "STAT=412 no newsgroup selected"}}, {}}, {{2, ids(2)}}};
        QTest::newRow("port out of range") << Dialogue{{{.at = "127.0.0.1:70000"}, {}}, {{1, ids(1)}}};
        QTest::newRow("connection refused") << Dialogue{{{.at = "127.0.0.1:closed"}}, {{1, ids(1)}}};
        QTest::newRow("unresolvable") << Dialogue{{{.at = "bad..name:119"}}, {{1, ids(1)}}};
        QTest::newRow("nothing to ask") << Dialogue{{Srv{}}, {{3, {}}}};
        // What the repair verdict reads can fail in every way an answer can; the verdict is then estimated.
        const QList<FileSpec> post{{1, {"i@x"}, "s.par2"}, {2, {"d1@x", "d2@x"}, "s.rar"}, {1, {"v@x"}, "s.vol0+1.par2"}};
        const QByteArray huge = "222 0\n" + (QByteArray(1000, 'k') + '\n').repeated(17 * 1024) + '.';
        for (const QByteArray &body : {QByteArray("430 no such article"), QByteArray(), QByteArray("!reset"), QByteArray("222 0\nno yEnc\n."),
                                       QByteArray("222 0\n=ybegin line=128 size=3 name=s.par2\nkkk\n=yend size=3 crc32=1\n."), huge})
            QTest::newRow(qPrintable("par2 index read: " + body.left(24))) << Dialogue{{{.rules = {"STAT <d2@x>=430 no", "BODY=" + body}}}, post};
        QTest::newRow("par2 index read: a newsgroup asked for again") << Dialogue{{{.rules = {"STAT <d2@x>=430 no", "GROUP=211 1 1 1 alt.test", "BODY=412 no group"}}}, post};
        QTest::newRow("par2 index read: a group NNTP cannot carry") << Dialogue{{{.rules = {"STAT <d2@x>=430 no", "BODY=412 no group"}}}, post, "alt.test&#13;&#10;POST"};
        // An index whose file needs 2^38 blocks of 4 bytes is unreadable, and its volume left unread.
        const QByteArray index = yencReply("s.par2", par2Index(4, 1LL << 40));
        QTest::newRow("par2 index read: 2^38 source blocks") << Dialogue{{{.rules = {"STAT <d2@x>=430 no", "BODY <i@x>=" + index}}}, post};
        // Ten article sizes, 1,000 bytes to 256 MiB: the size most files share is read free (the
        // largest, on a tie), the others while 8 articles and 16 MiB last.
        QList<FileSpec> sizes{{1, {"i@x"}, "s.par2"}, {1, {"v@x"}, "s.vol0+1.par2"}};
        for (int k = 0; k < 10; ++k)
            sizes.append({2, ids(2, "d" + QByteArray::number(k) + "p"), "s.d" + QByteArray::number(k), 1000LL << (2 * k)});
        // Part 2 claiming to begin at byte 1 tells no article size.
        const QByteArray atStart = "222 0\n=ybegin part=2 total=2 line=128 size=6 name=s.rar\n=ypart begin=1 end=3\n" + yencEncoded("abc") + "\n=yend size=3 part=2\n.";
        const QList<FileSpec> sized{{1, {"i@x"}, "s.par2", 100}, {2, {"d1@x", "d2@x"}, "s.rar", 1000}, {1, {"v@x"}, "s.vol0+1.par2", 1100}};
        QTest::newRow("an article size of 0 claimed") << Dialogue{{{.rules = {"STAT <d1@x>=430 no", "BODY <d2@x>=" + atStart, "BODY=430 no"}}}, sized};
        QTest::newRow("article sizes read within the budget") << Dialogue{{{.rules = {"STAT <d0p2@x>=430 no", "BODY=430 no"}}}, sizes};
    }
    void dialogue() { QFETCH(Dialogue, d); COMPARE_GOLDEN(goldenName(), runDialogue(d).transcript); }

    // Three entries, two connections: the first greeted asks entry 1, the other entry 2; the first
    // answer asks entry 3; the next answer finds the queue used up; the third ends the pass.
    void sharesTheQueueAmongConnections()
    {
        ScriptedNntpServer nntp;
        nntp.autoGreet = false;
        nntp.respond = nullptr;
        Check check({{3, ids(3)}}, {server(nntp.port(), 2)});
        check.run.start();
        QTRY_COMPARE(nntp.connectionCount(), 2);
        const std::tuple<int, const char *, int> steps[] = {{2, "201 no posting", 1}, {1, "200 hello", 2}, {1, "223 0 <m2@x>", 3}, {2, "430 no", 4}, {2, "430 no", 4}}; // the second answers the HEAD that cross-checks the first
        for (const auto &[connection, reply, commands] : steps) {
            nntp.send(connection, QByteArray(reply) + "\r\n");
            QTRY_COMPARE(nntp.commands().size(), commands);
            QTest::qWait(20);
        }
        QCOMPARE(check.run.captionPosition(), 3);
        QCOMPARE(check.row(1), QStringLiteral("Checking 0/2")); // nothing left to ask: it waits, without QUIT, for the pass to end
        nntp.send(1, "223 0 <m3@x>\r\n");
        QVERIFY(check.waitForEnd());
        QTRY_COMPARE(nntp.commands().size(), 6);
        COMPARE_GOLDEN("check-shares-the-queue.txt", (check.log + nntp.commands() << check.row(1)).join(u'\n').toUtf8());
    }

    void cancelLeavesNothingBehind()
    {
        ScriptedNntpServer nntp, first, silent;
        nntp.autoGreet = false;
        nntp.respond = nullptr;
        Check check({{2, ids(2)}}, {server(nntp.port(), 2)});
        check.run.start();
        check.run.cancel(); // while connecting
        QVERIFY(!check.run.isRunning());
        check.run.start();
        QTRY_COMPARE(nntp.connectionCount(), 4);
        nntp.send(3, "200 hi\r\n");
        QTRY_COMPARE(nntp.commands().size(), 1);
        check.run.cancel(); // while asking: the connections close, and what comes later is not handled
        QCOMPARE(check.row(1), QStringLiteral("Queued 0/0"));
        for (int connection = 1; connection <= 4; ++connection) {
            QTRY_VERIFY(!nntp.isConnected(connection));
            nntp.send(connection, "200 hi\r\n223 0 <m1@x>\r\n");
        }
        QTest::qWait(50);
        QCOMPARE(nntp.commands().size(), 1);
        QCOMPARE(check.log.size(), 2); // the two "Initializing" lines
        QCOMPARE(check.finishedCount, 0);

        // A new check after a cancel in a later pass asks the whole NZB again, not what that pass had left.
        first.script({"STAT <m1@x>=430 no"});
        silent.respond = nullptr;
        Check later({{2, ids(2)}}, {server(first.port()), server(silent.port(), 1, QStringLiteral("silent"))});
        later.run.start();
        QTRY_COMPARE(silent.connectionCount(), 1);
        later.run.cancel();
        later.run.start();
        QTRY_COMPARE(first.commands().filter(QStringLiteral("STAT <m2@x>")).size(), 2);
        later.run.cancel();
        nntp.autoGreet = true;
        nntp.respond = [](int, const QByteArray &command) { return ScriptedNntpServer::standardReply(command); };
        check.run.start();
        QVERIFY(check.waitForEnd());
        QCOMPARE(check.row(1), QStringLiteral("Available 2/2"));

        // Cancel while the repair verdict reads the par2 index: the check ends there, silently.
        ScriptedNntpServer par2;
        par2.script({"STAT <d@x>=430 no", "BODY="});
        Check reading({{1, {"i@x"}, "s.par2"}, {1, {"d@x"}, "s.rar"}}, {server(par2.port())});
        reading.run.start();
        QTRY_COMPARE(par2.commands().filter(QStringLiteral("BODY")).size(), 1);
        reading.run.cancel();
        QVERIFY(!reading.run.isRunning());
        QTRY_VERIFY(!par2.isConnected(2));
        QTest::qWait(50);
        QCOMPARE(reading.finishedCount, 0);
        QCOMPARE(reading.row(2), QStringLiteral("Queued 0/0"));
    }

    void clampsHandEditedValues()
    {
        const auto record = [](const char *port, const char *threads) {
            const CheckServer s = CheckServer::fromRecord({{}, {}, QLatin1String(port), QLatin1String(threads), {}, QStringLiteral("K01pw"), true});
            return QStringLiteral("%1 %2 %3").arg(s.port).arg(s.connections).arg(s.password);
        };
        QCOMPARE(QStringList({record("119", "0"), record("119", "many"), record("563", "25"), record("70000", "4"), record("0", "")}),
                 QStringList({"119 1 pw", "119 1 pw", "563 10 pw", "0 4 pw", "0 1 pw"}));
    }
};

QTEST_GUILESS_MAIN(TestCheckRun)
#include "tst_checkrun.moc"
