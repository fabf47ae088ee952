#pragma once

#include "repair/IgnoreList.h"
#include "repair/Par2Packets.h"
#include "repair/Par2Sets.h"

#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <vector>

// Whether a post will be complete after par2 repair, counted in blocks.
namespace repair {

struct Range {
    qint64 low = 0;
    qint64 high = 0;
};

struct PostedSegment {
    int number = 0;    // the part number
    qint64 bytes = 0;  // the article's size as the NZB gives it; 0 when unknown
    bool missing = false;
    qsizetype segment = -1; // where the caller keeps the article
};

// What a file's first article told, once it was read.
struct FirstArticle {
    qint64 fileSize = 0;  // =ybegin size=
    QByteArray hash16k;   // MD5 of the file's first 16 KiB, when the article held them
    bool par2 = false;    // the article holds a PAR2 packet
    bool kindKnown = false; // it begins the file, or holds a packet: par2 or not is known
    qint64 bytesRead = 0;   // the article's decoded bytes
    std::optional<qint64> recoveryPacketSize; // of a recovery slice packet it starts with
};

struct PostedFile {
    QString name;      // from the subject
    int announced = 0; // parts the subject announces; 0: no counter
    std::vector<PostedSegment> segments;
    bool doubtful = false; // some article was found by a server whose sampled body failed
    std::optional<FirstArticle> first = std::nullopt;
    std::optional<qint64> partSize = std::nullopt; // decoded bytes per article, read off an article of its size
    // Other listings of the same file (a repost an indexer merged): each a source of its bytes.
    std::vector<PostedFile> copies = {};

    int partCount() const;
    // Part numbers the servers lack, and those announced but not listed, as sorted ranges that
    // neither touch nor overlap: a subject may announce two billion parts.
    std::vector<Range> missingParts() const;
};

// What the check read for a set: its critical packets and the post's article size.
struct FetchedFacts {
    par2::SetDescription description;
    std::optional<qint64> partSize;
    std::optional<double> bytesPerDecodedByte; // measured on the articles read
    qint64 decodedBytesRead = 0;               // what that was measured on
};

struct SetVerdict {
    enum Kind { NotNeeded, Possible, NotPossible, Uncertain, Unknown };
    Kind kind = NotNeeded;
    QString setName; // empty when the post has one set, or none
    Range needed;
    Range available;
    // Bodies sampled and failed, when they leave this set's "not needed" or "possible" in doubt.
    struct {
        int sampled = 0;
        int failed = 0;
    } statWrong;
    // Why no par2 file is known: none was found, the reading stopped at its budget after
    // `filesRead` files, or nothing was read and no name says par2.
    enum Search { NoneFound, BudgetSpent, NoneNamed };
    Search search = NoneFound;
    int filesRead = 0;

    QString line() const;
};

struct Judgement {
    std::vector<SetVerdict> verdicts;
    QStringList notCovered; // files outside every set that lost articles
    QStringList notNeeded;  // those of them the ignore list names: the download does without them
    // Files whose first article, read, could narrow a verdict: most useful first.
    std::vector<int> worthReading;

    // The verdict lines, a line on files the subjects announce and the NZB lacks, then a "Not
    // covered by par2: " line per file not covered, then a "Not covered by par2 (not needed): "
    // line per file not needed.
    QStringList lines() const;
    bool neededLost = false; // bytes of a file the download needs are missing
    // The NZB's file elements, and how many files the subjects' [i/N] counters announce.
    struct {
        int listed = 0;
        int announced = 0;
    } fileCount;
    // Nothing the data needs is missing: every verdict is "not needed", and every file outside
    // a set is whole or one the download does without.
    bool nothingLost() const;
    // The data will be complete: every verdict is "not needed" or "possible", and no file
    // outside a set lost articles but those not needed.
    bool dataComplete() const;
    // The data cannot be complete: a set is short of recovery blocks, or a file the download
    // needs lost articles outside every set.
    bool cannotBeComplete() const;
    // The line a status bar shows: the worst of lines(), the first of equals.
    QString worstLine() const;
};

// The bodies read after the check, and how many of them failed.
struct SampledBodies {
    int asked = 0;
    int failed = 0;
};

struct JudgeContext {
    SampledBodies sampled;
    IgnoreList ignore = IgnoreList::inEffect();
    bool reading = true;      // articles could be read (not with --stat-only)
    bool budgetSpent = false; // the reading for hidden names stopped at its budget
    int filesListed = 0;      // the NZB's file elements, a file listed twice counted twice
    int filesAnnounced = 0;   // by the subjects' [i/N] counters; 0: none
};

// `facts` is keyed by the set's position in `grouping.sets`. A set that holds a doubtful file is
// promised nothing when a sampled body failed.
Judgement Judge(const std::vector<PostedFile> &files, const Grouping &grouping,
                const std::map<int, FetchedFacts> &facts, const JudgeContext &context = {});

// Some bytes of the file are missing: in each of its listings, an article the servers lack or
// the NZB does not list held them.
bool LostArticles(const PostedFile &file);

} // namespace repair
