#pragma once

#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/socket.h>

#include <functional>
#include <memory>
#include <vector>

// An NNTP server in the test process, on loopback. By default it greets with "200 " and answers
// every STAT with "223 ", QUIT with "205 "; a test replaces `respond` to script a dialogue, or
// turns `autoGreet` off and talks with send() itself. It records every command it receives.
// Given a TLS configuration it speaks implicit TLS, as on port 563.
class ScriptedNntpServer : public QObject
{
public:
    struct Reply {
        QByteArray bytes;
        bool closeAfter = false;
        bool resetInstead = false; // drop the connection with a reset instead of replying
    };
    // connection index from 1, the command line without CR LF
    using Responder = std::function<Reply(int, const QByteArray &)>;

    explicit ScriptedNntpServer(const QSslConfiguration *tls = nullptr)
    {
        if (tls) {
            auto server = std::make_unique<QSslServer>();
            server->setSslConfiguration(*tls);
            m_server = std::move(server);
        } else {
            m_server = std::make_unique<QTcpServer>();
        }
        connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, &ScriptedNntpServer::accept);
        if (!m_server->listen(QHostAddress::LocalHost))
            qFatal("cannot listen on loopback");
    }

    quint16 port() const { return m_server->serverPort(); }
    int connectionCount() const { return int(m_sockets.size()); }
    // "1> STAT <a@b>" for each command, in the order received.
    const QStringList &commands() const { return m_commands; }

    void send(int connection, const QByteArray &bytes)
    {
        QTcpSocket *socket = m_sockets[size_t(connection - 1)];
        socket->write(bytes);
        socket->flush();
    }
    void close(int connection) { m_sockets[size_t(connection - 1)]->disconnectFromHost(); }
    // A true reset (RST): with a zero linger time, closing drops the connection instead of ending it.
    void reset(int connection)
    {
        QTcpSocket *socket = m_sockets[size_t(connection - 1)];
        const linger hard{1, 0};
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        socket->abort();
    }
    bool isConnected(int connection) const
    {
        return m_sockets[size_t(connection - 1)]->state() == QAbstractSocket::ConnectedState;
    }

    static Reply standardReply(const QByteArray &command)
    {
        if (command.startsWith("STAT "))
            return {"223 0 " + command.mid(5) + "\r\n"};
        if (command == "QUIT")
            return {"205 bye\r\n", true};
        return {"500 what?\r\n"};
    }

    bool autoGreet = true;
    QByteArray greeting = "200 scripted server ready\r\n";
    Responder respond = [](int, const QByteArray &command) { return standardReply(command); };

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            m_sockets.push_back(socket);
            const int index = int(m_sockets.size());
            m_buffers.emplace_back();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, index] { readCommands(socket, index); });
            if (autoGreet)
                send(index, greeting);
        }
    }

    void readCommands(QTcpSocket *socket, int index)
    {
        QByteArray &buffer = m_buffers[size_t(index - 1)];
        buffer += socket->readAll();
        qsizetype end;
        while ((end = buffer.indexOf("\r\n")) >= 0) {
            const QByteArray command = buffer.left(end);
            buffer.remove(0, end + 2);
            m_commands << QString::number(index) + QLatin1String("> ") + QString::fromLatin1(command);
            if (!respond)
                continue;
            const Reply reply = respond(index, command);
            if (reply.resetInstead) {
                reset(index);
                return;
            }
            if (!reply.bytes.isEmpty())
                send(index, reply.bytes);
            if (reply.closeAfter)
                socket->disconnectFromHost();
        }
    }

    std::unique_ptr<QTcpServer> m_server;
    std::vector<QTcpSocket *> m_sockets;
    std::vector<QByteArray> m_buffers;
    QStringList m_commands;
};
