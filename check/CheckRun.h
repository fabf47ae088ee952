#pragma once

#include "check/NntpConnection.h"
#include "check/PassQueue.h"
#include "check/StatCrossCheck.h"
#include "nzb/NzbModel.h"
#include "repair/RepairVerdict.h"
#include "servers/ServerRecord.h"

#include <QObject>
#include <QSet>

#include <algorithm>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class BodySampler;
class ConnectionPool;
class RepairCheck;

// A newsserver as a check uses it, its hand-edited values made safe.
struct CheckServer {
    QString nickname;
    QString address;
    QString portText;
    int port = 0;        // 0 when portText is no port from 1 to 65535
    int connections = 1; // 1 to 10
    QString username;
    QString password;
    bool tls = false;
    int pipelineDepth = 1; // article queries each connection keeps out, 1 to kDeepestPipeline
    // Asked for the password when the server wants one and `password` is empty, at most once
    // per check and server; the password must not wait in memory for a server that never asks.
    std::function<QString()> askPassword;

    static CheckServer fromRecord(const ServerRecord &server);
    // Those of the list that are ticked, in its order.
    static std::vector<CheckServer> tickedOf(const std::vector<ServerRecord> &servers);
    // The password to send after "381 ".
    QString passwordWhenAsked() const { return password.isEmpty() && askPassword ? askPassword() : password; }
};

// One check of the loaded NZB: a pass per server in the given order (the ticked servers of the
// list), each asking with up to ten connections what the servers before it lacked. It reports
// log lines and the end by signals; views poll the progress at their own pace.
class CheckRun : public QObject
{
    Q_OBJECT
public:
    CheckRun(NzbModel &nzb, std::vector<CheckServer> servers, QChar decimalSeparator, QObject *parent = nullptr);
    ~CheckRun() override;

    // For the connections of the next start(): the idle timeout and certificates to trust.
    void setConnectionOptions(const ConnectionOptions &options) { m_connectionOptions = options; }
    // Whether the repair verdict may read par2 and data articles; without, it is estimated.
    void setFetchForRepair(bool fetch) { m_fetchForRepair = fetch; }
    // Connections are taken from the pool and handed back to it instead of saying QUIT.
    void setConnectionPool(ConnectionPool *pool) { m_pool = pool; }
    // Bodies of found articles to read after the last pass, up to kLargestSample; 0 reads none.
    static constexpr int kLargestSample = 10000; // they are read one after another
    void setSampleCount(int count) { m_sampleCount = std::clamp(count, 0, kLargestSample); }

    // Asks the whole NZB, whatever an earlier check left.
    void start();
    // Drops every connection at once and resets the rows; nothing of this check is handled afterwards.
    void cancel();
    // Says QUIT on every connection and lets them close; for a window that closes during a check.
    void stop();
    bool isRunning() const { return m_running; }

    qsizetype progressValue() const { return m_progressValue; }
    qsizetype queueCount() const;
    qsizetype captionPosition() const { return m_captionPosition; }
    // The item whose row turned to Checking last; 0 before any.
    int lastMarkedItem() const { return m_lastMarkedItem; }
    const QString &statusText() const { return m_statusText; }
    // After the end: entries no server had or answered, and the report's undownloadable count.
    qsizetype missingLeft() const { return m_missingLeft; }
    qint64 undownloadable() const { return m_undownloadable; }
    const repair::Judgement &judgement() const { return m_judgement; }
    // Per server asked, in that order: entries asked, entries found, the "Server error: " lines,
    // and whether the server was given up before its pass ended.
    struct ServerTally {
        QString nickname;
        qsizetype asked = 0;
        qsizetype found = 0;
        QStringList errors;
        bool givenUp = false;
    };
    const std::vector<ServerTally> &serverTallies() const { return m_tallies; }
    // The bodies read after the last pass and how many of them failed; none without a sample.
    struct SampleOutcome {
        int asked = 0;
        int failed = 0;
    };
    const std::optional<SampleOutcome> &sampleOutcome() const { return m_sampleOutcome; }

Q_SIGNALS:
    void logLine(const QString &line);
    // The report is logged and no connection is open. Always from the event loop, never from
    // inside start(), so that every caller hears of the end the same way.
    void finished();

private:
    void startServerPass(size_t server);
    void openConnection(bool fresh = false);
    void watchConnection(NntpConnection *connection);
    void handleReply(NntpConnection *connection, const QByteArray &line, NntpConnection::Owed owed);
    bool handleArticleReply(NntpConnection *connection, const QByteArray &code, NntpConnection::Owed owed);
    void refuseConnection(NntpConnection *connection, const QByteArray &line);
    void askMore(NntpConnection *connection);
    bool askIdleConnections();
    void askArticle(NntpConnection *connection, qsizetype position);
    void fallBackToHead();
    void askAgain(NntpConnection *connection, NntpConnection::Awaiting command, qsizetype position);
    void crossCheckAnswered(NntpConnection *connection, const QByteArray &code, NntpConnection::Owed owed);
    bool askMissingAgain();
    bool passDone() const { return m_pass.complete() && !m_crossCheck.waiting(); }
    bool takeNextPosition(qsizetype &position);
    void recordAnswer(qsizetype position, bool found);
    void answerArrived(NntpConnection *connection, qsizetype position, bool found);
    void dropConnection(NntpConnection *connection, qsizetype answering, const QString &errorLine);
    bool askAgainOrCountMissing(qsizetype position);
    void connectionFailed(NntpConnection *connection, const QString &errorLine);
    void logServerError(const QString &line);
    void noteServerError(const QString &line);
    void giveUpIfStuck();
    void giveUpServer(const QString &reason);
    void endServerPass();
    void continueWith(ArticleQueue queue);
    void finish(const ArticleQueue &missing);
    void sampleBodies();
    void takeSamples();
    void report();
    void reportEnd();
    std::vector<repair::PostedFile> postedFiles(const ArticleQueue &missing) const;
    void closeConnections(bool sayQuit);
    void writeTerminatingLines();
    void log(const QString &line);
    const CheckServer &server() const { return m_servers[m_server]; }

    NzbModel &m_nzb;
    const std::vector<CheckServer> m_servers;
    const QChar m_decimalSeparator;
    ConnectionOptions m_connectionOptions;
    ConnectionPool *m_pool = nullptr;
    bool m_running = false;
    size_t m_server = 0;
    bool m_askWithHead = false; // the server answered STAT with "500 ", or STAT was wrong, in this pass
    bool m_askAgainWithHead = false; // STAT was wrong: what it lacked is asked again at the end of the pass
    bool m_askingAgain = false;      // and that is being done
    StatCrossCheck m_crossCheck;

    ArticleQueue m_ownedQueue; // what the servers before lacked, in later passes
    PassQueue m_pass;
    std::vector<NntpConnection *> m_connections;
    quint64 m_passNumber = 0;     // counts passes and ends, so a loop can tell that its pass is over
    int m_reopensLeft = 0;        // new connections this pass may still open for what others left
    int m_retriesLeft = 0;        // connections refused for the pool's sake that may try once more
    int m_retriesWaiting = 0;     // of those, the ones not yet opened
    bool m_othersQuit = false;    // the pool let its idle connections to other servers go in this pass
    QSet<QString> m_errorsLogged; // "Server error: " texts of this pass
    QString m_pendingErrorLine;   // written after the next server's first line

    qsizetype m_progressValue = 0;
    qsizetype m_captionPosition = 0;
    int m_lastMarkedItem = 0;
    QString m_statusText;
    qsizetype m_missingLeft = 0;
    qint64 m_undownloadable = 0;

    std::vector<ServerTally> m_tallies;
    std::vector<int> m_foundOn; // per segment, the server that found it; -1 for none
    bool m_fetchForRepair = true;
    int m_sampleCount = 0;
    std::unique_ptr<BodySampler> m_sampler;
    std::optional<SampleOutcome> m_sampleOutcome;
    std::vector<bool> m_doubtedServers; // their sampled bodies failed: what they found is in doubt
    ArticleQueue m_missingAtEnd;        // what no server had, once the passes are done
    std::unique_ptr<RepairCheck> m_repair;
    repair::Judgement m_judgement;
};
