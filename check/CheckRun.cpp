#include "check/CheckRun.h"

#include "check/BodySampler.h"
#include "check/CheckResults.h"
#include "check/ConnectionPool.h"
#include "check/NntpText.h"
#include "check/NntpConnection.h"
#include "check/RepairCheck.h"
#include "nzb/LogText.h"
#include "repair/VerdictNames.h"

#include <algorithm>

namespace {

const QString kEveryConnectionEnded = QStringLiteral("Server error: -1 - The server ended every connection before its articles were answered.");

} // namespace

CheckServer CheckServer::fromRecord(const ServerRecord &server)
{
    CheckServer result{server.nickname, server.address, server.port, 0, 1, server.username, server.password(), false, 1, {}};
    const int port = leadingNumber(server.port);
    result.port = port >= 1 && port <= 65535 ? port : 0;
    result.connections = std::clamp(leadingNumber(server.threads), 1, 10);
    result.tls = server.ssl;
    result.pipelineDepth = std::clamp(leadingNumber(server.pipeline), 1, kDeepestPipeline);
    return result;
}

std::vector<CheckServer> CheckServer::tickedOf(const std::vector<ServerRecord> &servers)
{
    std::vector<CheckServer> ticked;
    for (const ServerRecord &record : servers) {
        if (record.checked)
            ticked.push_back(fromRecord(record));
    }
    return ticked;
}

CheckRun::CheckRun(NzbModel &nzb, std::vector<CheckServer> servers, QChar decimalSeparator, QObject *parent)
    : QObject(parent)
    , m_nzb(nzb)
    , m_servers(std::move(servers))
    , m_decimalSeparator(decimalSeparator)
{
}

CheckRun::~CheckRun()
{
    closeConnections(false);
}

qsizetype CheckRun::queueCount() const
{
    return m_pass.count() > 0 ? m_pass.count() : m_nzb.articleQueue().count();
}

void CheckRun::start()
{
    ++m_passNumber;
    m_running = true;
    m_nzb.counters().reset();
    m_ownedQueue.clear();
    m_pass.start(m_nzb.articleQueue());
    m_progressValue = 0;
    m_missingLeft = 0;
    m_server = 0;
    m_foundOn.assign(size_t(m_nzb.articleQueue().count()), -1);
    m_tallies.clear();
    m_sampler.reset();
    m_sampleOutcome.reset();
    m_doubtedServers.clear();
    m_repair.reset();
    m_judgement = {};
    if (m_nzb.articleQueue().isEmpty() || m_servers.empty())
        finish({});
    else
        startServerPass(0);
}

void CheckRun::cancel()
{
    ++m_passNumber;
    closeConnections(false);
    m_sampler.reset();
    m_repair.reset();
    m_running = false;
    m_progressValue = 0;
    results::ResetRowsToQueued(m_nzb);
}

void CheckRun::stop()
{
    ++m_passNumber;
    closeConnections(true);
    m_sampler.reset();
    m_repair.reset();
    m_running = false;
}

void CheckRun::startServerPass(size_t server)
{
    m_server = server;
    ++m_passNumber;
    const CheckServer &current = m_servers[server];
    log(QStringLiteral("Initializing newsserver: ") + current.nickname);
    if (!m_pendingErrorLine.isEmpty())
        log(std::exchange(m_pendingErrorLine, {}));
    m_statusText = QStringLiteral(" Checking NZB with newsserver: ") + current.nickname;
    m_askWithHead = false;
    m_reopensLeft = m_retriesLeft = current.connections;
    m_retriesWaiting = 0;
    m_othersQuit = false;
    m_askAgainWithHead = m_askingAgain = false;
    m_crossCheck.startPass(m_pass.count());
    m_errorsLogged.clear();
    m_tallies.push_back({current.nickname, m_pass.count(), 0, {}, false});

    QString fault;
    if (current.port == 0)
        fault = QStringLiteral("The port \"%1\" is not a number from 1 to 65535.").arg(current.portText);
    else if (holdsLineBreakOrNul(current.username) || holdsLineBreakOrNul(current.password))
        fault = QStringLiteral("The user name or the password holds a line break.");
    if (!fault.isEmpty()) {
        giveUpServer(QStringLiteral("Server error: -1 - ") + fault);
        return;
    }
    const qsizetype connections = std::min<qsizetype>(current.connections, m_pass.count());
    for (qsizetype i = 0; i < connections; ++i)
        openConnection();
}

// True when that answer completed the pass.
bool CheckRun::askAgainOrCountMissing(qsizetype position)
{
    if (!m_pass.failedTwice(position))
        return false;
    recordAnswer(position, false);
    if (!passDone())
        return false;
    endServerPass();
    return true;
}

// With entries unanswered and no connection left to ask them, a new connection takes over, as
// many times in a pass as the server has connections; then the server is given up.
void CheckRun::giveUpIfStuck()
{
    if (passDone()) {
        endServerPass(); // the last cross-check was lost with its connection
        return;
    }
    if (!m_connections.empty() || m_retriesWaiting > 0 || m_pass.complete())
        return;
    if (m_reopensLeft > 0) {
        --m_reopensLeft;
        openConnection();
        return;
    }
    writeTerminatingLines();
    giveUpServer(kEveryConnectionEnded);
}

void CheckRun::writeTerminatingLines()
{
    log(QStringLiteral("Terminating newsserver: ") + server().nickname);
    log(kSeparatorLine);
    log(QString());
}

// Every log line is one line of text: a control byte from a server or an NZB could otherwise
// forge lines or reach a terminal as an escape sequence.
void CheckRun::log(const QString &line)
{
    Q_EMIT logLine(singleLogLine(line));
}

// What the server found stays found; what it lacked and what it never answered goes to the
// next server. Each item's answered count is set so that it completes exactly when its
// entries in the new queue are all answered. `reason` is the one line that says why: it is
// written after the next server's first line, unless this pass logged it already.
void CheckRun::giveUpServer(const QString &reason)
{
    noteServerError(reason);
    if (!m_errorsLogged.contains(reason))
        m_pendingErrorLine = reason;
    m_tallies.back().givenUp = true;
    closeConnections(false);
    ArticleQueue next = m_pass.takeMissing(true);
    ItemCounters &counters = m_nzb.counters();
    std::vector<int> remaining(counters.answered.size(), 0);
    for (qsizetype position = 1; position <= next.count(); ++position)
        ++remaining[size_t(next.entry(position).itemIndex)];
    for (int item = 1; item <= m_nzb.itemCount(); ++item) {
        if (remaining[size_t(item)] > 0)
            counters.answered[size_t(item)] = m_nzb.item(item).segmentCount - remaining[size_t(item)];
    }
    std::fill(counters.notFound.begin(), counters.notFound.end(), 0);
    continueWith(std::move(next));
}

void CheckRun::endServerPass()
{
    if (std::exchange(m_askAgainWithHead, false) && askMissingAgain())
        return;
    closeConnections(true);
    writeTerminatingLines();
    std::fill(m_nzb.counters().notFound.begin(), m_nzb.counters().notFound.end(), 0);
    continueWith(m_pass.takeMissing(false));
}

// The server's "430 " answers, asked again with HEAD on its open connections. False when it
// lacked nothing after all.
bool CheckRun::askMissingAgain()
{
    std::fill(m_nzb.counters().notFound.begin(), m_nzb.counters().notFound.end(), 0);
    ArticleQueue missing = m_pass.takeMissing(false);
    if (missing.isEmpty())
        return false;
    m_ownedQueue = std::move(missing);
    m_pass.start(m_ownedQueue);
    m_askingAgain = true;
    const quint64 pass = m_passNumber;
    for (NntpConnection *connection : std::vector<NntpConnection *>(m_connections)) {
        if (connection->asking && !connection->isClosed())
            askMore(connection);
        if (m_passNumber != pass)
            return true;
    }
    giveUpIfStuck();
    return true;
}

// Hands what is still missing to the next server, or ends the check.
void CheckRun::continueWith(ArticleQueue queue)
{
    m_progressValue = 0;
    m_missingLeft = queue.count();
    if (queue.isEmpty()) {
        finish({});
        return;
    }
    m_ownedQueue = std::move(queue);
    m_pass.start(m_ownedQueue);
    if (m_server + 1 < m_servers.size())
        startServerPass(m_server + 1);
    else
        finish(m_ownedQueue);
}

// The NZB's files as the repair verdict reads them, with what no server had.
std::vector<repair::PostedFile> CheckRun::postedFiles(const ArticleQueue &missing) const
{
    std::vector<repair::PostedFile> files(size_t(m_nzb.itemCount()));
    for (int item = 1; item <= m_nzb.itemCount(); ++item)
    {
        const NzbItem &listed = m_nzb.item(item);
        files[size_t(item - 1)].name = repair::VerdictFileName(listed.subject, listed.fileName, item);
        files[size_t(item - 1)].announced = listed.announced;
    }
    const ArticleQueue &all = m_nzb.articleQueue();
    std::vector<bool> lost(size_t(all.count()), false);
    for (qsizetype position = 1; position <= missing.count(); ++position)
        lost[size_t(missing.entry(position).segment)] = true;
    for (qsizetype position = 1; position <= all.count(); ++position) {
        const QueueEntry entry = all.entry(position);
        const SegmentInfo &info = m_nzb.segments()[size_t(entry.segment)];
        repair::PostedFile &file = files[size_t(entry.itemIndex - 1)];
        file.segments.push_back({info.number, info.bytes, lost[size_t(entry.segment)], entry.segment});
        const int server = m_foundOn[size_t(entry.segment)];
        file.doubtful = file.doubtful || (server >= 0 && size_t(server) < m_doubtedServers.size() && m_doubtedServers[size_t(server)]);
    }
    return files;
}

void CheckRun::finish(const ArticleQueue &missing)
{
    ++m_passNumber;
    closeConnections(true);
    if (!m_pendingErrorLine.isEmpty())
        log(std::exchange(m_pendingErrorLine, {}));
    results::SettleUnfinishedRows(m_nzb);
    m_missingAtEnd = missing;
    if (m_sampleCount > 0)
        m_sampleOutcome = SampleOutcome{};
    if (m_sampleCount > 0 && m_fetchForRepair && std::any_of(m_foundOn.begin(), m_foundOn.end(), [](int server) { return server >= 0; }))
        sampleBodies();
    else
        report();
}

void CheckRun::sampleBodies()
{
    m_sampler = std::make_unique<BodySampler>(m_nzb, m_foundOn, m_servers, m_connectionOptions, m_pool);
    connect(m_sampler.get(), &BodySampler::logLine, this, &CheckRun::log);
    connect(m_sampler.get(), &BodySampler::finished, this, [this] {
        takeSamples();
        report();
    });
    m_sampler->start(m_sampleCount);
}

// An article whose body no server has counts as missing, for the report and the verdict.
void CheckRun::takeSamples()
{
    m_sampleOutcome = SampleOutcome{m_sampler->asked(), m_sampler->failedCount()};
    m_doubtedServers = m_sampler->doubtedServers();
    for (const qsizetype segment : m_sampler->goneSegments()) {
        const QueueEntry entry = m_nzb.articleQueue().entry(segment + 1);
        results::LoseFound(m_nzb, entry.itemIndex);
        m_foundOn[size_t(segment)] = -1;
        m_missingAtEnd.append(entry.itemIndex, entry.messageId, entry.segment);
        ++m_missingLeft;
    }
    m_sampler.release()->deleteLater();
}

void CheckRun::report()
{
    const QStringList report = results::WriteSummary(m_nzb, m_decimalSeparator);
    m_undownloadable = m_nzb.statistics().requiredCount;
    for (int item = 1; item <= m_nzb.itemCount(); ++item)
        m_undownloadable -= m_nzb.item(item).available.toLongLong();
    for (const QString &line : report)
        log(line);
    m_progressValue = 0;
    // The verdict reads the articles it needs before the check ends, so the window stays in its
    // running state, with Cancel, until then.
    std::vector<repair::PostedFile> files = postedFiles(m_missingAtEnd);
    m_repair = std::make_unique<RepairCheck>(m_nzb, std::move(files), std::move(m_foundOn), m_servers, m_connectionOptions, m_pool);
    if (m_sampleOutcome)
        m_repair->setSampledBodies({m_sampleOutcome->asked, m_sampleOutcome->failed});
    connect(m_repair.get(), &RepairCheck::logLine, this, &CheckRun::log);
    connect(m_repair.get(), &RepairCheck::judged, this, [this](const repair::Judgement &judgement) {
        m_judgement = judgement;
        for (const QString &line : judgement.lines())
            log(line);
        m_repair.release()->deleteLater();
        // The verdict may come from inside start(); the end is reported from the event loop.
        QMetaObject::invokeMethod(this, [this, pass = m_passNumber] {
            if (pass == m_passNumber)
                reportEnd();
        }, Qt::QueuedConnection);
    });
    m_repair->start(m_fetchForRepair);
}

void CheckRun::reportEnd()
{
    m_running = false;
    Q_EMIT finished();
}

void CheckRun::closeConnections(bool sayQuit)
{
    for (NntpConnection *connection : std::exchange(m_connections, {})) {
        if (sayQuit && m_pool) {
            m_pool->give(server(), connection);
            continue;
        }
        if (sayQuit)
            connection->quitAndClose();
        else
            connection->close();
        connection->deleteLater();
    }
}
