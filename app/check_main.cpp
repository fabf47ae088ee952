// orvalis-check: the core of Orvalis on the command line, for scripts and tests.

#include "CheckReport.h"
#include "NzbgetMode.h"
#include "Passwords.h"
#include "SabnzbdMode.h"

#include "check/CheckRun.h"
#include "check/ConnectionPool.h"
#include "check/ServerTest.h"
#include "nzb/LogText.h"
#include "nzb/NzbLoader.h"
#include "settings/SettingsFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <QProcessEnvironment>
#include <QSslCertificate>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

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

// What the load said besides the model, on standard error, each line but an empty one prefixed
// with the path so that a call with several NZBs tells whose it is; the exit code of a failure.
int reportLoad(const QString &path, const NzbLoadResult &result)
{
    QStringList lines = result.warningLines;
    if (result.kind == NzbLoadResult::Kind::ParseError)
        lines = result.boxLines();
    else if (result.kind == NzbLoadResult::Kind::Failure)
        lines = {QStringLiteral("Error loading NZB: ") + result.boxLines().join(u'\n')};
    for (const QString &line : lines)
        writeLine(stderr, line.isEmpty() ? line : singleLogLine(path) + QStringLiteral(": ") + line);
    switch (result.kind) {
    case NzbLoadResult::Kind::Loaded: return Success;
    case NzbLoadResult::Kind::ParseError: return ParseFailed;
    case NzbLoadResult::Kind::Failure: break;
    }
    return LoadFailed;
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
    return CheckServer::tickedOf(read.contents.servers);
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

// What every NZB of a call is checked with.
struct CheckSetup {
    std::vector<CheckServer> servers;
    ConnectionOptions connection;
    LoadOptions load;
    bool json = false;
    bool listFiles = false;
    bool statOnly = false;
    repair::IgnoreList ignore; // the files a verdict takes as not needed
    int sampleCount = 0;
    ConnectionPool *pool = nullptr;
};

void listFiles(const NzbModel &nzb)
{
    for (int index = 1; index <= nzb.itemCount(); ++index) {
        const NzbItem &item = nzb.item(index);
        writeLine(stdout, QString::number(index) + u'\t' + statusName(item.status) + u'\t' + item.available + u'\t' + item.partsText());
    }
}

void writeJson(const QJsonObject &object)
{
    writeLine(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

int check(NzbModel &nzb, const QString &path, const CheckSetup &setup)
{
    std::FILE *logStream = setup.json ? stderr : stdout; // standard output carries only the JSON then
    for (const QString &line : nzb.summary().logLines())
        writeLine(logStream, line);
    CheckRun run(nzb, setup.servers, QLocale().decimalPoint().front()); // as the window writes it
    run.setConnectionOptions(setup.connection);
    run.setFetchForRepair(!setup.statOnly);
    run.setSampleCount(setup.sampleCount);
    run.setConnectionPool(setup.pool);
    QObject::connect(&run, &CheckRun::logLine, [logStream](const QString &line) { writeLine(logStream, line); });
    QObject::connect(&run, &CheckRun::finished, QCoreApplication::instance(), &QCoreApplication::quit);
    QTimer progress;
    if (isatty(STDERR_FILENO)) {
        QObject::connect(&progress, &QTimer::timeout, [&run] { showProgress(run); });
        progress.start(200);
    }
    run.start(); // its end comes from the event loop, also when there is nothing to ask
    QCoreApplication::exec();
    if (progress.isActive())
        std::fputs("\r\033[K", stderr);
    if (setup.json)
        writeJson(checkedNzbJson(path, nzb, run));
    else if (setup.listFiles)
        listFiles(nzb);
    return checkExitCode(run);
}

// Loads and checks (or dumps) each NZB in turn, over the same connections.
int checkEach(const QStringList &paths, const CheckSetup &setup, bool dump)
{
    int worst = Success;
    for (const QString &path : paths) {
        NzbLoadResult result = LoadNzb(path, setup.load);
        int exitCode = reportLoad(path, result);
        if (!result.loaded() && setup.json)
            writeJson(unloadedNzbJson(path, result, exitCode));
        else if (result.loaded() && dump)
            printModel(*result.model);
        else if (result.loaded())
            exitCode = check(*result.model, path, setup);
        worst = worseExitCode(worst, exitCode);
    }
    return worst;
}

// Tries each server as the editor's Test button does, printing its lines as they come.
int testServers(const std::vector<CheckServer> &servers, const ConnectionOptions &options)
{
    bool allWorked = true;
    for (const CheckServer &server : servers) {
        writeLine(stdout, QStringLiteral("Testing newsserver: ") + singleLogLine(server.nickname));
        ServerTest test(server, !server.username.isEmpty(), options);
        QObject::connect(&test, &ServerTest::lineAdded, [](const QString &line) { writeLine(stdout, line); });
        QObject::connect(&test, &ServerTest::finished, QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
        test.start();
        QCoreApplication::exec();
        allWorked = allWorked && test.allWorked();
        writeLine(stdout, QString());
    }
    return allWorked ? Success : SomethingMissing;
}

const QString kPasswordWarning = QStringLiteral(
    "orvalis-check: warning: a password on the command line can be read by other users of this machine; use ~/.netrc instead.");

// The tool's options, each with its help text.
struct ToolOptions {
    QCommandLineOption dump{QStringLiteral("dump"), QStringLiteral("Print each loaded NZB: summary, group, items and queue.")};
    QCommandLineOption namesOnly{QStringLiteral("names-only"), QStringLiteral("Show file names instead of subjects.")};
    QCommandLineOption now{QStringLiteral("now"), QStringLiteral("Local date-time to count the post's age to."), QStringLiteral("YYYY-MM-DDTHH:MM:SS")};
    QCommandLineOption settings{QStringLiteral("settings"), QStringLiteral("Check with the ticked servers of this Settings.dat."), QStringLiteral("FILE")};
    QCommandLineOption server{QStringLiteral("server"), QStringLiteral("Check with this server; repeat for more, in order. The password comes from ~/.netrc."),
                              QStringLiteral("HOST:PORT[:THREADS[:USER]]")};
    QCommandLineOption netrc{QStringLiteral("netrc-file"), QStringLiteral("Read logins from this file instead of ~/.netrc."), QStringLiteral("FILE")};
    QCommandLineOption tls{QStringLiteral("tls"), QStringLiteral("Talk TLS to the servers given by --server (usually port 563).")};
    QCommandLineOption caFile{QStringLiteral("ca-file"), QStringLiteral("Also trust the CA certificates in this PEM file."), QStringLiteral("FILE")};
    QCommandLineOption pipeline{QStringLiteral("pipeline"),
                                QStringLiteral("Keep up to N article queries out per connection, on every server (1 to %1).").arg(kDeepestPipeline),
                                QStringLiteral("N")};
    QCommandLineOption timeout{QStringLiteral("timeout"),
                               QStringLiteral("Give a server up after it sent nothing for this long while owing a reply; 0 for never (default: Settings.dat's, else 60)."),
                               QStringLiteral("SECONDS")};
    QCommandLineOption statOnly{QStringLiteral("stat-only"), QStringLiteral("Read no article for the repair verdict: estimate it from the NZB alone.")};
    QCommandLineOption sample{QStringLiteral("sample"),
                              QStringLiteral("After the last pass, read the bodies of N found articles (0 to %1) to catch servers whose STAT is wrong.").arg(CheckRun::kLargestSample),
                              QStringLiteral("N")};
    QCommandLineOption ignoreExt{QStringLiteral("ignore-ext"),
                                 QStringLiteral("Files outside every par2 set that the data does not need: extensions or masks with * and ?, "
                                                "comma-separated; empty for none (default: .nfo, .sfv, .nzb)."),
                                 QStringLiteral("LIST")};
    QCommandLineOption files{QStringLiteral("files"), QStringLiteral("After the report, one line per file: index, status, available, parts.")};
    QCommandLineOption json{QStringLiteral("json"),
                            QStringLiteral("Write one JSON object per NZB on standard output (JSON Lines); the log goes to standard error.")};
    QCommandLineOption test{QStringLiteral("test"), QStringLiteral("Test the servers instead of checking: connect, log in, open every connection, ask STAT.")};
    QCommandLineOption nzbget{QStringLiteral("nzbget"), QStringLiteral("Run as NZBGet's extension: the job, the servers and the options come from NZBGet's environment.")};
    QCommandLineOption sabnzbd{QStringLiteral("sabnzbd"),
                               QStringLiteral("Run as SABnzbd's pre-queue script: the job comes from SABnzbd's environment, the NZB and the servers from its sabnzbd.ini.")};

    void addTo(QCommandLineParser &parser) const
    {
        parser.addOptions({dump, namesOnly, now, settings, server, netrc, tls, caFile, pipeline, timeout, statOnly, sample, ignoreExt, files, json, test, nzbget,
                           sabnzbd});
        parser.addPositionalArgument(QStringLiteral("FILE.nzb"), QStringLiteral("The NZB files to check, one after another."), QStringLiteral("FILE.nzb..."));
    }
};

// Which modes go together; a usage error's message when they do not.
std::optional<QString> modeProblem(const QCommandLineParser &parser, const ToolOptions &options)
{
    const bool noFiles = parser.positionalArguments().isEmpty();
    for (const auto &[option, downloader] : {std::pair(&options.nzbget, "NZBGet"), std::pair(&options.sabnzbd, "SABnzbd")}) {
        if (parser.isSet(*option) && parser.optionNames().size() + parser.positionalArguments().size() > 1)
            return QStringLiteral("--%1 takes everything from %2's environment: no NZB file and no other option.").arg(option->names().first(), QLatin1String(downloader));
        if (parser.isSet(*option))
            return std::nullopt;
    }
    if (parser.isSet(options.test) && (!noFiles || parser.isSet(options.dump) || parser.isSet(options.json)))
        return QStringLiteral("--test checks servers: it takes no NZB file, no --dump and no --json.");
    if (!parser.isSet(options.test) && noFiles)
        return QStringLiteral("Name at least one NZB file.");
    if (parser.isSet(options.json) && parser.isSet(options.dump))
        return QStringLiteral("--json reports checks; it does not go with --dump.");
    return std::nullopt;
}

std::optional<QString> readLoadOptions(const QCommandLineParser &parser, const ToolOptions &options, CheckSetup &setup)
{
    setup.json = parser.isSet(options.json);
    setup.listFiles = parser.isSet(options.files);
    setup.statOnly = parser.isSet(options.statOnly);
    if (parser.isSet(options.ignoreExt))
        setup.ignore = repair::IgnoreList::fromText(parser.value(options.ignoreExt));
    if (parser.isSet(options.sample) && !parseNumber(parser.value(options.sample), 0, CheckRun::kLargestSample, setup.sampleCount))
        return QStringLiteral("--sample takes a number from 0 to %1.").arg(CheckRun::kLargestSample);
    if (setup.statOnly && parser.isSet(options.sample))
        return QStringLiteral("--sample reads bodies; it does not go with --stat-only.");
    setup.load.namesOnly = parser.isSet(options.namesOnly);
    setup.load.now = QDateTime::currentDateTime();
    if (parser.isSet(options.now)) {
        setup.load.now = QDateTime::fromString(parser.value(options.now), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        if (!setup.load.now.isValid())
            return QStringLiteral("--now takes a local date-time as YYYY-MM-DDTHH:MM:SS.");
    }
    return std::nullopt;
}

// What a check may change of each server, -1 or 0 where nothing was given.
struct ServerOverrides {
    int pipelineDepth = 0;
    int timeoutSeconds = -1;
};

std::optional<QString> readConnectionOptions(const QCommandLineParser &parser, const ToolOptions &options, CheckSetup &setup,
                                             ServerOverrides &overrides)
{
    if (parser.isSet(options.pipeline) && !parseNumber(parser.value(options.pipeline), 1, kDeepestPipeline, overrides.pipelineDepth))
        return QStringLiteral("--pipeline takes a number from 1 to %1.").arg(kDeepestPipeline);
    if (parser.isSet(options.timeout)
        && !parseNumber(parser.value(options.timeout), 0, NntpConnection::kLongestIdleTimeout, overrides.timeoutSeconds))
        return QStringLiteral("--timeout takes a number of seconds from 0 to %1.").arg(NntpConnection::kLongestIdleTimeout);
    if (parser.isSet(options.caFile)) {
        const QString caFile = parser.value(options.caFile);
        setup.connection.extraCaCertificates = QSslCertificate::fromPath(caFile, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
        if (setup.connection.extraCaCertificates.isEmpty())
            return QStringLiteral("--ca-file: no PEM certificate could be read from ") + caFile;
    }
    return std::nullopt;
}

// The --server servers, and per server whether its password came with it.
std::optional<QString> readServers(const QCommandLineParser &parser, const ToolOptions &options, std::vector<CheckServer> &servers,
                                   std::vector<bool> &givenPassword)
{
    for (const QString &text : parser.values(options.server)) {
        CheckServer server;
        if (!parseServer(text, server))
            return QStringLiteral("--server takes HOST:PORT[:THREADS[:USER]], threads 1 to 10: ") + text;
        server.tls = parser.isSet(options.tls);
        if (!server.password.isEmpty() && std::find(givenPassword.begin(), givenPassword.end(), true) == givenPassword.end())
            writeLine(stderr, kPasswordWarning);
        givenPassword.push_back(!server.password.isEmpty());
        servers.push_back(server);
    }
    return std::nullopt;
}

PasswordSources passwordSources(const QCommandLineParser &parser, const ToolOptions &options)
{
    if (parser.isSet(options.netrc))
        return {parser.value(options.netrc), true};
    return {QDir::homePath() + QStringLiteral("/.netrc"), false};
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
    parser.setApplicationDescription(QStringLiteral("Checks whether the posts of NZB files still exist, or prints what Orvalis reads from them (--dump)."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const ToolOptions options;
    options.addTo(parser);
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
    CheckSetup setup;
    if (auto problem = modeProblem(parser, options); problem || (problem = readLoadOptions(parser, options, setup)))
        return usageError(*problem);
    if (parser.isSet(options.nzbget))
        return RunNzbgetExtension(QProcessEnvironment::systemEnvironment());
    if (parser.isSet(options.sabnzbd))
        return RunSabnzbdPreQueue(QProcessEnvironment::systemEnvironment());
    const QStringList paths = parser.positionalArguments();
    if (parser.isSet(options.dump))
        return checkEach(paths, setup, true);

    ServerOverrides overrides;
    std::vector<bool> givenPassword;
    if (auto problem = readConnectionOptions(parser, options, setup, overrides);
        problem || (problem = readServers(parser, options, setup.servers, givenPassword)))
        return usageError(*problem);
    if (const auto refusal = ResolvePasswords(setup.servers, givenPassword, passwordSources(parser, options))) {
        writeLine(stderr, QStringLiteral("orvalis-check: ") + *refusal); // no usage to show: the command was right
        return UsageError;
    }
    if (setup.servers.empty())
        setup.servers = tickedServers(parser.isSet(options.settings) ? parser.value(options.settings) : DefaultSettingsPath(),
                                      setup.connection.idleTimeoutSeconds);
    if (setup.servers.empty()) {
        writeLine(stderr, QStringLiteral("orvalis-check: no newsserver is configured and ticked."));
        return NoServer;
    }
    if (overrides.timeoutSeconds >= 0)
        setup.connection.idleTimeoutSeconds = overrides.timeoutSeconds;
    for (CheckServer &server : setup.servers)
        server.pipelineDepth = overrides.pipelineDepth > 0 ? overrides.pipelineDepth : server.pipelineDepth;
    if (parser.isSet(options.test))
        return testServers(setup.servers, setup.connection);
    ConnectionPool pool;
    setup.pool = &pool;
    repair::IgnoreList::setInEffect(setup.ignore); // the check judges with the list in effect
    return checkEach(paths, setup, false);
}
