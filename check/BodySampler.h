#pragma once

#include "check/ArticleFetcher.h"

#include <QObject>

#include <vector>

// After the last pass and before the par2 reading: fetches the bodies of some of the articles
// the servers found, since a server may answer "223 " to STAT for a body it no longer has. A
// body that is refused, cut short or fails its CRC is asked from the later servers (STAT, then
// BODY); an article none of them serves whole is gone.
class BodySampler : public QObject
{
    Q_OBJECT
public:
    // `foundOn` gives per segment the server that found it, -1 for none.
    BodySampler(const NzbModel &nzb, const std::vector<int> &foundOn, const std::vector<CheckServer> &servers,
                const ConnectionOptions &options, ConnectionPool *pool, QObject *parent = nullptr);

    // Reads `count` bodies: the first found article of each file in the NZB's order, then
    // others spread evenly over the post.
    void start(int count);
    int asked() const { return int(m_samples.size()); }
    int failedCount() const { return m_failed; }
    // Per server, whether one of its bodies failed: what it found by STAT is in doubt.
    const std::vector<bool> &doubtedServers() const { return m_doubted; }
    // The segments whose bodies no server served.
    const std::vector<qsizetype> &goneSegments() const { return m_gone; }

Q_SIGNALS:
    void logLine(const QString &line);
    // From the event loop, never from inside start().
    void finished();

private:
    void askNext();
    void answered(const QByteArray &line, const QByteArray &body);
    void bodyFailed(const QString &reply);
    void askLaterServer();
    QueueEntry current() const;

    const NzbModel &m_nzb;
    const std::vector<int> &m_foundOn;
    const std::vector<CheckServer> &m_servers;
    ArticleFetcher m_fetcher;
    std::vector<qsizetype> m_samples; // queue positions
    size_t m_next = 0;
    int m_server = 0;        // asked now
    bool m_statAsked = false; // of a later server, before its BODY
    QString m_firstReply;    // what the server that found it answered for the body
    int m_failed = 0;
    std::vector<bool> m_doubted;
    std::vector<qsizetype> m_gone;
};
