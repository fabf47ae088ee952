#include "check/NntpConnection.h"

#include <QSslConfiguration>
#include <QSslSocket>

#include <algorithm>
#include <utility>

NntpConnection::NntpConnection(QObject *parent)
    : QObject(parent)
{
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, &NntpConnection::onIdle);
}

NntpConnection::~NntpConnection()
{
    close();
}

void NntpConnection::open(const QString &host, quint16 port, const ConnectionOptions &options)
{
    m_idleLimit = std::chrono::seconds(std::clamp(options.idleTimeoutSeconds, 0, kLongestIdleTimeout));
    m_owed = {{Awaiting::Greeting, 0}};
    // A plain socket for plain NNTP: it copies each byte once less.
    if (!options.tls) {
        m_socket = new QTcpSocket(this);
        connectSocket();
        m_socket->connectToHost(host, port);
    } else {
        auto *socket = new QSslSocket(this);
        m_socket = socket;
        connectSocket();
        if (!options.extraCaCertificates.isEmpty()) {
            QSslConfiguration configuration = socket->sslConfiguration();
            configuration.setCaCertificates(QSslConfiguration::systemCaCertificates() + options.extraCaCertificates);
            socket->setSslConfiguration(configuration);
        }
        socket->connectToHostEncrypted(host, port);
    }
    noteActivity();
}

void NntpConnection::connectSocket()
{
    // Without it, the queries of a pipeline would wait for the server's acknowledgement.
    connect(m_socket, &QTcpSocket::connected, this, [this] { m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    connect(m_socket, &QTcpSocket::readyRead, this, &NntpConnection::readReplies);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &NntpConnection::onError);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] { endLater([this] { Q_EMIT closedByServer(); }); });
    if (auto *tls = qobject_cast<QSslSocket *>(m_socket))
        connect(tls, &QSslSocket::encrypted, this, &NntpConnection::established);
    else
        connect(m_socket, &QTcpSocket::connected, this, &NntpConnection::established);
}

QSsl::SslProtocol NntpConnection::tlsProtocol() const
{
    const auto *tls = qobject_cast<const QSslSocket *>(m_socket);
    return tls ? tls->sessionProtocol() : QSsl::UnknownProtocol;
}

void NntpConnection::send(QByteArrayView command, Owed owed)
{
    // Noted also when the connection has ended and its end waits to be reported: whoever takes
    // the report then finds every article it was asked.
    if (m_owed.empty() && !m_closed)
        noteActivity(); // the server's silence counts from now
    m_owed.push_back(owed);
    if (owed.position != 0)
        ++m_articlesOut;
    if (m_closed)
        return;
    QByteArray line;
    line.reserve(command.size() + 2);
    line.append(command.data(), command.size()).append("\r\n", 2);
    m_socket->write(line);
    if (!m_readingReplies)
        m_socket->flush(); // at once, not at the event loop's next turn
}

void NntpConnection::close()
{
    m_silenced = true;
    m_idle.stop();
    if (!m_socket || (m_closed && m_socket->state() == QAbstractSocket::UnconnectedState))
        return;
    m_closed = true;
    m_socket->disconnect(this);
    m_socket->abort();
}

void NntpConnection::quitAndClose()
{
    m_silenced = true;
    m_idle.stop();
    if (m_closed || !m_socket)
        return;
    m_closed = true;
    m_socket->disconnect(this);
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->write("QUIT\r\n");
        m_socket->flush(); // before the socket may be deleted
        m_socket->disconnectFromHost();
    } else {
        m_socket->abort();
    }
}

// Qt reports some failures from inside connectToHost() or a write; the report waits for the
// event loop, and the socket takes no more bytes meanwhile.
void NntpConnection::endLater(std::function<void()> report)
{
    if (m_closed)
        return;
    m_closed = true;
    m_idle.stop();
    m_socket->disconnect(this);
    QMetaObject::invokeMethod(this, [this, report = std::move(report)] {
        m_socket->abort();
        if (!m_silenced)
            report();
    }, Qt::QueuedConnection);
}

// Commands sent while replies are handled go out together, in one write after them.
void NntpConnection::readReplies()
{
    m_readingReplies = true;
    readAvailableReplies();
    m_readingReplies = false;
    if (!m_closed)
        m_socket->flush();
}

void NntpConnection::readAvailableReplies()
{
    char chunk[16384];
    qint64 size;
    // Only as many lines as were owed when these bytes arrived are replies: a command sent
    // while handling one of them goes out after this read, so none of them can answer it.
    qsizetype owed = qsizetype(m_owed.size()) - (m_inHeader ? 1 : 0);
    while (!m_closed && (size = m_socket->read(chunk, sizeof chunk)) > 0) {
        m_reader.append(QByteArrayView(chunk, size));
        QByteArray line;
        bool lineArrived = false;
        while (!m_closed && m_reader.takeLine(line)) {
            lineArrived = true;
            if (m_inHeader) {
                if (!takeHeaderLine(line))
                    return;
                continue;
            }
            if (owed == 0) {
                Q_EMIT unexpectedLine(line);
                return;
            }
            --owed;
            const Awaiting awaited = m_owed.front().reply;
            if ((awaited == Awaiting::HeadReply && line.startsWith("221 ")) || (awaited == Awaiting::BodyReply && line.startsWith("222 "))) {
                // A multi-line reply: it counts once its last line has come.
                m_inHeader = true;
                m_headStatus = line;
                m_headBytes = 0;
                m_body.clear();
                continue;
            }
            completeReply(line);
        }
        // Bytes that end no line are no sign of life: a server dripping a byte at a time
        // would hold the check for ever.
        if (lineArrived && !m_closed)
            noteActivity();
        if (!m_closed && m_reader.overflowed()) {
            Q_EMIT unexpectedLine(m_reader.pending());
            return;
        }
    }
}

// One line of a HEAD reply's header; false when the header is too long to be one.
bool NntpConnection::takeHeaderLine(const QByteArray &line)
{
    if (line == ".") {
        m_inHeader = false;
        completeReply(std::exchange(m_headStatus, {}));
        return true;
    }
    m_headBytes += line.size() + 2;
    if (m_owed.front().reply == Awaiting::BodyReply) {
        if (m_headBytes > kLongestBody) {
            endLater([this] { Q_EMIT failed(-1, QStringLiteral("The article is over 16 MiB.")); });
            return false;
        }
        m_body.append(line.startsWith("..") ? QByteArrayView(line).sliced(1) : QByteArrayView(line)).append('\n');
        return true;
    }
    if (m_headBytes <= kLongestHeader)
        return true;
    Q_EMIT unexpectedLine(m_headStatus);
    return false;
}

void NntpConnection::completeReply(const QByteArray &line)
{
    const Owed owed = m_owed.front();
    m_owed.pop_front();
    if (owed.position != 0)
        --m_articlesOut;
    Q_EMIT replyReceived(line, owed);
}

// A server that closes the connection is not a failure: `disconnected` reports it.
void NntpConnection::onError()
{
    const QAbstractSocket::SocketError error = m_socket->error();
    if (m_closed || error == QAbstractSocket::RemoteHostClosedError)
        return;
    const bool tls = error == QAbstractSocket::SslHandshakeFailedError || error == QAbstractSocket::SslInternalError
                     || error == QAbstractSocket::SslInvalidUserDataError;
    const QString description = tls ? QStringLiteral("TLS error: ") + m_socket->errorString() : m_socket->errorString();
    endLater([this, error, description] { Q_EMIT failed(int(error), description); });
}

// Silence while nothing is owed costs nothing: the connection waits for work.
void NntpConnection::onIdle()
{
    if (m_closed || m_owed.empty())
        return;
    const auto quiet = std::chrono::milliseconds(m_lastActivity.elapsed());
    if (quiet < m_idleLimit) {
        m_idle.start(m_idleLimit - quiet);
        return;
    }
    const qint64 seconds = m_idleLimit.count();
    const QString description = QStringLiteral("The server sent nothing for %1 %2.")
                                    .arg(seconds)
                                    .arg(seconds == 1 ? QLatin1String("second") : QLatin1String("seconds"));
    endLater([this, description] { Q_EMIT failed(int(QAbstractSocket::SocketTimeoutError), description); });
}

// Restarting a timer per reply would cost more than the reply: the timer is armed once and,
// when it fires early, re-armed for what is left of the limit.
void NntpConnection::noteActivity()
{
    m_lastActivity.start();
    if (m_idleLimit.count() > 0 && !m_idle.isActive())
        m_idle.start(m_idleLimit);
}

NntpConnection::LoginStep NntpConnection::takeLoginReply(Awaiting owed, QByteArrayView code, const QString &username,
                                                         const std::function<QString()> &password)
{
    switch (owed) {
    case Awaiting::Greeting:
        if (code != "200 " && code != "201 ")
            return LoginStep::NotTaken;
        greeted = true;
        if (username.isEmpty())
            return LoginStep::Done;
        send(QByteArray("AUTHINFO user ") + username.toUtf8(), {Awaiting::UserReply, 0});
        return LoginStep::Waiting;
    case Awaiting::UserReply:
        if (code == "381 ") {
            send(QByteArray("AUTHINFO pass ") + password().toUtf8(), {Awaiting::PasswordReply, 0});
            return LoginStep::Waiting;
        }
        return code == "281 " ? LoginStep::Done : LoginStep::NotTaken; // "281 ": the user name alone was enough
    case Awaiting::PasswordReply:
        return code == "281 " ? LoginStep::Done : LoginStep::NotTaken;
    default:
        return LoginStep::NotTaken;
    }
}
