// orvalis-check end to end: its output is a contract for scripts.

#include "GzipBytes.h"
#include "ScriptedNntpServer.h"
#include "TestFiles.h"

#include "settings/SettingsFile.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runTool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(ORVALIS_CHECK_PATH), arguments);
    // The event loop runs meanwhile: a test's own NNTP server answers the tool.
    if (!QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 60000))
        process.kill();
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

const QString kSample = QStringLiteral(ORVALIS_TEST_DATA "/sample.nzb");
const QString kNow = QStringLiteral("2026-12-07T12:00:00");

} // namespace

class TestCheckTool : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void dumpsSummaryItemsAndQueue();
    void namesOnlyAndTrimmedPath();
    void writesFieldsOnOneLine();
    void reportsParseErrorsAndFailures();
    void rejectsBadUsage_data();
    void rejectsBadUsage();
    void dumpsCorpusFiles();
    void dumpsCompressedNzbs();
    void checksWithTheGivenServers();
    void checksWithTheTickedServersOfASettingsFile();
    void takesTheTimeoutFromSettingsUnlessGiven();
};

void TestCheckTool::dumpsSummaryItemsAndQueue()
{
    const Run run = runTool({QStringLiteral("--dump"), QStringLiteral("--now"), kNow, kSample});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QByteArray("NZB file: " + kSample.toUtf8() + "\n"
                                 "Files found: 3\n"
                                 "Message-ID's required: 6\n"
                                 "Message-ID's found: 5\n"
                                 "Message-ID's missing from the NZB: 1 (16.67%)\n"
                                 "The files were posted 1119 day(s) ago.\n"
                                 "----------------------------------------------------------------\n"
                                 "\n"
                                 "Group: alt.binaries.pictures\n"
                                 "1\t[1/3] - \"holiday.part1.rar\" yEnc\t3/3\n"
                                 "2\t[2/3] - \"holiday.part2.rar\" yEnc\t1/2\n"
                                 "3\t[3/3] - \"holiday.par2\" yEnc\t1/1\n"
                                 "1*****part1of3.holiday@example.invalid\n"
                                 "1*****part2of3.holiday@example.invalid\n"
                                 "1*****part3of3.holiday@example.invalid\n"
                                 "2*****part1of2.holiday2@example.invalid\n"
                                 "3*****par2.holiday@example.invalid\n"));
    QCOMPARE(run.err, QByteArray("NZB successfully loaded, but 1 of the required Message-ID's is/are missing from the NZB file. \n"
                                 "\n"
                                 "This means that at least 16.67% of the data can't be downloaded with this NZB file. \n"
                                 "The data wasn't fully uploaded, the poster is still busy with uploading or the NZB file \n"
                                 "is damaged.\n"));
}

void TestCheckTool::namesOnlyAndTrimmedPath()
{
    const Run run = runTool({QStringLiteral("--dump"), QStringLiteral("--names-only"), QStringLiteral("--now"), kNow,
                             QStringLiteral("  ") + kSample + QStringLiteral("  ")});
    QCOMPARE(run.exitCode, 0);
    const QList<QByteArray> lines = run.out.split('\n');
    QCOMPARE(lines[0], "NZB file: " + kSample.toUtf8());
    QCOMPARE(lines[9], QByteArray("1\tholiday.part1.rar\t3/3"));
    QCOMPARE(lines[11], QByteArray("3\tholiday.par2\t1/1"));
}

void TestCheckTool::writesFieldsOnOneLine()
{
    QTemporaryDir dir;
    const QString path = writeTestFile(dir, QStringLiteral("tabs.nzb"),
                                   "<nzb><file subject=\"a&#9;b&#10;c&#13;d&#27;[2J \xC3\xA9 (1/1)\" date=\"86400\">"
                                   "<groups><group>alt.x</group></groups>"
                                   "<segments><segment>id@x</segment></segments></file></nzb>");
    const Run run = runTool({QStringLiteral("--dump"), QStringLiteral("--now"), QStringLiteral("1970-01-03T00:00:00"), path});
    QCOMPARE(run.exitCode, 0);
    const QList<QByteArray> lines = run.out.split('\n');
    QCOMPARE(lines[5], QByteArray("The files were posted 1 day(s) ago."));
    QCOMPARE(lines[9], QByteArray("1\ta b c d [2J \xC3\xA9\t1/1"));
    QCOMPARE(lines[10], QByteArray("1*****id@x"));
    QCOMPARE(run.err, QByteArray());
}

void TestCheckTool::reportsParseErrorsAndFailures()
{
    QTemporaryDir dir;
    const Run parse = runTool({QStringLiteral("--dump"), writeTestFile(dir, QStringLiteral("bad.nzb"), "<nzb>\n<file>\n</nzb>\n")});
    QCOMPARE(parse.exitCode, 2);
    QCOMPARE(parse.out, QByteArray());
    QCOMPARE(parse.err, QByteArray("Error number: 14\n"
                                   "Error line: 3\n"
                                   "Error reason: Start-end tags mismatch\n"
                                   "Something is wrong with this NZB file and it can not be parsed.\n"
                                   "Make sure you import a valid NZB/xml file.\n"));

    const Run missing = runTool({QStringLiteral("--dump"), dir.filePath(QStringLiteral("none.nzb"))});
    QCOMPARE(missing.exitCode, 3);
    QCOMPARE(missing.err, QByteArray("Error loading NZB: 53 - File not found\n"));

    const Run empty = runTool({QStringLiteral("--dump"), writeTestFile(dir, QStringLiteral("nofiles.nzb"), "<nzb/>")});
    QCOMPARE(empty.exitCode, 3);
    QCOMPARE(empty.err, QByteArray("Error loading NZB: 1001 - The NZB file lists no files.\n"));

    // Refused by its size before a byte of it is read (the file is sparse).
    QFile huge(dir.filePath(QStringLiteral("huge.nzb")));
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize((qint64(1) << 30) + 1));
    huge.close();
    const Run tooLarge = runTool({QStringLiteral("--dump"), huge.fileName()});
    QCOMPARE(tooLarge.exitCode, 3);
    QCOMPARE(tooLarge.err, QByteArray("Error loading NZB: 1004 - The NZB file is too large: it is over 1024 MiB\n"));
}

void TestCheckTool::dumpsCompressedNzbs()
{
    QFile sample(kSample);
    QVERIFY(sample.open(QIODevice::ReadOnly));
    const QByteArray packedBytes = gzipped(sample.readAll());
    QTemporaryDir dir;
    const QString packed = writeTestFile(dir, QStringLiteral("sample.nzb.gz"), packedBytes);

    const Run plainRun = runTool({QStringLiteral("--dump"), QStringLiteral("--now"), kNow, kSample});
    const Run packedRun = runTool({QStringLiteral("--dump"), QStringLiteral("--now"), kNow, packed});
    QCOMPARE(packedRun.exitCode, 0);
    QCOMPARE(packedRun.out, QByteArray(plainRun.out).replace(kSample.toUtf8(), packed.toUtf8()));
    QCOMPARE(packedRun.err, plainRun.err);

    QByteArray badCrc = packedBytes;
    badCrc[badCrc.size() - 8] = char(badCrc[badCrc.size() - 8] ^ 0xff);
    const Run damaged = runTool({QStringLiteral("--dump"), writeTestFile(dir, QStringLiteral("bad.nzb.gz"), badCrc)});
    QCOMPARE(damaged.exitCode, 3);
    QCOMPARE(damaged.out, QByteArray());
    QCOMPARE(damaged.err, QByteArray("Error loading NZB: 1003 - The file is not a valid gzip file: incorrect data check\n"));
}

void TestCheckTool::rejectsBadUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing") << QStringList();
    QTest::newRow("no file") << QStringList{QStringLiteral("--dump")};
    QTest::newRow("two files") << QStringList{QStringLiteral("--dump"), kSample, kSample};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--dump"), QStringLiteral("--fast"), kSample};
    QTest::newRow("bad --now") << QStringList{QStringLiteral("--dump"), QStringLiteral("--now"), QStringLiteral("yesterday"), kSample};
    QTest::newRow("--now without seconds") << QStringList{QStringLiteral("--dump"), QStringLiteral("--now"),
                                                          QStringLiteral("2026-12-07T12:00"), kSample};
    for (const char *depth : {"0", "101", "x", "+4", ""})
        QTest::newRow(qPrintable(QStringLiteral("--pipeline \"%1\"").arg(QLatin1String(depth))))
            << QStringList{QStringLiteral("--pipeline"), QLatin1String(depth), kSample};
    for (const char *seconds : {"-1", "1s", "2000001", ""})
        QTest::newRow(qPrintable(QStringLiteral("--timeout \"%1\"").arg(QLatin1String(seconds))))
            << QStringList{QStringLiteral("--timeout"), QLatin1String(seconds), kSample};
    QTest::newRow("--ca-file without certificates") << QStringList{QStringLiteral("--ca-file"), kSample, kSample};
}

void TestCheckTool::rejectsBadUsage()
{
    QFETCH(QStringList, arguments);
    const Run run = runTool(arguments);
    QCOMPARE(run.exitCode, 64);
    QCOMPARE(run.out, QByteArray());
    QVERIFY(run.err.startsWith("orvalis-check: "));
}

void TestCheckTool::dumpsCorpusFiles()
{
    const QDir corpus(QStringLiteral(ORVALIS_CORPUS_DIR));
    if (!corpus.exists(QStringLiteral("ravencentric-nzb--spec_example.nzb")))
        QSKIP("The corpus of real NZB files is not present.");

    // The NZB format's own example, read by hand: 2 segments listed of 2 announced, posted 2003-12-17.
    const QString example = corpus.filePath(QStringLiteral("ravencentric-nzb--spec_example.nzb"));
    const Run run = runTool({QStringLiteral("--dump"), QStringLiteral("--now"), QStringLiteral("2003-12-18T00:00:00"), example});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QByteArray("NZB file: " + example.toUtf8() + "\n"
                                 "Files found: 1\n"
                                 "Message-ID's required: 2\n"
                                 "Message-ID's found: 2\n"
                                 "Message-ID's missing from the NZB: 0 (0%)\n"
                                 "The files were posted 1 day(s) ago.\n"
                                 "----------------------------------------------------------------\n"
                                 "\n"
                                 "Group: alt.binaries.newzbin\n"
                                 "1\tHere's your file!  abc-mr2a.r01\t2/2\n"
                                 "1*****123456789abcdef@news.newzbin.com\n"
                                 "1*****987654321fedbca@news.newzbin.com\n"));
    QCOMPARE(run.err, QByteArray());

    // Subjects whose quotes are written as &#34;, and one whose &amp;quot; is not a quote at all.
    const Run encode = runTool({QStringLiteral("--dump"), QStringLiteral("--names-only"), QStringLiteral("--now"), kNow,
                                corpus.filePath(QStringLiteral("rclone-usenet--encode.nzb"))});
    QCOMPARE(encode.exitCode, 0);
    const QList<QByteArray> lines = encode.out.split('\n');
    QCOMPARE(lines[4], QByteArray("Message-ID's missing from the NZB: 64 (95.52%)"));
    QCOMPARE(lines[9], QByteArray("1\tubuntu-mate-16.04.2-desktop-amd64.iso.part01.rar\t2/66"));
    QCOMPARE(lines[10], QByteArray("2\t&quot;ubuntu-mate-16.04.2-desktop-amd64.iso.par2&quot;\t1/1"));
}

void TestCheckTool::checksWithTheGivenServers()
{
    ScriptedNntpServer nntp;
    nntp.respond = [](int, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command == "STAT <part3of3.holiday@example.invalid>")
            return {"430 no such article\r\n"};
        return ScriptedNntpServer::standardReply(command);
    };
    const QString name = QStringLiteral("127.0.0.1:%1").arg(nntp.port());
    const QByteArray loadLines = runTool({QStringLiteral("--dump"), QStringLiteral("--now"), kNow, kSample}).out.split('\n').mid(0, 8).join('\n');
    const Run run = runTool({QStringLiteral("--now"), kNow, QStringLiteral("--files"), QStringLiteral("--server"), name, kSample});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.err.startsWith("NZB successfully loaded, but 1 of the required")); // the sample lacks a part
    const QByteArray expected = loadLines + "\nInitializing newsserver: " + name.toLatin1()
                                + "\nArticle not found: part3of3.holiday@example.invalid\n"
                                  "Terminating newsserver: " + name.toLatin1() + "\n" + QByteArray(64, '-') + "\n\n"
                                  "Parts checked: 5\nUndownloadable parts: 2\n33.33% of the data can't be downloaded!\n\n"
                                  "1\tMissing (partially)\t2\t3/3\n2\tMissing (partially)\t1\t1/2\n3\tAvailable\t1\t1/1\n";
    QCOMPARE(run.out, expected);

    // A second server that has the article leaves nothing missing but the parts never posted.
    ScriptedNntpServer backup;
    backup.respond = [](int, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command.startsWith("AUTHINFO user "))
            return {"381 more\r\n"};
        if (command.startsWith("AUTHINFO pass "))
            return {"281 in\r\n"};
        return ScriptedNntpServer::standardReply(command);
    };
    const Run both = runTool({QStringLiteral("--server"), name + QStringLiteral(":10"), QStringLiteral("--server"),
                              QStringLiteral("[::1]:1:1"), QStringLiteral("--server"),
                              QStringLiteral("127.0.0.1:%1:1:user:pass:word").arg(backup.port()), kSample});
    QCOMPARE(both.exitCode, 1); // the second file announces two parts and lists one
    QVERIFY(both.out.contains("Initializing newsserver: [::1]:1\n"));
    QVERIFY(both.out.contains("\nServer error: 0 - Connection refused\n"));
    QVERIFY(both.out.endsWith("Parts checked: 5\nUndownloadable parts: 1\n16.67% of the data can't be downloaded!\n\n"));
    QCOMPARE(backup.commands().mid(0, 2), (QStringList{QStringLiteral("1> AUTHINFO user user"), QStringLiteral("1> AUTHINFO pass pass:word")}));

    for (const char *bad : {"localhost", "localhost:0", "localhost:119:11", "localhost:http", ":119"}) {
        const Run usage = runTool({QStringLiteral("--server"), QLatin1String(bad), kSample});
        QCOMPARE(usage.exitCode, 64);
    }
}

void TestCheckTool::checksWithTheTickedServersOfASettingsFile()
{
    ScriptedNntpServer ticked, unticked;
    SettingsContents contents;
    contents.servers = {{QStringLiteral("off"), QStringLiteral("127.0.0.1"), QString::number(unticked.port()), QStringLiteral("1"),
                         QString(), QStringLiteral("K01"), false},
                        {QStringLiteral("on"), QStringLiteral("127.0.0.1"), QString::number(ticked.port()), QStringLiteral("2"),
                         QString(), QStringLiteral("K02"), true}};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Settings.dat"));
    QVERIFY(!SaveSettingsFile(path, contents));
    const QString nzb = writeTestFile(dir, QStringLiteral("all.nzb"),
                                      "<nzb><file subject='a (1/2)'><segments><segment>a@x</segment><segment>b@x</segment>"
                                      "</segments></file></nzb>");
    const Run run = runTool({QStringLiteral("--settings"), path, nzb});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.contains("Initializing newsserver: on\n"));
    QVERIFY(run.out.endsWith("Parts checked: 2\nUndownloadable parts: 0\nAll OK!\n\n"));
    QCOMPARE(unticked.connectionCount(), 0);
    QCOMPARE(ticked.connectionCount(), 2);

    contents.servers[1].checked = false;
    QVERIFY(!SaveSettingsFile(path, contents));
    const Run none = runTool({QStringLiteral("--settings"), path, nzb});
    QCOMPARE(none.exitCode, 4);
    QCOMPARE(none.out, QByteArray());
    QCOMPARE(runTool({QStringLiteral("--settings"), dir.filePath(QStringLiteral("missing.dat")), nzb}).exitCode, 4);
}

void TestCheckTool::takesTheTimeoutFromSettingsUnlessGiven()
{
    ScriptedNntpServer silent;
    silent.respond = nullptr;
    SettingsContents contents;
    contents.servers = {{QStringLiteral("silent"), QStringLiteral("127.0.0.1"), QString::number(silent.port()), QStringLiteral("1"),
                         QString(), QStringLiteral("K01"), true}};
    contents.timeoutSeconds = 1;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Settings.dat"));
    QVERIFY(!SaveSettingsFile(path, contents));
    const Run fromSettings = runTool({QStringLiteral("--settings"), path, kSample});
    QCOMPARE(fromSettings.exitCode, 1);
    QVERIFY2(fromSettings.out.contains("\nServer error: 5 - The server sent nothing for 1 second.\n"), fromSettings.out.constData());
    const Run given = runTool({QStringLiteral("--timeout"), QStringLiteral("2"), QStringLiteral("--settings"), path, kSample});
    QVERIFY2(given.out.contains("\nServer error: 5 - The server sent nothing for 2 seconds.\n"), given.out.constData());
}

QTEST_GUILESS_MAIN(TestCheckTool)
#include "tst_checktool.moc"
