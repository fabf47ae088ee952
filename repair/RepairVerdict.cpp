#include "repair/RepairVerdict.h"

#include "repair/FileMatching.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace repair {
namespace {

using par2::kRecoveryPacketOverhead;
constexpr qint64 kCreatorPacketEstimate = 64 + 40;
// A PAR2 set has at most 65,535 recovery blocks.
constexpr qint64 kMostBlocks = 65535;

// Not (a + b - 1) / b: an index may claim lengths near 2^63.
qint64 ceilDiv(qint64 a, qint64 b) { return b > 0 ? a / b + (a % b > 0 ? 1 : 0) : 0; }
qint64 padded4(qint64 n) { return ceilDiv(n, 4) * 4; }

// Where a volume made by another tool than par2cmdline keeps its critical packets is not known:
// each guess below is tried, and M becomes the range they give.
enum class Layout { Interleaved, CriticalFirst, CriticalLast };

// One consistent guess of what neither the index nor a data article told.
struct Assumption {
    double ratio = 1.03; // NZB bytes per decoded byte
    Layout layout = Layout::Interleaved;
    bool inclusiveEnd = false; // of a "-" volume name, while the critical packets are guessed
};

struct Span {
    qint64 offset;
    qint64 length;
};


qint64 decodedSize(qint64 bytes, double ratio) { return qint64(double(bytes) / ratio); }

qint64 largestSegmentBytes(const PostedFile &file)
{
    qint64 largest = 0;
    for (const PostedSegment &segment : file.segments)
        largest = qMax(largest, segment.bytes);
    return largest;
}

// The file's length: the index's, else its articles' sizes read as decoded bytes.
qint64 estimatedLength(const PostedFile &file, qint64 partSize, double ratio)
{
    const int parts = file.partCount();
    qint64 last = partSize;
    for (const PostedSegment &segment : file.segments) {
        if (segment.number == parts && segment.bytes > 0)
            last = std::clamp<qint64>(decodedSize(segment.bytes, ratio), 1, partSize);
    }
    return parts <= 1 ? (file.segments.empty() ? 0 : decodedSize(largestSegmentBytes(file), ratio))
                      : (parts - 1) * partSize + last;
}

// A file of `parts` parts and `length` bytes was cut into parts of one size within these bounds.
qint64 fittingPartSize(qint64 length, int parts, qint64 partSize)
{
    if (parts <= 1)
        return qMax<qint64>(length, 1);
    return std::clamp(partSize, ceilDiv(length, parts), qMax<qint64>((length - 1) / (parts - 1), 1));
}

// Sorted, with ranges that overlap or touch made one.
std::vector<Range> joined(std::vector<Range> ranges)
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

// The numbers the ranges cover, each once.
qint64 coveredCount(std::vector<Range> ranges)
{
    qint64 count = 0;
    for (const Range &range : joined(std::move(ranges)))
        count += range.high - range.low + 1;
    return count;
}

std::vector<Span> missingSpans(const PostedFile &file, qint64 length, qint64 partSize)
{
    std::vector<Span> spans;
    for (const Range &parts : file.missingParts()) {
        const qint64 offset = (parts.low - 1) * partSize;
        if (offset >= length)
            continue;
        const qint64 end = partSize > 0 && parts.high > (length - 1) / partSize ? length : parts.high * partSize;
        spans.push_back({offset, end - offset});
    }
    return spans;
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
        description.criticalPacketSizes.push_back(64 + 56 + padded4(files[size_t(file)].name.toUtf8().size()));
    for (const qint64 length : lengths)
        description.criticalPacketSizes.push_back(64 + 16 + 20 * ceilDiv(length, sliceSize));
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
        for (const PostedFile &file : m_files)
            m_largestSegmentBytes = qMax(m_largestSegmentBytes, largestSegmentBytes(file));
    }

    // X and M under one assumption.
    std::pair<qint64, qint64> evaluate(const Assumption &assumption) const
    {
        qint64 partSize = postPartSize(assumption.ratio);
        std::vector<qint64> lengths = fileLengths(partSize, assumption.ratio);
        qint64 sliceSize = this->sliceSize(partSize, lengths, assumption.ratio, assumption.inclusiveEnd);
        if (!(m_facts && m_facts->partSize)) {
            const qint64 snappedSize = snapped(partSize, sliceSize);
            if (std::exchange(partSize, snappedSize) != snappedSize)
                lengths = fileLengths(partSize, assumption.ratio);
        } else if (!sliceKnown()) {
            sliceSize = qMax<qint64>(snapped(sliceSize, partSize) / 4 * 4, 4);
        }
        qint64 needed = 0;
        for (size_t i = 0; i < m_members.data.size(); ++i) {
            const PostedFile &file = m_files[size_t(m_members.data[i])];
            const qint64 size = fittingPartSize(lengths[i], file.partCount(), partSize);
            needed += damagedBlocks(missingSpans(file, lengths[i], size), sliceSize);
        }
        for (const qint64 length : m_members.absentLengths)
            needed += ceilDiv(length, sliceSize);
        const par2::SetDescription description = knownCritical() ? m_facts->description
                                                                 : estimatedDescription(sliceSize, m_files, m_members, lengths);
        qint64 longest = 0;
        for (const qint64 length : lengths)
            longest = qMax(longest, length);
        for (const qint64 length : m_members.absentLengths)
            longest = qMax(longest, length);
        qint64 available = 0;
        for (const int volume : m_set.volumes)
            available += volumeBlocks(m_files[size_t(volume)], description, sliceSize, partSize, longest, assumption);
        return {needed, available};
    }

    // Everything needed was read: one assumption gives the exact answer.
    bool exact() const
    {
        if (!knownCritical() || !m_facts->description.madeByPar2cmdline())
            return false;
        if (!m_facts->partSize)
            return std::all_of(m_files.begin(), m_files.end(), [](const PostedFile &file) { return file.partCount() <= 1; });
        for (size_t i = 0; i < m_members.data.size(); ++i) {
            const PostedFile &file = m_files[size_t(m_members.data[i])];
            if (fittingPartSize(m_members.lengths[i], file.partCount(), *m_facts->partSize) != *m_facts->partSize
                && file.partCount() > 1)
                return false;
        }
        return std::all_of(m_set.volumes.begin(), m_set.volumes.end(),
                           [this](int volume) { return nameOf(volume).blocks.has_value(); });
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
        const double ratio = Assumption{}.ratio;
        const qint64 partSize = postPartSize(ratio);
        const std::vector<qint64> lengths = fileLengths(partSize, ratio);
        const qint64 actual = estimatedLength(m_files[size_t(m_set.index)], partSize, ratio);
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

    std::vector<qint64> fileLengths(qint64 partSize, double ratio) const
    {
        std::vector<qint64> lengths;
        for (size_t i = 0; i < m_members.data.size(); ++i) {
            const PostedFile &file = m_files[size_t(m_members.data[i])];
            lengths.push_back(m_members.lengths[i] >= 0 ? m_members.lengths[i] : estimatedLength(file, partSize, ratio));
        }
        return lengths;
    }

    qint64 postPartSize(double ratio) const
    {
        if (m_facts && m_facts->partSize)
            return *m_facts->partSize;
        return qMax<qint64>(decodedSize(m_largestSegmentBytes, ratio), 1);
    }

    qint64 sliceSize(qint64 partSize, const std::vector<qint64> &lengths, double ratio, bool inclusiveEnd) const
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
        const qint64 size = estimatedLength(*largest, partSize, ratio);
        qint64 slice = qMax<qint64>(size / blocks - kRecoveryPacketOverhead, 4);
        for (int round = 0; round < 2; ++round) {
            const par2::SetDescription critical = estimatedDescription(slice, m_files, m_members, lengths);
            const qint64 overhead = par2::VolumeSize(critical, blocks) - blocks * (slice + kRecoveryPacketOverhead);
            slice = qMax<qint64>((size - overhead) / blocks - kRecoveryPacketOverhead, 4);
        }
        return slice / 4 * 4;
    }

    qint64 volumeBlocks(const PostedFile &volume, const par2::SetDescription &description, qint64 sliceSize,
                        qint64 partSize, qint64 longestLength, const Assumption &assumption) const
    {
        const VolumeName name = nameOf(int(&volume - m_files.data()));
        const qint64 decoded = estimatedLength(volume, partSize, assumption.ratio);
        const qint64 blocks = name.blocks ? *name.blocks : dashVolumeBlocks(name, description, decoded, !knownCritical(), assumption.inclusiveEnd);
        const qint64 length = par2::VolumeSize(description, blocks);
        const std::vector<Span> spans = missingSpans(volume, length, volume.partCount() > 1 ? partSize : length);
        if (spans.empty())
            return blocks;
        // Where every file is shorter than a slice, a recovery slice ends in zeros, and a volume
        // downloaded with zeros for its missing articles keeps a packet damaged only there.
        const qint64 reach = par2::Saturated(__int128(qMin(sliceSize, longestLength)) + kRecoveryPacketOverhead);
        // A span damages the packets that begin before its end and reach past its start.
        const PacketOffsets offsets(description, blocks, assumption.layout);
        std::vector<Range> damaged;
        for (const Span &span : spans) {
            const qint64 first = offsets.countBefore(span.offset - reach + 1);
            const qint64 end = offsets.countBefore(span.offset + span.length);
            if (first < end)
                damaged.push_back({first, end - 1});
        }
        return blocks - coveredCount(std::move(damaged));
    }

    const std::vector<PostedFile> &m_files;
    const Par2Set &m_set;
    const SetMembers &m_members;
    const FetchedFacts *m_facts;
    qint64 m_largestSegmentBytes = 0; // of the whole post: its article size, as the NZB gives it
};

SetVerdict verdictFor(const Range &needed, const Range &available)
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
                const qint64 blocks = damagedBlocks(missingSpans(file, length, fittingPartSize(length, file.partCount(), partSize)), sliceSize);
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
            whole.push_back(ceilDiv(length, sliceSize));
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
        whole.push_back(ceilDiv(length, sliceSize));
    std::sort(whole.begin(), whole.end());
    const size_t count = qMin(whole.size(), members.loose.size());
    return sum(whole.cend() - qsizetype(count), whole.cend());
}

SetVerdict judgeSet(const std::vector<PostedFile> &files, const Par2Set &set, const SetMembers &members, const FetchedFacts *facts)
{
    const SetEvaluation evaluation(files, set, members, facts);
    std::vector<Assumption> assumptions;
    if (evaluation.exact()) {
        assumptions.push_back({});
    } else {
        const std::vector<Layout> layouts = evaluation.layoutKnown()
                                                ? std::vector{Layout::Interleaved}
                                                : std::vector{Layout::Interleaved, Layout::CriticalFirst, Layout::CriticalLast};
        // yEnc and the headers add 2 to 4.5 % to the decoded size; a measured ratio narrows that.
        const std::vector<bool> conventions = evaluation.dashConventions();
        const double measured = facts && facts->bytesPerDecodedByte ? *facts->bytesPerDecodedByte : 0;
        for (int step = 0; step <= 12; ++step) {
            const double ratio = measured > 0 ? measured * (0.994 + 0.001 * step) : 1.02 + 0.002 * step;
            for (const Layout layout : layouts) {
                for (const bool inclusiveEnd : conventions)
                    assumptions.push_back({ratio, layout, inclusiveEnd});
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
    if (facts && facts->description.complete()) {
        const qint64 slice = facts->description.sliceSize;
        const Range paired = unsettledNeeded(files, members, slice, facts->partSize.value_or(0));
        needed = {needed.low + paired.low, needed.high + paired.high};
        needed.low = qMax<qint64>(needed.low - looseBlocks(members, slice), 0);
    }
    return verdictFor(needed, available);
}

constexpr QLatin1StringView kNotCovered("Not covered by par2: ");
constexpr QLatin1StringView kNotCoveredNotNeeded("Not covered by par2 (not needed): ");

// How bad a line of the verdict is, for the one line a status bar shows. A file outside every
// set that the download needs ranks with "not possible"; one it does without, below "uncertain".
enum Badness { FineNotNeeded, FinePossible, NotCoveredNotNeeded, InDoubt, NotKnown, Hopeless };

Badness badness(SetVerdict::Kind kind)
{
    static constexpr Badness order[] = {FineNotNeeded, FinePossible, Hopeless, InDoubt, NotKnown}; // by SetVerdict::Kind
    return order[kind];
}

QString rangeText(const Range &range)
{
    return range.low == range.high ? QString::number(range.low)
                                   : QString::number(range.low) + QLatin1String(" to ") + QString::number(range.high);
}

} // namespace

int PostedFile::partCount() const
{
    int parts = qMax(announced, int(segments.size()));
    for (const PostedSegment &segment : segments)
        parts = qMax(parts, segment.number);
    return parts;
}

std::vector<Range> PostedFile::missingParts() const
{
    std::vector<Range> parts;
    std::vector<int> listed;
    listed.reserve(segments.size());
    for (const PostedSegment &segment : segments) {
        listed.push_back(segment.number);
        if (segment.missing)
            parts.push_back({segment.number, segment.number});
    }
    if (!std::is_sorted(listed.begin(), listed.end()))
        std::sort(listed.begin(), listed.end());
    qint64 next = 1; // the first part after those listed so far
    for (const int number : listed) {
        if (number > next)
            parts.push_back({next, number - 1});
        next = qMax<qint64>(next, qint64(number) + 1);
    }
    if (const int count = partCount(); next <= count)
        parts.push_back({next, count});
    return joined(std::move(parts));
}

bool LostArticles(const PostedFile &file)
{
    return !file.missingParts().empty();
}

QString SetVerdict::line() const
{
    const QString repair = setName.isEmpty() ? QStringLiteral("Repair: ") : QLatin1String("Repair (") + setName + QLatin1String("): ");
    switch (kind) {
    case NotNeeded:
        return repair + QLatin1String("not needed, every data article was found.");
    case Possible:
        return repair + QStringLiteral("possible, needs %1 of %2 recovery block(s).").arg(needed.high).arg(rangeText(available));
    case NotPossible:
        return repair + QStringLiteral("not possible, %1 recovery block(s) short (needs %2, %3 available).")
                            .arg(needed.low - available.high).arg(needed.low).arg(available.high);
    case Uncertain:
        if (statWrong.failed > 0)
            return repair + QStringLiteral("uncertain, STAT was wrong for %1 of %2 sampled article(s).").arg(statWrong.failed).arg(statWrong.sampled);
        return repair + QStringLiteral("uncertain, needs %1 to %2 of %3 recovery block(s).")
                            .arg(needed.low).arg(needed.high).arg(rangeText(available));
    case Unknown:
        break;
    }
    if (search == BudgetSpent)
        return repair + QStringLiteral("unknown, no par2 file was found among the %1 files read (the names may be obfuscated).").arg(filesRead);
    if (search == NoneNamed)
        return repair + QLatin1String("unknown, no file is named as par2 (the names may be obfuscated).");
    return repair + QLatin1String("unknown, the NZB has no par2 recovery files.");
}

QStringList Judgement::lines() const
{
    QStringList lines;
    for (const SetVerdict &verdict : verdicts)
        lines << verdict.line();
    for (const QString &name : notCovered)
        lines << kNotCovered + name;
    for (const QString &name : notNeeded)
        lines << kNotCoveredNotNeeded + name;
    return lines;
}

bool Judgement::nothingLost() const
{
    return notCovered.isEmpty() && notNeeded.isEmpty()
           && std::all_of(verdicts.begin(), verdicts.end(), [](const SetVerdict &verdict) { return verdict.kind == SetVerdict::NotNeeded; });
}

bool Judgement::dataComplete() const
{
    return notCovered.isEmpty() && std::all_of(verdicts.begin(), verdicts.end(), [](const SetVerdict &verdict) {
               return verdict.kind == SetVerdict::NotNeeded || verdict.kind == SetVerdict::Possible;
           });
}

bool Judgement::cannotBeComplete() const
{
    return !notCovered.isEmpty()
           || std::any_of(verdicts.begin(), verdicts.end(), [](const SetVerdict &verdict) { return verdict.kind == SetVerdict::NotPossible; });
}

QString Judgement::worstLine() const
{
    QString worst;
    int worstBadness = -1;
    const auto consider = [&](Badness badness, const QString &line) {
        if (badness > worstBadness)
            worstBadness = badness, worst = line;
    };
    for (const SetVerdict &verdict : verdicts)
        consider(badness(verdict.kind), verdict.line());
    if (!notCovered.isEmpty())
        consider(Hopeless, kNotCovered + notCovered.first());
    if (!notNeeded.isEmpty())
        consider(NotCoveredNotNeeded, kNotCoveredNotNeeded + notNeeded.first());
    return worst;
}

namespace {

// A promise rests on STAT; where STAT was wrong for a server that found some of the set's
// articles, the set can be promised nothing.
void doubt(SetVerdict &verdict, bool holdsDoubtful, SampledBodies sampled)
{
    if (!holdsDoubtful || sampled.failed == 0 || (verdict.kind != SetVerdict::NotNeeded && verdict.kind != SetVerdict::Possible))
        return;
    verdict.kind = SetVerdict::Uncertain;
    verdict.statWrong = {sampled.asked, sampled.failed};
}

bool anyDoubtful(const std::vector<PostedFile> &files, const std::vector<int> &positions)
{
    return std::any_of(positions.begin(), positions.end(), [&files](int file) { return files[size_t(file)].doubtful; });
}

bool firstArticleFound(const PostedFile &file)
{
    return std::any_of(file.segments.begin(), file.segments.end(), [](const PostedSegment &segment) { return segment.number == 1 && !segment.missing; });
}

void addUnread(std::vector<int> &list, const std::vector<PostedFile> &files, const std::vector<int> &candidates)
{
    for (const int file : candidates) {
        if (!files[size_t(file)].first && firstArticleFound(files[size_t(file)]) && std::find(list.begin(), list.end(), file) == list.end())
            list.push_back(file);
    }
}

// Files not described by the index, unread, whose size leaves room for recovery blocks: volumes
// under other names, perhaps. They widen the blocks available where that changes the verdict.
std::vector<std::pair<int, qint64>> hiddenVolumeRoom(const std::vector<PostedFile> &files, const SetMembers &members, const FetchedFacts &facts)
{
    std::vector<std::pair<int, qint64>> room;
    const qint64 packet = facts.description.recoveryPacketSize();
    for (const int file : members.undescribed) {
        const PostedFile &posted = files[size_t(file)];
        if (posted.first || !firstArticleFound(posted))
            continue;
        qint64 listed = 0;
        for (const PostedSegment &segment : posted.segments)
            listed += segment.bytes;
        const qint64 blocks = qMin(PossibleLengths(posted, CluesOf(facts)).high, listed + 1024) / packet;
        if (blocks > 0)
            room.push_back({file, blocks});
    }
    return room;
}

void allowForHiddenVolumes(SetVerdict &verdict, const std::vector<PostedFile> &files, const SetMembers &members, const FetchedFacts &facts)
{
    qint64 blocks = 0;
    for (const auto &[file, room] : hiddenVolumeRoom(files, members, facts))
        blocks += room;
    const SetVerdict widened = verdictFor(verdict.needed, {verdict.available.low, verdict.available.high + blocks});
    if (widened.kind != verdict.kind)
        verdict = widened;
}

// Files whose first article would settle a pairing, or say what a hidden file is.
std::vector<int> worthReadingFor(const SetMembers &members)
{
    std::vector<int> files;
    for (const PairedGroup &group : members.unsettled)
        files.insert(files.end(), group.files.begin(), group.files.end());
    files.insert(files.end(), members.loose.begin(), members.loose.end());
    files.insert(files.end(), members.undescribed.begin(), members.undescribed.end());
    return files;
}

qint64 listedBytes(const PostedFile &file)
{
    qint64 bytes = 0;
    for (const PostedSegment &segment : file.segments)
        bytes += segment.bytes;
    return bytes;
}

// About the size of a par2 index of these files, at slices of the post's article size: par2
// files hidden under other names are looked for nearest to it first.
qint64 impliedIndexSize(const std::vector<PostedFile> &files)
{
    qint64 largest = 1;
    for (const PostedFile &file : files)
        largest = qMax(largest, largestSegmentBytes(file));
    qint64 size = 64 + 12 + 16 * qint64(files.size()) + kCreatorPacketEstimate;
    for (const PostedFile &file : files)
        size += 64 + 56 + padded4(file.name.toUtf8().size()) + 64 + 16 + 20 * ceilDiv(listedBytes(file), largest);
    return size;
}

bool mayHideItsKind(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 || name.size() - dot > 6 || name.startsWith(QLatin1String("file "));
}

// No file is named as par2: the files may still hold par2 files under other names.
SetVerdict withoutSets(const std::vector<PostedFile> &files, Judgement &judgement, const JudgeContext &context)
{
    SetVerdict verdict;
    verdict.kind = judgement.notCovered.isEmpty() ? SetVerdict::NotNeeded : SetVerdict::Unknown;
    // One file alone cannot be both the data and its par2 file.
    if (verdict.kind == SetVerdict::NotNeeded || files.size() < 2)
        return verdict;
    if (!context.reading) {
        if (std::any_of(files.begin(), files.end(), [](const PostedFile &file) { return mayHideItsKind(file.name); }))
            verdict.search = SetVerdict::NoneNamed;
        return verdict;
    }
    std::vector<int> unread;
    for (size_t file = 0; file < files.size(); ++file) {
        if (files[file].first)
            ++verdict.filesRead;
        else
            unread.push_back(int(file));
    }
    const double implied = std::log(double(impliedIndexSize(files)));
    const auto distance = [&](int file) { return std::abs(std::log(double(qMax<qint64>(listedBytes(files[size_t(file)]), 1))) - implied); };
    std::stable_sort(unread.begin(), unread.end(), [&](int a, int b) { return distance(a) < distance(b); });
    addUnread(judgement.worthReading, files, unread);
    if (context.budgetSpent && !judgement.worthReading.empty())
        verdict.search = SetVerdict::BudgetSpent;
    return verdict;
}

} // namespace

Judgement Judge(const std::vector<PostedFile> &files, const Grouping &grouping, const std::map<int, FetchedFacts> &facts,
                const JudgeContext &context)
{
    Judgement judgement;
    // A file is outside when no set covers it: not by name, and not by an index's description.
    std::vector<bool> outside(files.size(), false), covered(files.size(), false), claimed(files.size(), false);
    for (const int file : grouping.uncovered)
        outside[size_t(file)] = true;
    for (size_t i = 0; i < grouping.sets.size(); ++i) {
        const auto found = facts.find(int(i));
        const FetchedFacts *setFacts = found == facts.end() ? nullptr : &found->second;
        const Par2Set &set = grouping.sets[i];
        const SetMembers members = MembersOf(files, set, grouping.uncovered, setFacts, claimed);
        for (const int file : members.undescribed)
            outside[size_t(file)] = true;
        for (const int file : members.data)
            covered[size_t(file)] = true;
        for (const PairedGroup &group : members.unsettled) {
            for (const int file : group.files)
                covered[size_t(file)] = true;
        }
        SetVerdict verdict = judgeSet(files, set, members, setFacts);
        if (setFacts && setFacts->description.complete())
            allowForHiddenVolumes(verdict, files, members, *setFacts);
        if (verdict.kind == SetVerdict::Uncertain)
            addUnread(judgement.worthReading, files, worthReadingFor(members));
        doubt(verdict, anyDoubtful(files, members.data) || anyDoubtful(files, set.volumes) || (set.index >= 0 && files[size_t(set.index)].doubtful),
              context.sampled);
        if (grouping.sets.size() > 1)
            verdict.setName = set.name;
        judgement.verdicts.push_back(verdict);
    }
    for (size_t file = 0; file < files.size(); ++file) {
        if (outside[file] && !covered[file] && LostArticles(files[file]))
            (context.ignore.matches(files[file].name) ? judgement.notNeeded : judgement.notCovered) << files[file].name;
    }
    if (grouping.sets.empty()) {
        judgement.verdicts.push_back(withoutSets(files, judgement, context));
        doubt(judgement.verdicts.back(), std::any_of(files.begin(), files.end(), [](const PostedFile &file) { return file.doubtful; }), context.sampled);
    }
    return judgement;
}

} // namespace repair
