#include "check/CheckRun.h"

#include "check/CheckResults.h"
#include "check/ConnectionPool.h"
#include "check/NntpText.h"
#include "check/NntpConnection.h"
#include "check/RepairCheck.h"
#include "nzb/LogText.h"

#include <QTimer>

#include <algorithm>

namespace {

// A reply as the log shows it: one character per byte.
QString logText(const QByteArray &line)
{
    return QString::fromLatin1(line);
}

QByteArray replyCode(const QByteArray &line)
{
    return line.left(4);
}

// Once the pool has given up its idle connections to other servers, a server that refused a
// connection for its limit may count them closed only a moment later.
constexpr std::chrono::milliseconds kRetryAfterRefusal(250);

const QString kClosedByServer = QStringLiteral("Server error: -1 - The server closed a connection.");
const QString kReplyNotTaken = QStringLiteral("Server error: -1 - A connection was closed after a reply the check cannot take.");
const QString kEveryConnectionEnded = QStringLiteral("Server error: -1 - The server ended every connection before its articles were answered.");
const QString kGroupAgain = QStringLiteral("Server error: -1 - The server asks for a newsgroup again after selecting it.");
const QString kNoSendableGroup = QStringLiteral("Server error: -1 - The server asks for a newsgroup, and the NZB names none that can be sent.");

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
    m_repair.reset();
    m_running = false;
    m_progressValue = 0;
    results::ResetRowsToQueued(m_nzb);
}

void CheckRun::stop()
{
    ++m_passNumber;
    closeConnections(true);
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

// A connection from the pool when one is kept, unless `fresh` asks for a new one.
void CheckRun::openConnection(bool fresh)
{
    if (NntpConnection *kept = m_pool && !fresh ? m_pool->take(server(), this) : nullptr) {
        watchConnection(kept);
        // Logged in already; asked from the event loop, as a new connection would be.
        QMetaObject::invokeMethod(this, [this, kept, pass = m_passNumber] {
            if (pass == m_passNumber && std::find(m_connections.begin(), m_connections.end(), kept) != m_connections.end())
                askMore(kept);
        }, Qt::QueuedConnection);
        return;
    }
    auto *connection = new NntpConnection(this);
    watchConnection(connection);
    ConnectionOptions options = m_connectionOptions;
    options.tls = server().tls;
    connection->open(server().address, quint16(server().port), options);
}

void CheckRun::watchConnection(NntpConnection *connection)
{
    m_connections.push_back(connection);
    connect(connection, &NntpConnection::replyReceived, this,
            [this, connection](const QByteArray &line, NntpConnection::Owed owed) { handleReply(connection, line, owed); });
    connect(connection, &NntpConnection::unexpectedLine, this, [this, connection](const QByteArray &line) {
        log(logText(line));
        dropConnection(connection, 0, kReplyNotTaken);
    });
    connect(connection, &NntpConnection::closedByServer, this, [this, connection] { dropConnection(connection, 0, kClosedByServer); });
    connect(connection, &NntpConnection::failed, this, [this, connection](int error, const QString &description) {
        connectionFailed(connection, QStringLiteral("Server error: %1 - %2").arg(error).arg(description));
    });
}

// A reply counts only as the answer to the command it is owed for; any other, such as "281 "
// while an article is asked, would leave that article unanswered and the check waiting.
void CheckRun::handleReply(NntpConnection *connection, const QByteArray &line, NntpConnection::Owed owed)
{
    using Awaiting = NntpConnection::Awaiting;
    connection->untried = false;
    const QByteArray code = replyCode(line);
    if (code == "205 ") {
        dropConnection(connection, owed.position, kClosedByServer);
        return;
    }
    if (code == "480 " || code == "482 ") {
        writeTerminatingLines();
        giveUpServer(QStringLiteral("Server error: -1 - The server refused the login: ") + logText(line));
        return;
    }
    bool taken = false;
    switch (owed.reply) {
    case Awaiting::Greeting:
    case Awaiting::UserReply:
    case Awaiting::PasswordReply: {
        const auto step = connection->takeLoginReply(owed.reply, code, server().username, [this] { return server().passwordWhenAsked(); });
        if (step == NntpConnection::LoginStep::NotTaken) {
            refuseConnection(connection, line);
            return;
        }
        if (step == NntpConnection::LoginStep::Done)
            askMore(connection);
        return;
    }
    case Awaiting::GroupReply:
        if ((taken = code == "211 ")) {
            connection->groupSelected = true;
            for (const qsizetype position : std::exchange(connection->heldForGroup, {}))
                askArticle(connection, position);
            askMore(connection);
        }
        break;
    case Awaiting::BodyReply:
        break;
    case Awaiting::StatReply:
    case Awaiting::HeadReply:
        taken = handleArticleReply(connection, code, owed);
        break;
    }
    if (!taken) {
        log(logText(line));
        dropConnection(connection, owed.position, kReplyNotTaken);
    }
}

bool CheckRun::handleArticleReply(NntpConnection *connection, const QByteArray &code, NntpConnection::Owed owed)
{
    const bool head = owed.reply == NntpConnection::Awaiting::HeadReply;
    if (code == (head ? "221 " : "223 ") || code == "430 ") {
        answerArrived(connection, owed.position, code != "430 ");
    } else if (code == "412 ") {
        const QByteArray group = m_nzb.groupName().toUtf8();
        // Selecting it again would draw the same answer for ever.
        if (!isSendableGroup(group) || connection->groupSelected) {
            giveUpServer(connection->groupSelected ? kGroupAgain : kNoSendableGroup);
            return true;
        }
        // Asked again once the group is selected; queries already out may draw "412 " too.
        connection->heldForGroup.push_back(owed.position);
        if (connection->heldForGroup.size() == 1)
            connection->send(QByteArray("GROUP ") + group, {NntpConnection::Awaiting::GroupReply, 0});
    } else if (code == "500 " && !head) {
        fallBackToHead();
        askArticle(connection, owed.position);
    } else {
        return false;
    }
    return true;
}

// A refused greeting or login costs its connection, and is logged once per pass. A server at
// its connection limit ("502 ", "400 ") may be held there by the pool's idle connections to
// other servers of the same account: once the pool has let them go, each refused connection
// of the pass tries once more.
void CheckRun::refuseConnection(NntpConnection *connection, const QByteArray &line)
{
    const bool greeting = !connection->greeted;
    const QByteArray code = replyCode(line);
    logServerError((greeting ? QStringLiteral("Server error: -1 - The server refused the connection: ")
                             : QStringLiteral("Server error: -1 - The server refused the login: ")) + logText(line));
    const bool limit = greeting && (code == "502 " || code == "400 ");
    if (limit && m_pool && m_pool->quitOthers(server()) > 0)
        m_othersQuit = true;
    if (limit && m_othersQuit && m_retriesLeft > 0) {
        --m_retriesLeft;
        ++m_retriesWaiting;
        QTimer::singleShot(kRetryAfterRefusal, this, [this, pass = m_passNumber] {
            if (pass != m_passNumber)
                return;
            --m_retriesWaiting;
            openConnection(true);
        });
    }
    dropConnection(connection, 0, {});
}

// Some servers know no STAT; HEAD tells the same at the cost of the header.
void CheckRun::fallBackToHead()
{
    if (!std::exchange(m_askWithHead, true))
        log(QStringLiteral("STAT is not supported, asking with HEAD instead: ") + server().nickname);
}

// Keeps up to the server's pipeline depth of article queries out. A connection with nothing
// left to ask stays open until the pass ends: another may yet fail and leave articles to it.
void CheckRun::askMore(NntpConnection *connection)
{
    connection->asking = true;
    const auto queriesOut = [connection] { return connection->articlesOut() + qsizetype(connection->heldForGroup.size()); };
    qsizetype position = 0;
    while (queriesOut() < server().pipelineDepth && takeNextPosition(position)) {
        const QueueEntry entry = m_pass.queue().entry(position);
        if (results::MarkChecking(m_nzb, entry.itemIndex))
            m_lastMarkedItem = entry.itemIndex;
        if (isSendableMessageId(entry.messageId)) {
            askArticle(connection, position);
            continue;
        }
        recordAnswer(position, false);
        if (m_pass.complete()) {
            endServerPass();
            return;
        }
    }
}

// Hands what a dropped connection left to the connections that wait with nothing to ask.
// False when that ended the pass.
bool CheckRun::askIdleConnections()
{
    const quint64 pass = m_passNumber;
    for (NntpConnection *connection : std::vector<NntpConnection *>(m_connections)) {
        if (!m_pass.hasLeftovers())
            break;
        if (connection->asking && !connection->isClosed())
            askMore(connection);
        if (m_passNumber != pass)
            return false;
    }
    return true;
}

bool CheckRun::takeNextPosition(qsizetype &position)
{
    const bool leftover = m_pass.hasLeftovers();
    if (!m_pass.takeNext(position))
        return false;
    if (!leftover)
        m_progressValue = m_captionPosition = position;
    return true;
}

void CheckRun::askArticle(NntpConnection *connection, qsizetype position)
{
    const QByteArrayView id = m_pass.queue().entry(position).messageId;
    QByteArray command;
    command.reserve(id.size() + 7);
    command.append(m_askWithHead ? "HEAD <" : "STAT <", 6).append(id.data(), id.size()).append('>');
    connection->send(command, {m_askWithHead ? NntpConnection::Awaiting::HeadReply : NntpConnection::Awaiting::StatReply, position});
}

void CheckRun::recordAnswer(qsizetype position, bool found)
{
    const QueueEntry entry = m_pass.queue().entry(position);
    m_pass.record(position, found);
    if (found) {
        ++m_tallies.back().found;
        m_foundOn[size_t(entry.segment)] = int(m_server);
        results::RecordFound(m_nzb, entry.itemIndex);
        return;
    }
    results::RecordNotFound(m_nzb, entry.itemIndex);
    log(QStringLiteral("Article not found: ") + QString::fromUtf8(entry.messageId));
}

void CheckRun::answerArrived(NntpConnection *connection, qsizetype position, bool found)
{
    recordAnswer(position, found);
    if (m_pass.complete())
        endServerPass();
    else
        askMore(connection);
}

// The connection closed, by the server or for a reply it cannot take. Its unanswered articles
// are asked again, once, by the next connections that are ready; a second failure counts as
// missing. A connection from the pool that ends before it answered anything was dead before
// the check took it: it costs only itself, and a new one takes its place.
void CheckRun::dropConnection(NntpConnection *connection, qsizetype answering, const QString &errorLine)
{
    std::vector<qsizetype> unanswered = std::exchange(connection->heldForGroup, {});
    if (answering != 0)
        unanswered.insert(unanswered.begin(), answering);
    for (const NntpConnection::Owed &owed : connection->owed()) {
        if (owed.position != 0)
            unanswered.push_back(owed.position);
    }
    connection->close();
    const auto listed = std::find(m_connections.begin(), m_connections.end(), connection);
    if (listed == m_connections.end())
        return; // of a pass already ended
    m_connections.erase(listed);
    connection->deleteLater();
    if (!errorLine.isEmpty())
        logServerError(errorLine);
    for (const qsizetype position : unanswered) {
        if (connection->untried)
            m_pass.askAgain(position);
        else if (askAgainOrCountMissing(position))
            return;
    }
    if (connection->untried && m_reopensLeft > 0) {
        --m_reopensLeft;
        openConnection(true);
    }
    if (askIdleConnections())
        giveUpIfStuck();
}

// A failure costs only its own connection while another one has been greeted and still works;
// the server is given up when none is left.
void CheckRun::connectionFailed(NntpConnection *connection, const QString &errorLine)
{
    const bool anotherWorks = std::any_of(m_connections.begin(), m_connections.end(), [connection](const NntpConnection *c) {
        return c != connection && c->greeted && !c->isClosed();
    });
    if (anotherWorks || connection->untried)
        dropConnection(connection, 0, errorLine);
    else
        giveUpServer(errorLine);
}

// Ten connections to one host tend to fail alike: each text once per pass.
void CheckRun::logServerError(const QString &line)
{
    if (m_errorsLogged.contains(line))
        return;
    m_errorsLogged.insert(line);
    noteServerError(line);
    log(line);
}

void CheckRun::noteServerError(const QString &line)
{
    if (!m_tallies.back().errors.contains(line))
        m_tallies.back().errors.push_back(line);
}

// True when that answer completed the pass.
bool CheckRun::askAgainOrCountMissing(qsizetype position)
{
    if (!m_pass.failedTwice(position))
        return false;
    recordAnswer(position, false);
    if (!m_pass.complete())
        return false;
    endServerPass();
    return true;
}

// With entries unanswered and no connection left to ask them, a new connection takes over, as
// many times in a pass as the server has connections; then the server is given up.
void CheckRun::giveUpIfStuck()
{
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
    closeConnections(true);
    writeTerminatingLines();
    std::fill(m_nzb.counters().notFound.begin(), m_nzb.counters().notFound.end(), 0);
    continueWith(m_pass.takeMissing(false));
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
        files[size_t(item - 1)] = {m_nzb.item(item).fileName, m_nzb.item(item).announced, {}};
    const ArticleQueue &all = m_nzb.articleQueue();
    std::vector<bool> lost(size_t(all.count()), false);
    for (qsizetype position = 1; position <= missing.count(); ++position)
        lost[size_t(missing.entry(position).segment)] = true;
    for (qsizetype position = 1; position <= all.count(); ++position) {
        const QueueEntry entry = all.entry(position);
        const SegmentInfo &info = m_nzb.segments()[size_t(entry.segment)];
        files[size_t(entry.itemIndex - 1)].segments.push_back({info.number, info.bytes, lost[size_t(entry.segment)], entry.segment});
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
    const QStringList report = results::WriteSummary(m_nzb, m_decimalSeparator);
    m_undownloadable = m_nzb.statistics().requiredCount;
    for (int item = 1; item <= m_nzb.itemCount(); ++item)
        m_undownloadable -= m_nzb.item(item).available.toLongLong();
    for (const QString &line : report)
        log(line);
    m_progressValue = 0;
    // The verdict reads the articles it needs before the check ends, so the window stays in its
    // running state, with Cancel, until then.
    m_repair = std::make_unique<RepairCheck>(m_nzb, postedFiles(missing), std::move(m_foundOn), m_servers, m_connectionOptions, m_pool);
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
