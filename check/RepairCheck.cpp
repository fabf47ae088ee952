#include "check/RepairCheck.h"

#include "nzb/LogText.h"
#include "nzb/SubjectParsing.h"
#include "repair/Listings.h"
#include "repair/VerdictNames.h"
#include "repair/Yenc.h"

#include <QCryptographicHash>

namespace {

constexpr qint64 kLargestPar2File = 64 * 1024 * 1024;
// What reading for hidden names may cost an NZB.
constexpr int kExtraArticles = 8;
constexpr qint64 kExtraBytes = 16 * 1024 * 1024;
constexpr qsizetype kHashedStart = 16 * 1024; // par2 identifies a file by the MD5 of its first 16 KiB

// An article's own name for a file, made safe to print: the subject gave none.
QString printableName(const QByteArray &name)
{
    QString text = QString::fromUtf8(name.left(255)).trimmed();
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u'?';
    }
    return text;
}

} // namespace

RepairCheck::RepairCheck(const NzbModel &nzb, std::vector<repair::PostedFile> files, std::vector<int> foundOn,
                         const std::vector<CheckServer> &servers, const ConnectionOptions &options, ConnectionPool *pool,
                         QObject *parent)
    : QObject(parent)
    , m_nzb(nzb)
    , m_files(repair::MergedListings(std::move(files)))
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
    std::vector<const repair::PostedFile *> listings;
    for (size_t file = 0; file < m_files.size(); ++file) {
        for (const repair::PostedFile *listing : repair::ListingsOf(m_files[file])) {
            std::vector<ListedPart> &parts = m_segmentsOfFile[file].emplace_back();
            for (const repair::PostedSegment &segment : listing->segments)
                parts.push_back({segment.number, segment.segment});
            std::stable_sort(parts.begin(), parts.end());
            listings.push_back(listing);
        }
    }
    const std::vector<int> groups = repair::ArticleSizeGroups(listings);
    for (size_t file = 0, next = 0; file < m_files.size(); ++file) {
        for (size_t listing = 0; listing < m_segmentsOfFile[file].size(); ++listing)
            m_sizeGroupOf[{int(file), int(listing)}] = groups[next++];
    }
    m_tried.assign(m_files.size(), false);
}

RepairCheck::~RepairCheck() = default;

void RepairCheck::start(bool fetch)
{
    m_fetch = fetch;
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
        planPartSizes();
    fetchNext();
}

// The server that found the article of that part, when one did.
std::optional<qsizetype> RepairCheck::foundSegment(int file, int part, int listing) const
{
    const std::vector<ListedPart> &parts = m_segmentsOfFile[size_t(file)][size_t(listing)];
    const auto listed = std::lower_bound(parts.begin(), parts.end(), ListedPart{part, -1});
    if (listed == parts.end() || listed->number != part || m_foundOn[size_t(listed->segment)] < 0)
        return std::nullopt;
    return listed->segment;
}

// Posting tools cut a post into articles of one size, though a refill or a repost may use
// another: an article of each size tells it, the first of a file of more than one part best.
// The first size costs nothing; the others come out of the reading budget.
void RepairCheck::planPartSizes()
{
    std::map<int, Fetch> chosen; // per size group
    for (const auto &[listing, group] : m_sizeGroupOf) {
        const auto [file, copy] = listing;
        const auto found = chosen.find(group);
        if (group < 0 || (found != chosen.end() && found->second.part == 1))
            continue;
        for (const ListedPart &listed : m_segmentsOfFile[size_t(file)][size_t(copy)]) {
            if (foundSegment(file, listed.number, copy)) {
                if (found == chosen.end() || listed.number == 1)
                    chosen.insert_or_assign(group, Fetch{file, listed.number, Purpose::PartSize, copy});
                break;
            }
        }
    }
    std::map<int, int> listingsOfGroup;
    for (const auto &[listing, group] : m_sizeGroupOf)
        ++listingsOfGroup[group];
    int free = -1; // the size most listings have
    for (const auto &[group, fetch] : chosen) {
        if (free < 0 || listingsOfGroup[group] >= listingsOfGroup[free])
            free = group;
    }
    for (auto &[group, fetch] : chosen) {
        fetch.budgeted = group != free;
        m_fetches.push_back(fetch);
    }
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

// A volume's first part: a recovery packet, then a copy of the critical packets. A volume that
// lost none of its articles first: the copy may lie in a later part.
void RepairCheck::planVolume(const repair::Par2Set &set)
{
    const auto whole = [this](int volume) { return !repair::LostArticles(m_files[size_t(volume)]); };
    for (const bool wholeOnly : {true, false}) {
        for (const int volume : set.volumes) {
            if (foundSegment(volume, 1) && (!wholeOnly || whole(volume))) {
                m_fetches.push_front({volume, 1, Purpose::Volume});
                return;
            }
        }
    }
}

void RepairCheck::fetchNext()
{
    if (m_fetches.empty()) {
        if (m_set >= 0)
            readDescription();
        m_set = -1;
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
    const qsizetype segment = *foundSegment(fetch.file, fetch.part, fetch.listing);
    if (fetch.budgeted && !m_searching && !spendBudget(segment)) {
        m_fetches.pop_front(); // another article size stays estimated
        fetchNext();
        return;
    }
    if (m_searching && !spendBudget(segment)) {
        m_budgetSpent = true;
        m_fetches.clear();
        fetchNext();
        return;
    }
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
    const bool par2Read = fetch.purpose == Purpose::Index || fetch.purpose == Purpose::Volume;
    if (par2Read && part.fileSize > kLargestPar2File) {
        fetchFailed(QStringLiteral("the par2 file is over 64 MiB"));
        return;
    }
    m_fetches.pop_front();
    takePartSize(fetch, part);
    m_articleBytes += m_nzb.segments()[size_t(*foundSegment(fetch.file, fetch.part, fetch.listing))].bytes;
    m_decodedBytes += part.data.size();
    if (fetch.purpose == Purpose::FirstArticle)
        takeFirstArticle(fetch.file, part);
    if (par2Read) {
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
    if (failed.purpose == Purpose::Index || failed.purpose == Purpose::Volume) {
        if (!std::exchange(m_failureLogged, true))
            Q_EMIT logLine(QStringLiteral("Could not read the par2 index: ") + singleLogLine(reason));
        m_fetches.clear();
        m_par2Bytes.clear();
        if (failed.purpose == Purpose::Index)
            planVolume(m_grouping.sets[size_t(m_set)]);
    }
    fetchNext();
}

repair::PostedFile &RepairCheck::listing(int file, int listing)
{
    return listing == 0 ? m_files[size_t(file)] : m_files[size_t(file)].copies[size_t(listing - 1)];
}

// Part k begins at (k - 1) × P; any part but the last is P long. P holds for every listing
// whose articles are of that listing's size.
void RepairCheck::takePartSize(const Fetch &fetch, const yenc::DecodedPart &part)
{
    std::optional<qint64> partSize;
    if (part.multipart && fetch.part >= 2 && (part.begin - 1) % (fetch.part - 1) == 0)
        partSize = (part.begin - 1) / (fetch.part - 1);
    else if (part.multipart && fetch.part < listing(fetch.file, fetch.listing).partCount())
        partSize = part.data.size();
    const int group = m_sizeGroupOf[{fetch.file, fetch.listing}];
    if (!partSize || *partSize <= 0 || group < 0) // a server may claim that part 5 begins at byte 1
        return;
    if (!m_partSize)
        m_partSize = partSize;
    for (const auto &[other, otherGroup] : m_sizeGroupOf) {
        if (otherGroup == group && !listing(other.first, other.second).partSize)
            listing(other.first, other.second).partSize = partSize;
    }
}

void RepairCheck::judge()
{
    for (size_t set = 0; set < m_grouping.sets.size() && m_decodedBytes > 0; ++set) {
        m_facts[int(set)].partSize = m_partSize;
        m_facts[int(set)].bytesPerDecodedByte = double(m_articleBytes) / double(m_decodedBytes);
        m_facts[int(set)].decodedBytesRead = m_decodedBytes;
    }
    repair::JudgeContext context;
    context.sampled = m_sampled;
    context.reading = m_fetch;
    context.budgetSpent = m_budgetSpent;
    context.filesListed = m_nzb.itemCount();
    for (int item = 1; item <= m_nzb.itemCount(); ++item)
        context.filesAnnounced = qMax(context.filesAnnounced, subject::AnnouncedFileCount(m_nzb.item(item).subject));
    const repair::Judgement judgement = repair::Judge(m_files, m_grouping, m_facts, context);
    if (m_fetch && planFirstArticles(judgement.worthReading)) {
        fetchNext();
        return;
    }
    m_fetcher.release();
    Q_EMIT judged(judgement);
}

// Queues the first articles of the files the verdict would read that are untried, as far as
// the budget goes; false when none was queued.
bool RepairCheck::planFirstArticles(const std::vector<int> &files)
{
    m_searching = true;
    int planned = 0;
    for (const int file : files) {
        // The first article begins the file; where it is lost, another still tells its size and kind.
        const std::vector<ListedPart> &parts = m_segmentsOfFile[size_t(file)].front();
        const auto listed = std::find_if(parts.begin(), parts.end(),
                                         [&](const ListedPart &part) { return foundSegment(file, part.number).has_value(); });
        if (m_tried[size_t(file)] || listed == parts.end())
            continue;
        if (m_extraArticles + planned >= kExtraArticles) {
            m_budgetSpent = true;
            break;
        }
        m_tried[size_t(file)] = true;
        m_fetches.push_back({file, listed->number, Purpose::FirstArticle});
        ++planned;
    }
    return planned > 0;
}

// Counts an article of the reading for hidden names; false when it would pass the budget.
bool RepairCheck::spendBudget(qsizetype segment)
{
    const qint64 bytes = qMax<qint64>(m_nzb.segments()[size_t(segment)].bytes, 0);
    if (m_extraArticles >= kExtraArticles || m_extraBytes + bytes > kExtraBytes)
        return false;
    ++m_extraArticles;
    m_extraBytes += bytes;
    return true;
}

void RepairCheck::takeFirstArticle(int file, const yenc::DecodedPart &part)
{
    repair::PostedFile &posted = m_files[size_t(file)];
    repair::FirstArticle first;
    first.fileSize = part.fileSize;
    const qsizetype hashed = qsizetype(qMin<qint64>(kHashedStart, part.fileSize));
    if (part.begin == 1 && part.data.size() >= hashed)
        first.hash16k = QCryptographicHash::hash(QByteArrayView(part.data).first(hashed), QCryptographicHash::Md5);
    const par2::PacketsSeen seen = par2::SeenPackets(part.data, part.begin == 1);
    first.par2 = seen.par2;
    first.recoveryPacketSize = seen.recoveryPacketSize;
    first.kindKnown = part.begin == 1 || seen.par2;
    first.bytesRead = part.data.size();
    posted.first = first;
    if (repair::IsFallbackName(posted.name, file + 1) && !printableName(part.name).isEmpty())
        posted.name = printableName(part.name);
    if (first.par2)
        placePar2File(file, part.data);
}

// A par2 file found by its content joins its set, or makes one, and has its packets read.
void RepairCheck::placePar2File(int file, const QByteArray &start)
{
    const int set = setOf(par2::ReadPackets(start).setId, file);
    for (repair::Par2Set &other : m_grouping.sets)
        std::erase(other.dataFiles, file);
    std::erase(m_grouping.uncovered, file);
    repair::Par2Set &target = m_grouping.sets[size_t(set)];
    if (m_files[size_t(file)].first->recoveryPacketSize)
        target.volumes.push_back(file);
    else if (target.index < 0)
        target.index = file;
    const auto facts = m_facts.find(set);
    if ((facts == m_facts.end() || !facts->second.description.complete())
        && std::find(m_setsLeft.begin(), m_setsLeft.end(), set) == m_setsLeft.end())
        m_setsLeft.push_back(set);
}

// The set of that ID; else the only set there is; else a new one, holding every file of no set
// when it is the first.
int RepairCheck::setOf(const QByteArray &setId, int file)
{
    for (const auto &[set, facts] : m_facts) {
        if (!setId.isEmpty() && facts.description.setId == setId)
            return set;
    }
    if (m_grouping.sets.size() == 1) {
        const auto facts = m_facts.find(0);
        if (facts == m_facts.end() || facts->second.description.setId.isEmpty() || setId.isEmpty())
            return 0;
    }
    repair::Par2Set set;
    set.name = m_files[size_t(file)].name;
    if (m_grouping.sets.empty())
        set.dataFiles = std::exchange(m_grouping.uncovered, {});
    m_grouping.sets.push_back(std::move(set));
    return int(m_grouping.sets.size() - 1);
}
