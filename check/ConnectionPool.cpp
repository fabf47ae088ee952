#include "check/ConnectionPool.h"

#include "check/CheckRun.h"
#include "check/NntpConnection.h"

#include <algorithm>

namespace {

// Connections may be shared only where everything that reaches the server is the same.
QString serverKey(const CheckServer &server)
{
    return QStringList{server.address, QString::number(server.port), server.tls ? QStringLiteral("tls") : QString(), server.username}
        .join(QChar(0));
}

void quit(NntpConnection *connection)
{
    connection->quitAndClose();
    connection->deleteLater();
}

} // namespace

ConnectionPool::ConnectionPool(QObject *parent)
    : QObject(parent)
{
}

ConnectionPool::~ConnectionPool()
{
    quitAll();
}

NntpConnection *ConnectionPool::take(const CheckServer &server, QObject *owner)
{
    const auto kept = std::find_if(m_kept.begin(), m_kept.end(), [key = serverKey(server)](const Kept &k) { return k.server == key; });
    if (kept == m_kept.end())
        return nullptr;
    NntpConnection *connection = kept->connection;
    m_kept.erase(kept);
    connection->disconnect(this);
    connection->setParent(owner);
    return connection;
}

void ConnectionPool::give(const CheckServer &server, NntpConnection *connection)
{
    connection->disconnect(); // the check that used it hears nothing more of it
    if (connection->isClosed() || !connection->asking || !connection->owed().empty() || !connection->heldForGroup.empty()) {
        quit(connection);
        return;
    }
    connection->setParent(this);
    m_kept.push_back({serverKey(server), connection});
    // A server may close an idle connection; it is then simply not offered again.
    connect(connection, &NntpConnection::closedByServer, this, [this, connection] { forget(connection); });
    connect(connection, &NntpConnection::failed, this, [this, connection] { forget(connection); });
    connect(connection, &NntpConnection::unexpectedLine, this, [this, connection] { forget(connection); });
}

void ConnectionPool::forget(NntpConnection *connection)
{
    std::erase_if(m_kept, [connection](const Kept &k) { return k.connection == connection; });
    quit(connection);
}

void ConnectionPool::quitAll()
{
    for (const Kept &kept : std::exchange(m_kept, {})) {
        kept.connection->disconnect(this);
        quit(kept.connection);
    }
}
