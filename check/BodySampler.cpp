#include "check/BodySampler.h"

#include "repair/Yenc.h"

#include <QTimer>

namespace {

// Queue positions of found articles: the first of each file, up to `count`, then the rest
// spread evenly over what is left.
std::vector<qsizetype> chooseSamples(const ArticleQueue &queue, const std::vector<int> &foundOn, int count)
{
    std::vector<qsizetype> chosen, others;
    int lastItem = 0;
    for (qsizetype position = 1; position <= queue.count(); ++position) {
        const QueueEntry entry = queue.entry(position);
        if (foundOn[size_t(entry.segment)] < 0)
            continue;
        if (entry.itemIndex != lastItem && qsizetype(chosen.size()) < count) {
            lastItem = entry.itemIndex;
            chosen.push_back(position);
        } else {
            others.push_back(position);
        }
    }
    const qsizetype wanted = std::min<qsizetype>(count - qsizetype(chosen.size()), qsizetype(others.size()));
    for (qsizetype i = 0; i < wanted; ++i)
        chosen.push_back(others[size_t((2 * i + 1) * qsizetype(others.size()) / (2 * wanted))]);
    return chosen;
}

} // namespace

BodySampler::BodySampler(const NzbModel &nzb, const std::vector<int> &foundOn, const std::vector<CheckServer> &servers,
                         const ConnectionOptions &options, ConnectionPool *pool, QObject *parent)
    : QObject(parent)
    , m_nzb(nzb)
    , m_foundOn(foundOn)
    , m_servers(servers)
    , m_fetcher(nzb.groupName().toUtf8(), servers, options, pool)
    , m_doubted(servers.size(), false)
{
    connect(&m_fetcher, &ArticleFetcher::answered, this, &BodySampler::answered);
    connect(&m_fetcher, &ArticleFetcher::failed, this, &BodySampler::bodyFailed);
}

void BodySampler::start(int count)
{
    m_samples = chooseSamples(m_nzb.articleQueue(), m_foundOn, count);
    QTimer::singleShot(0, this, &BodySampler::askNext);
}

QueueEntry BodySampler::current() const
{
    return m_nzb.articleQueue().entry(m_samples[m_next]);
}

void BodySampler::askNext()
{
    if (m_next == m_samples.size()) {
        m_fetcher.release();
        Q_EMIT finished();
        return;
    }
    m_server = m_foundOn[size_t(current().segment)];
    m_statAsked = false;
    m_fetcher.ask(m_server, current().messageId, ArticleFetcher::Command::Body);
}

void BodySampler::answered(const QByteArray &line, const QByteArray &body)
{
    if (m_statAsked) {
        m_statAsked = false;
        if (line.startsWith("223 "))
            m_fetcher.ask(m_server, current().messageId, ArticleFetcher::Command::Body);
        else
            askLaterServer();
        return;
    }
    if (!line.startsWith("222 ")) {
        bodyFailed(QString::fromLatin1(line));
        return;
    }
    const auto decoded = yenc::DecodeBody(body);
    if (const QString *error = std::get_if<QString>(&decoded)) {
        bodyFailed(*error);
        return;
    }
    ++m_next;
    askNext();
}

// A later server's failure only moves on to the next; the finder's is counted and remembered.
void BodySampler::bodyFailed(const QString &reply)
{
    const int finder = m_foundOn[size_t(current().segment)];
    if (m_server == finder) {
        ++m_failed;
        m_doubted[size_t(finder)] = true;
        m_firstReply = reply;
    }
    m_statAsked = false;
    askLaterServer();
}

void BodySampler::askLaterServer()
{
    if (++m_server < int(m_servers.size())) {
        m_statAsked = true;
        m_fetcher.ask(m_server, current().messageId, ArticleFetcher::Command::Stat);
        return;
    }
    const QueueEntry entry = current();
    const QString finder = m_servers[size_t(m_foundOn[size_t(entry.segment)])].nickname;
    Q_EMIT logLine(QStringLiteral("Article found by STAT but its body is gone: %1 (%2: %3)")
                       .arg(QString::fromUtf8(entry.messageId), finder, m_firstReply));
    m_gone.push_back(entry.segment);
    ++m_next;
    askNext();
}
