#pragma once

#include "check/ArticleFetcher.h"
#include "check/CheckRun.h"
#include "repair/RepairVerdict.h"
#include "repair/Yenc.h"

#include <QObject>

#include <deque>
#include <map>
#include <memory>

// After the last server's pass: reads what the verdict needs, a set's par2 index (or the start
// of a volume) and one article for the post's article size, then judges every par2 set. Where
// names hide which file is which, it reads first articles the verdict asks for, within a budget.
class RepairCheck : public QObject
{
    Q_OBJECT
public:
    // `foundOn` gives per segment the server that found it, -1 for none.
    RepairCheck(const NzbModel &nzb, std::vector<repair::PostedFile> files, std::vector<int> foundOn,
                const std::vector<CheckServer> &servers, const ConnectionOptions &options, ConnectionPool *pool = nullptr,
                QObject *parent = nullptr);
    ~RepairCheck() override;

    // Fetches nothing when `fetch` is false; judges from the NZB alone.
    void start(bool fetch);
    // The bodies sampled after the passes, when some failed: they put the doubtful files' sets in doubt.
    void setSampledBodies(repair::SampledBodies sampled) { m_sampled = sampled; }

Q_SIGNALS:
    void logLine(const QString &line);
    void judged(const repair::Judgement &judgement);

private:
    enum class Purpose { Index, Volume, PartSize, FirstArticle };
    struct ListedPart {
        int number;
        qsizetype segment;
        bool operator<(const ListedPart &other) const { return number < other.number; }
    };
    struct Fetch {
        int file;       // position in the posted files
        int part;       // part number
        Purpose purpose;
        int listing = 0;       // of the file: 0 its own, 1 on its copies
        bool budgeted = false; // paid for from the reading budget
    };

    void planSet(int set);
    bool planIndex(const repair::Par2Set &set);
    void planVolume(const repair::Par2Set &set);
    void planPartSizes();
    void fetchNext();
    void readDescription();
    void bodyArrived(QByteArray body);
    void fetchFailed(const QString &reason);
    void judge();
    bool planFirstArticles(const std::vector<int> &files);
    bool spendBudget(qsizetype segment);
    void takeFirstArticle(int file, const yenc::DecodedPart &part);
    void placePar2File(int file, const QByteArray &start);
    int setOf(const QByteArray &setId, int file);
    std::optional<qsizetype> foundSegment(int file, int part, int listing = 0) const;
    repair::PostedFile &listing(int file, int listing);
    void takePartSize(const Fetch &fetch, const yenc::DecodedPart &part);

    const NzbModel &m_nzb;
    std::vector<repair::PostedFile> m_files;
    const std::vector<int> m_foundOn;
    // Per posted file, per listing (its own, then its copies'), by part number.
    std::vector<std::vector<std::vector<ListedPart>>> m_segmentsOfFile;
    std::map<std::pair<int, int>, int> m_sizeGroupOf; // per (file, listing): listings of one article size share it
    ArticleFetcher m_fetcher;

    repair::Grouping m_grouping;
    std::map<int, repair::FetchedFacts> m_facts;
    std::deque<int> m_setsLeft;
    int m_set = -1;
    std::deque<Fetch> m_fetches;
    QByteArray m_par2Bytes; // the decoded par2 file being read, parts at their places
    std::optional<qint64> m_partSize;
    qint64 m_articleBytes = 0; // NZB sizes of the articles read
    qint64 m_decodedBytes = 0; // and what they decoded to
    bool m_failureLogged = false;
    repair::SampledBodies m_sampled;
    bool m_fetch = true;
    // Reading for hidden names: what it has cost, and the files it has tried.
    bool m_searching = false;
    bool m_budgetSpent = false;
    int m_extraArticles = 0;
    qint64 m_extraBytes = 0;
    std::vector<bool> m_tried;
};
