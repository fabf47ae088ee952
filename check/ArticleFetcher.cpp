#include "check/ArticleFetcher.h"

#include "check/ConnectionPool.h"
#include "check/NntpText.h"

ArticleFetcher::ArticleFetcher(QByteArray groupName, const std::vector<CheckServer> &servers, const ConnectionOptions &options,
                               ConnectionPool *pool, QObject *parent)
    : QObject(parent)
    , m_groupName(std::move(groupName))
    , m_servers(servers)
    , m_options(options)
    , m_pool(pool)
{
}

ArticleFetcher::~ArticleFetcher()
{
    release();
}

void ArticleFetcher::ask(int server, QByteArrayView messageId, Command command)
{
    m_command = (command == Command::Stat ? QByteArray("STAT <") : QByteArray("BODY <")) + messageId.toByteArray() + '>';
    if (m_connection && m_server == server && m_connection->asking && !m_connection->isClosed()) {
        sendCommand();
        return;
    }
    release();
    m_server = server;
    open(false);
}

void ArticleFetcher::release()
{
    close(true);
}

void ArticleFetcher::open(bool fresh)
{
    const CheckServer &server = m_servers[size_t(m_server)];
    NntpConnection *kept = m_pool && !fresh ? m_pool->take(server, this) : nullptr;
    m_connection = kept ? kept : new NntpConnection(this);
    connect(m_connection, &NntpConnection::replyReceived, this, &ArticleFetcher::handleReply);
    connect(m_connection, &NntpConnection::unexpectedLine, this, [this](const QByteArray &line) { connectionLost(QString::fromLatin1(line)); });
    connect(m_connection, &NntpConnection::closedByServer, this, [this] { connectionLost(QStringLiteral("the server closed the connection")); });
    connect(m_connection, &NntpConnection::failed, this, [this](int, const QString &description) { connectionLost(description); });
    if (kept) {
        sendCommand(); // logged in already
        return;
    }
    ConnectionOptions options = m_options;
    options.tls = server.tls;
    m_connection->open(server.address, quint16(server.port), options);
}

void ArticleFetcher::sendCommand()
{
    const bool body = m_command.startsWith("BODY");
    m_connection->send(m_command, {body ? NntpConnection::Awaiting::BodyReply : NntpConnection::Awaiting::StatReply, 0});
}

void ArticleFetcher::handleReply(const QByteArray &line, NntpConnection::Owed owed)
{
    using Awaiting = NntpConnection::Awaiting;
    const QByteArray code = line.left(4);
    const CheckServer &server = m_servers[size_t(m_server)];
    m_connection->untried = false;
    switch (owed.reply) {
    case Awaiting::StatReply:
    case Awaiting::BodyReply:
        if (code == "412 " && m_connection->groupSelected)
            fail(QStringLiteral("The server asks for a newsgroup again after selecting it.")); // else it would loop for ever
        else if (code == "412 " && isSendableGroup(m_groupName))
            m_connection->send(QByteArray("GROUP ") + m_groupName, {Awaiting::GroupReply, 0});
        else
            Q_EMIT answered(line, code == "222 " ? m_connection->takeBody() : QByteArray());
        return;
    case Awaiting::GroupReply:
        if (code != "211 ") {
            fail(QString::fromLatin1(line));
            return;
        }
        m_connection->groupSelected = true;
        sendCommand();
        return;
    default:
        break;
    }
    const auto step = m_connection->takeLoginReply(owed.reply, code, server.username, [&server] { return server.passwordWhenAsked(); });
    if (step == NntpConnection::LoginStep::NotTaken)
        fail(QString::fromLatin1(line));
    else if (step == NntpConnection::LoginStep::Done && !std::exchange(m_connection->asking, true))
        sendCommand();
}

// A connection from the pool that ends before it answered anything was dead while it waited:
// it costs only itself, and a new one asks the same.
void ArticleFetcher::connectionLost(const QString &reason)
{
    if (!m_connection->untried) {
        fail(reason);
        return;
    }
    close(false);
    open(true);
}

void ArticleFetcher::fail(const QString &reason)
{
    close(false);
    Q_EMIT failed(reason);
}

void ArticleFetcher::close(bool keep)
{
    if (!m_connection)
        return;
    if (keep && m_pool) {
        m_pool->give(m_servers[size_t(m_server)], std::exchange(m_connection, nullptr));
        return;
    }
    m_connection->quitAndClose();
    m_connection->deleteLater();
    m_connection = nullptr;
}
