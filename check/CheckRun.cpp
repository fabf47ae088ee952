#include "check/CheckRun.h"

#include "check/CheckResults.h"
#include "check/NntpConnection.h"

#include <algorithm>

namespace {

// What NNTP allows between the angle brackets; anything else could inject a command or draw
// a syntax error that closes connection after connection.
bool isSendableMessageId(QByteArrayView id)
{
    if (id.isEmpty() || id.size() > 248)
        return false;
    return std::all_of(id.begin(), id.end(), [](char c) { return c >= 33 && c <= 126 && c != '<' && c != '>'; });
}

bool holdsLineBreakOrNul(const QString &text)
{
    return text.contains(u'\r') || text.contains(u'\n') || text.contains(QChar(0));
}

// A reply as the log shows it: one character per byte.
QString logText(const QByteArray &line)
{
    return QString::fromLatin1(line);
}

QByteArray replyCode(const QByteArray &line)
{
    return line.left(4);
}

} // namespace

CheckServer CheckServer::fromRecord(const ServerRecord &server)
{
    CheckServer result{server.nickname, server.address, server.port, 0, 1, server.username, server.password()};
    const int port = leadingNumber(server.port);
    result.port = port >= 1 && port <= 65535 ? port : 0;
    result.connections = std::clamp(leadingNumber(server.threads), 1, 10);
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
    return m_queue ? m_queue->count() : m_nzb.articleQueue().count();
}

void CheckRun::start()
{
    m_running = true;
    m_nzb.counters().reset();
    m_queue = &m_nzb.articleQueue();
    m_ownedQueue.clear();
    m_progressValue = 0;
    m_missingLeft = 0;
    m_server = 0;
    if (m_queue->isEmpty() || m_servers.empty())
        finish();
    else
        startServerPass(0);
}

void CheckRun::cancel()
{
    closeConnections(false);
    m_running = false;
    m_progressValue = 0;
    results::ResetRowsToQueued(m_nzb);
}

void CheckRun::stop()
{
    closeConnections(true);
    m_running = false;
}

void CheckRun::startServerPass(size_t server)
{
    m_server = server;
    const CheckServer &current = m_servers[server];
    Q_EMIT logLine(QStringLiteral("Initializing newsserver: ") + current.nickname);
    if (!m_pendingErrorLine.isEmpty())
        Q_EMIT logLine(std::exchange(m_pendingErrorLine, {}));
    m_statusText = QStringLiteral(" Checking NZB with newsserver: ") + current.nickname;
    m_retryQueue.clear();
    m_entryStates.assign(size_t(m_queue->count()) + 1, Unanswered);
    m_reasks.clear();
    m_queuePosition = 0;
    m_answers = 0;

    QString fault;
    if (current.port == 0)
        fault = QStringLiteral("The port \"%1\" is not a number from 1 to 65535.").arg(current.portText);
    else if (holdsLineBreakOrNul(current.username) || holdsLineBreakOrNul(current.password))
        fault = QStringLiteral("The user name or the password holds a line break.");
    if (!fault.isEmpty()) {
        m_pendingErrorLine = QStringLiteral("Server error: -1 - ") + fault;
        giveUpServer();
        return;
    }
    const qsizetype connections = std::min<qsizetype>(current.connections, m_queue->count());
    for (qsizetype i = 0; i < connections; ++i)
        openConnection(current);
}

void CheckRun::openConnection(const CheckServer &server)
{
    auto *connection = new NntpConnection(this);
    m_connections.push_back(connection);
    connect(connection, &NntpConnection::replyReceived, this,
            [this, connection](const QByteArray &line) { handleReply(connection, line); });
    connect(connection, &NntpConnection::unexpectedLine, this, [this, connection](const QByteArray &line) {
        Q_EMIT logLine(logText(line));
        dropConnection(connection);
    });
    connect(connection, &NntpConnection::closedByServer, this, [this, connection] { dropConnection(connection); });
    connect(connection, &NntpConnection::failed, this, [this](int error, const QString &description) {
        m_pendingErrorLine = QStringLiteral("Server error: %1 - %2").arg(error).arg(description);
        giveUpServer();
    });
    connection->open(server.address, quint16(server.port));
}

// A reply counts only as the answer to the command it is owed for; any other, such as "281 "
// while an article is asked, would leave that article unanswered and the check waiting.
void CheckRun::handleReply(NntpConnection *connection, const QByteArray &line)
{
    using Awaiting = NntpConnection::Awaiting;
    const QByteArray code = replyCode(line);
    const Awaiting awaiting = connection->awaiting;
    if ((code == "200 " || code == "201 ") && awaiting == Awaiting::Greeting) {
        if (server().username.isEmpty())
            sendNextStat(connection);
        else
            sendCommand(connection, Awaiting::UserReply, QByteArray("AUTHINFO user ") + server().username.toUtf8());
    } else if (code == "205 ") {
        dropConnection(connection);
    } else if (code == "223 " && awaiting == Awaiting::ArticleReply) {
        answerArrived(connection, true);
    } else if (code == "281 " && awaiting == Awaiting::PasswordReply) {
        sendNextStat(connection);
    } else if (code == "381 " && awaiting == Awaiting::UserReply) {
        sendCommand(connection, Awaiting::PasswordReply, QByteArray("AUTHINFO pass ") + server().password.toUtf8());
    } else if (code == "412 " && awaiting == Awaiting::ArticleReply) {
        // The article that drew it is asked again once the group is selected.
        sendCommand(connection, Awaiting::GroupReply, QByteArray("GROUP ") + m_nzb.groupName().toUtf8());
    } else if (code == "211 " && awaiting == Awaiting::GroupReply) {
        askArticle(connection, connection->askedPosition);
    } else if (code == "430 " && awaiting == Awaiting::ArticleReply) {
        answerArrived(connection, false);
    } else if (code == "480 " || code == "482 ") {
        loginRefused(line);
    } else {
        Q_EMIT logLine(logText(line));
        dropConnection(connection);
    }
}

void CheckRun::sendCommand(NntpConnection *connection, NntpConnection::Awaiting reply, QByteArrayView command)
{
    connection->awaiting = reply;
    connection->send(command);
}

void CheckRun::sayQuit(NntpConnection *connection)
{
    connection->awaiting = NntpConnection::Awaiting::QuitReply;
    connection->sendQuit();
}

void CheckRun::sendNextStat(NntpConnection *connection)
{
    qsizetype position = 0;
    while (takeNextPosition(position)) {
        const QueueEntry entry = m_queue->entry(position);
        if (results::MarkChecking(m_nzb, entry.itemIndex))
            m_lastMarkedItem = entry.itemIndex;
        if (isSendableMessageId(entry.messageId)) {
            askArticle(connection, position);
            return;
        }
        recordAnswer(position, false);
        if (passComplete()) {
            sayQuit(connection);
            endServerPass();
            return;
        }
    }
    sayQuit(connection);
}

// A position to ask: first one that a failed connection left, then the next of the queue.
bool CheckRun::takeNextPosition(qsizetype &position)
{
    if (!m_reasks.empty()) {
        position = m_reasks.front();
        m_reasks.pop_front();
        return true;
    }
    if (m_queuePosition >= m_queue->count())
        return false;
    position = ++m_queuePosition;
    m_progressValue = position;
    m_captionPosition = position;
    return true;
}

void CheckRun::askArticle(NntpConnection *connection, qsizetype position)
{
    connection->askedPosition = position;
    const QByteArrayView id = m_queue->entry(position).messageId;
    QByteArray command;
    command.reserve(id.size() + 7);
    command.append("STAT <", 6).append(id.data(), id.size()).append('>');
    sendCommand(connection, NntpConnection::Awaiting::ArticleReply, command);
}

void CheckRun::recordAnswer(qsizetype position, bool found)
{
    const QueueEntry entry = m_queue->entry(position);
    ++m_answers;
    quint8 &state = m_entryStates[size_t(position)];
    state = quint8((state & ~(Found | Missing)) | (found ? Found : Missing));
    if (found) {
        results::RecordFound(m_nzb, entry.itemIndex);
        return;
    }
    results::RecordNotFound(m_nzb, entry.itemIndex);
    Q_EMIT logLine(QStringLiteral("Article not found: ") + QString::fromLatin1(entry.messageId));
    m_retryQueue.append(entry.itemIndex, entry.messageId);
}

void CheckRun::answerArrived(NntpConnection *connection, bool found)
{
    const qsizetype position = std::exchange(connection->askedPosition, 0);
    recordAnswer(position, found);
    if (passComplete()) {
        sayQuit(connection);
        endServerPass();
    } else {
        sendNextStat(connection);
    }
}

// The connection closed, by the server or for a reply it cannot take. Its unanswered article
// is asked again, once, by the next connection that is ready; a second failure counts as missing.
void CheckRun::dropConnection(NntpConnection *connection)
{
    const qsizetype position = std::exchange(connection->askedPosition, 0);
    connection->close();
    const auto listed = std::find(m_connections.begin(), m_connections.end(), connection);
    if (listed == m_connections.end())
        return; // of a pass already ended
    m_connections.erase(listed);
    connection->deleteLater();
    if (position != 0) {
        quint8 &state = m_entryStates[size_t(position)];
        if (state & FailedOnce) {
            recordAnswer(position, false);
            if (passComplete()) {
                endServerPass();
                return;
            }
        } else {
            state |= FailedOnce;
            m_reasks.push_back(position);
        }
    }
    giveUpIfStuck();
}

// With entries unanswered and no connection left to ask them the server is given up.
void CheckRun::giveUpIfStuck()
{
    const bool working = std::any_of(m_connections.begin(), m_connections.end(),
                                     [](const NntpConnection *c) { return !c->quitSent(); });
    if (working || passComplete())
        return;
    writeTerminatingLines();
    giveUpServer();
}

void CheckRun::loginRefused(const QByteArray &line)
{
    Q_EMIT logLine(logText(line));
    writeTerminatingLines();
    giveUpServer();
}

void CheckRun::writeTerminatingLines()
{
    Q_EMIT logLine(QStringLiteral("Terminating newsserver: ") + server().nickname);
    Q_EMIT logLine(kSeparatorLine);
    Q_EMIT logLine(QString());
}

// What the server found stays found; what it lacked and what it never answered goes to the
// next server. Each item's answered count is set so that it completes exactly when its
// entries in the new queue are all answered.
void CheckRun::giveUpServer()
{
    closeConnections(false);
    ArticleQueue next = std::move(m_retryQueue);
    m_retryQueue = {};
    for (qsizetype position = 1; position <= m_queue->count(); ++position) {
        if ((m_entryStates[size_t(position)] & (Found | Missing)) == Unanswered) {
            const QueueEntry entry = m_queue->entry(position);
            next.append(entry.itemIndex, entry.messageId);
        }
    }
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
    m_answers = 0;
    std::fill(m_nzb.counters().notFound.begin(), m_nzb.counters().notFound.end(), 0);
    ArticleQueue missing = std::move(m_retryQueue);
    m_retryQueue = {};
    continueWith(std::move(missing));
}

// Hands what is still missing to the next server, or ends the check.
void CheckRun::continueWith(ArticleQueue queue)
{
    m_progressValue = 0;
    m_missingLeft = queue.count();
    if (queue.isEmpty()) {
        finish();
        return;
    }
    m_ownedQueue = std::move(queue);
    m_queue = &m_ownedQueue;
    if (m_server + 1 < m_servers.size()) {
        startServerPass(m_server + 1);
        return;
    }
    // Items whose entries were never answered would otherwise stay Checking after the report.
    for (qsizetype position = 1; position <= m_queue->count(); ++position) {
        const int item = m_queue->entry(position).itemIndex;
        if (m_nzb.item(item).status == ItemStatus::Checking) {
            m_nzb.setItemAvailable(item, QString::number(m_nzb.counters().found[size_t(item)]));
            m_nzb.setItemStatus(item, ItemStatus::Missing);
        }
    }
    finish();
}

void CheckRun::finish()
{
    closeConnections(true);
    if (!m_pendingErrorLine.isEmpty())
        Q_EMIT logLine(std::exchange(m_pendingErrorLine, {}));
    const QStringList report = results::WriteSummary(m_nzb, m_decimalSeparator);
    m_undownloadable = m_nzb.statistics().requiredCount;
    for (int item = 1; item <= m_nzb.itemCount(); ++item)
        m_undownloadable -= m_nzb.item(item).available.toLongLong();
    for (const QString &line : report)
        Q_EMIT logLine(line);
    m_running = false;
    m_progressValue = 0;
    Q_EMIT finished();
}

void CheckRun::closeConnections(bool sayQuit)
{
    for (NntpConnection *connection : std::exchange(m_connections, {})) {
        if (sayQuit)
            connection->quitAndClose();
        else
            connection->close();
        connection->deleteLater();
    }
}
