#pragma once

#include "check/ReplyReader.h"

#include <QObject>

class QTcpSocket;

// One connection to a newsserver: sends one command at a time and reports each reply line.
// It expects exactly one reply per command sent, plus the greeting; a line beyond that, or
// one too long to be a reply, is reported as unexpected, so no answer is ever counted twice.
// After close() it reports nothing more.
class NntpConnection : public QObject
{
    Q_OBJECT
public:
    explicit NntpConnection(QObject *parent = nullptr);
    ~NntpConnection() override;

    void open(const QString &host, quint16 port);
    // Sends the command with CR LF; its reply will be reported.
    void send(QByteArrayView command);
    void close();
    // Sends QUIT, once; its "205 " reply will be reported.
    void sendQuit();
    // Says QUIT unless said already and lets the socket close once it is written.
    void quitAndClose();
    bool isClosed() const { return m_closed; }
    bool quitSent() const { return m_quitSent; }

    // The check's own notes on this connection.
    enum class Awaiting : quint8 { Greeting, UserReply, PasswordReply, GroupReply, ArticleReply, QuitReply };
    Awaiting awaiting = Awaiting::Greeting; // what the reply now owed answers
    qsizetype askedPosition = 0; // queue position of the unanswered article query; 0 for none

Q_SIGNALS:
    void replyReceived(const QByteArray &line);
    void unexpectedLine(const QByteArray &line);
    void failed(int error, const QString &description);
    // The server closed the connection.
    void closedByServer();

private:
    void readReplies();
    void onError();

    QTcpSocket *m_socket;
    ReplyReader m_reader;
    int m_repliesOwed = 0;
    bool m_closed = false;
    bool m_quitSent = false;
};
