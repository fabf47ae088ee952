#include "repair/RepairVerdict.h"

#include "repair/FileMatching.h"
#include "repair/Listings.h"
#include "repair/SetEvaluation.h"

#include <algorithm>
#include <cmath>

namespace repair {
namespace {

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
    return JoinedRanges(std::move(parts));
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
    if (fileCount.announced > fileCount.listed)
        lines << QStringLiteral("The NZB lists %1 of the %2 files its subjects announce.").arg(fileCount.listed).arg(fileCount.announced);
    for (const QString &name : notCovered)
        lines << kNotCovered + name;
    for (const QString &name : notNeeded)
        lines << kNotCoveredNotNeeded + name;
    return lines;
}

bool Judgement::nothingLost() const
{
    return !neededLost && notCovered.isEmpty()
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

// No extension tells what the file is: an obfuscated name, or none at all.
bool mayHideItsKind(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 || name.size() - dot > 6 || name.startsWith(QLatin1String("file "));
}

bool anyArticleFound(const PostedFile &file)
{
    return std::any_of(file.segments.begin(), file.segments.end(), [](const PostedSegment &segment) { return !segment.missing; });
}

void addUnread(std::vector<int> &list, const std::vector<PostedFile> &files, const std::vector<int> &candidates)
{
    for (const int file : candidates) {
        if (!files[size_t(file)].first && anyArticleFound(files[size_t(file)]) && std::find(list.begin(), list.end(), file) == list.end())
            list.push_back(file);
    }
}

// Files not described by the index, unread, whose size leaves room for recovery blocks: volumes
// under other names, perhaps. They widen the blocks available where that changes the verdict.
qint64 hiddenVolumeRoom(const std::vector<PostedFile> &files, const SetMembers &members, const FetchedFacts &facts)
{
    qint64 blocks = 0;
    const qint64 packet = facts.description.recoveryPacketSize();
    for (const int file : members.undescribed) {
        const PostedFile &posted = files[size_t(file)];
        if (!posted.first && anyArticleFound(posted) && mayHideItsKind(posted.name))
            blocks += qMin(PossibleLengths(posted, CluesOf(facts)).high, ListedBytes(posted) + 1024) / packet;
    }
    return blocks;
}

void allowForHiddenVolumes(SetVerdict &verdict, const std::vector<PostedFile> &files, const SetMembers &members, const FetchedFacts &facts)
{
    const SetVerdict widened = VerdictFor(verdict.needed, {verdict.available.low, verdict.available.high + hiddenVolumeRoom(files, members, facts)});
    if (widened.kind != verdict.kind)
        verdict = widened;
}

bool namesHideItsPar2Files(const std::vector<PostedFile> &files, const Par2Set &set)
{
    const auto hidden = [&files](int file) { return mayHideItsKind(files[size_t(file)].name); };
    return (set.index >= 0 && hidden(set.index)) || std::any_of(set.volumes.begin(), set.volumes.end(), hidden);
}

// Bytes of a par2 file as long as its longest packet hold the start of a packet.
bool knownNotPar2(const PostedFile &file, const par2::SetDescription &description)
{
    if (!file.first)
        return false;
    qint64 longest = description.recoveryPacketSize();
    for (const qint64 size : description.criticalPacketSizes)
        longest = qMax(longest, size);
    return file.first->kindKnown || file.first->bytesRead / 2 >= longest;
}

// A file whose kind no article read could tell, whose name hides it and whose size is that of
// the set's index or of one of its volumes, is taken for a par2 file, not for data the set
// lacks: in a post whose par2 files hide their names, data files are those the index describes.
void markHiddenPar2Files(const std::vector<PostedFile> &files, const SetMembers &members, const FetchedFacts &facts, std::vector<bool> &covered)
{
    for (const int file : members.undescribed) {
        const PostedFile &posted = files[size_t(file)];
        if (knownNotPar2(posted, facts.description) || !mayHideItsKind(posted.name))
            continue;
        const Range lengths = PossibleLengths(posted, CluesOf(facts));
        qint64 low = 0, high = qMin<qint64>(lengths.high / facts.description.recoveryPacketSize() + 1, kMostBlocks);
        while (low < high) { // the fewest blocks whose volume reaches the lengths
            const qint64 middle = low + (high - low) / 2;
            if (par2::VolumeSize(facts.description, middle) < lengths.low)
                low = middle + 1;
            else
                high = middle;
        }
        if (par2::VolumeSize(facts.description, low) <= lengths.high)
            covered[size_t(file)] = true;
    }
}

// Files whose first article would settle a pairing, or say whether a file that lost articles
// is outside the set or a par2 file; where the verdict is uncertain, also what complete files are.
std::vector<int> worthReadingFor(const std::vector<PostedFile> &files, const SetMembers &members, bool uncertain)
{
    std::vector<int> worth;
    for (const PairedGroup &group : members.unsettled)
        worth.insert(worth.end(), group.files.begin(), group.files.end());
    std::copy_if(members.undescribed.begin(), members.undescribed.end(), std::back_inserter(worth),
                 [&](int file) { return LostArticles(files[size_t(file)]) && mayHideItsKind(files[size_t(file)].name); });
    if (uncertain) {
        worth.insert(worth.end(), members.loose.begin(), members.loose.end());
        worth.insert(worth.end(), members.undescribed.begin(), members.undescribed.end());
    }
    return worth;
}

// About the size of a par2 index of these files, at slices of the post's article size: par2
// files hidden under other names are looked for nearest to it first.
qint64 impliedIndexSize(const std::vector<PostedFile> &files)
{
    qint64 largest = 1;
    for (const PostedFile &file : files)
        largest = qMax(largest, LargestSegmentBytes(file));
    qint64 size = 64 + 12 + 16 * qint64(files.size()) + kCreatorPacketEstimate;
    for (const PostedFile &file : files)
        size += 64 + 56 + Padded4(file.name.toUtf8().size()) + 64 + 16 + 20 * CeilDiv(ListedBytes(file), largest);
    return size;
}

// No file is named as par2: the files may still hold par2 files under other names.
SetVerdict withoutSets(const std::vector<PostedFile> &files, Judgement &judgement, const JudgeContext &context)
{
    SetVerdict verdict;
    verdict.kind = judgement.notCovered.isEmpty() ? SetVerdict::NotNeeded : SetVerdict::Unknown;
    // One file alone cannot be both the data and its par2 file. Where every article was found,
    // only an index under another name would tell of files the NZB leaves out.
    const bool namesHide = std::any_of(files.begin(), files.end(), [](const PostedFile &file) { return mayHideItsKind(file.name); });
    if ((verdict.kind == SetVerdict::NotNeeded && !namesHide) || files.size() < 2)
        return verdict;
    // Unread, a file that lost articles may yet be covered by a par2 set whose names hide it:
    // the download is not known to be hopeless.
    if (!context.reading) {
        if (namesHide) {
            verdict.search = SetVerdict::NoneNamed;
            judgement.notCovered.clear();
        }
        return verdict;
    }
    // A name with an extension such as ".rar" places its file as no par2 file.
    std::vector<int> unread;
    for (size_t file = 0; file < files.size(); ++file) {
        if (files[file].first)
            ++verdict.filesRead;
        else if (mayHideItsKind(files[file].name))
            unread.push_back(int(file));
    }
    const double implied = std::log(double(impliedIndexSize(files)));
    const auto distance = [&](int file) { return std::abs(std::log(double(qMax<qint64>(ListedBytes(files[size_t(file)]), 1))) - implied); };
    std::stable_sort(unread.begin(), unread.end(), [&](int a, int b) { return distance(a) < distance(b); });
    addUnread(judgement.worthReading, files, unread);
    if (context.budgetSpent && !judgement.worthReading.empty() && verdict.kind == SetVerdict::Unknown)
        verdict.search = SetVerdict::BudgetSpent;
    return verdict;
}

// Unread, an index cannot tell what files the NZB lacks: they may need more blocks than the
// set has, as many as its index can describe (20 bytes each).
void withoutUnlistedFiles(SetVerdict &verdict, const std::vector<PostedFile> &files, const Par2Set &set)
{
    if (verdict.kind == SetVerdict::NotPossible || verdict.kind == SetVerdict::Unknown || verdict.statWrong.failed > 0)
        return;
    verdict.needed.high = std::max({verdict.needed.high, verdict.available.high + 1, DescribableBlocks(files, set)});
    verdict.kind = SetVerdict::Uncertain;
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
        if (setFacts && setFacts->description.complete() && namesHideItsPar2Files(files, set))
            markHiddenPar2Files(files, members, *setFacts, covered);
        for (const int file : members.data)
            covered[size_t(file)] = true;
        for (const PairedGroup &group : members.unsettled) {
            for (const int file : group.files)
                covered[size_t(file)] = true;
        }
        SetVerdict verdict = JudgeSet(files, set, members, setFacts);
        if (setFacts && setFacts->description.complete())
            allowForHiddenVolumes(verdict, files, members, *setFacts);
        addUnread(judgement.worthReading, files, worthReadingFor(files, members, verdict.kind == SetVerdict::Uncertain));
        doubt(verdict, anyDoubtful(files, members.data) || anyDoubtful(files, set.volumes) || (set.index >= 0 && files[size_t(set.index)].doubtful),
              context.sampled);
        if (grouping.sets.size() > 1)
            verdict.setName = set.name;
        judgement.verdicts.push_back(verdict);
    }
    for (size_t file = 0; file < files.size(); ++file) {
        if (!LostArticles(files[file]))
            continue;
        const bool notNeeded = outside[file] && !covered[file] && context.ignore.matches(files[file].name);
        judgement.neededLost = judgement.neededLost || !notNeeded;
        if (outside[file] && !covered[file])
            (notNeeded ? judgement.notNeeded : judgement.notCovered) << files[file].name;
    }
    judgement.fileCount = {context.filesListed, context.filesAnnounced};
    if (!context.reading && context.filesAnnounced > context.filesListed) {
        for (size_t set = 0; set < grouping.sets.size(); ++set)
            withoutUnlistedFiles(judgement.verdicts[set], files, grouping.sets[set]);
    }
    if (grouping.sets.empty()) {
        judgement.verdicts.push_back(withoutSets(files, judgement, context));
        doubt(judgement.verdicts.back(), std::any_of(files.begin(), files.end(), [](const PostedFile &file) { return file.doubtful; }), context.sampled);
    }
    return judgement;
}

} // namespace repair
