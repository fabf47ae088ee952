// The check's NNTP dialogue against a server whose replies come from the input, over loopback,
// in arbitrary chunks: every check must end, with counts that stay within the NZB.
//
// Input: a first byte of options (bits 0-1: connections - 1; bit 2: a second server; bit 3:
// user and password; bits 4-5: a pipeline depth of 1, 2, 4 or 16), then chunks, each a length byte (0 to 255) and that many bytes. A
// connection gets the next chunk when it is accepted and after each command it sends; a chunk
// without a complete line at its end is followed by the next at once, since the checker waits
// for the rest, and so is one that leaves a "221 " reply's header open (no "." line yet). When
// the chunks run out, or at an empty chunk, the server closes the connection.

#include "CheckHarness.h"
#include "FuzzCheck.h"
#include "check/CheckRun.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdint>

namespace {

// One server for all runs: a new listening port per run would soon find every port of the
// loopback held in TIME_WAIT.
class ChunkServer : public QObject
{
public:
    ChunkServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, &ChunkServer::accept);
        FUZZ_CHECK(m_server.listen(QHostAddress::LocalHost));
    }
    quint16 port() const { return m_server.serverPort(); }

    void script(const std::uint8_t *data, std::size_t size) { m_data = data, m_size = size, m_offset = 0; }
    // Drops the connections of the run that ended.
    void closeAll()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            delete socket;
        m_sent.clear();
        for (QTcpSocket *socket : findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly)) {
            socket->abort();
            delete socket;
        }
    }

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readCommands(socket); });
            sendNextReply(socket);
        }
    }

    void readCommands(QTcpSocket *socket)
    {
        while (socket->canReadLine()) {
            if (socket->readLine().endsWith("\r\n"))
                sendNextReply(socket);
        }
    }

    void sendNextReply(QTcpSocket *socket)
    {
        while (m_offset < m_size) {
            const std::size_t wanted = m_data[m_offset++];
            const std::size_t length = std::min(wanted, m_size - m_offset);
            const QByteArray chunk(reinterpret_cast<const char *>(m_data) + m_offset, qsizetype(length));
            m_offset += length;
            if (chunk.isEmpty())
                break;
            socket->write(chunk);
            // Every chunk is followed, also those that end inside a line.
            const bool headerOpen = leavesHeaderOpen(socket, chunk);
            if (chunk.endsWith("\r\n") && !headerOpen)
                return;
        }
        socket->disconnectFromHost();
    }

    // Follows the lines sent on the socket: whether the last "221 " line still waits for its ".".
    bool leavesHeaderOpen(QTcpSocket *socket, const QByteArray &chunk)
    {
        SentLines &sent = m_sent[socket];
        for (const char c : chunk) {
            sent.line += c;
            if (!sent.line.endsWith("\r\n"))
                continue;
            if (sent.line.startsWith("221 "))
                sent.headerOpen = true;
            else if (sent.line == ".\r\n")
                sent.headerOpen = false;
            sent.line.clear();
        }
        return sent.headerOpen;
    }

    struct SentLines { QByteArray line; bool headerOpen = false; }; // the unfinished last line

    QTcpServer m_server;
    QHash<QTcpSocket *, SentLines> m_sent;
    const std::uint8_t *m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_offset = 0;
};

std::vector<CheckServer> serversFor(std::uint8_t options, quint16 port)
{
    static constexpr int kDepths[] = {1, 2, 4, 16};
    const bool login = options & 8;
    const CheckServer server{{}, QStringLiteral("127.0.0.1"), QString::number(port), port, 1 + (options & 3), login ? QStringLiteral("user") : QString(),
                             login ? QStringLiteral("secret") : QString(), false, kDepths[(options >> 4) & 3]};
    return options & 4 ? std::vector{server, server} : std::vector{server};
}

void checkEnd(const NzbModel &nzb, const CheckRun &run)
{
    FUZZ_CHECK(run.missingLeft() >= 0 && run.missingLeft() <= nzb.articleQueue().count());
    FUZZ_CHECK(run.progressValue() <= run.queueCount());
    for (int item = 1; item <= nzb.itemCount(); ++item) {
        const NzbItem &row = nzb.item(item);
        FUZZ_CHECK(row.status != ItemStatus::Checking);
        FUZZ_CHECK(nzb.counters().found[size_t(item)] <= row.segmentCount);
        FUZZ_CHECK(nzb.counters().answered[size_t(item)] <= row.segmentCount);
        FUZZ_CHECK(row.available.toInt() <= row.segmentCount);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::unique_ptr<NzbModel> model = makeNzb({{2, {"a1@x", "a2@x"}}, {3, {"b1@x", "b 2@x", "b3@x"}}});
    NzbModel &nzb = *model;

    static ChunkServer server;
    server.script(data + 1, size - 1);
    CheckRun run(nzb, serversFor(data[0], server.port()), u'.');
    QEventLoop loop;
    bool ended = false;
    QObject::connect(&run, &CheckRun::finished, &loop, [&] {
        ended = true;
        loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    run.start();
    if (run.isRunning())
        loop.exec();
    FUZZ_CHECK(ended || !run.isRunning());
    checkEnd(nzb, run);
    server.closeAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
