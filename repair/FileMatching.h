#pragma once

#include "repair/RepairVerdict.h"

// Pairing the files an index describes with posted files whose names are hidden: by length,
// as the NZB's article sizes tell it, and by content once a first article was read.
namespace repair {

// What tells a file's length without its name.
struct SizeClues {
    std::optional<qint64> partSize; // the post's article size, in decoded bytes
    std::optional<double> ratio;    // NZB bytes per decoded byte, measured on large enough articles
};

// The clues an index's reading gave.
SizeClues CluesOf(const FetchedFacts &facts);

// The lengths the posted file can have, both ends included.
Range PossibleLengths(const PostedFile &file, const SizeClues &clues);

// Files and the descriptions they may be; every file may be any of them, through others.
struct PairedGroup {
    std::vector<int> files;
    std::vector<int> descriptions;
    std::vector<qint64> descriptionLengths; // of `descriptions`
    // Per file of `files`: the lengths it may have, of the group's descriptions.
    std::vector<std::vector<qint64>> lengths;
    // Each file has one length, with no more files of a length than descriptions: files of
    // equal length are interchangeable for counting blocks, so the pairing is as good as known.
    bool settled() const;
};

// Groups `candidates` (posted files) with the `open` descriptions (positions in `described`)
// they may be. A file no description can be is in no group, nor is a description no file can be.
std::vector<PairedGroup> PairByLength(const std::vector<PostedFile> &files, const std::vector<int> &candidates,
                                      const std::vector<par2::FileDescription> &described, const std::vector<int> &open,
                                      const SizeClues &clues);

// A set's files once the index, if read, has said which files it describes.
struct SetMembers {
    std::vector<int> data;             // posted files of the set
    std::vector<qint64> lengths;       // their lengths, -1 where the index did not say
    std::vector<qint64> absentLengths; // files the index describes and the NZB lacks
    std::vector<int> undescribed;      // placed by name, or by no name, yet the index does not describe them
    std::vector<PairedGroup> unsettled; // files that may be several of the described files
    // Complete files of no known length that no description fits, while some described file is
    // absent: a length misjudged would make them that file.
    std::vector<int> loose;
};

// By name first; else, among the set's files and `uncovered` that no description names, by
// length and content. `claimed` keeps each posted file to one set.
SetMembers MembersOf(const std::vector<PostedFile> &files, const Par2Set &set, const std::vector<int> &uncovered,
                     const FetchedFacts *facts, std::vector<bool> &claimed);

} // namespace repair
