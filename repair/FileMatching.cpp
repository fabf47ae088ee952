#include "repair/FileMatching.h"

#include "repair/Listings.h"

#include <QHash>

#include <algorithm>
#include <limits>
#include <map>
#include <numeric>

namespace repair {
namespace {


qint64 floorDiv(double bytes, double ratio) { return qint64(bytes / ratio); }

// The decoded bytes of articles of `bytes` NZB bytes, `articles` of them.
Range decodedBounds(qint64 bytes, int articles, const SizeClues &clues)
{
    if (clues.ratio) {
        const qint64 estimate = floorDiv(double(bytes), *clues.ratio);
        // yEnc's escapes vary with the bytes: articles of one post differ by a percent or more.
        const qint64 slack = kMostHeaderBytes * articles + estimate / 64;
        return {qMax<qint64>(estimate - slack, 0), estimate + slack};
    }
    return {qMax<qint64>(floorDiv(double(bytes), kMostRatio) - kMostHeaderBytes * articles, 0),
            floorDiv(double(bytes), kLeastRatio) + kMostHeaderBytes};
}

Range intersected(Range a, Range b) { return {qMax(a.low, b.low), qMin(a.high, b.high)}; }

qint64 listedBytes(const PostedFile &file, int part)
{
    for (const PostedSegment &segment : file.segments) {
        if (segment.number == part)
            return segment.bytes;
    }
    return 0;
}

class Groups
{
public:
    explicit Groups(size_t count) : m_parent(count) { std::iota(m_parent.begin(), m_parent.end(), size_t(0)); }
    size_t root(size_t i)
    {
        while (m_parent[i] != i)
            i = m_parent[i] = m_parent[m_parent[i]];
        return i;
    }
    void join(size_t a, size_t b) { m_parent[root(a)] = root(b); }

private:
    std::vector<size_t> m_parent;
};

} // namespace

SizeClues CluesOf(const FetchedFacts &facts)
{
    // yEnc's overhead measured on small articles is mostly their headers.
    constexpr qint64 kEnoughForRatio = 64 * 1024;
    return {facts.partSize, facts.decodedBytesRead >= kEnoughForRatio ? facts.bytesPerDecodedByte : std::nullopt};
}

Range PossibleLengths(const PostedFile &file, const SizeClues &clues)
{
    if (file.first)
        return {file.first->fileSize, file.first->fileSize};
    constexpr qint64 kAny = std::numeric_limits<qint64>::max();
    const int parts = file.partCount();
    const qint64 lastBytes = listedBytes(file, parts);
    const Range last = lastBytes > 0 ? decodedBounds(lastBytes, 1, clues) : Range{1, kAny};
    // The post's article size holds for a file cut at it; a refill may be cut at another.
    std::optional<qint64> partSize = file.partSize;
    if (!partSize && clues.partSize && MayBeCutAt(FullPartBytes(file), *clues.partSize))
        partSize = clues.partSize;
    if (parts <= 1)
        return intersected({1, partSize.value_or(kAny)}, last);
    if (partSize) {
        const qint64 before = (parts - 1) * *partSize;
        return intersected({before + 1, before + *partSize}, {before + last.low, last.high > kAny - before ? kAny : before + last.high});
    }
    qint64 total = 0;
    for (const PostedSegment &segment : file.segments) {
        if (segment.bytes <= 0)
            return {parts, kAny};
        total += segment.bytes;
    }
    return int(file.segments.size()) == parts ? intersected({parts, kAny}, decodedBounds(total, parts, clues)) : Range{parts, kAny};
}

bool PairedGroup::settled() const
{
    std::map<qint64, int> filesOfLength, descriptionsOfLength;
    for (const std::vector<qint64> &fileLengths : lengths) {
        if (fileLengths.size() != 1)
            return false;
        ++filesOfLength[fileLengths.front()];
    }
    for (const qint64 length : descriptionLengths)
        ++descriptionsOfLength[length];
    return std::all_of(filesOfLength.begin(), filesOfLength.end(),
                       [&](const auto &entry) { return entry.second <= descriptionsOfLength[entry.first]; });
}

std::vector<PairedGroup> PairByLength(const std::vector<PostedFile> &files, const std::vector<int> &candidates,
                                      const std::vector<par2::FileDescription> &described, const std::vector<int> &open,
                                      const SizeClues &clues)
{
    // Descriptions by length, so that each file finds those it may be by bisection.
    std::vector<int> byLength = open;
    std::sort(byLength.begin(), byLength.end(), [&](int a, int b) { return described[size_t(a)].length < described[size_t(b)].length; });
    Groups groups(candidates.size() + byLength.size());
    std::vector<std::vector<size_t>> mayBe(candidates.size()); // positions in byLength
    // A file whose length and first 16 KiB are those of a description is that file; no other is.
    std::vector<bool> known(byLength.size(), false);
    const auto hashOf = [&](size_t i) { return files[size_t(candidates[i])].first ? files[size_t(candidates[i])].first->hash16k : QByteArray(); };
    const auto lengthsOf = [&](const Range &lengths) {
        const auto begin = std::lower_bound(byLength.begin(), byLength.end(), lengths.low,
                                            [&](int d, qint64 length) { return described[size_t(d)].length < length; });
        const auto end = std::upper_bound(begin, byLength.end(), lengths.high,
                                          [&](qint64 length, int d) { return length < described[size_t(d)].length; });
        // A file of no known size may be any: the descriptions it is paired with stay few, so
        // that a hostile NZB and index cannot make the pairing quadratic.
        constexpr ptrdiff_t kMostPairs = 256;
        return std::pair{size_t(begin - byLength.begin()), size_t(begin - byLength.begin() + qMin(end - begin, kMostPairs))};
    };
    for (size_t i = 0; i < candidates.size(); ++i) {
        const auto [begin, end] = lengthsOf(PossibleLengths(files[size_t(candidates[i])], clues));
        for (size_t d = begin; d < end && !hashOf(i).isEmpty(); ++d) {
            if (!known[d] && described[size_t(byLength[d])].hash16k == hashOf(i)) {
                known[d] = true;
                mayBe[i] = {d};
                break;
            }
        }
    }
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (!mayBe[i].empty())
            continue;
        const auto [begin, end] = lengthsOf(PossibleLengths(files[size_t(candidates[i])], clues));
        for (size_t d = begin; d < end; ++d) {
            const QByteArray &hash = described[size_t(byLength[d])].hash16k;
            if (!known[d] && (hashOf(i).isEmpty() || hash.isEmpty() || hash == hashOf(i)))
                mayBe[i].push_back(d);
        }
    }
    for (size_t i = 0; i < candidates.size(); ++i) {
        for (const size_t d : mayBe[i])
            groups.join(i, candidates.size() + d);
    }
    std::map<size_t, PairedGroup> byRoot;
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (mayBe[i].empty())
            continue;
        PairedGroup &group = byRoot[groups.root(i)];
        group.files.push_back(candidates[i]);
        std::vector<qint64> lengths;
        for (const size_t d : mayBe[i])
            lengths.push_back(described[byLength[d]].length);
        lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
        group.lengths.push_back(std::move(lengths));
    }
    for (size_t d = 0; d < byLength.size(); ++d) {
        const auto group = byRoot.find(groups.root(candidates.size() + d));
        if (group != byRoot.end()) {
            group->second.descriptions.push_back(byLength[d]);
            group->second.descriptionLengths.push_back(described[size_t(byLength[d])].length);
        }
    }
    std::vector<PairedGroup> result;
    for (auto &[root, group] : byRoot)
        result.push_back(std::move(group));
    return result;
}

namespace {

// Files of a settled group take their lengths; descriptions left over are absent.
void settle(const PairedGroup &group, SetMembers &members)
{
    std::map<qint64, int> left;
    for (const qint64 length : group.descriptionLengths)
        ++left[length];
    for (size_t i = 0; i < group.files.size(); ++i) {
        members.data.push_back(group.files[i]);
        members.lengths.push_back(group.lengths[i].front());
        --left[group.lengths[i].front()];
    }
    for (const auto &[length, count] : left)
        members.absentLengths.insert(members.absentLengths.end(), size_t(count), length);
}

} // namespace

SetMembers MembersOf(const std::vector<PostedFile> &files, const Par2Set &set, const std::vector<int> &uncovered,
                     const FetchedFacts *facts, std::vector<bool> &claimed)
{
    SetMembers members;
    if (!facts || !facts->description.complete()) {
        members.data = set.dataFiles;
        members.lengths.assign(set.dataFiles.size(), -1);
        return members;
    }
    const std::vector<par2::FileDescription> &described = facts->description.files;
    QHash<QString, int> positions;
    for (size_t i = files.size(); i-- > 0;)
        positions.insert(files[i].name.toLower(), int(i)); // the first file of a name wins
    std::vector<int> open;
    for (size_t d = 0; d < described.size(); ++d) {
        const auto posted = positions.constFind(described[d].name.toLower());
        if (posted == positions.constEnd() || claimed[size_t(*posted)]) {
            open.push_back(int(d));
            continue;
        }
        claimed[size_t(*posted)] = true;
        members.data.push_back(*posted);
        members.lengths.push_back(described[d].length);
    }
    std::vector<int> candidates;
    for (const std::vector<int> *list : {&set.dataFiles, &uncovered}) {
        for (const int file : *list) {
            if (!claimed[size_t(file)])
                candidates.push_back(file);
        }
    }
    const SizeClues clues = CluesOf(*facts);
    std::vector<bool> inGroup(described.size(), false);
    for (PairedGroup &group : PairByLength(files, candidates, described, open, clues)) {
        for (const int file : group.files)
            claimed[size_t(file)] = true;
        for (const int d : group.descriptions)
            inGroup[size_t(d)] = true;
        if (group.settled())
            settle(group, members);
        else
            members.unsettled.push_back(std::move(group));
    }
    for (const int d : open) {
        if (!inGroup[size_t(d)])
            members.absentLengths.push_back(described[size_t(d)].length);
    }
    for (const int file : candidates) {
        if (claimed[size_t(file)])
            continue;
        members.undescribed.push_back(file);
        if (!files[size_t(file)].first && !LostArticles(files[size_t(file)]) && !members.absentLengths.empty())
            members.loose.push_back(file);
    }
    return members;
}

} // namespace repair
