#pragma once

#include "ScriptedNntpServer.h"
#include "TestFiles.h"

#include "check/CheckRun.h"
#include "nzb/NzbLoader.h"

#include <QFile>
#include <QRegularExpression>
#include <QSslKey>
#include <QTest>

#include <memory>

// Helpers for tests that run checks against scripted servers.
struct FileSpec {
    int announced; // 0: the subject has no part counter
    QList<QByteArray> messageIds;
    QByteArray name = "f.rar";
    qint64 bytes = 0; // each segment's, in the NZB; 0: none given
};
Q_DECLARE_METATYPE(FileSpec)

inline QList<QByteArray> ids(int count, const QByteArray &stem = "m")
{
    QList<QByteArray> result;
    for (int i = 1; i <= count; ++i)
        result << stem + QByteArray::number(i) + "@x";
    return result;
}

// `group` is written into the XML as it stands; empty: the files name no group.
inline std::unique_ptr<NzbModel> makeNzb(const QList<FileSpec> &files, const QByteArray &group = "alt.test")
{
    QByteArray xml = "<?xml version=\"1.0\"?><nzb>";
    for (const FileSpec &file : files) {
        xml += "<file date=\"1700000000\" subject=\"&quot;" + file.name + "&quot; yEnc" + (file.announced ? " (1/" + QByteArray::number(file.announced) + ")" : "")
               + "\"><groups>" + (group.isEmpty() ? QByteArray() : "<group>" + group + "</group>") + "</groups><segments>";
        for (const QByteArray &id : file.messageIds)
            xml += (file.bytes ? "<segment bytes=\"" + QByteArray::number(file.bytes) + "\">" : QByteArray("<segment>")) + id + "</segment>";
        xml += "</segments></file>";
    }
    NzbLoadResult result = LoadNzbFromBytes(xml + "</nzb>", QStringLiteral("test.nzb"), {});
    if (result.kind != NzbLoadResult::Kind::Loaded)
        qFatal("the test NZB does not load");
    return std::move(result.model);
}

// Rows name only the fields they need; the others keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

inline CheckServer server(quint16 port, int connections = 1, const QString &nickname = QStringLiteral("one"))
{
    return {nickname, QStringLiteral("127.0.0.1"), QString::number(port), port, connections};
}

// One check of an NZB, with its log.
struct Check {
    Check(const QList<FileSpec> &files, std::vector<CheckServer> servers, const QByteArray &group = "alt.test") : nzb(makeNzb(files, group))
        , run(*nzb, std::move(servers), u'.')
    {
        QObject::connect(&run, &CheckRun::logLine, &run, [this](const QString &line) { log << line; });
        QObject::connect(&run, &CheckRun::finished, &run, [this] { ++finishedCount; });
    }
    bool waitForEnd() { return QTest::qWaitFor([this] { return finishedCount > 0; }, 10000); }
    QString row(int item) const
    {
        static const char *const names[] = {"", "Queued", "Checking", "Available", "Missing"};
        return QLatin1String(names[int(nzb->item(item).status)]) + u' ' + nzb->item(item).available + u'/' + QString::number(nzb->counters().answered[size_t(item)]);
    }

    std::unique_ptr<NzbModel> nzb;
    CheckRun run;
    QStringList log;
    int finishedCount = 0;
};

// A scripted server as a dialogue uses it. `at` "HOST:PORT" instead of the scripted server;
// `tls` the certificate it shows ("tls-loopback"), or "plain" for a plain server asked with TLS;
// `login` "USER:PASSWORD".
struct Srv {
    QList<QByteArray> rules;
    int connections = 1, depth = 1, chunk = 0;
    QString login, at, name;
    QByteArray tls;
};
// A whole check: its servers in order, the NZB, and the certificate the client trusts. `racing`:
// connections race, so the log lines between two of its frame lines are sorted.
struct Dialogue {
    std::vector<Srv> servers;
    QList<FileSpec> files = {{3, ids(3)}};
    QByteArray group = "alt.test", trust;
    int timeout = 1;
    bool racing = false;
    int sample = 0; // bodies read after the passes
};
Q_DECLARE_METATYPE(Dialogue)

struct Outcome {
    QStringList log;
    QByteArray transcript; // log, each server's commands, rows, what is left missing
};

inline QSslConfiguration serverTls(const QByteArray &certificate)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(QSslCertificate(testData(QString::fromLatin1(certificate + ".pem"))));
    configuration.setPrivateKey(QSslKey(testData(QString::fromLatin1(certificate + ".key")), QSsl::Ec));
    return configuration;
}

inline Outcome runDialogue(const Dialogue &d)
{
    static const char *const names[] = {"one", "two", "three"};
    std::vector<std::unique_ptr<ScriptedNntpServer>> nntp;
    std::vector<CheckServer> servers;
    for (const Srv &s : d.servers) {
        const QSslConfiguration tls = s.tls.isEmpty() || s.tls == "plain" ? QSslConfiguration() : serverTls(s.tls);
        nntp.push_back(std::make_unique<ScriptedNntpServer>(tls.isNull() ? nullptr : &tls));
        nntp.back()->script(s.rules, s.chunk);
        const QString at = s.at.isEmpty() ? QStringLiteral("127.0.0.1:%1").arg(nntp.back()->port()) : s.at;
        QTcpServer probe; // for a port on which nothing listens
        const int port = at.endsWith(QLatin1String(":closed")) ? (probe.listen(QHostAddress::LocalHost), probe.serverPort()) : at.section(u':', -1).toInt();
        servers.push_back({s.name.isEmpty() ? QLatin1String(names[servers.size()]) : s.name, at.section(u':', 0, -2), at.section(u':', -1), port > 65535 ? 0 : port,
                           s.connections, s.login.section(u':', 0, 0), s.login.section(u':', 1), !s.tls.isEmpty(), s.depth});
    }
    Check check(d.files, servers, d.group);
    ConnectionOptions options;
    options.idleTimeoutSeconds = d.timeout;
    if (!d.trust.isEmpty())
        options.extraCaCertificates = {QSslCertificate(testData(QString::fromLatin1(d.trust + ".pem")))};
    check.run.setConnectionOptions(options);
    check.run.setSampleCount(d.sample);
    check.run.start();
    if (!check.waitForEnd())
        return {check.log, "the check did not end"};
    QStringList text = check.log;
    const qsizetype end = d.racing ? text.indexOf(QString(64, u'-')) : 0;
    for (qsizetype from = 0, to = 0; to <= end; ++to) {
        if (to == end || text[to].contains(QLatin1String("newsserver: ")))
            std::sort(text.begin() + from, text.begin() + to), from = to + 1;
    }
    for (size_t i = 0; i < nntp.size(); ++i) {
        (void)QTest::qWaitFor([&] { return nntp[i]->allClosed(); }, 1000);
        text << QStringLiteral("== %1: %2 connection(s)").arg(servers[i].nickname).arg(nntp[i]->connectionCount());
        QStringList commands = nntp[i]->commands();
        if (d.servers[i].tls == "plain")
            continue; // it may take bytes of the TLS hello for commands
        if (servers[i].connections > 1) { // which connection asks what is a race: the set and the count
            for (QString &command : commands)
                command = command.section(u' ', 1);
            commands.sort();
            commands.removeDuplicates();
            text << QStringLiteral("%1 commands of:").arg(nntp[i]->commands().size());
        }
        text << commands;
    }
    text << QStringLiteral("== finished %1, left missing %2").arg(check.finishedCount).arg(check.run.missingLeft());
    for (int item = 1; item <= check.nzb->itemCount(); ++item)
        text << check.row(item);
    return {check.log, folded(text.join(u'\n')).toUtf8() + '\n'};
}

// The golden file of the current test row: check-PROGRAM-TAG.txt
inline QString goldenName()
{
    QString tag = QCoreApplication::applicationName().mid(4) + u'-' + QLatin1String(QTest::currentDataTag()).toString().toLower();
    return QStringLiteral("check-%1.txt").arg(tag.replace(QRegularExpression(QStringLiteral("[^a-z0-9]+")), QStringLiteral("-")));
}
