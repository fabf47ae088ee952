#include "CheckReport.h"

#include "check/CheckRun.h"
#include "nzb/Numbers.h"
#include "nzb/NzbLoader.h"

#include <QJsonArray>

#include <algorithm>
#include <array>

namespace {

// The share as the text shows it, rounded to two places, so both outputs give the same figure.
QJsonValue percentOf(qint64 part, qint64 whole)
{
    if (whole == 0)
        return QJsonValue::Null;
    return formatRounded(double(part) / double(whole) * 100.0, 2, u'.').toDouble();
}

QString statusName(int exitCode)
{
    switch (exitCode) {
    case Success: return QStringLiteral("complete");
    case Repairable: return QStringLiteral("repairable");
    case SomethingMissing: return QStringLiteral("incomplete");
    default: return QStringLiteral("error");
    }
}

QString itemStatusName(ItemStatus status)
{
    switch (status) {
    case ItemStatus::Available: return QStringLiteral("available");
    case ItemStatus::Missing: return QStringLiteral("missing");
    case ItemStatus::Queued:
    case ItemStatus::Checking: break;
    }
    return QStringLiteral("queued");
}

QString verdictName(repair::SetVerdict::Kind kind)
{
    switch (kind) {
    case repair::SetVerdict::NotNeeded: return QStringLiteral("not needed");
    case repair::SetVerdict::Possible: return QStringLiteral("possible");
    case repair::SetVerdict::NotPossible: return QStringLiteral("not possible");
    case repair::SetVerdict::Uncertain: return QStringLiteral("uncertain");
    case repair::SetVerdict::Unknown: break;
    }
    return QStringLiteral("unknown");
}

QJsonObject loadJson(const LoadStatistics &statistics)
{
    return {
        {QStringLiteral("files"), statistics.fileCount},
        {QStringLiteral("required"), statistics.requiredCount},
        {QStringLiteral("found"), statistics.foundCount},
        {QStringLiteral("missingFromNzb"), statistics.requiredCount - statistics.foundCount},
        {QStringLiteral("missingPercent"), percentOf(statistics.requiredCount - statistics.foundCount, statistics.requiredCount)},
        {QStringLiteral("postedDaysAgo"), statistics.postedDaysAgo ? QJsonValue(*statistics.postedDaysAgo) : QJsonValue::Null},
    };
}

QJsonArray filesJson(const NzbModel &nzb)
{
    std::vector<qint64> bytes(size_t(nzb.itemCount()) + 1, 0);
    const ArticleQueue &queue = nzb.articleQueue();
    for (qsizetype position = 1; position <= queue.count(); ++position) {
        const QueueEntry entry = queue.entry(position);
        bytes[size_t(entry.itemIndex)] += nzb.segments()[size_t(entry.segment)].bytes;
    }
    QJsonArray files;
    for (int index = 1; index <= nzb.itemCount(); ++index) {
        const NzbItem &item = nzb.item(index);
        files.append(QJsonObject{
            {QStringLiteral("index"), index},
            {QStringLiteral("name"), item.fileName},
            {QStringLiteral("subject"), item.subject},
            {QStringLiteral("status"), itemStatusName(item.status)},
            {QStringLiteral("announced"), item.announced},
            {QStringLiteral("listed"), item.segmentCount},
            {QStringLiteral("available"), item.available.toLongLong()},
            {QStringLiteral("bytes"), bytes[size_t(index)]},
        });
    }
    return files;
}

QJsonArray serversJson(const CheckRun &run)
{
    QJsonArray servers;
    for (const CheckRun::ServerTally &tally : run.serverTallies()) {
        servers.append(QJsonObject{
            {QStringLiteral("nickname"), tally.nickname},
            {QStringLiteral("asked"), tally.asked},
            {QStringLiteral("found"), tally.found},
            {QStringLiteral("errors"), QJsonArray::fromStringList(tally.errors)},
        });
    }
    return servers;
}

QJsonArray repairJson(const repair::Judgement &judgement)
{
    const auto range = [](repair::Range r) { return QJsonArray{r.low, r.high}; };
    QJsonArray sets;
    for (const repair::SetVerdict &verdict : judgement.verdicts) {
        sets.append(QJsonObject{
            {QStringLiteral("set"), verdict.setName.isEmpty() ? QJsonValue::Null : QJsonValue(verdict.setName)},
            {QStringLiteral("verdict"), verdictName(verdict.kind)},
            {QStringLiteral("needed"), range(verdict.needed)},
            {QStringLiteral("available"), range(verdict.available)},
        });
    }
    return sets;
}

// Every key in every line, null where it does not apply, so a script need not test for it.
QJsonObject nzbJson(const QString &path, int exitCode)
{
    QJsonObject object{{QStringLiteral("nzb"), path}, {QStringLiteral("status"), statusName(exitCode)}, {QStringLiteral("exit"), exitCode}};
    for (const char *key : {"error", "load", "files", "servers", "report", "sample", "repair", "notCovered", "notNeeded"})
        object.insert(QLatin1String(key), QJsonValue::Null);
    return object;
}

} // namespace

void writeLine(std::FILE *stream, const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

int worseExitCode(int a, int b)
{
    static constexpr std::array kBestFirst{Success, Repairable, SomethingMissing, LoadFailed, ParseFailed};
    const auto rank = [](int code) { return std::find(kBestFirst.begin(), kBestFirst.end(), code) - kBestFirst.begin(); };
    return rank(a) >= rank(b) ? a : b;
}

int checkExitCode(const CheckRun &run)
{
    // A redundant listing or a file the download does without may lose articles: nothing is missing then.
    if (run.judgement().nothingLost())
        return Success;
    return run.judgement().dataComplete() ? Repairable : SomethingMissing;
}

QJsonObject checkedNzbJson(const QString &path, const NzbModel &nzb, const CheckRun &run)
{
    QJsonObject object = nzbJson(path, checkExitCode(run));
    const LoadStatistics &statistics = nzb.statistics();
    object[QStringLiteral("load")] = loadJson(statistics);
    object[QStringLiteral("files")] = filesJson(nzb);
    object[QStringLiteral("servers")] = serversJson(run);
    object[QStringLiteral("report")] = QJsonObject{
        {QStringLiteral("checked"), statistics.foundCount},
        {QStringLiteral("undownloadable"), run.undownloadable()},
        {QStringLiteral("percent"), percentOf(run.undownloadable(), statistics.requiredCount)},
    };
    if (const auto &sample = run.sampleOutcome())
        object[QStringLiteral("sample")] = QJsonObject{{QStringLiteral("asked"), sample->asked}, {QStringLiteral("failed"), sample->failed}};
    object[QStringLiteral("repair")] = repairJson(run.judgement());
    object[QStringLiteral("notCovered")] = QJsonArray::fromStringList(run.judgement().notCovered);
    object[QStringLiteral("notNeeded")] = QJsonArray::fromStringList(run.judgement().notNeeded);
    return object;
}

QJsonObject unloadedNzbJson(const QString &path, const NzbLoadResult &result, int exitCode)
{
    QJsonObject object = nzbJson(path, exitCode);
    const bool parseError = result.kind == NzbLoadResult::Kind::ParseError;
    object[QStringLiteral("error")] = QJsonObject{
        {QStringLiteral("number"), result.errorNumber},
        {QStringLiteral("text"), result.errorReason},
        {QStringLiteral("line"), parseError ? QJsonValue(result.errorLine) : QJsonValue::Null},
    };
    return object;
}
