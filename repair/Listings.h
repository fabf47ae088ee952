#pragma once

#include "repair/RepairVerdict.h"

#include <functional>

// A file's listings and where their lost articles lie in its bytes. An indexer that merges a
// repost lists one file twice, perhaps cut at another article size; a refill posts some files
// at another article size than the rest.
namespace repair {

// NZB bytes of an article are 1.00 to 1.06 times its decoded bytes (yEnc's escapes and lines),
// plus up to 1 KiB where the NZB counts its headers.
constexpr double kLeastRatio = 1.00;
constexpr double kMostRatio = 1.06;
constexpr qint64 kMostHeaderBytes = 1024;

// How NZB sizes read as decoded bytes: an article's headers, then ratio × its decoded bytes.
struct Encoding {
    double ratio = 1.03;
    qint64 headers = 0;
    bool shortLast = false; // a last part of no known size is 1 byte long, else a whole part
};

qint64 DecodedSize(qint64 bytes, Encoding encoding);

// The listing's length from its articles' NZB sizes, cut at `partSize` (at least 1).
qint64 EstimatedLength(const PostedFile &listing, qint64 partSize, Encoding encoding);

struct Span {
    qint64 offset;
    qint64 length;
};

// The bytes the listing's lost parts held, in a file of `length` bytes cut at `partSize`.
std::vector<Span> LostSpans(const PostedFile &listing, qint64 length, qint64 partSize);

// The NZB size of the listing's largest article but its last, which is cut at the post's
// article size; 0 when none is listed.
qint64 FullPartBytes(const PostedFile &listing);

// Articles of `bytes` NZB bytes may hold parts of `partSize` decoded bytes: yEnc and headers add
// 0 to 6 % and up to 1 KiB. True for 0, an article of no known size.
bool MayBeCutAt(qint64 bytes, qint64 partSize);

// Articles of these NZB sizes were cut at one article size: they differ by no more than
// headers and yEnc's escapes do.
bool SameArticleSize(qint64 bytes, qint64 otherBytes);

// Per listing a group number; listings of one group were cut at one article size, those of
// more than one part without sizes taken for one. -1 for a listing of one part.
std::vector<int> ArticleSizeGroups(const std::vector<const PostedFile *> &listings);

// The file and its copies.
std::vector<const PostedFile *> ListingsOf(const PostedFile &file);

// Sorted ranges, each of what both lists hold.
std::vector<Range> CommonRanges(const std::vector<Range> &a, const std::vector<Range> &b);

// The units (bytes for 1, blocks for a slice size) that every listing lost some of, as
// sorted ranges; `partSizeOf` gives a listing's article size.
std::vector<Range> LostInEvery(const PostedFile &file, qint64 length, qint64 unit,
                               const std::function<qint64(const PostedFile &)> &partSizeOf);

// Listings of one non-empty name (in any case) whose lengths may be equal become one file: the
// listing that lost least stands for it, under the first listing's name, the others are its copies.
std::vector<PostedFile> MergedListings(std::vector<PostedFile> files);

} // namespace repair
