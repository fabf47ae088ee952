// How connections reach and wait for servers: TLS, the idle timeout, pipelined queries and
// the HEAD fallback, against scripted servers on loopback.

#include "CheckHarness.h"

#include <QFile>
#include <QSslKey>
#include <QTest>

namespace {

QList<QByteArray> ids(int count)
{
    QList<QByteArray> result;
    for (int i = 1; i <= count; ++i)
        result << "m" + QByteArray::number(i) + "@x";
    return result;
}

QByteArray readData(const char *name)
{
    QFile file(QStringLiteral(ORVALIS_TEST_DATA "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data");
    return file.readAll();
}

QSslConfiguration serverTls(const char *certificate, const char *key)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(QSslCertificate(readData(certificate)));
    configuration.setPrivateKey(QSslKey(readData(key), QSsl::Ec));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}

ConnectionOptions trusting(const char *certificate)
{
    ConnectionOptions options;
    options.extraCaCertificates = {QSslCertificate(readData(certificate))};
    return options;
}

CheckServer tlsServer(quint16 port, const QString &nickname = QStringLiteral("one"))
{
    CheckServer result = server(port, 1, nickname);
    result.tls = true;
    return result;
}

// Answers as the standard server does, but in words a server without STAT uses.
ScriptedNntpServer::Reply withoutStat(const QByteArray &command)
{
    if (command.startsWith("STAT "))
        return {"500 What?\r\n"};
    if (command == "HEAD <m2@x>")
        return {"430 no such article\r\n"};
    if (command.startsWith("HEAD "))
        return {"221 0 " + command.mid(5) + "\r\nPath: x\r\n..dot-stuffed\r\nSubject: s\r\n.\r\n"};
    return ScriptedNntpServer::standardReply(command);
}

QStringList withoutNumbers(QStringList commands)
{
    for (QString &command : commands)
        command = command.mid(3);
    return commands;
}

} // namespace

class TestConnections : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void checksOverTls();
    void refusesWhatTlsCannotTrust_data();
    void refusesWhatTlsCannotTrust();
    void givesUpASilentServer_data();
    void givesUpASilentServer();
    void keepsAServerWhileAConnectionWorks();
    void waitsAsLongAsTheServerTalks_data();
    void waitsAsLongAsTheServerTalks();
    void matchesPipelinedRepliesInOrder();
    void takesNoMoreRepliesThanWereOwed();
    void countsRepliesOncePerRead();
    void pipelinesThroughTheGroupSelection();
    void fallsBackToHead_data();
    void fallsBackToHead();
    void refusesAnEndlessHeader();
};

void TestConnections::checksOverTls()
{
    const QSslConfiguration tls = serverTls("tls-loopback.pem", "tls-loopback.key");
    ScriptedNntpServer nntp(&tls);
    Check check({{3, ids(3)}}, {tlsServer(nntp.port())});
    check.run.setConnectionOptions(trusting("tls-loopback.pem"));
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.row(1), QStringLiteral("Available 3"));
    QCOMPARE(check.log.filter(QStringLiteral("error")), QStringList());
    QTRY_COMPARE(nntp.commands().size(), 4);
}

void TestConnections::refusesWhatTlsCannotTrust_data()
{
    QTest::addColumn<QByteArray>("certificate");
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("plainServer");
    QTest::addColumn<QString>("reason");
    QTest::newRow("self-signed, not trusted") << QByteArray("tls-loopback") << false << false
                                              << QStringLiteral("The certificate is self-signed, and untrusted");
    QTest::newRow("wrong host name") << QByteArray("tls-wrong-host") << true << false
                                     << QStringLiteral("The host name did not match any of the valid hosts for this certificate");
    QTest::newRow("plain server on the TLS port") << QByteArray() << false << true << QString();
}

// A TLS failure is a socket error: one "Server error: " line, and the next server is asked.
void TestConnections::refusesWhatTlsCannotTrust()
{
    QFETCH(QByteArray, certificate);
    QFETCH(bool, trusted);
    QFETCH(bool, plainServer);
    QFETCH(QString, reason);
    const QSslConfiguration tls =
        plainServer ? QSslConfiguration() : serverTls(certificate + ".pem", certificate + ".key");
    ScriptedNntpServer refused(plainServer ? nullptr : &tls);
    ScriptedNntpServer backup;
    Check check({{2, ids(2)}}, {tlsServer(refused.port()), server(backup.port(), 1, QStringLiteral("backup"))});
    if (trusted)
        check.run.setConnectionOptions(trusting(certificate + ".pem"));
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.row(1), QStringLiteral("Available 2"));
    QCOMPARE(check.log.at(0), QStringLiteral("Initializing newsserver: one"));
    QCOMPARE(check.log.at(1), QStringLiteral("Initializing newsserver: backup"));
    const QString error = check.log.at(2);
    QVERIFY2(error.startsWith(QStringLiteral("Server error: 13 - TLS error: ")), qPrintable(error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    if (!plainServer) // a plain server may take bytes of the TLS hello for a command
        QCOMPARE(refused.commands(), QStringList());
}

void TestConnections::givesUpASilentServer_data()
{
    QTest::addColumn<bool>("greets");
    QTest::addColumn<bool>("tls");
    QTest::newRow("before the greeting") << false << false;
    QTest::newRow("after a command") << true << false;
    QTest::newRow("plain server that never speaks, asked with TLS") << false << true;
}

void TestConnections::givesUpASilentServer()
{
    QFETCH(bool, greets);
    QFETCH(bool, tls);
    ScriptedNntpServer silent, backup;
    silent.autoGreet = greets;
    silent.respond = nullptr;
    CheckServer first = tls ? tlsServer(silent.port()) : server(silent.port());
    Check check({{2, ids(2)}}, {first, server(backup.port(), 1, QStringLiteral("backup"))});
    ConnectionOptions options;
    options.idleTimeoutSeconds = 1;
    check.run.setConnectionOptions(options);
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.log.mid(0, 3), (QStringList{QStringLiteral("Initializing newsserver: one"),
                                                QStringLiteral("Initializing newsserver: backup"),
                                                QStringLiteral("Server error: 5 - The server sent nothing for 1 second.")}));
    QCOMPARE(check.row(1), QStringLiteral("Available 2"));
    if (!tls)
        QCOMPARE(withoutNumbers(silent.commands()), greets ? QStringList{QStringLiteral("STAT <m1@x>")} : QStringList());
}

void TestConnections::waitsAsLongAsTheServerTalks_data()
{
    QTest::addColumn<QByteArray>("drip"); // sent every 300 ms after "221 ", four times
    QTest::addColumn<bool>("givenUp");
    QTest::newRow("header lines") << QByteArray("X-Line: x\r\n") << false;
    QTest::newRow("bytes that end no line") << QByteArray("x") << true;
}

// Two of three connections fall silent: they cost themselves only, their articles go to the
// one that answers, and their common error is logged at once, once.
void TestConnections::keepsAServerWhileAConnectionWorks()
{
    ScriptedNntpServer nntp, backup;
    nntp.respond = [](int connection, const QByteArray &command) {
        return connection > 1 && command.startsWith("STAT ") ? ScriptedNntpServer::Reply{} : ScriptedNntpServer::standardReply(command);
    };
    Check check({{6, ids(6)}}, {server(nntp.port(), 3), server(backup.port(), 1, QStringLiteral("backup"))});
    ConnectionOptions options;
    options.idleTimeoutSeconds = 1;
    check.run.setConnectionOptions(options);
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.log.mid(0, 3), (QStringList{QStringLiteral("Initializing newsserver: one"),
                                                QStringLiteral("Server error: 5 - The server sent nothing for 1 second."),
                                                QStringLiteral("Terminating newsserver: one")}));
    QCOMPARE(check.row(1), QStringLiteral("Available 6"));
    QCOMPARE(backup.connectionCount(), 0);
}

// The limit is on silence since the last whole line, not on the whole check: a slow header
// keeps the connection, a byte now and then without a line end does not.
void TestConnections::waitsAsLongAsTheServerTalks()
{
    QFETCH(QByteArray, drip);
    QFETCH(bool, givenUp);
    ScriptedNntpServer slow;
    slow.respond = [&slow, drip](int connection, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command.startsWith("STAT "))
            return {"500 What?\r\n"};
        if (!command.startsWith("HEAD "))
            return ScriptedNntpServer::standardReply(command);
        slow.send(connection, "221 0 " + command.mid(5) + "\r\n");
        for (int i = 1; i <= 4; ++i)
            QTimer::singleShot(300 * i, &slow, [&slow, connection, drip] { slow.send(connection, drip); });
        QTimer::singleShot(1500, &slow, [&slow, connection] { slow.send(connection, "\r\n.\r\n"); });
        return {};
    };
    Check check({{1, ids(1)}}, {server(slow.port())});
    ConnectionOptions options;
    options.idleTimeoutSeconds = 1;
    check.run.setConnectionOptions(options);
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.log.filter(QStringLiteral("Server error")).size(), givenUp ? 1 : 0);
    QCOMPARE(check.row(1), givenUp ? QStringLiteral("Missing 0") : QStringLiteral("Available 1"));
}

// Four queries out at once; replies in bursts are matched to the entries in the order asked.
void TestConnections::matchesPipelinedRepliesInOrder()
{
    ScriptedNntpServer nntp;
    nntp.respond = nullptr;
    CheckServer deep = server(nntp.port());
    deep.pipelineDepth = 4;
    Check check({{10, ids(10)}}, {deep});
    check.run.start();
    QTRY_COMPARE(nntp.commands().size(), 4);
    QTest::qWait(50);
    QCOMPARE(withoutNumbers(nntp.commands()),
             (QStringList{QStringLiteral("STAT <m1@x>"), QStringLiteral("STAT <m2@x>"), QStringLiteral("STAT <m3@x>"),
                          QStringLiteral("STAT <m4@x>")}));
    nntp.send(1, "223 0 <m1@x>\r\n430 no\r\n223 0 <m3@x>\r\n");
    QTRY_COMPARE(nntp.commands().size(), 7);
    QCOMPARE(check.log.filter(QStringLiteral("not found")), QStringList{QStringLiteral("Article not found: m2@x")});
    nntp.send(1, "223"); // a reply cut in two
    nntp.send(1, " 0 <m4@x>\r\n223 0 <m5@x>\r\n223 0 <m6@x>\r\n223 0 <m7@x>\r\n");
    QTRY_COMPARE(nntp.commands().size(), 10);
    QTest::qWait(50);
    QCOMPARE(nntp.commands().size(), 10); // nothing left to ask: no eleventh query
    QCOMPARE(nntp.commands().last(), QStringLiteral("1> STAT <m10@x>"));
    nntp.send(1, "223 0 <m8@x>\r\n430 no\r\n430 no\r\n");
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.log.filter(QStringLiteral("not found")),
             (QStringList{QStringLiteral("Article not found: m2@x"), QStringLiteral("Article not found: m9@x"),
                          QStringLiteral("Article not found: m10@x")}));
    QCOMPARE(check.row(1), QStringLiteral("Missing 7"));
    QCOMPARE(check.run.missingLeft(), 3);
    QTRY_COMPARE(nntp.commands().last(), QStringLiteral("1> QUIT"));
}

// Replies for queries sent after the bytes arrived cannot be in them: a third reply to two
// queries is unexpected, although a third query went out while the first was handled.
void TestConnections::takesNoMoreRepliesThanWereOwed()
{
    ScriptedNntpServer nntp;
    nntp.respond = [](int connection, const QByteArray &command) {
        return connection == 1 ? ScriptedNntpServer::Reply{} : ScriptedNntpServer::standardReply(command);
    };
    CheckServer deep = server(nntp.port());
    deep.pipelineDepth = 2;
    Check check({{3, ids(3)}}, {deep});
    check.run.start();
    QTRY_COMPARE(nntp.commands().size(), 2);
    nntp.send(1, "223 0 <m1@x>\r\n223 0 <m2@x>\r\n223 0 <m3@x>\r\n");
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.log.at(1), QStringLiteral("223 0 <m3@x>"));
    QCOMPARE(check.nzb->counters().found[1], 3); // m3 once only, asked again on a new connection
    QCOMPARE(nntp.commands().filter(QStringLiteral("STAT <m3@x>")), QStringList{QStringLiteral("2> STAT <m3@x>")});
}

// The replies owed are counted once per read: a "223 " after a greeting that fills a whole
// read chunk answers no STAT, since the STAT went out after those bytes had come.
void TestConnections::countsRepliesOncePerRead()
{
    ScriptedNntpServer nntp;
    nntp.greeting = "200 " + QByteArray(16384 - 6, 'x') + "\r\n223 0 <m1@x>\r\n";
    nntp.respond = [](int, const QByteArray &command) {
        return command.startsWith("STAT ") ? ScriptedNntpServer::Reply{"430 no such article\r\n"} : ScriptedNntpServer::standardReply(command);
    };
    Check check({{1, ids(1)}}, {server(nntp.port())});
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.nzb->counters().found[1], 0);
    QCOMPARE(check.log.at(1), QStringLiteral("223 0 <m1@x>"));
    QCOMPARE(check.row(1), QStringLiteral("Missing 0"));
}

// "412 " for every query already out: GROUP is sent once, then each of them is asked again.
void TestConnections::pipelinesThroughTheGroupSelection()
{
    ScriptedNntpServer nntp;
    bool selected = false;
    nntp.respond = [&selected](int, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command == "GROUP alt.test") {
            selected = true;
            return {"211 4 1 4 alt.test\r\n"};
        }
        if (command.startsWith("STAT") && !selected)
            return {"412 no newsgroup selected\r\n"};
        return ScriptedNntpServer::standardReply(command);
    };
    CheckServer deep = server(nntp.port());
    deep.pipelineDepth = 3;
    Check check({{4, ids(4)}}, {deep});
    check.run.start();
    QVERIFY(check.waitForEnd());
    QTRY_COMPARE(withoutNumbers(nntp.commands()),
                 (QStringList{QStringLiteral("STAT <m1@x>"), QStringLiteral("STAT <m2@x>"), QStringLiteral("STAT <m3@x>"),
                              QStringLiteral("GROUP alt.test"), QStringLiteral("STAT <m1@x>"), QStringLiteral("STAT <m2@x>"),
                              QStringLiteral("STAT <m3@x>"), QStringLiteral("STAT <m4@x>"), QStringLiteral("QUIT")}));
    QCOMPARE(check.row(1), QStringLiteral("Available 4"));
}

void TestConnections::fallsBackToHead_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("bytewise");
    QTest::newRow("one query at a time") << 1 << false;
    QTest::newRow("one byte at a time") << 1 << true;
    QTest::newRow("pipelined") << 3 << false;
}

// "500 " to STAT: that server is asked with HEAD for the rest of its pass, "221 " with its
// header counting as found; the next server is asked with STAT again.
void TestConnections::fallsBackToHead()
{
    QFETCH(int, depth);
    QFETCH(bool, bytewise);
    ScriptedNntpServer old, next;
    old.respond = [&old, bytewise](int connection, const QByteArray &command) {
        const ScriptedNntpServer::Reply reply = withoutStat(command);
        if (!bytewise || command == "QUIT")
            return reply;
        for (const char c : reply.bytes)
            old.send(connection, QByteArray(1, c));
        return ScriptedNntpServer::Reply{};
    };
    CheckServer first = server(old.port());
    first.pipelineDepth = depth;
    Check check({{4, ids(4)}}, {first, server(next.port(), 1, QStringLiteral("next"))});
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.log.mid(0, 3), (QStringList{QStringLiteral("Initializing newsserver: one"),
                                                QStringLiteral("STAT is not supported, asking with HEAD instead: one"),
                                                QStringLiteral("Article not found: m2@x")}));
    QCOMPARE(check.log.count(QStringLiteral("STAT is not supported, asking with HEAD instead: one")), 1);
    QCOMPARE(old.commands().filter(QStringLiteral("HEAD")).size(), 4);
    QCOMPARE(old.commands().filter(QStringLiteral("STAT")).size(), depth);
    QTRY_COMPARE(withoutNumbers(next.commands()), (QStringList{QStringLiteral("STAT <m2@x>"), QStringLiteral("QUIT")}));
    QCOMPARE(check.row(1), QStringLiteral("Available 4"));
}

// A header without end is no reply: the connection closes long before the server stops.
void TestConnections::refusesAnEndlessHeader()
{
    ScriptedNntpServer endless;
    endless.respond = [&endless](int connection, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command.startsWith("STAT "))
            return {"500 What?\r\n"};
        if (!command.startsWith("HEAD "))
            return ScriptedNntpServer::standardReply(command);
        endless.send(connection, "221 0 <m1@x>\r\n");
        const QByteArray lines = QByteArray("X-Filler: ").append(990, 'x').append("\r\n").repeated(100);
        for (int i = 0; i < 40 && endless.isConnected(connection); ++i) // 4 MB, four times the limit
            endless.send(connection, lines);
        return {};
    };
    Check check({{1, ids(1)}}, {server(endless.port())});
    check.run.start();
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.log.at(2), QStringLiteral("221 0 <m1@x>"));
    QCOMPARE(check.run.missingLeft(), 1);
}

QTEST_GUILESS_MAIN(TestConnections)
#include "tst_connections.moc"
