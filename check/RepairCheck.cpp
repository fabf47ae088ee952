#include "check/RepairCheck.h"

#include "nzb/LogText.h"
#include "repair/Yenc.h"

namespace {

constexpr qint64 kLargestPar2File = 64 * 1024 * 1024;

} // namespace

RepairCheck::RepairCheck(const NzbModel &nzb, std::vector<repair::PostedFile> files, std::vector<int> foundOn,
                         const std::vector<CheckServer> &servers, const ConnectionOptions &options, ConnectionPool *pool,
                         QObject *parent)
    : QObject(parent)
    , m_nzb(nzb)
    , m_files(std::move(files))
    , m_foundOn(std::move(foundOn))
    , m_fetcher(nzb.groupName().toUtf8(), servers, options, pool)
{
    connect(&m_fetcher, &ArticleFetcher::answered, this, [this](const QByteArray &line, const QByteArray &body) {
        if (line.startsWith("222 "))
            bodyArrived(body);
        else
            fetchFailed(QString::fromLatin1(line)); // a refusal: the connection serves the next
    });
    connect(&m_fetcher, &ArticleFetcher::failed, this, &RepairCheck::fetchFailed);
    // Sized by the segments listed, not by the part numbers they claim. Sorted stably, so that
    // the first segment of a number is the one found.
    m_segmentsOfFile.resize(m_files.size());
    for (size_t file = 0; file < m_files.size(); ++file) {
        std::vector<ListedPart> &parts = m_segmentsOfFile[file];
        for (const repair::PostedSegment &segment : m_files[file].segments)
            parts.push_back({segment.number, segment.segment});
        std::stable_sort(parts.begin(), parts.end());
    }
}

RepairCheck::~RepairCheck() = default;

void RepairCheck::start(bool fetch)
{
    std::vector<QString> names;
    for (const repair::PostedFile &file : m_files)
        names.push_back(file.name);
    m_grouping = repair::GroupByName(names);
    const auto lost = [this](int file) { return repair::LostArticles(m_files[size_t(file)]); };
    const std::vector<int> &uncovered = m_grouping.uncovered;
    // Every set's index is read, also when every article was found: a file the NZB leaves out
    // shows only there. A lost file outside every set by name may yet be one an index describes.
    const bool anyLost = std::any_of(m_files.begin(), m_files.end(), repair::LostArticles);
    for (size_t set = 0; set < m_grouping.sets.size() && fetch; ++set) {
        const repair::Par2Set &par2Set = m_grouping.sets[set];
        if (par2Set.index >= 0 || std::any_of(par2Set.dataFiles.begin(), par2Set.dataFiles.end(), lost)
            || std::any_of(uncovered.begin(), uncovered.end(), lost))
            m_setsLeft.push_back(int(set));
    }
    if (!m_setsLeft.empty() && anyLost)
        planPartSize();
    fetchNext();
}

// The server that found the article of that part, when one did.
std::optional<qsizetype> RepairCheck::foundSegment(int file, int part) const
{
    const std::vector<ListedPart> &parts = m_segmentsOfFile[size_t(file)];
    const auto listed = std::lower_bound(parts.begin(), parts.end(), ListedPart{part, -1});
    if (listed == parts.end() || listed->number != part || m_foundOn[size_t(listed->segment)] < 0)
        return std::nullopt;
    return listed->segment;
}

// Posting tools cut a whole post into articles of one size: the first part of any file of more
// than one part tells it.
void RepairCheck::planPartSize()
{
    std::optional<Fetch> later;
    for (size_t file = 0; file < m_files.size(); ++file) {
        if (m_files[file].partCount() <= 1)
            continue;
        for (const ListedPart &listed : m_segmentsOfFile[file]) {
            if (!foundSegment(int(file), listed.number))
                continue;
            if (listed.number == 1) {
                m_fetches.push_back({int(file), 1, Purpose::PartSize});
                return;
            }
            if (!later)
                later = Fetch{int(file), listed.number, Purpose::PartSize};
            break;
        }
    }
    if (later)
        m_fetches.push_back(*later);
}

void RepairCheck::planSet(int set)
{
    m_set = set;
    m_par2Bytes.clear();
    m_failureLogged = false;
    const repair::Par2Set &par2Set = m_grouping.sets[size_t(set)];
    if (!planIndex(par2Set))
        planVolume(par2Set);
}

// Every part of the index, when every one was found.
bool RepairCheck::planIndex(const repair::Par2Set &set)
{
    if (set.index < 0)
        return false;
    const int parts = m_files[size_t(set.index)].partCount();
    for (int part = 1; part <= parts; ++part) {
        if (!foundSegment(set.index, part))
            return false;
    }
    for (int part = parts; part >= 1; --part)
        m_fetches.push_front({set.index, part, Purpose::Index});
    return true;
}

// A volume's first part: a recovery packet, then a copy of the critical packets.
void RepairCheck::planVolume(const repair::Par2Set &set)
{
    for (const int volume : set.volumes) {
        if (foundSegment(volume, 1)) {
            m_fetches.push_front({volume, 1, Purpose::Volume});
            return;
        }
    }
}

void RepairCheck::fetchNext()
{
    if (m_fetches.empty()) {
        if (m_set >= 0)
            readDescription();
        if (m_setsLeft.empty()) {
            judge();
            return;
        }
        planSet(m_setsLeft.front());
        m_setsLeft.pop_front();
        if (m_fetches.empty()) {
            fetchNext();
            return;
        }
    }
    const Fetch &fetch = m_fetches.front();
    const qsizetype segment = *foundSegment(fetch.file, fetch.part);
    m_fetcher.ask(m_foundOn[size_t(segment)], m_nzb.articleQueue().entry(segment + 1).messageId, ArticleFetcher::Command::Body);
}

// Files that need more source blocks than a PAR2 set can have make the par2 file unreadable; a
// volume would only repeat its claims, so the verdict is estimated without either.
void RepairCheck::readDescription()
{
    par2::SetDescription description = par2::ReadPackets(m_par2Bytes);
    if (description.complete() && description.tooManySourceBlocks()) {
        if (!std::exchange(m_failureLogged, true))
            Q_EMIT logLine(QStringLiteral("Could not read the par2 index: it needs more than %1 source blocks.")
                               .arg(par2::kMostSourceBlocks));
        description = {};
    }
    m_facts[m_set].description = std::move(description);
}

void RepairCheck::bodyArrived(QByteArray body)
{
    const Fetch fetch = m_fetches.front();
    auto decoded = yenc::DecodeBody(body);
    if (const QString *error = std::get_if<QString>(&decoded)) {
        fetchFailed(*error);
        return;
    }
    yenc::DecodedPart &part = std::get<yenc::DecodedPart>(decoded);
    if (fetch.purpose != Purpose::PartSize && part.fileSize > kLargestPar2File) {
        fetchFailed(QStringLiteral("the par2 file is over 64 MiB"));
        return;
    }
    m_fetches.pop_front();
    // Part k begins at (k - 1) × P; any part but the last is P long.
    if (part.multipart && fetch.part >= 2 && (part.begin - 1) % (fetch.part - 1) == 0)
        m_partSize = (part.begin - 1) / (fetch.part - 1);
    else if (part.multipart && fetch.part < m_files[size_t(fetch.file)].partCount())
        m_partSize = part.data.size();
    m_articleBytes += m_nzb.segments()[size_t(*foundSegment(fetch.file, fetch.part))].bytes;
    m_decodedBytes += part.data.size();
    if (fetch.purpose != Purpose::PartSize) {
        if (m_par2Bytes.size() < part.fileSize)
            m_par2Bytes.resize(qsizetype(part.fileSize), '\0');
        m_par2Bytes.replace(qsizetype(part.begin - 1), part.data.size(), part.data);
        // A volume's first part may end before its copy of the critical packets does.
        if (fetch.purpose == Purpose::Volume && fetch.part == 1 && foundSegment(fetch.file, 2)
            && !par2::ReadPackets(m_par2Bytes).complete())
            m_fetches.push_front({fetch.file, 2, Purpose::Volume});
    }
    fetchNext();
}

// A par2 file that cannot be read is given up, the index for a volume; the verdict is then
// estimated. An article read only for its size costs nothing when it fails.
void RepairCheck::fetchFailed(const QString &reason)
{
    const Fetch failed = m_fetches.front();
    m_fetches.pop_front();
    if (failed.purpose != Purpose::PartSize) {
        if (!std::exchange(m_failureLogged, true))
            Q_EMIT logLine(QStringLiteral("Could not read the par2 index: ") + singleLogLine(reason));
        m_fetches.clear();
        m_par2Bytes.clear();
        if (failed.purpose == Purpose::Index)
            planVolume(m_grouping.sets[size_t(m_set)]);
    }
    fetchNext();
}

void RepairCheck::judge()
{
    m_fetcher.release();
    for (size_t set = 0; set < m_grouping.sets.size() && m_decodedBytes > 0; ++set) {
        m_facts[int(set)].partSize = m_partSize;
        m_facts[int(set)].bytesPerDecodedByte = double(m_articleBytes) / double(m_decodedBytes);
    }
    Q_EMIT judged(repair::Judge(m_files, m_grouping, m_facts, m_sampled));
}
