#include "repair/Listings.h"

#include "repair/FileMatching.h"
#include "repair/SetEvaluation.h"

#include <QHash>

#include <algorithm>

namespace repair {
namespace {

// Parts lost per part listed: the listing that stands for a file is the one that lost least.
double lostShare(const PostedFile &listing)
{
    qint64 lost = 0;
    for (const Range &parts : listing.missingParts())
        lost += parts.high - parts.low + 1;
    return double(lost) / double(qMax(listing.partCount(), 1));
}

bool mayBeOneFile(const PostedFile &a, const PostedFile &b)
{
    const Range one = PossibleLengths(a, {}), other = PossibleLengths(b, {});
    return qMax(one.low, other.low) <= qMin(one.high, other.high);
}

// A listing's article size: read off an article, else its articles' at the typical ratio.
qint64 roughPartSize(const PostedFile &listing)
{
    return listing.partSize.value_or(qMax<qint64>(DecodedSize(FullPartBytes(listing), {}), 1));
}

} // namespace

qint64 DecodedSize(qint64 bytes, Encoding encoding)
{
    return qint64(double(qMax<qint64>(bytes - encoding.headers, 1)) / encoding.ratio);
}

qint64 EstimatedLength(const PostedFile &listing, qint64 partSize, Encoding encoding)
{
    const int parts = listing.partCount();
    qint64 last = encoding.shortLast ? 1 : partSize;
    for (const PostedSegment &segment : listing.segments) {
        if (segment.number == parts && segment.bytes > 0)
            last = std::clamp<qint64>(DecodedSize(segment.bytes, encoding), 1, partSize);
    }
    return parts <= 1 ? (listing.segments.empty() ? 0 : DecodedSize(LargestSegmentBytes(listing), encoding))
                      : (parts - 1) * partSize + last;
}

std::vector<Span> LostSpans(const PostedFile &listing, qint64 length, qint64 partSize)
{
    std::vector<Span> spans;
    for (const Range &parts : listing.missingParts()) {
        const qint64 offset = (parts.low - 1) * partSize;
        if (offset >= length)
            continue;
        const qint64 end = partSize > 0 && parts.high > (length - 1) / partSize ? length : parts.high * partSize;
        spans.push_back({offset, end - offset});
    }
    return spans;
}

qint64 FullPartBytes(const PostedFile &listing)
{
    const int parts = listing.partCount();
    qint64 largest = 0;
    for (const PostedSegment &segment : listing.segments) {
        if (segment.number < parts)
            largest = qMax(largest, segment.bytes);
    }
    return largest;
}

bool MayBeCutAt(qint64 bytes, qint64 partSize)
{
    return bytes <= 0 || (bytes >= qint64(double(partSize) * kLeastRatio) && bytes <= qint64(double(partSize) * kMostRatio) + kMostHeaderBytes);
}

bool SameArticleSize(qint64 bytes, qint64 otherBytes)
{
    return qAbs(bytes - otherBytes) <= kMostHeaderBytes + qMax(bytes, otherBytes) / 200;
}

std::vector<int> ArticleSizeGroups(const std::vector<const PostedFile *> &listings)
{
    std::vector<std::pair<qint64, size_t>> bySize;
    for (size_t i = 0; i < listings.size(); ++i) {
        if (const qint64 bytes = FullPartBytes(*listings[i]); bytes > 0)
            bySize.push_back({bytes, i});
    }
    std::sort(bySize.begin(), bySize.end());
    std::vector<int> groups(listings.size(), -1);
    int group = -1;
    qint64 first = 0; // the smallest size of the group: a chain of small steps is no one size
    for (const auto &[bytes, listing] : bySize) {
        if (group < 0 || !SameArticleSize(first, bytes))
            ++group, first = bytes;
        groups[listing] = group;
    }
    // Articles of no known size are taken for the post's one size.
    for (size_t i = 0; i < listings.size(); ++i) {
        if (groups[i] < 0 && listings[i]->partCount() > 1)
            groups[i] = group + 1;
    }
    return groups;
}

std::vector<const PostedFile *> ListingsOf(const PostedFile &file)
{
    std::vector<const PostedFile *> listings{&file};
    for (const PostedFile &copy : file.copies)
        listings.push_back(&copy);
    return listings;
}

std::vector<Range> CommonRanges(const std::vector<Range> &a, const std::vector<Range> &b)
{
    std::vector<Range> common;
    for (size_t i = 0, j = 0; i < a.size() && j < b.size();) {
        const qint64 low = qMax(a[i].low, b[j].low), high = qMin(a[i].high, b[j].high);
        if (low <= high)
            common.push_back({low, high});
        (a[i].high < b[j].high ? i : j)++;
    }
    return common;
}

std::vector<Range> LostInEvery(const PostedFile &file, qint64 length, qint64 unit,
                               const std::function<qint64(const PostedFile &)> &partSizeOf)
{
    std::optional<std::vector<Range>> common;
    for (const PostedFile *listing : ListingsOf(file)) {
        std::vector<Range> units;
        const qint64 partSize = FittingPartSize(length, listing->partCount(), partSizeOf(*listing));
        for (const Span &span : LostSpans(*listing, length, partSize))
            units.push_back({span.offset / unit, (span.offset + span.length - 1) / unit});
        units = JoinedRanges(std::move(units));
        common = common ? CommonRanges(*common, units) : std::move(units);
        if (common->empty())
            break;
    }
    return *common;
}

bool LostArticles(const PostedFile &file)
{
    if (file.copies.empty())
        return !file.missingParts().empty();
    // Every listing's estimate shares one ratio: enough to place their lost articles alike.
    const qint64 length = file.first ? file.first->fileSize : EstimatedLength(file, roughPartSize(file), {});
    return !LostInEvery(file, qMax<qint64>(length, 1), 1, roughPartSize).empty();
}

std::vector<PostedFile> MergedListings(std::vector<PostedFile> files)
{
    std::vector<PostedFile> merged;
    QHash<QString, size_t> firstOfName;
    for (PostedFile &file : files) {
        const QString key = file.name.toLower();
        const auto found = key.isEmpty() ? firstOfName.constEnd() : firstOfName.constFind(key);
        if (found != firstOfName.constEnd() && mayBeOneFile(merged[*found], file)) {
            merged[*found].copies.push_back(std::move(file));
            continue;
        }
        if (found == firstOfName.constEnd() && !key.isEmpty())
            firstOfName.insert(key, merged.size());
        merged.push_back(std::move(file));
    }
    for (PostedFile &file : merged) {
        std::vector<PostedFile> copies = std::exchange(file.copies, {});
        if (copies.empty())
            continue;
        const auto least = std::min_element(copies.begin(), copies.end(),
                                            [](const PostedFile &a, const PostedFile &b) { return lostShare(a) < lostShare(b); });
        if (lostShare(*least) < lostShare(file)) {
            std::swap(file.name, least->name);
            std::swap(file, *least);
        }
        for (const PostedFile &copy : copies)
            file.doubtful = file.doubtful || copy.doubtful;
        file.copies = std::move(copies);
    }
    return merged;
}

} // namespace repair
