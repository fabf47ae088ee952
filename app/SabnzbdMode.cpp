#include "SabnzbdMode.h"

#include "CheckReport.h"
#include "HandOver.h"
#include "SabnzbdConfig.h"

#include "nzb/LogText.h"
#include "nzb/NzbLoader.h"
#include "settings/SettingsFile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <unistd.h>

namespace {

// SABnzbd waits for its pre-queue script without a limit, inside the request that adds the
// job: whoever added it (Sonarr, Radarr) waits as long.
constexpr int kDeadlineSeconds = 60;
// SABnzbd saves a job's NZB just before it runs the script.
constexpr int kNewestSeconds = 60;

// Qt's own warnings, kept for after the answer.
QStringList qtMessages;

void keepQtMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    qtMessages << message;
}

// The name SABnzbd gives the copy of a job's NZB: its file name, blanks around it removed and
// the characters it takes as illegal replaced, then ".gz" after ".nzb", else ".nzb.gz".
QString savedName(QString name, bool sanitizeSafe)
{
    const QString illegal = sanitizeSafe ? QStringLiteral("\\/<>?*|\"\t:") : QStringLiteral("/");
    const QString legal = sanitizeSafe ? QStringLiteral("++{}!@#'+-") : QStringLiteral("+");
    name = name.trimmed();
    for (QChar &c : name) {
        if (const qsizetype at = illegal.indexOf(c); at >= 0)
            c = legal[at];
    }
    return name + (name.endsWith(QLatin1String(".nzb")) ? QStringLiteral(".gz") : QStringLiteral(".nzb.gz"));
}

// As SABnzbd counts a job's bytes: the sizes the NZB gives its articles, those of no size or of
// 8 MiB and more left out.
qint64 segmentBytes(const NzbModel &nzb)
{
    qint64 bytes = 0;
    for (const SegmentInfo &segment : nzb.segments())
        bytes += segment.bytes > 0 && segment.bytes < (1 << 23) ? segment.bytes : 0;
    return bytes;
}

// The job's NZB, or why it is not known.
struct FoundNzb {
    std::unique_ptr<NzbModel> nzb;
    QString why;
};

// SABnzbd names no NZB to its pre-queue script: it saved it as <download_dir>/<job folder>/
// __ADMIN__/<name>. Of the copies of the last minute under that name (the folders of earlier
// jobs of the same name carry ".1", ".2", ...), the newest whose articles come to SAB_BYTES is
// this job's; a newer one that cannot be read may be it, and leaves it unknown.
FoundNzb findNzb(const SabnzbdIni &ini, const QProcessEnvironment &environment)
{
    const QString name = savedName(environment.value(QStringLiteral("SAB_FILENAME")), ini.sanitizeSafe);
    const QDateTime since = QDateTime::currentDateTime().addSecs(-kNewestSeconds);
    QFileInfoList saved;
    for (const QFileInfo &job : QDir(ini.downloadDir).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QFileInfo copy(job.filePath() + QStringLiteral("/__ADMIN__/") + name);
        if (copy.isFile() && copy.lastModified() >= since)
            saved << copy;
    }
    std::sort(saved.begin(), saved.end(), [](const QFileInfo &a, const QFileInfo &b) { return a.lastModified() > b.lastModified(); });
    bool isNumber = false;
    const qint64 bytes = environment.value(QStringLiteral("SAB_BYTES")).toLongLong(&isNumber);
    LoadOptions options;
    options.now = QDateTime::currentDateTime();
    for (const QFileInfo &copy : saved) {
        NzbLoadResult loaded = LoadNzb(copy.filePath(), options);
        if (!loaded.loaded())
            return {nullptr, UnreadableNzbReason(loaded)};
        if (isNumber && segmentBytes(*loaded.model) == bytes)
            return {std::move(loaded.model), {}};
    }
    if (saved.isEmpty())
        return {nullptr, QStringLiteral("no NZB named %1 was saved under %2 in the last minute").arg(name, ini.downloadDir)};
    return {nullptr, QStringLiteral("none of the %1 NZB(s) named %2 saved under %3 in the last minute lists SAB_BYTES (%4) bytes")
                         .arg(saved.size()).arg(name, ini.downloadDir, environment.value(QStringLiteral("SAB_BYTES")))};
}

class PreQueue : public HandOver
{
public:
    void run(const QProcessEnvironment &environment, const QDeadlineTimer &deadline)
    {
        const SabnzbdIniPlace place = FindSabnzbdIni(environment, getppid());
        const SabnzbdIni ini = ReadSabnzbdIni(place, environment.value(QStringLiteral("HOME")));
        if (!ini.problem.isEmpty())
            return release(QStringLiteral("SABnzbd's configuration %1 could not be read (%2)").arg(place.path, ini.problem));
        FoundNzb found = findNzb(ini, environment);
        if (!found.nzb)
            return release(found.why);
        const HandOverSetup setup{ini.servers.empty() ? settingsServers() : ini.servers, {}, {}, false, deadline, kDeadlineSeconds,
                                  QStringLiteral("neither sabnzbd.ini nor Orvalis's Settings.dat has a newsserver to check with")};
        checkNzb(*found.nzb, setup);
    }

    // SABnzbd takes the first seven lines, each stripped of blanks and quotes; an empty one
    // keeps its value. Every other line is outside text made safe, after them.
    void answer() const
    {
        writeLine(stdout, QString::number(m_answer));
        for (int line = 2; line <= 7; ++line)
            writeLine(stdout, QString());
        for (const QString &line : m_lines + qtMessages)
            writeLine(stdout, QStringLiteral("Orvalis: ") + singleLogLine(line));
    }

private:
    void report(const QString &line, bool) override { m_lines << line; }
    void passJob() override {}

    void failJob() override
    {
        m_answer = kAcceptButFail;
        m_lines << QStringLiteral("the data cannot be complete: the job goes to the history as failed.");
    }

    void release(const QString &why) override { m_lines << why + QStringLiteral("; the job downloads as without the check."); }

    // Those ticked in the Settings.dat of the user SABnzbd runs as, within the hand-over's limit.
    static std::vector<CheckServer> settingsServers()
    {
        std::vector<CheckServer> servers = CheckServer::tickedOf(ReadSettingsFile(DefaultSettingsPath()).contents.servers);
        for (CheckServer &server : servers)
            server.connections = std::min(server.connections, HandOverSetup::kConnectionsPerServer);
        return servers;
    }

    static constexpr int kAccept = 1;
    static constexpr int kAcceptButFail = 2;
    int m_answer = kAccept;
    QStringList m_lines;
};

} // namespace

int RunSabnzbdPreQueue(const QProcessEnvironment &environment)
{
    if (!environment.contains(QStringLiteral("SAB_VERSION"))) {
        writeLine(stderr, QStringLiteral("orvalis-check: --sabnzbd runs as SABnzbd's pre-queue script: the environment names no SABnzbd job."));
        return UsageError;
    }
    const QDeadlineTimer deadline(kDeadlineSeconds * 1000);
    qInstallMessageHandler(keepQtMessage);
    PreQueue script;
    script.run(environment, deadline);
    script.answer();
    return Success;
}
