#include "check/NntpConnection.h"

#include <QTcpSocket>

#include <utility>

NntpConnection::NntpConnection(QObject *parent)
    : QObject(parent)
    , m_socket(new QTcpSocket(this))
{
    connect(m_socket, &QTcpSocket::readyRead, this, &NntpConnection::readReplies);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &NntpConnection::onError);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (!m_closed) {
            m_closed = true;
            Q_EMIT closedByServer();
        }
    });
}

NntpConnection::~NntpConnection()
{
    close();
}

void NntpConnection::open(const QString &host, quint16 port)
{
    m_repliesOwed = 1; // the greeting
    m_socket->connectToHost(host, port);
}

void NntpConnection::send(QByteArrayView command)
{
    if (m_closed)
        return;
    ++m_repliesOwed;
    QByteArray line;
    line.reserve(command.size() + 2);
    line.append(command.data(), command.size()).append("\r\n", 2);
    m_socket->write(line);
    m_socket->flush(); // at once, not at the event loop's next turn
}

void NntpConnection::close()
{
    if (m_closed && m_socket->state() == QAbstractSocket::UnconnectedState)
        return;
    m_closed = true;
    m_socket->disconnect(this);
    m_socket->abort();
}

void NntpConnection::sendQuit()
{
    if (!m_quitSent)
        send("QUIT");
    m_quitSent = true;
}

void NntpConnection::quitAndClose()
{
    if (m_closed)
        return;
    m_closed = true;
    m_socket->disconnect(this);
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        if (!std::exchange(m_quitSent, true))
            m_socket->write("QUIT\r\n");
        m_socket->flush(); // before the socket may be deleted
        m_socket->disconnectFromHost();
    } else {
        m_socket->abort();
    }
}

void NntpConnection::readReplies()
{
    char chunk[16384];
    qint64 size;
    while (!m_closed && (size = m_socket->read(chunk, sizeof chunk)) > 0) {
        m_reader.append(QByteArrayView(chunk, size));
        // Only as many lines as were owed when these bytes arrived are replies: a command
        // sent while handling one of them cannot have been answered in the same bytes.
        int owed = m_repliesOwed;
        QByteArray line;
        while (!m_closed && m_reader.takeLine(line)) {
            if (owed == 0) {
                Q_EMIT unexpectedLine(line);
                return;
            }
            --owed;
            --m_repliesOwed;
            Q_EMIT replyReceived(line);
        }
        if (!m_closed && m_reader.overflowed()) {
            Q_EMIT unexpectedLine(m_reader.pending());
            return;
        }
    }
}

// A server that closes the connection is not a failure: `disconnected` reports it.
void NntpConnection::onError()
{
    if (m_closed || m_socket->error() == QAbstractSocket::RemoteHostClosedError)
        return;
    Q_EMIT failed(int(m_socket->error()), m_socket->errorString());
}
