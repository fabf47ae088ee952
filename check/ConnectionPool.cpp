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
    connection->disconnect();
    connection->quitAndClose();
    connection->deleteLater();
}

} // namespace

ConnectionPool::ConnectionPool(std::chrono::milliseconds idleLimit, QObject *parent)
    : QObject(parent)
    , m_idleLimit(idleLimit)
{
}

ConnectionPool::~ConnectionPool()
{
    quitAll();
}

// A connection whose end is already on its way, or that waited too long, is closed instead.
NntpConnection *ConnectionPool::take(const CheckServer &server, QObject *owner)
{
    const QString key = serverKey(server);
    while (true) {
        const auto kept = std::find_if(m_kept.begin(), m_kept.end(), [&key](const Kept &k) { return k.server == key; });
        if (kept == m_kept.end())
            return nullptr;
        NntpConnection *connection = kept->connection;
        const bool stale = connection->isClosed() || kept->idleSince.elapsed() > m_idleLimit.count();
        m_kept.erase(kept);
        if (stale) {
            quit(connection);
            continue;
        }
        connection->disconnect(this);
        connection->setParent(owner);
        connection->untried = true;
        connection->groupSelected = false;
        return connection;
    }
}

void ConnectionPool::give(const CheckServer &server, NntpConnection *connection)
{
    connection->disconnect(); // the check that used it hears nothing more of it
    if (connection->isClosed() || !connection->asking || !connection->owed().empty() || !connection->heldForGroup.empty()) {
        quit(connection);
        return;
    }
    connection->setParent(this);
    QElapsedTimer since;
    since.start();
    m_kept.push_back({serverKey(server), connection, since});
    // A server may close an idle connection; it is then simply not offered again.
    connect(connection, &NntpConnection::closedByServer, this, [this, connection] { forget(connection); });
    connect(connection, &NntpConnection::failed, this, [this, connection] { forget(connection); });
    connect(connection, &NntpConnection::unexpectedLine, this, [this, connection] { forget(connection); });
}

int ConnectionPool::quitOthers(const CheckServer &server)
{
    const QString key = serverKey(server);
    int closed = 0;
    std::erase_if(m_kept, [&key, &closed](const Kept &kept) {
        if (kept.server == key)
            return false;
        quit(kept.connection);
        ++closed;
        return true;
    });
    return closed;
}

void ConnectionPool::forget(NntpConnection *connection)
{
    std::erase_if(m_kept, [connection](const Kept &k) { return k.connection == connection; });
    quit(connection);
}

void ConnectionPool::quitAll()
{
    for (const Kept &kept : std::exchange(m_kept, {}))
        quit(kept.connection);
}
