// orvalis-check end to end: its output is a contract for scripts. Each run's exit code, standard
// output and standard error are compared with a golden file, paths and ports as placeholders.

#include "GzipBytes.h"
#include "ScriptedNntpServer.h"
#include "TestFiles.h"

#include "settings/SettingsFile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString kSample = QStringLiteral(ORVALIS_TEST_DATA "/sample.nzb");

QByteArray runTool(const QStringList &arguments, const QStringList &environment, const QList<std::pair<QString, QString>> &placeholders)
{
    QByteArray text = runCheckTool(arguments, environment);
    for (const auto &[actual, placeholder] : placeholders)
        text.replace(actual.toUtf8(), placeholder.toUtf8());
    return text;
}

SettingsContents settings(const ScriptedNntpServer &off, const ScriptedNntpServer &on, bool ticked, const char *threads)
{
    SettingsContents contents;
    contents.servers = {{"off", "127.0.0.1", QString::number(off.port()), "1", {}, "K01", false},
                        {"on", "127.0.0.1", QString::number(on.port()), threads, {}, "K02", ticked}};
    contents.timeoutSeconds = QByteArray(threads) == "1" ? 1 : 60; // the silent server's rows
    return contents;
}

// SABnzbd's copies of NZBs named Job.nzb under TMP/incomplete, for a row whose file is a
// sabnzbd.ini that names that folder: the job's (five parts of 100 bytes) between an older copy
// of as many bytes and a newer one of fewer, each of two parts.
void layOutSabnzbdJobs(const QTemporaryDir &dir, const QString &ini)
{
    writeTestFile(dir, QStringLiteral("orvalis-prequeue.conf"), "# beside the script\nsabnzbd_ini = " + ini.toUtf8() + '\n');
    const QByteArray job = "<nzb><file subject='\"a&#10;1\" (1/5)'><segments><segment bytes='100'>a1@x</segment><segment bytes='100'>a2@x</segment>"
                           "<segment bytes='100'>a3@x</segment><segment bytes='100'>a4@x</segment><segment bytes='100'>a5@x</segment></segments></file></nzb>";
    const QByteArray other = "<nzb><file subject='\"w\" (1/2)'><segments><segment bytes='SIZE'>w1@x</segment><segment bytes='SIZE'>w2@x</segment></segments></file></nzb>";
    for (const auto &[folder, nzb, age] : {std::tuple("Job", QByteArray(other).replace("SIZE", "250"), 20), std::tuple("Job.1", job, 10),
                                           std::tuple("Job.2", QByteArray(other).replace("SIZE", "200"), 5)}) {
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("incomplete/%1/__ADMIN__").arg(QLatin1String(folder))));
        QFile copy(writeTestFile(dir, QStringLiteral("incomplete/%1/__ADMIN__/Job.nzb.gz").arg(QLatin1String(folder)), gzipped(nzb)));
        QVERIFY(copy.open(QIODevice::ReadWrite) && copy.setFileTime(QDateTime::currentDateTime().addSecs(-age), QFileDevice::FileModificationTime));
    }
}

} // namespace

class TestCheckTool : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void runs_data()
    {
        // FILE: the row's file in a temporary folder TMP, beside a .netrc for user@127.0.0.1 and a copy
        // others can read, open-netrc; COMPLETE an NZB of two parts; PORT1, PORT2: the servers'; NAME=VALUE
        // sets a variable of the tool's environment.
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QList<QByteArray>>("rules"); // of the first scripted server; the second has the standard ones
        const QStringList dump{"--dump", "--now", "2026-12-07T12:00:00"};
        QTest::newRow("dump") << dump + QStringList{kSample} << QByteArray() << QList<QByteArray>();
        QTest::newRow("names only, blanks around the path") << dump + QStringList{"--names-only", "  " + kSample + "  "} << QByteArray() << QList<QByteArray>();
        QTest::newRow("control bytes in a subject") << QStringList{"--dump", "--now", "1970-01-03T00:00:00", "FILE"}
                                                    << QByteArray("<nzb><file subject=\"a&#9;b&#10;c&#13;d&#27;[2J \xC3\xA9 (1/1)\" date=\"86400\"><groups><group>alt.x"
                                                                  "</group></groups><segments><segment>id@x</segment></segments></file></nzb>") << QList<QByteArray>();
        QTest::newRow("parse error") << QStringList{"--dump", "FILE"} << QByteArray("<nzb>\n<file>\n</nzb>\n") << QList<QByteArray>();
        QTest::newRow("no such file") << QStringList{"--dump", "none.nzb"} << QByteArray() << QList<QByteArray>();
        QTest::newRow("too large") << QStringList{"--dump", "FILE"} << QByteArray("huge") << QList<QByteArray>();
        QTest::newRow("gzip") << dump + QStringList{"FILE"} << gzipped(testData(QStringLiteral("sample.nzb"))) << QList<QByteArray>();
        QTest::newRow("one server, with files") << QStringList{"--now", "2026-12-07T12:00:00", "--files", "--server", "127.0.0.1:PORT1", kSample}
                                                << QByteArray() << QList<QByteArray>{"STAT <part3of3.holiday@example.invalid>=430 no such article"};
        // A second server that has the article leaves nothing missing but the parts never posted.
        QTest::newRow("servers in order, one refusing, one logging in") << QStringList{"--now", "2026-12-07T12:00:00", "--server", "127.0.0.1:PORT1:10", "--server", "[::1]:1:1", "--server",
                                                                                       "127.0.0.1:PORT2:1:user:pass:word", kSample}
                                                                        << QByteArray() << QList<QByteArray>{"STAT <part3of3.holiday@example.invalid>=430 no"};
        QTest::newRow("an ignore list of its own, in JSON") << QStringList{"--ignore-ext", "jpg,", "--json", "--server", "127.0.0.1:PORT1", "FILE"}
                                                            << QByteArray("<nzb><file subject='\"c.nfo\" (1/1)'><segments><segment>c@x</segment></segments></file><file subject='\"d.JPG\" (1/1)'>"
                                                                          "<segments><segment>d@x</segment></segments></file></nzb>") << QList<QByteArray>{"STAT <d@x>=430 no"};
        // NZBGet's extension: the job and its servers come from the environment; JSON-RPC on port 1 answers nothing.
        const QStringList added{"NZBNA_EVENT=NZB_ADDED", "NZBNA_NZBID=7", "NZBNA_QUEUEDFILE=FILE", "NZBPR_ORVALIS=paused", "NZBOP_CONTROLPORT=1", "NZBOP_PARIGNOREEXT=",
                                "NZBOP_SERVER1_HOST=127.0.0.1", "NZBOP_SERVER1_ACTIVE=yes", "--nzbget"};
        QTest::newRow("NZBGet: fill servers last, inactive ones never, a job to resume") << added + QStringList{"NZBOP_SERVER1_PORT=PORT2", "NZBOP_SERVER1_LEVEL=1", "NZBOP_SERVER1_USERNAME=user",
                                                                                                         "NZBOP_SERVER1_PASSWORD=pass", "NZBOP_SERVER2_HOST=127.0.0.1", "NZBOP_SERVER2_PORT=PORT1", "NZBOP_SERVER2_ACTIVE=yes",
                                                                                                         "NZBOP_SERVER2_CONNECTIONS=9", "NZBOP_SERVER3_HOST=127.0.0.1", "NZBOP_SERVER3_PORT=PORT1", "NZBOP_SERVER3_ACTIVE=no"}
                                                                                         << QByteArray("<nzb><file subject='\"a.bin\" (1/5)'><segments><segment>a1@x</segment><segment>a2@x</segment><segment>a3@x</segment>"
                                                                                                       "<segment>a4@x</segment><segment>a5@x</segment></segments></file></nzb>") << QList<QByteArray>{"STAT <a3@x>=430 no"};
        QTest::newRow("NZBGet: a job that cannot be complete, its name no command") << added + QStringList{"NZBOP_SERVER1_PORT=PORT1", "NZBPO_VERDICT=bogus"}
                                                                                     << QByteArray("<nzb><file subject='\"a&#10;[NZB] DIRECTORY=/x.nfo\" (1/1)'><segments><segment>n@x</segment></segments></file></nzb>")
                                                                                     << QList<QByteArray>{"STAT <n@x>=430 no"};
        QTest::newRow("NZBGet: no job held without JSON-RPC") << QStringList{"NZBNP_FILENAME=FILE", "NZBNP_PAUSED=0", "NZBOP_CONTROLIP=0.0.0.0", "NZBOP_CONTROLPORT=1", "--nzbget"}
                                                              << QByteArray() << QList<QByteArray>();
        // SABnzbd's pre-queue script: the job from the environment, the NZB and the servers from sabnzbd.ini.
        const QStringList sabnzbd{"ORVALIS_PREQUEUE_CONF=TMP/orvalis-prequeue.conf", "SAB_VERSION=3.7.1", "SAB_FILENAME= Job.nzb", "--sabnzbd"};
        const QByteArray ini = "__version__ = 19\n[misc]\ndownload_dir = incomplete # beside the file\n[servers]\n[[first]]\nhost = 127.0.0.1\nport = PORT1\n";
        QTest::newRow("SABnzbd: the job's copy, servers by priority, disabled ones never") << sabnzbd + QStringList{"SAB_BYTES=500"}
            << ini + "connections = 9\nnotes = \"\"\"two\nport = 1\"\"\"\n[[later]]\nhost = 127.0.0.1\nport = PORT2\nusername = \"user\"\n"
                     "password = !!!encoded!!!70617373\npriority = 1\n[[off]]\nhost = 127.0.0.1\nport = PORT2\nenable = 0\n"
            << QList<QByteArray>{"STAT <a3@x>=430 no"};
        QTest::newRow("SABnzbd: a job that cannot be complete") << sabnzbd + QStringList{"SAB_BYTES=500"} << ini << QList<QByteArray>{"STAT <a3@x>=430 no"};
        QTest::newRow("SABnzbd: no copy of the job's bytes") << sabnzbd + QStringList{"SAB_BYTES=499"} << ini << QList<QByteArray>();
        QTest::newRow("ticked servers of a settings file") << QStringList{"--settings", "FILE", "COMPLETE"} << QByteArray("ticked") << QList<QByteArray>();
        QTest::newRow("no server ticked") << QStringList{"--settings", "FILE", kSample} << QByteArray("unticked") << QList<QByteArray>();
        QTest::newRow("no settings file") << QStringList{"--settings", "none.dat", kSample} << QByteArray() << QList<QByteArray>();
        QTest::newRow("the timeout of the settings") << QStringList{"--now", "2026-12-07T12:00:00", "--settings", "FILE", kSample} << QByteArray("ticked") << QList<QByteArray>{"STAT="};
        QTest::newRow("several NZBs, one broken in the middle, logins from ~/.netrc")
            << QStringList{"HOME=TMP", "--now", "2026-12-07T12:00:00", "--server", "127.0.0.1:PORT2:2", "COMPLETE", "FILE", kSample}
            << QByteArray("<nzb>\n<file>\n</nzb>\n") << QList<QByteArray>();
        // Every NZB of a call says what it says alone: one with nothing to ask ends before the next is asked.
        QTest::newRow("an NZB with nothing to ask, then one") << QStringList{"--server", "127.0.0.1:PORT1", "FILE", "COMPLETE"}
                                                              << QByteArray("<nzb><file subject='e'><segments/></file></nzb>") << QList<QByteArray>{"STAT <b@x>=430 no"};
        // A kept connection that died while idle costs only itself: a new one asks its articles.
        QTest::newRow("a kept connection gone silent") << QStringList{"--timeout", "1", "--server", "127.0.0.1:PORT1", "COMPLETE", "COMPLETE"} << QByteArray()
                                                       << QList<QByteArray>{"1>STAT <a@x>#1=223 0 <a@x>", "1>STAT <a@x>="};
        // So does one that the par2 reading takes after another server's pass.
        QTest::newRow("a kept connection gone silent before the par2 reading") << QStringList{"--timeout", "1", "--server", "127.0.0.1:PORT1", "--server", "127.0.0.1:PORT2", "FILE"}
            << QByteArray("<nzb><file subject='\"s.par2\" (1/1)'><segments><segment>i@x</segment></segments></file>"
                          "<file subject='\"s.rar\" (1/1)'><segments><segment>d@x</segment></segments></file></nzb>")
            << QList<QByteArray>{"STAT <d@x>=430 no", "1>BODY="};
        // Two entries of one server share its limit: the first's idle connections make way for the second.
        QTest::newRow("two entries within one connection limit") << QStringList{"--server", "127.0.0.1:PORT1:2", "--server", "127.0.0.1:PORT1:2:solo", "COMPLETE"} << QByteArray()
                                                                 << QList<QByteArray>{"limit=2", "AUTHINFO user=281 fine", "STAT <b@x>#1=430 no"};
        // Memory follows the segments listed, not the part numbers claimed: the verdict comes (run it under ulimit -v 3000000).
        QTest::newRow("part numbers near 2^31") << QStringList{"--server", "127.0.0.1:PORT1", "FILE"}
            << QByteArray("<nzb><file subject='\"s.par2\" (1/1)'><segments><segment>i@x</segment></segments></file>"
                          "<file subject='\"s.rar\" (1/2000000000)'><segments><segment>d@x</segment></segments></file>"
                          "<file subject='\"s.r00\"'><segments><segment number='2000000000'>e@x</segment></segments></file>"
                          "<file subject='\"s.vol0+1.par2\" (1/1)'><segments><segment>v@x</segment></segments></file></nzb>")
            << QList<QByteArray>{"BODY=430 no"};
        QTest::newRow("a kept connection the server closes") << QStringList{"--server", "127.0.0.1:PORT1", "COMPLETE", "COMPLETE"} << QByteArray()
                                                             << QList<QByteArray>{"STAT <b@x>#1=223 0 <b@x>\n~!close"};
        QTest::newRow("a .netrc others can read") << QStringList{"--netrc-file", "TMP/open-netrc", "--server", "127.0.0.1:PORT2", kSample} << QByteArray() << QList<QByteArray>();
        // A macro runs to the next empty line; the login after it counts, shown without its escape.
        QTest::newRow("a .netrc with a macro") << QStringList{"--netrc-file", "FILE", "--server", "127.0.0.1:PORT2", "COMPLETE"}
                                               << QByteArray("machine a.example login a\nmacdef init\nmachine 127.0.0.1 login in\n\nmachine 127.0.0.1 login \"u\x1b[2J\"\n") << QList<QByteArray>();
        QTest::newRow("a FIFO for a .netrc") << QStringList{"--netrc-file", "FILE", "--server", "127.0.0.1:PORT2", "COMPLETE"} << QByteArray("fifo") << QList<QByteArray>();
        QTest::newRow("the password from ORVALIS_PASSWORD") << QStringList{"ORVALIS_PASSWORD=pass", "--server", "127.0.0.1:PORT2:1:other", "COMPLETE"} << QByteArray() << QList<QByteArray>();
        QTest::newRow("a password with a line break") << QStringList{"ORVALIS_PASSWORD=pass\r\nQUIT", "--server", "127.0.0.1:PORT2:1:other", "COMPLETE"} << QByteArray() << QList<QByteArray>();
        // The first server takes the user name alone; the second wants a password no source has.
        QTest::newRow("no password") << QStringList{"--server", "127.0.0.1:PORT1:1:solo", "--server", "127.0.0.1:PORT2:1:other", "COMPLETE"} << QByteArray()
                                     << QList<QByteArray>{"AUTHINFO user=281 fine", "STAT <b@x>=430 no"};
        QTest::newRow("a server test") << QStringList{"HOME=TMP", "--test", "--server", "127.0.0.1:PORT2:2", "--server", "127.0.0.1:PORT1"} << QByteArray()
                                       << QList<QByteArray>{"AUTHINFO user=481 denied"}; // both take the .netrc login: it names no port
        QTest::newRow("a server test of an address with an escape") << QStringList{"--test", "--server", "127.0.0.1\x1b[2J:1"} << QByteArray() << QList<QByteArray>();
        QTest::newRow("the timeout given") << QStringList{"--now", "2026-12-07T12:00:00", "--timeout", "2", "--settings", "FILE", kSample} << QByteArray("ticked") << QList<QByteArray>{"STAT="};
    }

    void runs()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, file);
        QFETCH(QList<QByteArray>, rules);
        ScriptedNntpServer first, second;
        first.script(rules);
        second.script({"AUTHINFO user=381 more", "AUTHINFO pass=281 in"});
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("row.file"));
        QFile huge(path);
        if (file == "huge") // refused by its size before a byte of it is read (the file is sparse)
            QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize((qint64(1) << 30) + 1));
        else if (file == "fifo")
            QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        else if (file == "ticked" || file == "unticked")
            QVERIFY(!SaveSettingsFile(path, settings(second, first, file == "ticked", rules.isEmpty() ? "2" : "1")));
        else if (!file.isEmpty())
            writeTestFile(dir, QStringLiteral("row.file"), QByteArray(file).replace("PORT1", QByteArray::number(first.port())).replace("PORT2", QByteArray::number(second.port())));
        if (arguments.contains(QStringLiteral("--sabnzbd")))
            layOutSabnzbdJobs(dir, path);
        for (const char *name : {".netrc", "open-netrc"}) {
            const QString netrc = writeTestFile(dir, QString::fromLatin1(name), "machine 127.0.0.1 login user password pass\n");
            QFile::setPermissions(netrc, QFile::ReadOwner | QFile::WriteOwner | (*name == 'o' ? QFile::ReadGroup | QFile::ReadOther : QFile::Permissions()));
        }
        const QString complete = writeTestFile(dir, QStringLiteral("complete.nzb"), "<nzb><file subject='a (1/2)'><segments><segment>a@x</segment><segment>b@x</segment></segments></file></nzb>");
        arguments.replaceInStrings(QStringLiteral("COMPLETE"), complete).replaceInStrings(QRegularExpression(QStringLiteral("\\bFILE\\b")), path).replaceInStrings(QStringLiteral("none."), dir.filePath(QStringLiteral("none.")));
        arguments.replaceInStrings(QStringLiteral("PORT1"), QString::number(first.port())).replaceInStrings(QStringLiteral("PORT2"), QString::number(second.port()));
        arguments.replaceInStrings(QStringLiteral("TMP"), dir.path());
        const QStringList environment = arguments.filter(QRegularExpression(QStringLiteral("^[A-Z][A-Z0-9_]*=")));
        arguments.removeIf([&environment](const QString &argument) { return environment.contains(argument); });
        QByteArray text = runTool(arguments, environment, {{dir.path(), "TMP"}, {kSample, "SAMPLE"}, {QString::number(first.port()), "PORT1"},
                                              {QString::number(second.port()), "PORT2"}});
        for (const ScriptedNntpServer *nntp : {&first, &second})
            text += "== " + QByteArray::number(nntp->connectionCount()) + " connection(s)\n" + nntp->commands().filter(QStringLiteral("AUTHINFO")).join(u'\n').toUtf8();
        COMPARE_GOLDEN(QStringLiteral("check-tool-%1.txt").arg(QString::fromLatin1(QTest::currentDataTag()).replace(QRegularExpression(QStringLiteral("[^a-zA-Z0-9]+")), QStringLiteral("-")).toLower()), text);
    }

    // Each NZB's line holds the figures its text output shows, and every line fits the schema.
    void jsonFollowsSchemaAndText()
    {
        ScriptedNntpServer nntp;
        nntp.script({"STAT <part3of3.holiday@example.invalid>=430 no"});
        QTemporaryDir dir;
        const QStringList nzbs{kSample, writeTestFile(dir, QStringLiteral("broken.nzb"), "<nzb>\n<file>\n</nzb>\n"), dir.filePath(QStringLiteral("none.nzb"))};
        const QStringList options{"--now", "2026-12-07T12:00:00", "--sample", "1", "--server", "127.0.0.1:" + QString::number(nntp.port()) + ":2"};
        const QByteArray text = runCheckTool(options + QStringList{"--files", kSample});
        const QByteArray json = runCheckTool(options + QStringList{"--json"} + nzbs);
        QVERIFY(json.startsWith("exit 2\n"));
        const QList<QByteArray> lines = json.sliced(7, json.indexOf("== stderr") - 7).trimmed().split('\n');
        QCOMPARE(lines.size(), nzbs.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QCOMPARE(QJsonDocument::fromJson(lines[i])[QStringLiteral("nzb")].toString(), nzbs[i]);

        const QJsonObject sample = QJsonDocument::fromJson(lines[0]).object();
        const auto figure = [&sample](const char *part, const char *key) { return QString::number(sample[QLatin1String(part)][QLatin1String(key)].toDouble()); };
        QStringList shown{"Files found: " + figure("load", "files"), "Message-ID's required: " + figure("load", "required"),
                          "Message-ID's missing from the NZB: " + figure("load", "missingFromNzb") + " (" + figure("load", "missingPercent") + "%)",
                          "The files were posted " + figure("load", "postedDaysAgo") + " day(s) ago.", "Parts checked: " + figure("report", "checked"),
                          "Undownloadable parts: " + figure("report", "undownloadable"), figure("report", "percent") + "% of the data can't be downloaded!"};
        for (const QJsonValue file : sample[QStringLiteral("files")].toArray()) {
            const QString status = file[QStringLiteral("status")].toString();
            shown << QStringLiteral("%1\t%2\t%3\t%4/%5").arg(file[QStringLiteral("index")].toInt()).arg(status == u"missing" ? QStringLiteral("Missing (partially)") : status.at(0).toUpper() + status.sliced(1))
                         .arg(file[QStringLiteral("available")].toInt()).arg(file[QStringLiteral("listed")].toInt()).arg(file[QStringLiteral("announced")].toInt());
        }
        for (const QString &line : shown)
            QVERIFY2(text.contains('\n' + line.toUtf8() + '\n'), qPrintable(line));
        QCOMPARE(sample[QStringLiteral("servers")][0][QStringLiteral("found")].toInt(), 4);
        QCOMPARE(sample[QStringLiteral("sample")].toObject(), (QJsonObject{{"asked", 1}, {"failed", 1}})); // the scripted server has no bodies

        QProcess validator; // Debian's python3-jsonschema is the referee
        validator.start(QStringLiteral("/usr/bin/python3"), {"-c", "import json, sys, jsonschema\n"
                                                                   "schema = json.load(open(sys.argv[1]))\n"
                                                                   "jsonschema.Draft202012Validator.check_schema(schema)\n"
                                                                   "for line in sys.stdin: jsonschema.Draft202012Validator(schema).validate(json.loads(line))\n",
                                                             QStringLiteral(ORVALIS_SOURCE_DIR "/docs/orvalis-check.schema.json")});
        validator.write(lines.join('\n'));
        validator.closeWriteChannel();
        QVERIFY(validator.waitForFinished());
        QVERIFY2(validator.exitCode() == 0, validator.readAllStandardError().constData());
    }

    void rejectsBadUsage()
    {
        const QStringList runs{"", "--dump", "--test SAMPLE", "--test --dump", "--json --dump SAMPLE", "--dump --fast SAMPLE", "--dump --now yesterday SAMPLE", "--dump --now 2026-12-07T12:00 SAMPLE",
                               "--pipeline 0 SAMPLE", "--pipeline 101 SAMPLE", "--pipeline x SAMPLE", "--pipeline +4 SAMPLE", "--pipeline  SAMPLE",
                               "--timeout -1 SAMPLE", "--sample 10001 SAMPLE", "--sample 0 --stat-only SAMPLE", "--timeout 1s SAMPLE", "--timeout 2000001 SAMPLE", "--timeout  SAMPLE", "--ca-file SAMPLE SAMPLE",
                               "--netrc-file none.netrc --server localhost:119 SAMPLE", "--server localhost SAMPLE", "--server localhost:0 SAMPLE", "--server localhost:119:11 SAMPLE", "--server localhost:http SAMPLE", "--server :119 SAMPLE",
                               "--nzbget", "--nzbget SAMPLE", "--nzbget --json", "--sabnzbd", "--sabnzbd --files"};
        QByteArray text;
        for (const QString &run : runs) {
            QStringList arguments = run.split(u' ', Qt::SkipEmptyParts);
            if (run.contains(QLatin1String("  "))) // an empty value
                arguments.insert(1, QString());
            text += "$ " + run.toUtf8() + '\n' + runTool(arguments.replaceInStrings(QStringLiteral("SAMPLE"), kSample), {}, {{kSample, "SAMPLE"}});
        }
        COMPARE_GOLDEN("check-tool-usage.txt", text);
    }
};

QTEST_GUILESS_MAIN(TestCheckTool)
#include "tst_checktool.moc"
