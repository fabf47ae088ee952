#pragma once

#include "check/ReplyReader.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QTimer>

#include <deque>
#include <functional>

class QTcpSocket;

// How a connection reaches its server.
struct ConnectionOptions {
    bool tls = false;                          // implicit TLS from the first byte
    int idleTimeoutSeconds = 60;               // 0 waits for ever
    QList<QSslCertificate> extraCaCertificates; // trusted beside the system's store
};

// One connection to a newsserver. It notes, for each command sent, which reply it is owed and
// reports each reply with that note, in order, so that several commands may be out at once.
// A line beyond the replies owed, or one too long to be a reply, is reported as unexpected, so
// no answer is ever counted twice. Its end (a failure or the server's close) is reported from
// the event loop, never from inside open() or send(), so the caller's own loops run undisturbed.
// After close() it reports nothing more.
class NntpConnection : public QObject
{
    Q_OBJECT
public:
    enum class Awaiting : quint8 { Greeting, UserReply, PasswordReply, GroupReply, StatReply, HeadReply, BodyReply };
    struct Owed {
        Awaiting reply;
        qsizetype position; // the article's queue position, for StatReply and HeadReply; else 0
        bool crossCheck = false; // asks again about an article STAT was answered "430 " for
    };

    // What a timer can hold in milliseconds; a longer timeout is this one.
    static constexpr int kLongestIdleTimeout = 2'000'000;
    // A HEAD reply longer than this is no article's header.
    static constexpr qsizetype kLongestHeader = 1024 * 1024;
    // A BODY reply is read whole only up to this size.
    static constexpr qsizetype kLongestBody = 16 * 1024 * 1024;

    explicit NntpConnection(QObject *parent = nullptr);
    ~NntpConnection() override;

    void open(const QString &host, quint16 port, const ConnectionOptions &options);
    // Sends the command with CR LF; its reply will be reported with `owed`.
    void send(QByteArrayView command, Owed owed);
    void close();

    enum class LoginStep { NotTaken, Waiting, Done };
    // Greeting and login as every connection goes through them: NotTaken when `code` is not an
    // answer to `owed`, Done once commands other than the login may follow.
    // `password` is asked only when the server wants one.
    LoginStep takeLoginReply(Awaiting owed, QByteArrayView code, const QString &username, const std::function<QString()> &password);
    // Says QUIT and lets the socket close once it is written.
    void quitAndClose();
    bool isClosed() const { return m_closed; }
    // The lines of the last "222 " reply, dot-unstuffed, each ended by LF.
    QByteArray takeBody() { return std::exchange(m_body, {}); }
    const std::deque<Owed> &owed() const { return m_owed; }
    // Article queries sent and not yet answered.
    qsizetype articlesOut() const { return m_articlesOut; }
    // The TLS version agreed on once established; UnknownProtocol on a plain connection.
    QSsl::SslProtocol tlsProtocol() const;

    // The check's own notes: positions that drew "412 " and wait for the GROUP reply; whether
    // the server greeted; whether greeting and login are done and articles may be asked; whether
    // a GROUP was accepted on it in this check; whether it was taken from the pool and nothing
    // has come on it since.
    std::vector<qsizetype> heldForGroup;
    bool greeted = false;
    bool asking = false;
    bool groupSelected = false;
    bool untried = false;

Q_SIGNALS:
    // The server is reached and, with TLS, the handshake done. For a plain connection it may
    // come from inside open().
    void established();
    void replyReceived(const QByteArray &line, NntpConnection::Owed owed);
    void unexpectedLine(const QByteArray &line);
    void failed(int error, const QString &description);
    // The server closed the connection.
    void closedByServer();

private:
    void connectSocket();
    void readReplies();
    void readAvailableReplies();
    bool takeHeaderLine(const QByteArray &line);
    void completeReply(const QByteArray &line);
    void onError();
    void onIdle();
    void noteActivity();
    void endLater(std::function<void()> report);

    QTcpSocket *m_socket = nullptr;
    ReplyReader m_reader;
    std::deque<Owed> m_owed;
    qsizetype m_articlesOut = 0;
    QTimer m_idle;
    QElapsedTimer m_lastActivity;
    std::chrono::seconds m_idleLimit{0};
    QByteArray m_headStatus;   // the "221 " or "222 " line whose lines are being read
    qsizetype m_headBytes = 0; // of those lines
    QByteArray m_body;         // of a "222 " reply
    bool m_inHeader = false;
    bool m_readingReplies = false;
    bool m_closed = false;   // the socket is closed or closing
    bool m_silenced = false; // close() was called: nothing more is reported
};
