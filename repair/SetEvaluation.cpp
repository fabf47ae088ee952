#include "repair/SetEvaluation.h"

#include "repair/Listings.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <numeric>

namespace repair {
namespace {

using par2::kRecoveryPacketOverhead;

// Where a volume made by another tool than par2cmdline keeps its critical packets is not known:
// each guess below is tried, and M becomes the range they give.
enum class Layout { Interleaved, CriticalFirst, CriticalLast };

// One consistent guess of what neither the index nor a data article told.
struct Assumption {
    Encoding encoding;
    Layout layout = Layout::Interleaved;
    bool inclusiveEnd = false; // of a "-" volume name, while the critical packets are guessed
};


// The numbers the ranges cover, each once.
qint64 coveredCount(std::vector<Range> ranges)
{
    qint64 count = 0;
    for (const Range &range : JoinedRanges(std::move(ranges)))
        count += range.high - range.low + 1;
    return count;
}

qint64 damagedBlocks(const std::vector<Span> &spans, qint64 sliceSize)
{
    std::vector<Range> blocks;
    for (const Span &span : spans)
        blocks.push_back({span.offset / sliceSize, (span.offset + span.length - 1) / sliceSize});
    return coveredCount(std::move(blocks));
}

// The critical packets par2cmdline would write for these files, when the index was not read.
par2::SetDescription estimatedDescription(qint64 sliceSize, const std::vector<PostedFile> &files, const SetMembers &set,
                                          const std::vector<qint64> &lengths)
{
    par2::SetDescription description;
    description.sliceSize = sliceSize;
    description.criticalPacketSizes.push_back(64 + 12 + 16 * qint64(set.data.size()));
    for (const int file : set.data)
        description.criticalPacketSizes.push_back(64 + 56 + Padded4(files[size_t(file)].name.toUtf8().size()));
    for (const qint64 length : lengths)
        description.criticalPacketSizes.push_back(64 + 16 + 20 * CeilDiv(length, sliceSize));
    description.creatorPacketSize = kCreatorPacketEstimate;
    return description;
}

// Where a volume's recovery packets begin under a layout; they grow with the packet's index.
class PacketOffsets
{
public:
    PacketOffsets(const par2::SetDescription &description, qint64 blocks, Layout layout)
        : m_interleaved(description, blocks)
        , m_blocks(blocks)
        , m_layout(layout)
        , m_packetSize(description.recoveryPacketSize())
        , m_before(layout == Layout::CriticalFirst ? __int128(par2::CriticalCopies(blocks)) * description.criticalSize() : 0)
    {
    }

    qint64 operator[](qint64 j) const
    {
        return m_layout == Layout::Interleaved ? m_interleaved[j] : par2::Saturated(m_before + __int128(j) * m_packetSize);
    }

    // The packets that begin before `position`, found by bisection.
    qint64 countBefore(qint64 position) const
    {
        qint64 low = 0, high = m_blocks;
        while (low < high) {
            const qint64 middle = low + (high - low) / 2;
            if ((*this)[middle] < position)
                low = middle + 1;
            else
                high = middle;
        }
        return low;
    }

private:
    par2::RecoveryPacketOffsets m_interleaved;
    qint64 m_blocks;
    Layout m_layout;
    qint64 m_packetSize;
    __int128 m_before;
};

// A "-" name's end is exclusive for some tools and inclusive for others: with the critical packets
// known, the count whose volume size comes closest to the decoded size; with them guessed, the
// reading the assumption takes; for a name that is no range, the most that fit.
qint64 dashVolumeBlocks(const VolumeName &name, const par2::SetDescription &description, qint64 decoded, bool guessed, bool inclusiveEnd)
{
    if (name.end < name.first)
        return decoded / description.recoveryPacketSize();
    if (guessed)
        return name.end - name.first + (inclusiveEnd ? 1 : 0);
    const int exclusive = name.end - name.first;
    const auto distance = [&](int blocks) { return qAbs(par2::VolumeSize(description, blocks) - decoded); };
    return distance(exclusive + 1) < distance(exclusive) ? exclusive + 1 : exclusive;
}

// Posting tools cut articles of a whole number of slices, or slices of a whole number of
// articles: a guess within half a percent of that is taken as exactly that.
qint64 snapped(qint64 guess, qint64 unit)
{
    if (guess <= 0 || unit <= 0)
        return guess;
    if (guess >= unit) {
        const qint64 multiple = (guess + unit / 2) / unit * unit;
        return qAbs(multiple - guess) * 200 <= guess ? multiple : guess;
    }
    const qint64 parts = (unit + guess / 2) / guess;
    return unit % parts == 0 && qAbs(unit / parts - guess) * 200 <= guess ? unit / parts : guess;
}

class SetEvaluation
{
public:
    SetEvaluation(const std::vector<PostedFile> &files, const Par2Set &set, const SetMembers &members, const FetchedFacts *facts)
        : m_files(files), m_set(set), m_members(members), m_facts(facts)
    {
        for (const PostedFile &file : m_files) {
            m_largestSegmentBytes = qMax(m_largestSegmentBytes, LargestSegmentBytes(file));
            m_partSizeBounded = m_partSizeBounded || FullPartBytes(file) > 0;
        }
        m_partSizeBounded = m_partSizeBounded || (facts && facts->partSize);
    }

    // X and M under one assumption.
    std::pair<qint64, qint64> evaluate(const Assumption &assumption) const
    {
        const Encoding ratio = assumption.encoding;
        qint64 partSize = postPartSize(ratio);
        qint64 sliceSize = this->sliceSize(partSize, fileLengths(partSize, 0, ratio), ratio, assumption.inclusiveEnd);
        if (!postPartSizeKnown())
            partSize = snapped(partSize, sliceSize);
        else if (!sliceKnown())
            sliceSize = qMax<qint64>(snapped(sliceSize, partSize) / 4 * 4, 4);
        const std::vector<qint64> lengths = fileLengths(partSize, sliceSize, ratio);
        const auto partSizeFor = [&](const PostedFile &listing) { return partSizeOf(listing, partSize, sliceSize, ratio); };
        qint64 needed = 0;
        for (size_t i = 0; i < m_members.data.size(); ++i)
            needed += coveredCount(LostInEvery(m_files[size_t(m_members.data[i])], lengths[i], sliceSize, partSizeFor));
        for (const qint64 length : m_members.absentLengths)
            needed += CeilDiv(length, sliceSize);
        const par2::SetDescription description = knownCritical() ? m_facts->description
                                                                 : estimatedDescription(sliceSize, m_files, m_members, lengths);
        qint64 longest = 0;
        for (const qint64 length : lengths)
            longest = qMax(longest, length);
        for (const qint64 length : m_members.absentLengths)
            longest = qMax(longest, length);
        for (const PairedGroup &group : m_members.unsettled) {
            for (const qint64 length : group.descriptionLengths)
                longest = qMax(longest, length);
        }
        qint64 available = 0;
        for (const int volume : m_set.volumes)
            available += volumeBlocks(m_files[size_t(volume)], description, sliceSize, partSizeFor, longest, assumption);
        return {needed, available};
    }

    // Everything needed was read: one assumption gives the exact answer.
    bool exact() const
    {
        if (!knownCritical() || !m_facts->description.madeByPar2cmdline())
            return false;
        const auto measured = [this](const PostedFile &listing, qint64 length) {
            const std::optional<qint64> partSize = measuredPartSize(listing);
            return listing.partCount() <= 1 || (partSize && (length < 0 || FittingPartSize(length, listing.partCount(), *partSize) == *partSize));
        };
        for (size_t i = 0; i < m_members.data.size(); ++i) {
            for (const PostedFile *listing : ListingsOf(m_files[size_t(m_members.data[i])])) {
                if (!measured(*listing, m_members.lengths[i]))
                    return false;
            }
        }
        for (const int volume : m_set.volumes) {
            for (const PostedFile *listing : ListingsOf(m_files[size_t(volume)])) {
                if (!measured(*listing, -1) || !nameOf(volume).blocks)
                    return false;
            }
        }
        return true;
    }

    // The "-" names' convention, where the names tell it: the next volume starts at the end of
    // the last one (exclusive) or right after it (inclusive). Empty when they do not.
    std::vector<bool> dashConventions() const
    {
        std::vector<VolumeName> names;
        for (const int volume : m_set.volumes) {
            if (const VolumeName name = nameOf(volume); !name.blocks)
                names.push_back(name);
        }
        if (names.empty())
            return {false};
        // Only an inclusive end makes the name of a volume of no blocks end before it begins.
        if (std::any_of(names.begin(), names.end(), [](const VolumeName &name) { return name.end + 1 == name.first; }))
            return {true};
        const auto follows = [&names](int gap) {
            return std::any_of(names.begin(), names.end(), [&](const VolumeName &a) {
                return std::any_of(names.begin(), names.end(), [&](const VolumeName &b) { return &a != &b && b.first == a.end + gap; });
            });
        };
        if (follows(0))
            return {false};
        if (follows(1))
            return {true};
        if (const auto inclusive = conventionFromIndex())
            return {*inclusive};
        return {false, true};
    }

    // The index holds a checksum per slice: its size tells which slice size, and so which
    // reading of the names, fits.
    std::optional<bool> conventionFromIndex() const
    {
        if (m_set.index < 0 || m_files[size_t(m_set.index)].segments.empty())
            return std::nullopt;
        const Encoding ratio = Assumption{}.encoding;
        const qint64 partSize = postPartSize(ratio);
        const std::vector<qint64> lengths = fileLengths(partSize, 0, ratio);
        const PostedFile &index = m_files[size_t(m_set.index)];
        const qint64 actual = EstimatedLength(index, partSizeOf(index, partSize, 0, ratio), ratio);
        const auto misfit = [&](bool inclusive) {
            const par2::SetDescription guess =
                estimatedDescription(sliceSize(partSize, lengths, ratio, inclusive), m_files, m_members, lengths);
            return qAbs(par2::VolumeSize(guess, 0) - actual);
        };
        // Article headers make the index look larger by some tens of bytes: a small lead decides nothing.
        const qint64 inclusive = misfit(true), exclusive = misfit(false);
        if (qAbs(inclusive - exclusive) < 100 + actual / 50)
            return std::nullopt;
        return inclusive < exclusive;
    }

    // A file of several parts and no known length is as long as the post's article size makes
    // it. An article but a file's last, or a read one, tells that size; last and single parts
    // only say that it is no smaller.
    bool lengthsBounded() const
    {
        for (size_t i = 0; i < m_members.data.size() && !m_partSizeBounded; ++i) {
            if (m_members.lengths[i] < 0 && m_files[size_t(m_members.data[i])].partCount() > 1)
                return false;
        }
        return true;
    }

    // Every article of the set has its size in the NZB.
    bool sized() const
    {
        const auto hasSizes = [this](int file) {
            const auto &segments = m_files[size_t(file)].segments;
            return std::all_of(segments.begin(), segments.end(), [](const PostedSegment &segment) { return segment.bytes > 0; });
        };
        return std::all_of(m_members.data.begin(), m_members.data.end(), hasSizes)
               && std::all_of(m_set.volumes.begin(), m_set.volumes.end(), hasSizes);
    }

    // Some set file's last part has no size: it may be a byte long or a whole part.
    bool lastPartUnsized() const
    {
        const auto unsized = [this](int position) {
            const PostedFile &file = m_files[size_t(position)];
            return std::none_of(file.segments.begin(), file.segments.end(), [&](const PostedSegment &segment) {
                return segment.number == file.partCount() && segment.bytes > 0;
            });
        };
        return std::any_of(m_members.data.begin(), m_members.data.end(), unsized) || std::any_of(m_set.volumes.begin(), m_set.volumes.end(), unsized);
    }

    bool layoutKnown() const { return !knownCritical() || m_facts->description.madeByPar2cmdline(); }

private:
    bool knownCritical() const { return m_facts && m_facts->description.complete(); }

    // A volume found by its content names no count: its size tells it.
    VolumeName nameOf(int volume) const
    {
        const PostedFile &file = m_files[size_t(volume)];
        if (const auto name = ParseVolumeName(file.name))
            return *name;
        if (!file.first || !file.first->recoveryPacketSize || *file.first->recoveryPacketSize <= 0)
            return {QString(), 0};
        if (!knownCritical())
            return {QString(), int(qMin<qint64>(file.first->fileSize / *file.first->recoveryPacketSize, kMostBlocks))};
        // The most blocks whose volume fits the file's size.
        qint64 low = 0, high = qMin<qint64>(file.first->fileSize / m_facts->description.recoveryPacketSize(), kMostBlocks);
        while (low < high) {
            const qint64 middle = high - (high - low) / 2;
            if (par2::VolumeSize(m_facts->description, middle) <= file.first->fileSize)
                low = middle;
            else
                high = middle - 1;
        }
        return {QString(), int(low)};
    }
    bool sliceKnown() const { return knownCritical() || (m_facts && m_facts->description.firstRecoverySliceSize); }

    std::vector<qint64> fileLengths(qint64 partSize, qint64 sliceSize, Encoding ratio) const
    {
        std::vector<qint64> lengths;
        for (size_t i = 0; i < m_members.data.size(); ++i) {
            const PostedFile &file = m_files[size_t(m_members.data[i])];
            lengths.push_back(m_members.lengths[i] >= 0 ? m_members.lengths[i]
                                                        : EstimatedLength(file, partSizeOf(file, partSize, sliceSize, ratio), ratio));
        }
        return lengths;
    }

    // The article size read off an article, where it applies to this post's largest articles.
    bool postPartSizeKnown() const { return m_facts && m_facts->partSize && MayBeCutAt(m_largestSegmentBytes, *m_facts->partSize); }

    qint64 postPartSize(Encoding ratio) const
    {
        if (postPartSizeKnown())
            return *m_facts->partSize;
        return qMax<qint64>(DecodedSize(m_largestSegmentBytes, ratio), 1);
    }

    // Read off an article of the listing or of one of its size.
    std::optional<qint64> measuredPartSize(const PostedFile &listing) const
    {
        if (listing.partSize)
            return listing.partSize;
        if (m_facts && m_facts->partSize && MayBeCutAt(FullPartBytes(listing), *m_facts->partSize))
            return m_facts->partSize;
        return std::nullopt;
    }

    // A listing cut at the post's article size has the post's; one cut at another, its own.
    qint64 partSizeOf(const PostedFile &listing, qint64 postPartSize, qint64 sliceSize, Encoding ratio) const
    {
        const qint64 own = FullPartBytes(listing);
        if (listing.partSize || (own > 0 && !SameArticleSize(own, m_largestSegmentBytes)))
            return measuredPartSize(listing).value_or(snapped(qMax<qint64>(DecodedSize(own, ratio), 1), sliceSize));
        return postPartSize;
    }

    qint64 sliceSize(qint64 partSize, const std::vector<qint64> &lengths, Encoding ratio, bool inclusiveEnd) const
    {
        if (knownCritical())
            return m_facts->description.sliceSize;
        if (m_facts && m_facts->description.firstRecoverySliceSize > 0)
            return *m_facts->description.firstRecoverySliceSize;
        // From the volume with the most blocks: about C × (S + 68) bytes and its copies of the critical packets.
        const PostedFile *largest = nullptr;
        int blocks = 0;
        for (const int volume : m_set.volumes) {
            const VolumeName name = nameOf(volume);
            const int count = name.blocks.value_or(name.end - name.first + (inclusiveEnd ? 1 : 0));
            if (count > blocks) {
                blocks = count;
                largest = &m_files[size_t(volume)];
            }
        }
        if (!largest)
            return qMax<qint64>(partSize, 4);
        const qint64 size = EstimatedLength(*largest, partSizeOf(*largest, partSize, 0, ratio), ratio);
        qint64 slice = qMax<qint64>(size / blocks - kRecoveryPacketOverhead, 4);
        for (int round = 0; round < 2; ++round) {
            const par2::SetDescription critical = estimatedDescription(slice, m_files, m_members, lengths);
            const qint64 overhead = par2::VolumeSize(critical, blocks) - blocks * (slice + kRecoveryPacketOverhead);
            slice = qMax<qint64>((size - overhead) / blocks - kRecoveryPacketOverhead, 4);
        }
        return slice / 4 * 4;
    }

    qint64 volumeBlocks(const PostedFile &volume, const par2::SetDescription &description, qint64 sliceSize,
                        const std::function<qint64(const PostedFile &)> &partSizeFor, qint64 longestLength,
                        const Assumption &assumption) const
    {
        const VolumeName name = nameOf(int(&volume - m_files.data()));
        const qint64 decoded = EstimatedLength(volume, partSizeFor(volume), assumption.encoding);
        const qint64 blocks = name.blocks ? *name.blocks : dashVolumeBlocks(name, description, decoded, !knownCritical(), assumption.inclusiveEnd);
        const qint64 length = par2::VolumeSize(description, blocks);
        // Where every file is shorter than a slice, a recovery slice ends in zeros, and a volume
        // downloaded with zeros for its missing articles keeps a packet damaged only there.
        const qint64 reach = par2::Saturated(__int128(qMin(sliceSize, longestLength)) + kRecoveryPacketOverhead);
        const PacketOffsets offsets(description, blocks, assumption.layout);
        // A packet is lost when every listing lost some of it.
        std::optional<std::vector<Range>> lost;
        for (const PostedFile *listing : ListingsOf(volume)) {
            const qint64 partSize = listing->partCount() > 1 ? partSizeFor(*listing) : length;
            // A span damages the packets that begin before its end and reach past its start.
            std::vector<Range> damaged;
            for (const Span &span : LostSpans(*listing, length, partSize)) {
                const qint64 first = offsets.countBefore(span.offset - reach + 1);
                const qint64 end = offsets.countBefore(span.offset + span.length);
                if (first < end)
                    damaged.push_back({first, end - 1});
            }
            damaged = JoinedRanges(std::move(damaged));
            lost = lost ? CommonRanges(*lost, damaged) : std::move(damaged);
        }
        return blocks - coveredCount(std::move(*lost));
    }

    const std::vector<PostedFile> &m_files;
    const Par2Set &m_set;
    const SetMembers &m_members;
    const FetchedFacts *m_facts;
    qint64 m_largestSegmentBytes = 0; // of the whole post: its article size, as the NZB gives it
    bool m_partSizeBounded = false;
};


qint64 sum(std::vector<qint64>::const_iterator first, std::vector<qint64>::const_iterator last)
{
    return std::accumulate(first, last, qint64(0));
}

// What the files of unsettled groups need: each file the fewest and the most blocks of the
// lengths it may have, and the described files left over their fewest and most.
Range unsettledNeeded(const std::vector<PostedFile> &files, const SetMembers &members, qint64 sliceSize, qint64 partSize)
{
    Range needed{0, 0};
    for (const PairedGroup &group : members.unsettled) {
        std::vector<qint64> least;
        for (size_t i = 0; i < group.files.size(); ++i) {
            const PostedFile &file = files[size_t(group.files[i])];
            qint64 low = std::numeric_limits<qint64>::max(), high = 0;
            for (const qint64 length : group.lengths[i]) {
                const qint64 blocks = damagedBlocks(LostSpans(file, length, FittingPartSize(length, file.partCount(), file.partSize.value_or(partSize))), sliceSize);
                low = qMin(low, blocks);
                high = qMax(high, blocks);
            }
            least.push_back(low);
            needed.high += high;
        }
        std::sort(least.begin(), least.end());
        const size_t paired = qMin(least.size(), group.descriptions.size());
        std::vector<qint64> whole;
        for (const qint64 length : group.descriptionLengths)
            whole.push_back(CeilDiv(length, sliceSize));
        std::sort(whole.begin(), whole.end());
        const size_t left = whole.size() - paired;
        needed.low += sum(least.cbegin(), least.cbegin() + qsizetype(paired)) + sum(whole.cbegin(), whole.cbegin() + qsizetype(left));
        needed.high += sum(whole.cend() - qsizetype(left), whole.cend());
    }
    return needed;
}

// The absent files that loose files may be, at their most blocks.
qint64 looseBlocks(const SetMembers &members, qint64 sliceSize)
{
    std::vector<qint64> whole;
    for (const qint64 length : members.absentLengths)
        whole.push_back(CeilDiv(length, sliceSize));
    std::sort(whole.begin(), whole.end());
    const size_t count = qMin(whole.size(), members.loose.size());
    return sum(whole.cend() - qsizetype(count), whole.cend());
}

} // namespace

std::vector<Range> JoinedRanges(std::vector<Range> ranges)
{
    const auto byLow = [](const Range &a, const Range &b) { return a.low < b.low; };
    if (!std::is_sorted(ranges.begin(), ranges.end(), byLow))
        std::sort(ranges.begin(), ranges.end(), byLow);
    std::vector<Range> result;
    for (const Range &range : ranges) {
        if (!result.empty() && range.low <= result.back().high + 1)
            result.back().high = qMax(result.back().high, range.high);
        else
            result.push_back(range);
    }
    return result;
}

qint64 FittingPartSize(qint64 length, int parts, qint64 partSize)
{
    if (parts <= 1)
        return qMax<qint64>(length, 1);
    return std::clamp(partSize, CeilDiv(length, parts), qMax<qint64>((length - 1) / (parts - 1), 1));
}

qint64 ListedBytes(const PostedFile &file)
{
    qint64 bytes = 0;
    for (const PostedSegment &segment : file.segments)
        bytes += segment.bytes;
    return bytes;
}

qint64 LargestSegmentBytes(const PostedFile &file)
{
    qint64 largest = 0;
    for (const PostedSegment &segment : file.segments)
        largest = qMax(largest, segment.bytes);
    return largest;
}

qint64 DescribableBlocks(const std::vector<PostedFile> &files, const Par2Set &set)
{
    return set.index < 0 ? 0 : ListedBytes(files[size_t(set.index)]) / 20;
}

SetVerdict VerdictFor(const Range &needed, const Range &available)
{
    SetVerdict verdict;
    verdict.needed = needed;
    verdict.available = available;
    if (needed.high == 0)
        verdict.kind = SetVerdict::NotNeeded;
    else if (needed.high <= available.low)
        verdict.kind = SetVerdict::Possible;
    else if (needed.low > available.high)
        verdict.kind = SetVerdict::NotPossible;
    else
        verdict.kind = SetVerdict::Uncertain;
    return verdict;
}

SetVerdict JudgeSet(const std::vector<PostedFile> &files, const Par2Set &set, const SetMembers &members, const FetchedFacts *facts)
{
    const SetEvaluation evaluation(files, set, members, facts);
    std::vector<Assumption> assumptions;
    if (evaluation.exact()) {
        assumptions.push_back({});
    } else {
        const std::vector<Layout> layouts = evaluation.layoutKnown()
                                                ? std::vector{Layout::Interleaved}
                                                : std::vector{Layout::Interleaved, Layout::CriticalFirst, Layout::CriticalLast};
        // yEnc and the headers add 0 to 6 % to the decoded size, and the NZB may count up to
        // 1 KiB of headers per article; a measured ratio narrows that.
        const std::vector<bool> conventions = evaluation.dashConventions();
        const std::optional<double> ratio = facts ? CluesOf(*facts).ratio : std::nullopt;
        const double measured = ratio.value_or(0);
        std::vector<Encoding> encodings;
        for (int step = 0; step <= 12; ++step) {
            if (measured > 0) {
                encodings.push_back({measured * (0.994 + 0.001 * step), 0});
            } else {
                for (const qint64 headers : {qint64(0), kMostHeaderBytes})
                    encodings.push_back({kLeastRatio + (kMostRatio - kLeastRatio) * step / 12, headers});
            }
        }
        if (evaluation.lastPartUnsized()) {
            for (size_t i = 0, count = encodings.size(); i < count; ++i)
                encodings.push_back({encodings[i].ratio, encodings[i].headers, true});
        }
        for (const Encoding &encoding : encodings) {
            for (const Layout layout : layouts) {
                for (const bool inclusiveEnd : conventions)
                    assumptions.push_back({encoding, layout, inclusiveEnd});
            }
        }
    }
    Range needed{std::numeric_limits<qint64>::max(), 0};
    Range available{std::numeric_limits<qint64>::max(), 0};
    for (const Assumption &assumption : assumptions) {
        const auto [x, m] = evaluation.evaluate(assumption);
        needed = {qMin(needed.low, x), qMax(needed.high, x)};
        available = {qMin(available.low, m), qMax(available.high, m)};
    }
    // Without the NZB's article sizes a guess is no count: whether repair suffices stays open.
    if (!evaluation.exact() && !evaluation.sized() && needed.high > 0)
        needed = {1, qMax(needed.high, available.high + 1)};
    // Parts of a size the NZB does not bound may hold as many blocks as the index can describe.
    if (!evaluation.exact() && !evaluation.lengthsBounded() && needed.high > 0)
        needed.high = std::max({needed.high, available.high + 1, DescribableBlocks(files, set)});
    if (facts && facts->description.complete()) {
        const qint64 slice = facts->description.sliceSize;
        const Range paired = unsettledNeeded(files, members, slice, facts->partSize.value_or(0));
        needed = {needed.low + paired.low, needed.high + paired.high};
        needed.low = qMax<qint64>(needed.low - looseBlocks(members, slice), 0);
    }
    return VerdictFor(needed, available);
}

} // namespace repair
