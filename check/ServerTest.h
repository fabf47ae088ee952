#pragma once

#include "check/CheckRun.h"
#include "check/NntpConnection.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <vector>

// Tries a server with the values entered, before anything is stored: it connects, logs in on
// as many connections at once as a check would open, asks one STAT and says QUIT on each,
// reporting a line per step with the server's own reply where something failed.
class ServerTest : public QObject
{
    Q_OBJECT
public:
    // No server holds this article: any answer to it shows how STAT is taken.
    static constexpr QByteArrayView kStatCommand = "STAT <orvalis-test@invalid>";
    // The whole test's bound when the idle timeout is 0 (wait for ever).
    static constexpr int kBoundWithoutTimeout = 30;

    // `login`: whether to log in (the authentication tick); `options`: idle timeout and extra CA
    // certificates (options.tls is taken from server.tls).
    ServerTest(CheckServer server, bool login, ConnectionOptions options, QObject *parent = nullptr);

    // Results come from the event loop, never from inside start().
    void start();
    // Drops every connection; nothing more is reported.
    void cancel();
    const QStringList &lines() const { return m_lines; }
    bool allWorked() const { return m_allWorked; }
    // Seconds the whole test may take.
    int boundSeconds() const;

Q_SIGNALS:
    void lineAdded(const QString &line);
    // Every connection is closed.
    void finished(bool allWorked);

private:
    enum class State : quint8 { Opening, Ready, Refused };
    struct Attempt {
        NntpConnection *connection = nullptr;
        State state = State::Opening;
        bool reached = false;  // connected, and encrypted with TLS
        bool greeted = false;  // a greeting came, whatever it said
        QString refusal;       // why it was refused
    };

    QString inputProblem();
    void begin();
    void open(size_t index);
    void openTheOthers();
    void reached(size_t index);
    void replied(size_t index, const QByteArray &line, NntpConnection::Awaiting owed);
    void ended(size_t index, const QString &reason);
    void refuse(size_t index, const QString &reason);
    void countWhenAllAnswered();
    void statAnswered(const QByteArray &line);
    void timedOut();
    void add(const QString &line);
    void end(bool allWorked);
    QString where() const;

    CheckServer m_server;
    const bool m_login;
    const ConnectionOptions m_options;
    quint16 m_port = 0;
    std::vector<Attempt> m_attempts;
    QTimer m_bound;
    QStringList m_lines;
    bool m_started = false;
    bool m_over = false;      // ended or cancelled: every report from here on is dropped
    bool m_cancelled = false;
    bool m_counted = false;   // the connections were counted and STAT asked
    bool m_allAccepted = false;
    bool m_allWorked = false;
};
