#pragma once

#include "check/CheckRun.h"
#include "repair/IgnoreList.h"

#include <QDeadlineTimer>
#include <QSslCertificate>
#include <QString>

#include <vector>

// What a downloader's hand-over checks a job with.
struct HandOverSetup {
    std::vector<CheckServer> servers; // the downloader's, in its order, at most kConnectionsPerServer each
    repair::IgnoreList ignore;
    QList<QSslCertificate> caCertificates; // trusted beside the system's store
    bool failIncomplete = false;           // fail also what repair cannot be counted on to mend
    QDeadlineTimer deadline;               // then the check ends unjudged
    int deadlineSeconds = 0;               // as the downloader's hand-over names its deadline
    QString noServerReason;                // why nothing can be checked when `servers` is empty

    // The downloader downloads other jobs meanwhile: a check takes no more than this from any server.
    static constexpr int kConnectionsPerServer = 4;
};

struct NzbLoadResult;

// Why a job is not checked when its NZB could not be loaded.
QString UnreadableNzbReason(const NzbLoadResult &loaded);

// orvalis-check inside a downloader that hands it each new job before a byte is downloaded:
// checks the job's NZB and tells the downloader whether to fail it. A check that cannot judge
// never costs the job its download.
class HandOver
{
public:
    virtual ~HandOver() = default;

    // Loads and checks the NZB at `path`; reports its lines, then ends in exactly one of
    // failJob(), passJob() and release().
    void checkNzb(const QString &path, const HandOverSetup &setup);
    // The same for an NZB already loaded.
    void checkNzb(NzbModel &nzb, const HandOverSetup &setup);

protected:
    // One line of the report; `hopeless` for a verdict line of a job that fails.
    virtual void report(const QString &line, bool hopeless) = 0;
    // The data cannot be complete (or, with failIncomplete, cannot be counted on).
    virtual void failJob() = 0;
    // Judged: the job may download.
    virtual void passJob() = 0;
    // Not judged: the job downloads as without the check.
    virtual void release(const QString &why) = 0;

private:
    void judge(const NzbModel &nzb, const CheckRun &run, bool failIncomplete);
};
