#include "NzbgetMode.h"

#include "CheckReport.h"
#include "NzbgetEnvironment.h"
#include "NzbgetRpc.h"

#include "nzb/LogText.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QSslCertificate>

#include <algorithm>
#include <vector>

namespace {

// NZBGet runs one queue extension at a time: a check that takes longer lets the job download
// unchecked rather than hold the queue's other jobs.
constexpr int kCheckDeadlineSeconds = 120;

// Every line starts with the extension's own prefix and holds no control character, so no
// text from an NZB, a server or NZBGet can make a line that NZBGet reads as an "[NZB] " command.
void say(const char *level, const QString &text)
{
    writeLine(stdout, QLatin1String(level) + QLatin1String(" Orvalis: ") + singleLogLine(text));
}

void info(const QString &text) { say("[INFO]", text); }
void warn(const QString &text) { say("[WARNING]", text); }

// Only the extension's own commands, never text from outside.
void command(const QString &text)
{
    writeLine(stdout, QLatin1String("[NZB] ") + text);
}

// Qt's own warnings reach NZBGet's log as details, one line each.
void logQtMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    say("[DETAIL]", message);
}

QList<QSslCertificate> certificatesOf(const QString &certStore)
{
    if (certStore.isEmpty())
        return {};
    if (QFileInfo(certStore).isDir())
        return QSslCertificate::fromPath(QDir(certStore).filePath(QStringLiteral("*")), QSsl::Pem, QSslCertificate::PatternSyntax::Wildcard);
    return QSslCertificate::fromPath(certStore, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
}

// The IDs of a job's files but those NZBGet's GroupPauseExtraPars pauses, by its own rule: with
// a par2 file that is no volume, every volume (".vol" in its name); else every volume but the
// smallest.
QJsonArray filesToResume(const QJsonArray &files, bool everyFile)
{
    QJsonArray ids;
    std::vector<QJsonValue> volumes;
    bool plainPar2 = false;
    for (const QJsonValue file : files) {
        const QString name = file[QStringLiteral("Filename")].toString().toLower();
        const bool par2 = name.contains(QLatin1String(".par2"));
        const bool volume = par2 && name.contains(QLatin1String(".vol"));
        plainPar2 = plainPar2 || (par2 && !volume);
        if (volume && !everyFile)
            volumes.push_back(file);
        else
            ids.append(file[QStringLiteral("ID")]);
    }
    const auto size = [](const QJsonValue &file) {
        return file[QStringLiteral("FileSizeHi")].toInteger() << 32 | file[QStringLiteral("FileSizeLo")].toInteger();
    };
    const auto smallest = std::min_element(volumes.begin(), volumes.end(), [&](const QJsonValue &a, const QJsonValue &b) { return size(a) < size(b); });
    if (!plainPar2 && smallest != volumes.end())
        ids.append((*smallest)[QStringLiteral("ID")]);
    return ids;
}

class Extension : public HandOver
{
public:
    explicit Extension(const NzbgetCall &call)
        : m_call(call)
        , m_rpc(call.control)
    {
    }

    // A job the user added paused stays the user's, and one the extension could not resume
    // later is never paused.
    void scan()
    {
        if (m_call.addedPaused)
            return;
        const auto version = m_rpc.call(QStringLiteral("version"), {});
        if (const auto *problem = std::get_if<QString>(&version)) {
            warn(QStringLiteral("NZBGet's JSON-RPC does not answer on %1 (%2): the job downloads before its check.").arg(m_rpc.address(), *problem));
            return;
        }
        command(QStringLiteral("PAUSED=1"));
        command(QStringLiteral("NZBPR_%1=%2").arg(kNzbgetMarker, kNzbgetMarkerValue));
    }

    void added()
    {
        if (!m_call.verdictOption.isEmpty())
            warn(QStringLiteral("the option Verdict is \"%1\", neither not-possible nor incomplete: taken as not-possible.").arg(m_call.verdictOption));
        HandOverSetup setup{m_call.servers, m_call.ignore, certificatesOf(m_call.certStore), m_call.failIncomplete,
                            QDeadlineTimer(kCheckDeadlineSeconds * 1000), kCheckDeadlineSeconds,
                            QStringLiteral("NZBGet has no active newsserver to check with")};
        checkNzb(m_call.nzbPath, setup);
    }

    // At NZBGet's start: a job held since before it was left by a check that never ended. One
    // added since, with its newest message from a later second than the start, still waits for
    // its check. Times count in NZBGet's whole seconds, so a job whose newest message shares the
    // start's second is resumed: it might be an old one, and none may stay paused for good.
    void scheduled()
    {
        const auto status = m_rpc.call(QStringLiteral("status"), {});
        const auto groups = m_rpc.call(QStringLiteral("listgroups"), {});
        if (const QString *problem = std::holds_alternative<QString>(status) ? std::get_if<QString>(&status) : std::get_if<QString>(&groups)) {
            warn(QStringLiteral("NZBGet's JSON-RPC does not answer on %1 (%2): resume any job held for a check by hand.").arg(m_rpc.address(), *problem));
            return;
        }
        const QJsonValue now = std::get<QJsonValue>(status);
        const qint64 started = now[QStringLiteral("ServerTime")].toInteger(QDateTime::currentSecsSinceEpoch()) - now[QStringLiteral("UpTimeSec")].toInteger();
        for (const QJsonValue group : std::get<QJsonValue>(groups).toArray()) {
            const int id = group[QStringLiteral("NZBID")].toInt();
            if (carriesMarker(group) && newestMessageTime(id) <= started && resume(id))
                info(QStringLiteral("resumed %1, held for a check that did not end.").arg(group[QStringLiteral("NZBName")].toString()));
        }
    }

private:
    void report(const QString &line, bool hopeless) override { hopeless ? warn(line) : info(line); }
    void failJob() override { command(QStringLiteral("MARK=BAD")); }

    void passJob() override
    {
        if (m_call.held)
            resume(m_call.nzbId);
    }

    // What the check could not judge never costs the job its download.
    void release(const QString &why) override
    {
        warn(why + QStringLiteral("; the job downloads as without the check."));
        passJob();
    }

    static bool carriesMarker(const QJsonValue &group)
    {
        const QJsonArray parameters = group[QStringLiteral("Parameters")].toArray();
        return std::any_of(parameters.begin(), parameters.end(), [](const QJsonValue &parameter) {
            return parameter[QStringLiteral("Name")] == kNzbgetMarker && parameter[QStringLiteral("Value")] == kNzbgetMarkerValue;
        });
    }

    // In seconds since the epoch; 0 when NZBGet keeps no log of the job.
    qint64 newestMessageTime(int id)
    {
        const auto messages = m_rpc.call(QStringLiteral("loadlog"), {id, 0, 1});
        const QJsonValue *log = std::get_if<QJsonValue>(&messages);
        return log ? (*log)[0][QStringLiteral("Time")].toInteger() : 0;
    }

    // As NZBGet's own interface resumes a job, its recovery volumes paused until a repair wants
    // them, but file by file: resuming all and then pausing the volumes again lets NZBGet start
    // a volume in between, and NZBGet 21 loses what it wrote of it (measured: "Could not open
    // file ...out.tmp", the repair then fails). The marker goes too, so a later pause by the
    // user stays.
    bool resume(int id)
    {
        const auto files = m_rpc.call(QStringLiteral("listfiles"), {0, 0, id});
        if (const QString *problem = std::get_if<QString>(&files))
            return refused(QStringLiteral("listfiles"), id, *problem);
        const QJsonArray ids = filesToResume(std::get<QJsonValue>(files).toArray(), m_call.parCheckForced);
        return (ids.isEmpty() || edit(QStringLiteral("FileResume"), {}, ids, id)) // none left in a job being post-processed
               && edit(QStringLiteral("GroupSetParameter"), kNzbgetMarker + u'=', {id}, id);
    }

    bool edit(const QString &command, const QString &parameter, const QJsonArray &ids, int job)
    {
        const auto done = m_rpc.call(QStringLiteral("editqueue"), {command, parameter, ids});
        if (const QString *problem = std::get_if<QString>(&done))
            return refused(command, job, *problem);
        return std::get<QJsonValue>(done).toBool() || refused(command, job, QStringLiteral("refused"));
    }

    static bool refused(const QString &command, int job, const QString &why)
    {
        say("[ERROR]", QStringLiteral("NZBGet did not do %1 for job %2 (%3): resume it by hand.").arg(command).arg(job).arg(why));
        return false;
    }

    const NzbgetCall &m_call;
    NzbgetRpc m_rpc;
};

} // namespace

int RunNzbgetExtension(const QProcessEnvironment &environment)
{
    const NzbgetCall call = ReadNzbgetCall(environment);
    if (call.step == NzbgetCall::Step::None) {
        writeLine(stderr, QStringLiteral("orvalis-check: --nzbget runs as NZBGet's extension: the environment names no scan, queue event or scheduled task."));
        return UsageError;
    }
    qInstallMessageHandler(logQtMessage);
    Extension extension(call);
    switch (call.step) {
    case NzbgetCall::Step::Scan: extension.scan(); break;
    case NzbgetCall::Step::Added: extension.added(); break;
    case NzbgetCall::Step::Scheduled: extension.scheduled(); break;
    case NzbgetCall::Step::OtherEvent:
    case NzbgetCall::Step::None: break;
    }
    return Success;
}
