#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <chrono>
#include <vector>

class NntpConnection;
struct CheckServer;

// Connections kept from one check to the next: greeted, logged in and idle, so that a call
// that checks many NZBs greets and logs in once per connection.
class ConnectionPool : public QObject
{
    Q_OBJECT
public:
    // A connection idle for longer than `idleLimit` is not handed out: servers drop idle
    // connections, often without a word, and a dead one would cost the check its idle timeout.
    explicit ConnectionPool(std::chrono::milliseconds idleLimit = std::chrono::seconds(30), QObject *parent = nullptr);
    ~ConnectionPool() override;

    // An idle connection to the server, now a child of `owner`; nullptr when none is kept.
    NntpConnection *take(const CheckServer &server, QObject *owner);
    // Keeps a connection that owes nothing; says QUIT on any other.
    void give(const CheckServer &server, NntpConnection *connection);
    // Says QUIT on the connections kept for any server but this one; how many there were.
    int quitOthers(const CheckServer &server);
    // Says QUIT on every connection kept.
    void quitAll();

private:
    struct Kept {
        QString server;
        NntpConnection *connection;
        QElapsedTimer idleSince;
    };
    void forget(NntpConnection *connection);

    const std::chrono::milliseconds m_idleLimit;
    std::vector<Kept> m_kept;
};
