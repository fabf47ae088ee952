#pragma once

#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

// An NNTP server in the test process, on loopback. By default it greets with "200 " and answers
// every STAT with "223 ", QUIT with "205 "; a test scripts it with rules (script()) or its own
// `respond`, or turns `autoGreet` off and talks with send() itself. It records every command.
// Given a TLS configuration it speaks implicit TLS, as on port 563.
class ScriptedNntpServer : public QObject
{
public:
    struct Reply {
        QByteArray bytes;
        bool closeAfter = false;
        bool resetInstead = false; // drop the connection with a reset instead of replying
        int delay = 0;             // milliseconds before the reply goes out
    };
    // connection index from 1, the command line without CR LF
    using Responder = std::function<Reply(int, const QByteArray &)>;

    explicit ScriptedNntpServer(const QSslConfiguration *tls = nullptr) : m_server(tls ? new QSslServer : new QTcpServer)
    {
        if (tls)
            static_cast<QSslServer *>(m_server.get())->setSslConfiguration(*tls);
        connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, &ScriptedNntpServer::accept);
        if (!m_server->listen(QHostAddress::LocalHost))
            qFatal("cannot listen on loopback");
    }

    quint16 port() const { return m_server->serverPort(); }
    int connectionCount() const { return int(m_sockets.size()); }
    // "1> STAT <a@b>" for each command, in the order received.
    const QStringList &commands() const { return m_commands; }

    void send(int connection, const QByteArray &bytes) { m_sockets[size_t(connection - 1)]->write(bytes), m_sockets[size_t(connection - 1)]->flush(); }
    bool isConnected(int connection) const { return m_sockets[size_t(connection - 1)]->state() == QAbstractSocket::ConnectedState; }
    bool allClosed() const { return std::none_of(m_sockets.begin(), m_sockets.end(), [](QTcpSocket *s) { return s->state() == QAbstractSocket::ConnectedState; }); }

    static Reply standardReply(const QByteArray &command)
    {
        if (command.startsWith("STAT "))
            return {"223 0 " + command.mid(5) + "\r\n"};
        return command == "QUIT" ? Reply{"205 bye\r\n", true} : Reply{"500 what?\r\n"};
    }

    // Rules "[N>]PREFIX[#TIMES][@MS]=REPLY", the first that fits a command answers it: only on
    // connection N, only the first TIMES times, MS milliseconds late. PREFIX "hello" stands for
    // the greeting. REPLY: lines joined by \n and sent with CR LF, "~" at its end for no final
    // CR LF, "|" for a pause of 300 ms, "$" for the command's argument; "!close" (also after
    // a reply ended by "~"), "!reset", or nothing for silence. Commands no rule fits get the standard reply. With `chunk` set, every
    // reply goes out in pieces of that many bytes, a millisecond apart. The rule "limit=N" greets a connection beyond N open ones with "502 ".
    void script(const QList<QByteArray> &rules, int chunk = 0)
    {
        m_chunk = chunk;
        for (const QByteArray &rule : rules) {
            if (rule.startsWith("limit=")) {
                m_limit = rule.mid(6).toInt();
                continue;
            }
            QByteArray when = rule.left(rule.indexOf('='));
            Rule &r = m_rules.emplace_back(Rule{0, 0, 0, 0, {}, rule.mid(when.size() + 1)});
            if (const qsizetype at = when.indexOf('>'); at > 0 && at < 3)
                r.connection = when.left(at).toInt(), when.remove(0, at + 1);
            const qsizetype marks = qMax<qsizetype>(when.lastIndexOf('>'), 0); // "@" and "#" after a message-ID's own "@"
            for (auto [mark, field] : {std::pair{'@', &r.delay}, std::pair{'#', &r.times}})
                if (const qsizetype at = when.indexOf(mark, marks); at > 0)
                    *field = when.mid(at + 1).toInt(), when.truncate(at);
            r.prefix = when;
        }
        respond = [this](int connection, const QByteArray &command) { return ruled(connection, command); };
    }

    bool autoGreet = true;
    QByteArray greeting = "200 scripted server ready\r\n";
    Responder respond = [](int, const QByteArray &command) { return standardReply(command); };

private:
    struct Rule { int connection = 0, times = 0, delay = 0, used = 0; QByteArray prefix, reply; };

    Reply ruled(int connection, const QByteArray &command)
    {
        for (Rule &r : m_rules) {
            if ((r.connection && r.connection != connection) || !command.startsWith(r.prefix) || (r.times && r.used == r.times))
                continue;
            ++r.used;
            if (r.reply == "!reset")
                return {{}, false, true, r.delay};
            const bool closeAfter = r.reply.endsWith("!close");
            QByteArray bytes = r.reply.chopped(closeAfter ? 6 : 0).replace('$', command.mid(command.indexOf(' ') + 1)).replace("\n", "\r\n");
            if (!bytes.isEmpty())
                bytes = bytes.endsWith('~') ? bytes.chopped(1) : bytes + "\r\n";
            return {bytes, closeAfter, false, r.delay};
        }
        return command == "hello" ? Reply{greeting} : standardReply(command);
    }

    void deliver(int index, const Reply &reply)
    {
        if (reply.delay > 0)
            return QTimer::singleShot(reply.delay, this, [this, index, reply] { deliver(index, {reply.bytes, reply.closeAfter, reply.resetInstead}); });
        if (reply.resetInstead) { // a true reset (RST): with a zero linger time, closing drops the connection instead of ending it
            const linger hard{1, 0};
            ::setsockopt(int(m_sockets[size_t(index - 1)]->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            return m_sockets[size_t(index - 1)]->abort();
        }
        int at = 0; // milliseconds from now of the next piece
        for (const QByteArray &part : reply.bytes.split('|')) {
            const qsizetype piece = m_chunk ? m_chunk : part.size();
            for (qsizetype i = 0; i < part.size(); i += piece, at += m_chunk ? 1 : 0)
                at ? QTimer::singleShot(at, this, [this, index, bytes = part.mid(i, piece)] { if (isConnected(index)) send(index, bytes); }) : send(index, part.mid(i, piece));
            at += 300;
        }
        if (reply.closeAfter)
            m_sockets[size_t(index - 1)]->disconnectFromHost();
    }

    void accept()
    {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            m_sockets.push_back(socket);
            const int index = int(m_sockets.size());
            m_buffers.emplace_back();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, index] { readCommands(socket, index); });
            const auto open = std::count_if(m_sockets.begin(), m_sockets.end(), [](QTcpSocket *s) { return s->state() == QAbstractSocket::ConnectedState; });
            if (m_limit > 0 && open > m_limit)
                deliver(index, {"502 too many connections\r\n", true});
            else if (autoGreet)
                deliver(index, m_rules.empty() ? Reply{greeting} : ruled(index, "hello"));
        }
    }

    void readCommands(QTcpSocket *socket, int index)
    {
        QByteArray &buffer = m_buffers[size_t(index - 1)];
        buffer += socket->readAll();
        qsizetype end;
        while ((end = buffer.indexOf("\r\n")) >= 0 && socket->state() == QAbstractSocket::ConnectedState) {
            const QByteArray command = buffer.left(end);
            buffer.remove(0, end + 2);
            m_commands << QString::number(index) + QLatin1String("> ") + QString::fromLatin1(command);
            if (respond)
                deliver(index, respond(index, command));
        }
    }

    std::unique_ptr<QTcpServer> m_server;
    std::vector<QTcpSocket *> m_sockets;
    std::vector<QByteArray> m_buffers;
    QStringList m_commands;
    std::vector<Rule> m_rules;
    int m_chunk = 0;
    int m_limit = 0;
};
