#pragma once

#include <QObject>
#include <QString>

#include <vector>

class NntpConnection;
struct CheckServer;

// Connections kept from one check to the next: greeted, logged in and idle, so that a call
// that checks many NZBs greets and logs in once per connection.
class ConnectionPool : public QObject
{
    Q_OBJECT
public:
    explicit ConnectionPool(QObject *parent = nullptr);
    ~ConnectionPool() override;

    // An idle connection to the server, now a child of `owner`; nullptr when none is kept.
    NntpConnection *take(const CheckServer &server, QObject *owner);
    // Keeps a connection that owes nothing; says QUIT on any other.
    void give(const CheckServer &server, NntpConnection *connection);
    // Says QUIT on every connection kept.
    void quitAll();

private:
    struct Kept {
        QString server;
        NntpConnection *connection;
    };
    void forget(NntpConnection *connection);

    std::vector<Kept> m_kept;
};
