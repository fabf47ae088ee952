#include "servers/ServerEditorRules.h"

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

QString firstInputProblem(const EditorInput &input, bool editMode, int serverCount)
{
    if (input.address.isEmpty())
        return QStringLiteral("No newsserver specified. ");
    if (input.nickname.isEmpty())
        return QStringLiteral("No nickname for the newsserver specified. ");
    if (input.authentication && input.username.isEmpty())
        return QStringLiteral("No username specified. ");
    if (input.authentication && input.password.isEmpty())
        return QStringLiteral("No password specified. ");
    if (!editMode && serverCount >= ServerListModel::kMaxServers)
        return QStringLiteral("You can add a maximum of 99 newsservers. ");
    return {};
}

ServerRecord recordFromInput(const EditorInput &input, const QString &key)
{
    ServerRecord record;
    record.nickname = input.nickname.trimmed();
    record.address = input.address.trimmed();
    record.port = input.port;
    record.threads = input.threads;
    record.ssl = input.tls;
    record.pipeline = input.pipeline;
    // Unticked, the server needs no login: stored credentials would still be sent, in clear
    // text on a plain connection.
    record.username = input.authentication ? input.username.trimmed() : QString();
    record.rowKey = key + (input.authentication ? input.password.trimmed() : QString());
    return record;
}

int threadsEntry(int threads)
{
    return std::clamp(threads, 1, 10) - 1;
}

} // namespace editor
