#include "HandOver.h"

#include "CheckReport.h"

#include "check/CheckResults.h"
#include "nzb/NzbLoader.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

QString UnreadableNzbReason(const NzbLoadResult &loaded)
{
    return QStringLiteral("the NZB could not be read (%1)").arg(loaded.errorReason);
}

void HandOver::checkNzb(const QString &path, const HandOverSetup &setup)
{
    LoadOptions options;
    options.now = QDateTime::currentDateTime();
    NzbLoadResult loaded = LoadNzb(path, options);
    if (!loaded.loaded())
        return release(UnreadableNzbReason(loaded));
    checkNzb(*loaded.model, setup);
}

void HandOver::checkNzb(NzbModel &nzb, const HandOverSetup &setup)
{
    if (setup.servers.empty())
        return release(setup.noServerReason);
    repair::IgnoreList::setInEffect(setup.ignore);
    CheckRun run(nzb, setup.servers, u'.');
    run.setConnectionOptions({false, ConnectionOptions().idleTimeoutSeconds, setup.caCertificates});
    QEventLoop loop;
    QObject::connect(&run, &CheckRun::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QTimer::singleShot(setup.deadline.remainingTime(), &loop, &QEventLoop::quit);
    run.start();
    if (run.isRunning())
        loop.exec();
    if (run.isRunning()) {
        run.cancel();
        return release(QStringLiteral("the check took longer than %1 seconds").arg(setup.deadlineSeconds));
    }
    judge(nzb, run, setup.failIncomplete);
}

// A job fails only on a verdict: a server given up may have had what the others lack.
void HandOver::judge(const NzbModel &nzb, const CheckRun &run, bool failIncomplete)
{
    const repair::Judgement &judgement = run.judgement();
    const auto givenUp = std::find_if(run.serverTallies().begin(), run.serverTallies().end(),
                                      [](const CheckRun::ServerTally &tally) { return tally.givenUp; });
    const bool serverGivenUp = givenUp != run.serverTallies().end();
    const bool hopeless = !serverGivenUp && (failIncomplete ? checkExitCode(run) == SomethingMissing : judgement.cannotBeComplete());
    for (const QString &line : results::WriteSummary(nzb, u'.')) {
        if (!line.isEmpty())
            report(line, false);
    }
    for (const QString &line : judgement.lines())
        report(line, hopeless);
    if (serverGivenUp) {
        const QString error = givenUp->errors.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(givenUp->errors.first());
        return release(QStringLiteral("the newsserver %1 was given up%2").arg(givenUp->nickname, error));
    }
    hopeless ? failJob() : passJob();
}
