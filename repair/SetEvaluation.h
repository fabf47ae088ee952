#pragma once

#include "repair/FileMatching.h"

// Counting a set's blocks: those its data needs and those its volumes hold, exactly where the
// index and an article told enough, else as the range every consistent guess gives.
namespace repair {

constexpr qint64 kCreatorPacketEstimate = 64 + 40;
// A PAR2 set has at most 65,535 recovery blocks.
constexpr qint64 kMostBlocks = 65535;

// Not (a + b - 1) / b: an index may claim lengths near 2^63.
inline qint64 CeilDiv(qint64 a, qint64 b) { return b > 0 ? a / b + (a % b > 0 ? 1 : 0) : 0; }
inline qint64 Padded4(qint64 n) { return CeilDiv(n, 4) * 4; }

// Sorted, with ranges that overlap or touch made one.
std::vector<Range> JoinedRanges(std::vector<Range> ranges);

qint64 LargestSegmentBytes(const PostedFile &file);
// The NZB sizes of the file's articles, summed.
qint64 ListedBytes(const PostedFile &file);

// A file of `parts` parts and `length` bytes was cut into parts of one size within these
// bounds: the nearest to `partSize` of them.
qint64 FittingPartSize(qint64 length, int parts, qint64 partSize);

// The most data blocks the set's index can describe, at 20 bytes each, from its NZB size; 0
// without an index.
qint64 DescribableBlocks(const std::vector<PostedFile> &files, const Par2Set &set);

// The kind a set's blocks make its verdict.
SetVerdict VerdictFor(const Range &needed, const Range &available);

SetVerdict JudgeSet(const std::vector<PostedFile> &files, const Par2Set &set, const SetMembers &members, const FetchedFacts *facts);

} // namespace repair
