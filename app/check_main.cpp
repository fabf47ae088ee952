// orvalis-check: the core of Orvalis on the command line, for scripts and tests.

#include "check/CheckRun.h"
#include "nzb/LogText.h"
#include "nzb/NzbLoader.h"
#include "settings/SettingsFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QSslCertificate>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

enum ExitCode { Success = 0, SomethingMissing = 1, ParseFailed = 2, LoadFailed = 3, NoServer = 4, Repairable = 5, UsageError = 64 };

void writeLine(std::FILE *stream, const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream); // a script sees each line as soon as it is written
}

int usageError(const QString &message)
{
    writeLine(stderr, QStringLiteral("orvalis-check: ") + message);
    writeLine(stderr, QStringLiteral("Try 'orvalis-check --help'."));
    return UsageError;
}

void printModel(const NzbModel &model)
{
    for (const QString &line : model.summary().logLines())
        writeLine(stdout, line);
    writeLine(stdout, QStringLiteral("Group: ") + singleLogLine(model.groupName()));
    for (int index = 1; index <= model.itemCount(); ++index) {
        const NzbItem &item = model.item(index);
        writeLine(stdout, QString::number(index) + u'\t' + singleLogLine(item.name) + u'\t' + item.partsText());
    }
    const ArticleQueue &queue = model.articleQueue();
    for (qsizetype position = 1; position <= queue.count(); ++position)
        writeLine(stdout, singleLogLine(queue.entry(position).text()));
}

// Loads the NZB; on failure says why on standard error and gives the exit code.
std::unique_ptr<NzbModel> load(const QString &path, const LoadOptions &options, int &exitCode)
{
    NzbLoadResult result = LoadNzb(path, options);
    switch (result.kind) {
    case NzbLoadResult::Kind::Loaded:
        if (!result.warningLines.isEmpty())
            writeLine(stderr, result.warningLines.join(u'\n'));
        return std::move(result.model);
    case NzbLoadResult::Kind::ParseError:
        writeLine(stderr, result.boxLines().join(u'\n'));
        exitCode = ParseFailed;
        return nullptr;
    case NzbLoadResult::Kind::Failure:
        writeLine(stderr, QStringLiteral("Error loading NZB: ") + result.boxLines().join(u'\n'));
        exitCode = LoadFailed;
        return nullptr;
    }
    return nullptr;
}

// HOST:PORT[:THREADS[:USER[:PASSWORD]]], HOST in brackets when it holds colons; named HOST:PORT.
bool parseServer(const QString &text, CheckServer &server)
{
    qsizetype hostEnd = text.startsWith(u'[') ? text.indexOf(u']') + 1 : text.indexOf(u':');
    if (hostEnd <= 0 || hostEnd >= text.size() || text[hostEnd] != u':')
        return false;
    const QString host = text.first(hostEnd);
    const QStringList fields = text.sliced(hostEnd + 1).split(u':');
    bool portOk = false, threadsOk = true;
    const int port = fields[0].toInt(&portOk);
    const int threads = fields.size() > 1 ? fields[1].toInt(&threadsOk) : 1;
    if (!portOk || port < 1 || port > 65535 || !threadsOk || threads < 1 || threads > 10)
        return false;
    server.nickname = host + u':' + fields[0];
    server.address = host.startsWith(u'[') ? host.sliced(1, host.size() - 2) : host;
    server.portText = fields[0];
    server.port = port;
    server.connections = threads;
    server.username = fields.value(2);
    server.password = fields.size() > 3 ? fields.mid(3).join(u':') : QString();
    return true;
}

// A whole number from `lowest` to `highest`, digits only.
bool parseNumber(const QString &text, int lowest, int highest, int &number)
{
    bool isNumber = false;
    number = text.toInt(&isNumber);
    return isNumber && text.front().isDigit() && number >= lowest && number <= highest;
}

std::vector<CheckServer> tickedServers(const QString &settingsPath, int &timeoutSeconds)
{
    const SettingsReadResult read = ReadSettingsFile(settingsPath);
    if (!read.problem.isEmpty() && QFileInfo::exists(settingsPath))
        writeLine(stderr, QStringLiteral("orvalis-check: %1 could not be read whole: %2.").arg(settingsPath, read.problem));
    if (read.optionsRead)
        timeoutSeconds = read.contents.timeoutSeconds;
    std::vector<CheckServer> servers;
    for (const ServerRecord &record : read.contents.servers) {
        if (record.checked)
            servers.push_back(CheckServer::fromRecord(record));
    }
    return servers;
}

QString statusName(ItemStatus status)
{
    switch (status) {
    case ItemStatus::Queued: return QStringLiteral("Queued");
    case ItemStatus::Checking: return QStringLiteral("Checking");
    case ItemStatus::Available: return QStringLiteral("Available");
    case ItemStatus::Missing: break;
    }
    return QStringLiteral("Missing (partially)");
}

// Progress on a terminal only, so that scripts read clean output.
void showProgress(const CheckRun &check)
{
    std::fprintf(stderr, "\r%lld/%lld", qlonglong(check.captionPosition()), qlonglong(check.queueCount()));
    std::fflush(stderr);
}

int check(NzbModel &nzb, std::vector<CheckServer> servers, const ConnectionOptions &options, bool listFiles, bool statOnly)
{
    for (const QString &line : nzb.summary().logLines())
        writeLine(stdout, line);
    CheckRun run(nzb, std::move(servers), QLocale().decimalPoint().front()); // as the window writes it
    run.setConnectionOptions(options);
    run.setFetchForRepair(!statOnly);
    QObject::connect(&run, &CheckRun::logLine, [](const QString &line) { writeLine(stdout, line); });
    QObject::connect(&run, &CheckRun::finished, QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    QTimer progress;
    if (isatty(STDERR_FILENO)) {
        QObject::connect(&progress, &QTimer::timeout, [&run] { showProgress(run); });
        progress.start(200);
    }
    run.start();
    if (run.isRunning())
        QCoreApplication::exec();
    if (progress.isActive())
        std::fputs("\r\033[K", stderr);
    if (listFiles) {
        for (int index = 1; index <= nzb.itemCount(); ++index) {
            const NzbItem &item = nzb.item(index);
            writeLine(stdout, QString::number(index) + u'\t' + statusName(item.status) + u'\t' + item.available + u'\t'
                                  + item.partsText());
        }
    }
    if (run.missingLeft() == 0 && run.undownloadable() <= 0 && run.judgement().nothingLost())
        return Success;
    return run.judgement().dataComplete() ? Repairable : SomethingMissing;
}

} // namespace

int main(int argc, char *argv[])
{
    // Qt's plain poll loop: the GLib one costs two extra system calls per answer, and the
    // tool has no desktop to integrate with.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvalis-check"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVALIS_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Checks whether the posts of an NZB file still exist, or prints what Orvalis reads from it (--dump)."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption dumpOption(QStringLiteral("dump"), QStringLiteral("Print the loaded NZB: summary, group, items and queue."));
    const QCommandLineOption namesOnlyOption(QStringLiteral("names-only"), QStringLiteral("Show file names instead of subjects."));
    const QCommandLineOption nowOption(QStringLiteral("now"), QStringLiteral("Local date-time to count the post's age to."),
                                       QStringLiteral("YYYY-MM-DDTHH:MM:SS"));
    const QCommandLineOption settingsOption(QStringLiteral("settings"), QStringLiteral("Check with the ticked servers of this Settings.dat."),
                                            QStringLiteral("FILE"));
    const QCommandLineOption serverOption(QStringLiteral("server"), QStringLiteral("Check with this server; repeat for more, in order."),
                                          QStringLiteral("HOST:PORT[:THREADS[:USER[:PASSWORD]]]"));
    const QCommandLineOption tlsOption(QStringLiteral("tls"), QStringLiteral("Talk TLS to the servers given by --server (usually port 563)."));
    const QCommandLineOption caFileOption(QStringLiteral("ca-file"), QStringLiteral("Also trust the CA certificates in this PEM file."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption pipelineOption(QStringLiteral("pipeline"),
                                            QStringLiteral("Keep up to N article queries out per connection, on every server (1 to %1).").arg(kDeepestPipeline),
                                            QStringLiteral("N"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
                                           QStringLiteral("Give a server up after it sent nothing for this long while owing a reply; 0 for never (default: Settings.dat's, else 60)."),
                                           QStringLiteral("SECONDS"));
    const QCommandLineOption statOnlyOption(QStringLiteral("stat-only"),
                                            QStringLiteral("Read no article for the repair verdict: estimate it from the NZB alone."));
    const QCommandLineOption filesOption(QStringLiteral("files"), QStringLiteral("After the report, one line per file: index, status, available, parts."));
    parser.addOptions({dumpOption, namesOnlyOption, nowOption, settingsOption, serverOption, tlsOption, caFileOption,
                       pipelineOption, timeoutOption, statOnlyOption, filesOption});
    parser.addPositionalArgument(QStringLiteral("FILE.nzb"), QStringLiteral("The NZB file to load."));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return Success;
    }
    if (parser.isSet(versionOption)) {
        writeLine(stdout, QStringLiteral("orvalis-check ") + QStringLiteral(ORVALIS_VERSION));
        return Success;
    }
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("Name exactly one NZB file."));

    LoadOptions options;
    options.namesOnly = parser.isSet(namesOnlyOption);
    options.now = QDateTime::currentDateTime();
    if (parser.isSet(nowOption)) {
        options.now = QDateTime::fromString(parser.value(nowOption), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        if (!options.now.isValid())
            return usageError(QStringLiteral("--now takes a local date-time as YYYY-MM-DDTHH:MM:SS."));
    }
    const QString path = parser.positionalArguments().constFirst();
    int exitCode = Success;
    if (parser.isSet(dumpOption)) {
        if (const std::unique_ptr<NzbModel> nzb = load(path, options, exitCode))
            printModel(*nzb);
        return exitCode;
    }

    ConnectionOptions connectionOptions;
    int pipelineDepth = 0;
    if (parser.isSet(pipelineOption) && !parseNumber(parser.value(pipelineOption), 1, kDeepestPipeline, pipelineDepth))
        return usageError(QStringLiteral("--pipeline takes a number from 1 to %1.").arg(kDeepestPipeline));
    int timeoutSeconds = -1;
    if (parser.isSet(timeoutOption) && !parseNumber(parser.value(timeoutOption), 0, NntpConnection::kLongestIdleTimeout, timeoutSeconds))
        return usageError(QStringLiteral("--timeout takes a number of seconds from 0 to %1.").arg(NntpConnection::kLongestIdleTimeout));
    if (parser.isSet(caFileOption)) {
        const QString caFile = parser.value(caFileOption);
        connectionOptions.extraCaCertificates = QSslCertificate::fromPath(caFile, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
        if (connectionOptions.extraCaCertificates.isEmpty())
            return usageError(QStringLiteral("--ca-file: no PEM certificate could be read from ") + caFile);
    }

    std::vector<CheckServer> servers;
    for (const QString &text : parser.values(serverOption)) {
        CheckServer server;
        if (!parseServer(text, server))
            return usageError(QStringLiteral("--server takes HOST:PORT[:THREADS[:USER[:PASSWORD]]], threads 1 to 10: ") + text);
        server.tls = parser.isSet(tlsOption);
        servers.push_back(server);
    }
    if (servers.empty())
        servers = tickedServers(parser.isSet(settingsOption) ? parser.value(settingsOption) : DefaultSettingsPath(),
                                connectionOptions.idleTimeoutSeconds);
    if (servers.empty()) {
        writeLine(stderr, QStringLiteral("orvalis-check: no newsserver is configured and ticked."));
        return NoServer;
    }
    if (timeoutSeconds >= 0)
        connectionOptions.idleTimeoutSeconds = timeoutSeconds;
    for (CheckServer &server : servers)
        server.pipelineDepth = pipelineDepth > 0 ? pipelineDepth : server.pipelineDepth;
    const std::unique_ptr<NzbModel> nzb = load(path, options, exitCode);
    return nzb ? check(*nzb, std::move(servers), connectionOptions, parser.isSet(filesOption), parser.isSet(statOnlyOption)) : exitCode;
}
