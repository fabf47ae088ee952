#pragma once

#include "ScriptedNntpServer.h"

#include "check/CheckRun.h"
#include "nzb/NzbLoader.h"

#include <QTest>

#include <memory>

// Helpers for tests that run checks against scripted servers.
struct FileSpec {
    int announced; // 0: the subject has no part counter
    QList<QByteArray> messageIds;
};

// `group` is written into the XML as it stands; empty: the files name no group.
inline std::unique_ptr<NzbModel> makeNzb(const QList<FileSpec> &files, const QByteArray &group = "alt.test")
{
    QByteArray xml = "<?xml version=\"1.0\"?><nzb>";
    int number = 0;
    for (const FileSpec &file : files) {
        ++number;
        const QByteArray counter = file.announced > 0 ? " (1/" + QByteArray::number(file.announced) + ")" : "";
        xml += "<file date=\"1700000000\" subject=\"&quot;f" + QByteArray::number(number) + ".rar&quot; yEnc" + counter
               + "\"><groups>" + (group.isEmpty() ? QByteArray() : "<group>" + group + "</group>") + "</groups><segments>";
        for (const QByteArray &id : file.messageIds)
            xml += "<segment>" + id + "</segment>";
        xml += "</segments></file>";
    }
    xml += "</nzb>";
    LoadOptions options;
    options.now = QDateTime::fromSecsSinceEpoch(1700000000);
    NzbLoadResult result = LoadNzbFromBytes(xml, QStringLiteral("test.nzb"), options);
    if (result.kind != NzbLoadResult::Kind::Loaded)
        qFatal("the test NZB does not load");
    return std::move(result.model);
}

inline CheckServer server(quint16 port, int connections = 1, const QString &nickname = QStringLiteral("one"))
{
    CheckServer result;
    result.nickname = nickname;
    result.address = QStringLiteral("127.0.0.1");
    result.portText = QString::number(port);
    result.port = port;
    result.connections = connections;
    return result;
}

// A port on which nothing listens.
inline quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// One check of an NZB, with its log.
struct Check {
    Check(const QList<FileSpec> &files, std::vector<CheckServer> servers, const QByteArray &group = "alt.test")
        : nzb(makeNzb(files, group))
        , run(*nzb, std::move(servers), u'.')
    {
        QObject::connect(&run, &CheckRun::logLine, &run, [this](const QString &line) { log << line; });
        QObject::connect(&run, &CheckRun::finished, &run, [this] { ++finishedCount; });
    }
    bool waitForEnd() { return QTest::qWaitFor([this] { return finishedCount > 0; }, 10000); }
    QString row(int item) const
    {
        const NzbItem &it = nzb->item(item);
        static const char *const names[] = {"", "Queued", "Checking", "Available", "Missing"};
        return QLatin1String(names[int(it.status)]) + u' ' + it.available;
    }

    std::unique_ptr<NzbModel> nzb;
    CheckRun run;
    QStringList log;
    int finishedCount = 0;
};
