// What each connection of a pass does with the replies it gets, and how a connection ends.

#include "check/CheckRun.h"

#include "check/CheckResults.h"
#include "check/ConnectionPool.h"
#include "check/NntpText.h"

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
const QString kGroupAgain = QStringLiteral("Server error: -1 - The server asks for a newsgroup again after selecting it.");
const QString kNoSendableGroup = QStringLiteral("Server error: -1 - The server asks for a newsgroup, and the NZB names none that can be sent.");

} // namespace

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
        // A cross-check's article has its answer already: the lost HEAD or BODY only ends.
        if (owed.crossCheck)
            m_crossCheck.ended();
        dropConnection(connection, owed.crossCheck ? 0 : owed.position, kClosedByServer);
        return;
    }
    if (code == "480 " || code == "482 ") {
        writeTerminatingLines();
        giveUpServer(QStringLiteral("Server error: -1 - The server refused the login: ") + logText(line));
        return;
    }
    if (owed.crossCheck) {
        crossCheckAnswered(connection, code, owed);
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
        if (code == "430 " && !head && m_crossCheck.takes(owed.position))
            askAgain(connection, NntpConnection::Awaiting::HeadReply, owed.position);
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

// A cross-check of a "430 ": HEAD, then BODY when HEAD finds it.
void CheckRun::askAgain(NntpConnection *connection, NntpConnection::Awaiting command, qsizetype position)
{
    const QByteArrayView id = m_pass.queue().entry(position).messageId;
    const QByteArray verb = command == NntpConnection::Awaiting::HeadReply ? "HEAD <" : "BODY <";
    if (command == NntpConnection::Awaiting::HeadReply)
        m_crossCheck.sent();
    connection->send(verb + id.toByteArray() + '>', {command, position, true});
}

// A body that comes for an article the server said it lacks: its STAT is not to be trusted,
// and what it lacked by STAT is asked again with HEAD once the pass has asked everything.
void CheckRun::crossCheckAnswered(NntpConnection *connection, const QByteArray &code, NntpConnection::Owed owed)
{
    if (owed.reply == NntpConnection::Awaiting::HeadReply && code == "221 ") {
        askAgain(connection, NntpConnection::Awaiting::BodyReply, owed.position);
        return;
    }
    m_crossCheck.ended();
    if (owed.reply == NntpConnection::Awaiting::BodyReply && code == "222 ") {
        connection->takeBody();
        logServerError(QStringLiteral("Server error: %1 answers 430 to STAT for an article it has; asking it with HEAD.").arg(server().nickname));
        m_askWithHead = m_askAgainWithHead = true;
    }
    if (passDone())
        endServerPass();
    else
        askMore(connection); // the cross-check held a place of its pipeline
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
        if (passDone()) {
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
    if (!m_askingAgain) // its line stands from the first answer
        log(QStringLiteral("Article not found: ") + QString::fromUtf8(entry.messageId));
}

void CheckRun::answerArrived(NntpConnection *connection, qsizetype position, bool found)
{
    recordAnswer(position, found);
    if (passDone())
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
    int crossChecks = 0;
    for (const NntpConnection::Owed &owed : connection->owed()) {
        if (owed.crossCheck)
            ++crossChecks;
        else if (owed.position != 0)
            unanswered.push_back(owed.position);
    }
    connection->close();
    const auto listed = std::find(m_connections.begin(), m_connections.end(), connection);
    if (listed == m_connections.end())
        return; // of a pass already ended
    m_connections.erase(listed);
    connection->deleteLater();
    m_crossCheck.ended(crossChecks);
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

