#include "Passwords.h"

#include "check/CheckRun.h"
#include "check/NntpText.h"
#include "nzb/LogText.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr qint64 kLargestNetrc = 1024 * 1024;

struct NetrcEntry {
    QString machine; // empty for "default"
    QString login;
    std::optional<QString> password;
};

// The tokens of a .netrc: words split at white space, or double-quoted with backslash escapes.
class NetrcTokens
{
public:
    explicit NetrcTokens(const QString &text)
        : m_text(text)
    {
    }

    std::optional<QString> next()
    {
        while (m_at < m_text.size() && m_text[m_at].isSpace())
            ++m_at;
        if (m_at == m_text.size())
            return std::nullopt;
        QString token;
        if (m_text[m_at] == u'"') {
            for (++m_at; m_at < m_text.size() && m_text[m_at] != u'"'; ++m_at)
                token += m_text[m_at] == u'\\' && m_at + 1 < m_text.size() ? m_text[++m_at] : m_text[m_at];
            m_at = std::min(m_at + 1, m_text.size());
        } else {
            while (m_at < m_text.size() && !m_text[m_at].isSpace())
                token += m_text[m_at++];
        }
        return token;
    }

    // A macro's name ends its line; its body runs from the next line to an empty one, as ftp
    // and curl read it.
    void skipMacro()
    {
        static const QRegularExpression emptyLine(QStringLiteral("\n\r?\n"));
        const QRegularExpressionMatch match = emptyLine.match(m_text, m_at);
        m_at = match.hasMatch() ? match.capturedEnd() : m_text.size();
    }

private:
    const QString &m_text;
    qsizetype m_at = 0;
};

std::vector<NetrcEntry> parseNetrc(const QString &text)
{
    std::vector<NetrcEntry> entries;
    NetrcTokens tokens(text);
    while (const std::optional<QString> token = tokens.next()) {
        if (*token == u"default") {
            entries.push_back({});
            continue;
        }
        if (*token == u"macdef") {
            tokens.skipMacro();
            continue;
        }
        const bool valued = *token == u"machine" || *token == u"login" || *token == u"password" || *token == u"account";
        const std::optional<QString> value = valued ? tokens.next() : std::nullopt;
        if (!value)
            continue;
        if (*token == u"machine")
            entries.push_back({*value, {}, {}});
        else if (*token == u"login" && !entries.empty())
            entries.back().login = *value;
        else if (*token == u"password" && !entries.empty())
            entries.back().password = *value;
    }
    return entries;
}

// The entries of the file; a message when it cannot be read or others could read its passwords.
std::optional<QString> readNetrc(const PasswordSources &sources, std::vector<NetrcEntry> &entries)
{
    if (!QFileInfo::exists(sources.netrcPath) && !sources.netrcNamed)
        return std::nullopt;
    // Opened without blocking, so that a FIFO is refused rather than waited on for ever.
    const int handle = open(QFile::encodeName(sources.netrcPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0)
        return QStringLiteral("%1 cannot be read: %2").arg(sources.netrcPath, QString::fromLocal8Bit(std::strerror(errno)));
    QFile file;
    file.open(handle, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle); // cannot fail on an open handle
    struct stat status {};
    if (fstat(handle, &status) != 0 || !S_ISREG(status.st_mode))
        return QStringLiteral("%1 is not a regular file.").arg(sources.netrcPath);
    const QByteArray text = file.read(kLargestNetrc + 1);
    if (text.size() > kLargestNetrc)
        return QStringLiteral("%1 is over 1 MiB: no .netrc is that long").arg(sources.netrcPath);
    entries = parseNetrc(QString::fromUtf8(text));
    const bool holdsPassword = std::any_of(entries.begin(), entries.end(), [](const NetrcEntry &e) { return e.password.has_value(); });
    // As ftp does: a password that others may read is no secret any more.
    if (holdsPassword && (status.st_mode & 077) != 0)
        return QStringLiteral("%1 can be read by others (mode %2): chmod 600 %1").arg(sources.netrcPath, QStringLiteral("%1").arg(status.st_mode & 07777, 4, 8, QChar(u'0')));
    return std::nullopt;
}

// The machine's entry for the login, any login when `login` is empty. A "default" entry is
// not used: a server without an entry of its own is asked without a login.
const NetrcEntry *findEntry(const std::vector<NetrcEntry> &entries, const QString &machine, const QString &login)
{
    for (const NetrcEntry &entry : entries) {
        const bool loginFits = login.isEmpty() || entry.login.isEmpty() || entry.login == login;
        if (!entry.machine.isEmpty() && entry.machine.compare(machine, Qt::CaseInsensitive) == 0 && loginFits)
            return &entry;
    }
    return nullptr;
}

// Reads a line from the terminal with its echo off.
std::optional<QString> promptWithoutEcho(const QString &prompt)
{
    const int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0)
        return std::nullopt;
    termios saved {};
    const bool hasTermios = tcgetattr(terminal, &saved) == 0;
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    if (hasTermios)
        tcsetattr(terminal, TCSAFLUSH, &quiet);
    const QByteArray promptBytes = prompt.toUtf8();
    [[maybe_unused]] const ssize_t shown = write(terminal, promptBytes.constData(), size_t(promptBytes.size()));
    QByteArray line;
    char byte = 0;
    while (read(terminal, &byte, 1) == 1 && byte != '\n')
        line += byte;
    if (hasTermios)
        tcsetattr(terminal, TCSAFLUSH, &saved);
    [[maybe_unused]] const ssize_t ended = write(terminal, "\n", 1);
    close(terminal);
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

// USER@HOST as the messages show it: the user name may come from a .netrc, and no escape
// sequence of it may reach the terminal.
QString shownLogin(const CheckServer &server)
{
    return singleLogLine(server.username + u'@' + server.address);
}

QString lineBreakMessage(const CheckServer &server)
{
    return QStringLiteral("the password for %1 holds a line break.").arg(shownLogin(server));
}

// Asks once, when the server first wants the password; without a terminal nothing can, and
// the call ends as a usage error.
std::function<QString()> passwordPrompt(const CheckServer &server)
{
    auto asked = std::make_shared<std::optional<QString>>();
    const QString noPassword = QStringLiteral("no password for %1: put it in ~/.netrc (machine %2 login %3 password ...) or in ORVALIS_PASSWORD.")
                                   .arg(shownLogin(server), singleLogLine(server.address), singleLogLine(server.username));
    return [asked, noPassword, lineBreak = lineBreakMessage(server), prompt = QStringLiteral("Password for %1: ").arg(shownLogin(server))] {
        if (!asked->has_value())
            *asked = promptWithoutEcho(prompt);
        if (!asked->has_value() || holdsLineBreakOrNul(**asked)) {
            const QString message = QStringLiteral("orvalis-check: ") + (asked->has_value() ? lineBreak : noPassword) + u'\n';
            std::fflush(stdout);
            std::fputs(message.toUtf8().constData(), stderr);
            std::exit(64);
        }
        return **asked;
    };
}

} // namespace

std::optional<QString> ResolvePasswords(std::vector<CheckServer> &servers, const std::vector<bool> &givenPassword,
                                        const PasswordSources &sources)
{
    std::vector<NetrcEntry> entries;
    const bool netrcNeeded = std::find(givenPassword.begin(), givenPassword.end(), false) != givenPassword.end();
    if (netrcNeeded) {
        if (auto refusal = readNetrc(sources, entries))
            return refusal;
    }
    std::vector<CheckServer *> lacking;
    for (size_t i = 0; i < servers.size(); ++i) {
        CheckServer &server = servers[i];
        if (givenPassword[i])
            continue;
        if (const NetrcEntry *entry = findEntry(entries, server.address, server.username)) {
            if (server.username.isEmpty())
                server.username = entry->login;
            if (entry->password && !server.username.isEmpty())
                server.password = *entry->password;
        }
        if (!server.username.isEmpty() && server.password.isEmpty())
            lacking.push_back(&server);
    }
    const QString variable = qEnvironmentVariable("ORVALIS_PASSWORD");
    for (CheckServer *server : lacking) {
        if (lacking.size() == 1 && !variable.isEmpty())
            server->password = variable;
        else
            server->askPassword = passwordPrompt(*server);
    }
    for (const CheckServer &server : servers) {
        if (holdsLineBreakOrNul(server.password))
            return lineBreakMessage(server);
    }
    return std::nullopt;
}
