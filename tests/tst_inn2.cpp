// The check against a real NNTP server: INN 2 on loopback, started by tools/inn2/inn2-up.sh,
// which posts <part1of3.abc@test> to <part3of3.abc@test>, <par1of2.abc@test> and <gen-1@test> to <gen-1000@test>.

#include "ScriptedPrompts.h"
#include "TestFiles.h"

#include "check/ServerTest.h"
#include "servers/ServerListModel.h"
#include "ui/MainWindow.h"

#include <QDateTime>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <unistd.h>

namespace {

constexpr quint16 kPlainPort = 1119;
constexpr quint16 kAuthPort = 1120;
constexpr quint16 kTlsPort = 1563; // with AUTHINFO and the self-signed certificate below
const QString kCertificate = QStringLiteral("/tmp/orvalis-inn2/etc/cert.pem");

// Three files: one complete, one with two segments the server lacks, one listing 10 of 12 parts.
const QString kNzb = QStringLiteral(ORVALIS_TEST_DATA "/inn2-posted.nzb");
// All three parts of abc.rar are there, one of the two of abc.par2 is not.
const QString kRepairNzb = QStringLiteral(ORVALIS_TEST_DATA "/inn2-repair.nzb");
const QByteArray kReport = "Parts checked: 35\nUndownloadable parts: 4\n10.81% of the data can't be downloaded!\n\n"
                           "Repair: unknown, the NZB has no par2 recovery files.\nNot covered by par2: gen.bin\n"
                           "Not covered by par2: more.bin\n";
const QByteArray kFiles = "1\tAvailable\t3\t3/3\n2\tMissing (partially)\t20\t22/22\n3\tMissing (partially)\t10\t10/12\n";

bool serverUp(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), port);
    return probe.waitForConnected(2000);
}

const QString kNotNeeded = QStringLiteral("Repair: not needed, every data article was found.");

// Checks `path` in the window with the one server given; the window stays for the caller.
std::unique_ptr<MainWindow> checkInWindow(const ServerRecord &server, const QString &path, QStringList &shown)
{
    static QString answer;
    auto window = std::make_unique<MainWindow>(std::make_unique<ScriptedPrompts>(&shown, &answer));
    window->servers().appendServer(server, true);
    window->show();
    window->loadNzb(path);
    shown.clear();
    window->findChild<QPushButton *>(QStringLiteral("cmdCheck"))->click();
    if (!QTest::qWaitFor([&shown] { return !shown.isEmpty(); }, 60000))
        qWarning("the check did not end");
    return window;
}

// Posts an article with a small yEnc body on the plain port; true when INN took it.
bool post(const QByteArray &messageId)
{
    QTcpSocket nntp;
    nntp.connectToHost(QStringLiteral("127.0.0.1"), kPlainPort);
    const auto reply = [&nntp] { return nntp.waitForReadyRead(5000) ? nntp.readLine() : QByteArray(); };
    if (!reply().startsWith("200"))
        return false;
    nntp.write("POST\r\n");
    if (!reply().startsWith("340"))
        return false;
    nntp.write("From: t@example.invalid\r\nNewsgroups: alt.binaries.test\r\nSubject: x (1/1)\r\nMessage-ID: <" + messageId
               + ">\r\n\r\n=ybegin line=128 size=3 name=x\r\n\x8b\x8c\x8d\r\n=yend size=3 crc32=352441c2\r\n.\r\n");
    return reply().startsWith("240");
}

} // namespace

class TestInn2 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (!serverUp(kPlainPort) || !serverUp(kAuthPort) || !serverUp(kTlsPort)) {
            if (qEnvironmentVariableIsSet("ORVALIS_REQUIRE_INN2"))
                QFAIL("INN 2 is not listening on 127.0.0.1:1119, 1120 and 1563; tools/inn2/inn2-up.sh starts it");
            QSKIP("INN 2 is not running on loopback (tools/inn2/inn2-up.sh starts it)");
        }
    }

    void commandLineReportsWhatWasPosted_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("holds"); // besides one "Article not found: " line for each of nope-1 and nope-2
        const QStringList tls{"--tls", "--ca-file", kCertificate};
        QTest::newRow("1 connection") << QStringList{"--server", "127.0.0.1:1119:1"} << QByteArray();
        QTest::newRow("10 connections") << QStringList{"--server", "127.0.0.1:1119:10"} << QByteArray();
        QTest::newRow("1 connection, logged in") << QStringList{"--server", "127.0.0.1:1120:1:tester:s3cret"} << QByteArray();
        QTest::newRow("10 connections, logged in") << QStringList{"--server", "127.0.0.1:1120:10:tester:s3cret"} << QByteArray();
        QTest::newRow("2 connections, 16 queries each") << QStringList{"--server", "127.0.0.1:1119:2", "--pipeline", "16"} << QByteArray();
        QTest::newRow("TLS, logged in") << tls + QStringList{"--server", "127.0.0.1:1563:4:tester:s3cret"} << QByteArray();
        QTest::newRow("TLS, logged in, pipelined") << tls + QStringList{"--server", "localhost:1563:1:tester:s3cret", "--pipeline", "8"} << QByteArray();
        QTest::newRow("refused login, then the next server") << QStringList{"--server", "127.0.0.1:1120:4", "--server", "127.0.0.1:1119:4"}
            << QByteArray("Initializing newsserver: 127.0.0.1:1120\nTerminating newsserver: 127.0.0.1:1120\n" + QByteArray(64, '-')
                          + "\n\nInitializing newsserver: 127.0.0.1:1119\nServer error: -1 - The server refused the login: 480 Authentication required for command\n");
    }

    void commandLineReportsWhatWasPosted()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, holds);
        const QByteArray out = runCheckTool(QStringList{"--files"} + options + QStringList{kNzb});
        QVERIFY2(out.startsWith("exit 1\n") && out.contains(kReport + kFiles + "== stderr\n") && out.contains(holds), out.constData());
        const QList<QByteArray> lines = out.split('\n');
        QCOMPARE(lines.count("Article not found: nope-1@test") + 10 * lines.count("Article not found: nope-2@test"), 11);
        QCOMPARE(out.count("Article not found: "), 2);
    }

    // Without the test's certificate among the trusted ones, the TLS server is refused.
    void refusesAnUntrustedCertificate()
    {
        const QByteArray out = runCheckTool({"--tls", "--server", "127.0.0.1:1563:1:tester:s3cret", kNzb});
        QVERIFY2(out.startsWith("exit 1\n") && out.contains("\nServer error: 13 - TLS error: The certificate is self-signed, and untrusted\n"
                              "Parts checked: 35\nUndownloadable parts: 37\n100% of the data can't be downloaded!\n\n"), out.constData());
    }

    // Test, as the editor runs it: over TLS, logged in, four connections at once.
    void serverTestPassesOverTls()
    {
        ConnectionOptions options;
        options.extraCaCertificates = QSslCertificate::fromPath(kCertificate);
        CheckServer server;
        server.address = QStringLiteral("127.0.0.1"), server.portText = QStringLiteral("1563"), server.port = kTlsPort, server.connections = 4;
        server.username = QStringLiteral("tester"), server.password = QStringLiteral("s3cret"), server.tls = true;
        ServerTest test(server, true, options);
        QSignalSpy finished(&test, &ServerTest::finished);
        test.start();
        QVERIFY(finished.wait(20000));
        const QString lines = test.lines().join(u'\n');
        const QRegularExpression expected(QStringLiteral("^Connected to 127\\.0\\.0\\.1:1563 with TLS 1\\.[23]\\.\nGreeting: 200 [^\n]+\nLogin accepted\\.\n"
                                                         "4 of 4 connections accepted\\.\nSTAT is answered\\.$"));
        QVERIFY2(expected.match(lines).hasMatch() && test.allWorked(), qPrintable(lines));
    }

    void windowShowsTheSameResults()
    {
        QStringList shown;
        const auto window = checkInWindow({QStringLiteral("inn2"), QStringLiteral("127.0.0.1"), QStringLiteral("1120"), QStringLiteral("10"),
                                           QStringLiteral("tester"), QStringLiteral("K01s3cret"), true},
                                          kNzb, shown);
        QCOMPARE(shown, QStringList{QStringLiteral("I Orvalis: Finished checking NZB file.")});
        const NzbModel &nzb = window->nzb();
        QCOMPARE(nzb.item(1).status, ItemStatus::Available);
        QCOMPARE(nzb.item(2).status, ItemStatus::Missing);
        QCOMPARE(nzb.item(2).available, QStringLiteral("20"));
        QCOMPARE(nzb.item(3).available, QStringLiteral("10"));
        const QStringList log = window->activityLog().lines();
        QCOMPARE(log.mid(log.size() - 7), QString::fromLatin1(kReport).split(u'\n').mid(0, 7));
    }

    // A cancelled article is gone for STAT, HEAD and BODY alike: its "430 " stands, and the sample
    // reads only the article that was found.
    void cancelledArticleIsGoneForEveryCommand()
    {
        if (geteuid() != 0)
            QSKIP("cancelling an article takes ctlinnd as user news");
        const QByteArray stem = "cancelled-" + QByteArray::number(QDateTime::currentMSecsSinceEpoch());
        QVERIFY(post(stem + "-kept@test") && post(stem + "-gone@test"));
        QProcess cancel;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("INNCONF"), QStringLiteral("/tmp/orvalis-inn2/etc/inn.conf"));
        cancel.setProcessEnvironment(environment);
        cancel.start(QStringLiteral("setpriv"), {"--reuid=news", "--regid=news", "--init-groups", "/usr/lib/news/bin/ctlinnd", "-s", "cancel",
                                                 QString::fromLatin1("<" + stem + "-gone@test>")});
        QVERIFY(cancel.waitForFinished() && cancel.exitCode() == 0);
        QTemporaryDir dir;
        const QString nzb = writeTestFile(dir, QStringLiteral("c.nzb"), "<nzb><file subject='\"x\" (1/2)'><segments><segment number='1'>" + stem
                                                                           + "-kept@test</segment><segment number='2'>" + stem + "-gone@test</segment></segments></file></nzb>");
        const QByteArray out = runCheckTool({"--json", "--sample", "2", "--server", "127.0.0.1:1119:1", nzb});
        QVERIFY2(out.startsWith("exit 1\n") && out.contains("\"sample\":{\"asked\":1,\"failed\":0}") && out.contains("Article not found: " + stem + "-gone@test\n")
                     && !out.contains("answers 430"), out.constData());
    }

    void aLostPar2ArticleNeedsNoRepair()
    {
        const QByteArray out = runCheckTool({"--server", "127.0.0.1:1119:2", kRepairNzb});
        QVERIFY2(out.startsWith("exit 5\n") && out.endsWith("Undownloadable parts: 1\n20% of the data can't be downloaded!\n\n" + kNotNeeded.toLatin1() + "\n== stderr\n"),
                 out.constData());
        QStringList shown;
        const auto window = checkInWindow({QStringLiteral("inn2"), QStringLiteral("127.0.0.1"), QStringLiteral("1119"), QStringLiteral("2"), {}, {}, true},
                                          kRepairNzb, shown);
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("StatusText"))->text(), u' ' + kNotNeeded);
    }
};

QTEST_MAIN(TestInn2)
#include "tst_inn2.moc"
