#include "servers/ServerEditorRules.h"

#include "nzb/LogText.h"
#include "servers/ServerListModel.h"

#include <algorithm>

namespace editor {

namespace {

bool allDigits(const QString &text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Compares without converting, so that any number of digits is safe.
bool aboveHighestPort(const QString &digits)
{
    qsizetype first = 0;
    while (first < digits.size() - 1 && digits[first] == u'0')
        ++first;
    const QStringView significant = QStringView(digits).sliced(first);
    return significant.size() > 5 || (significant.size() == 5 && significant > u"65535");
}

// The input as the list keeps it: trimmed, and with no user name or password unless
// authentication is ticked. Unticked, the server needs no login: stored credentials would still
// be sent, in clear text on a plain connection.
EditorInput asStored(EditorInput input)
{
    for (QString *text : {&input.address, &input.nickname, &input.username, &input.password})
        *text = text->trimmed();
    if (!input.authentication)
        input.username = input.password = QString();
    return input;
}

} // namespace

PortText applyPortRules(const QString &text)
{
    if (text.isEmpty() || text == u'0' || !allDigits(text))
        return {kDefaultPort, false};
    if (aboveHighestPort(text))
        return {kDefaultPort, true};
    return {text, false};
}

QString portAfterTlsTick(const QString &port, bool tls)
{
    if (port == (tls ? kDefaultPort : kDefaultTlsPort))
        return tls ? kDefaultTlsPort : kDefaultPort;
    return port;
}

QString missingValueProblem(const EditorInput &input)
{
    if (input.address.isEmpty())
        return QStringLiteral("No newsserver specified. ");
    if (input.nickname.isEmpty())
        return QStringLiteral("No nickname for the newsserver specified. ");
    if (input.authentication && input.username.isEmpty())
        return QStringLiteral("No username specified. ");
    if (input.authentication && input.password.isEmpty())
        return QStringLiteral("No password specified. ");
    return {};
}

QString firstInputProblem(const EditorInput &input, bool editMode, int serverCount)
{
    const EditorInput stored = asStored(input);
    if (QString missing = missingValueProblem(stored); !missing.isEmpty())
        return missing;
    // Settings.dat could not hold them: XML 1.0 has no reference for most of them.
    const std::pair<const char *, const QString &> fields[] = {{"server address", stored.address},
                                                               {"server nickname", stored.nickname},
                                                               {"username", stored.username},
                                                               {"password", stored.password}};
    for (const auto &[name, text] : fields) {
        if (holdsControlCharacter(text))
            return QStringLiteral("The %1 holds a control character. ").arg(QLatin1String(name));
    }
    if (!editMode && serverCount >= ServerListModel::kMaxServers)
        return QStringLiteral("You can add a maximum of 99 newsservers. ");
    return {};
}

ServerRecord recordFromInput(const EditorInput &input, const QString &key)
{
    const EditorInput stored = asStored(input);
    ServerRecord record;
    record.nickname = stored.nickname;
    record.address = stored.address;
    record.port = stored.port;
    record.threads = stored.threads;
    record.ssl = stored.tls;
    record.pipeline = stored.pipeline;
    record.username = stored.username;
    record.rowKey = key + stored.password;
    return record;
}

int threadsEntry(int threads)
{
    return std::clamp(threads, 1, 10) - 1;
}

} // namespace editor
