#include "NzbgetEnvironment.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

int number(const QString &text, int otherwise)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : otherwise;
}

bool isYes(const QString &text)
{
    return text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
}

struct LeveledServer {
    int level;
    int number;
    CheckServer server;
};

// NZBGet asks its servers of level 0 first and the fill servers of higher levels for what
// those lack, as a check asks its servers in order.
std::vector<CheckServer> activeServers(const QProcessEnvironment &environment)
{
    static const QRegularExpression hostVariable(QStringLiteral("^NZBOP_SERVER(\\d+)_HOST$"));
    std::vector<LeveledServer> found;
    for (const QString &name : environment.keys()) {
        const QRegularExpressionMatch match = hostVariable.match(name);
        if (!match.hasMatch())
            continue;
        const auto option = [&](const char *key) {
            return environment.value(QStringLiteral("NZBOP_SERVER%1_%2").arg(match.captured(1), QLatin1String(key)));
        };
        const int connections = number(option("CONNECTIONS"), 1);
        if (!isYes(option("ACTIVE")) || connections < 1)
            continue;
        CheckServer server;
        server.address = option("HOST").trimmed();
        server.tls = isYes(option("ENCRYPTION"));
        server.portText = option("PORT").trimmed();
        const int port = number(server.portText, 0);
        server.port = port >= 1 && port <= 65535 ? port : 0;
        server.nickname = option("NAME").isEmpty() ? server.address + u':' + server.portText : option("NAME");
        server.connections = std::min(connections, HandOverSetup::kConnectionsPerServer);
        server.username = option("USERNAME");
        server.password = option("PASSWORD");
        found.push_back({number(option("LEVEL"), 0), match.captured(1).toInt(), server});
    }
    std::sort(found.begin(), found.end(), [](const LeveledServer &a, const LeveledServer &b) {
        return std::pair(a.level, a.number) < std::pair(b.level, b.number);
    });
    std::vector<CheckServer> servers;
    for (const LeveledServer &entry : found)
        servers.push_back(entry.server);
    return servers;
}

// NZBGet listening on every address answers on loopback too.
QString controlHost(const QString &address)
{
    if (address.isEmpty() || address == QLatin1String("0.0.0.0"))
        return QStringLiteral("127.0.0.1");
    return address == QLatin1String("::") ? QStringLiteral("::1") : address;
}

NzbgetCall::Step stepOf(const QProcessEnvironment &environment)
{
    if (environment.contains(QStringLiteral("NZBNP_FILENAME")))
        return NzbgetCall::Step::Scan;
    if (environment.contains(QStringLiteral("NZBNA_EVENT")))
        return environment.value(QStringLiteral("NZBNA_EVENT")) == QLatin1String("NZB_ADDED") ? NzbgetCall::Step::Added
                                                                                                : NzbgetCall::Step::OtherEvent;
    return environment.contains(QStringLiteral("NZBSP_TASKID")) ? NzbgetCall::Step::Scheduled : NzbgetCall::Step::None;
}

} // namespace

NzbgetCall ReadNzbgetCall(const QProcessEnvironment &environment)
{
    const auto value = [&environment](const char *name) { return environment.value(QLatin1String(name)); };
    NzbgetCall call;
    call.step = stepOf(environment);
    call.nzbPath = call.step == NzbgetCall::Step::Scan ? value("NZBNP_FILENAME") : value("NZBNA_QUEUEDFILE");
    call.addedPaused = value("NZBNP_PAUSED") != QLatin1String("0");
    call.nzbId = number(value("NZBNA_NZBID"), 0);
    call.held = environment.value(QStringLiteral("NZBPR_") + kNzbgetMarker.toUpper()) == kNzbgetMarkerValue;
    call.servers = activeServers(environment);
    call.control = {controlHost(value("NZBOP_CONTROLIP").trimmed()), number(value("NZBOP_CONTROLPORT"), 0),
                    value("NZBOP_CONTROLUSERNAME"), value("NZBOP_CONTROLPASSWORD")};
    call.parCheckForced = value("NZBOP_PARCHECK").compare(QLatin1String("force"), Qt::CaseInsensitive) == 0;
    if (environment.contains(QStringLiteral("NZBOP_PARIGNOREEXT")))
        call.ignore = repair::IgnoreList::fromText(value("NZBOP_PARIGNOREEXT"));
    call.certStore = value("NZBOP_CERTSTORE").trimmed();
    // An option never saved reaches no extension: the default holds then.
    const QString verdict = value("NZBPO_VERDICT").trimmed();
    call.failIncomplete = verdict == QLatin1String("incomplete");
    if (!verdict.isEmpty() && !call.failIncomplete && verdict != QLatin1String("not-possible"))
        call.verdictOption = verdict;
    return call;
}
