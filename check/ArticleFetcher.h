#pragma once

#include "check/CheckRun.h"

#include <QObject>

// One article at a time from any of the check's servers, for what a check reads after its
// passes: on a connection from the pool when one is kept, else on a new one, logged in, with
// the newsgroup selected when the server asks for it. The connection serves the next article
// of the same server and goes back to the pool at the end.
class ArticleFetcher : public QObject
{
    Q_OBJECT
public:
    enum class Command { Stat, Body };

    ArticleFetcher(QByteArray groupName, const std::vector<CheckServer> &servers, const ConnectionOptions &options,
                   ConnectionPool *pool, QObject *parent = nullptr);
    ~ArticleFetcher() override;

    // Asks server `server` (a position in `servers`); the answer or the failure follows.
    void ask(int server, QByteArrayView messageId, Command command);
    // Hands the connection back to the pool, or says QUIT on it without one.
    void release();

Q_SIGNALS:
    // The server's reply to the command, with the body of a "222 ". The connection stays.
    void answered(const QByteArray &line, const QByteArray &body);
    // No reply came: the connection was lost or refused the login, or the server asks for the
    // newsgroup again after selecting it. The connection is closed.
    void failed(const QString &reason);

private:
    void open(bool fresh);
    void sendCommand();
    void handleReply(const QByteArray &line, NntpConnection::Owed owed);
    void connectionLost(const QString &reason);
    void fail(const QString &reason);
    void close(bool keep);

    const QByteArray m_groupName;
    const std::vector<CheckServer> &m_servers;
    const ConnectionOptions m_options;
    ConnectionPool *const m_pool;
    NntpConnection *m_connection = nullptr;
    int m_server = -1;
    QByteArray m_command;
};
