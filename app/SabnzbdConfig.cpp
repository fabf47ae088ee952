#include "SabnzbdConfig.h"

#include "HandOver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

// sabnzbd.ini is small; one far larger is no SABnzbd's.
constexpr qint64 kLargestIni = 16 << 20;

QString unquoted(const QString &text)
{
    const bool quoted = text.size() >= 2 && (text.front() == u'"' || text.front() == u'\'') && text.back() == text.front();
    return quoted ? text.sliced(1, text.size() - 2) : text;
}

// A value from its first character on, and the lines after it that a triple quote spans; a
// bare value ends at a comment. A quoted one ends at its closing quote: what follows (a list's
// further items, a comment) is dropped.
QString valueOf(const QString &text, const QStringList &lines, qsizetype &line)
{
    for (const QLatin1String quote : {QLatin1String("\"\"\""), QLatin1String("'''")}) {
        if (!text.startsWith(quote))
            continue;
        QString value = text.sliced(3);
        while (!value.contains(quote) && line + 1 < lines.size())
            value += u'\n' + lines[++line];
        return value.left(value.indexOf(quote));
    }
    if (!text.isEmpty() && (text.front() == u'"' || text.front() == u'\'')) {
        const qsizetype end = text.indexOf(text.front(), 1);
        return end < 0 ? text.sliced(1) : text.sliced(1, end - 1);
    }
    return text.left(text.indexOf(u'#')).trimmed();
}

int number(const QString &text, int otherwise = 0)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : otherwise;
}

// SABnzbd keeps a password with '#', blanks or bytes outside ASCII as hexadecimal after a prefix.
QString decodedPassword(const QString &stored)
{
    static const QString prefix = QStringLiteral("!!!encoded!!!");
    if (!stored.startsWith(prefix))
        return stored;
    const QByteArray hex = stored.sliced(prefix.size()).toLatin1();
    QString decoded;
    for (qsizetype i = 0; i + 1 < hex.size(); i += 2) {
        bool ok = false;
        const uint code = hex.mid(i, 2).trimmed().toUInt(&ok, 16);
        if (!ok)
            return {}; // as SABnzbd takes a password it cannot decode
        decoded += QChar(code);
    }
    return decoded;
}

// SABnzbd's rule: a server is used when enabled with a host, a port and connections.
std::vector<CheckServer> enabledServers(const ConfigSections &sections)
{
    struct Ranked {
        int priority;
        QString name;
        CheckServer server;
    };
    std::vector<Ranked> found;
    for (auto section = sections.begin(); section != sections.end(); ++section) {
        if (!section.key().startsWith(QLatin1String("servers/")))
            continue;
        const auto value = [&section](const char *key) { return section->value(QLatin1String(key)); };
        const int port = number(value("port"), 119);
        const int connections = number(value("connections"), 1);
        if (number(value("enable"), 1) == 0 || value("host").trimmed().isEmpty() || port < 1 || port > 65535 || connections < 1)
            continue;
        CheckServer server;
        server.nickname = value("displayname").isEmpty() ? section.key().sliced(8) : value("displayname");
        server.address = value("host").trimmed();
        server.portText = QString::number(port);
        server.port = port;
        server.connections = std::min(connections, HandOverSetup::kConnectionsPerServer);
        server.username = value("username");
        server.password = decodedPassword(value("password"));
        server.tls = number(value("ssl")) != 0;
        found.push_back({number(value("priority")), server.nickname.toLower(), server});
    }
    std::sort(found.begin(), found.end(), [](const Ranked &a, const Ranked &b) { return std::pair(a.priority, a.name) < std::pair(b.priority, b.name); });
    std::vector<CheckServer> servers;
    for (const Ranked &entry : found)
        servers.push_back(entry.server);
    return servers;
}

std::optional<QString> readText(const QString &path, QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    if (file.size() > kLargestIni)
        return QStringLiteral("over %1 MiB").arg(kLargestIni >> 20);
    text = QString::fromUtf8(file.readAll());
    return std::nullopt;
}

// As SABnzbd takes a --config-file: a folder stands for the sabnzbd.ini in it.
QString iniIn(const QString &path)
{
    return QFileInfo(path).isDir() ? QDir(path).filePath(QStringLiteral("sabnzbd.ini")) : path;
}

// The --config-file (-f) of a command line, as getopt reads it.
QString configFileArgument(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if ((argument == QLatin1String("--config-file") || argument == QLatin1String("-f")) && i + 1 < arguments.size())
            return arguments[i + 1];
        if (argument.startsWith(QLatin1String("--config-file=")))
            return argument.sliced(14);
        if (argument.startsWith(QLatin1String("-f")) && !argument.startsWith(QLatin1String("--")))
            return argument.sliced(2);
    }
    return {};
}

QString sabnzbdConfigFile(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList arguments = QString::fromUtf8(file.read(1 << 20)).split(QChar(0));
    const QString path = configFileArgument(arguments);
    // Relative to where SABnzbd started, which is where it runs, unless it changed folder since.
    const QString started = QFile::symLinkTarget(QStringLiteral("/proc/%1/cwd").arg(pid));
    return path.isEmpty() ? path : iniIn(QDir(started).absoluteFilePath(path));
}

} // namespace

ConfigSections ParseConfigSections(const QString &text)
{
    ConfigSections sections;
    QStringList path;
    QString section;
    const QStringList lines = text.split(u'\n');
    for (qsizetype line = 0; line < lines.size(); ++line) {
        const QString trimmed = lines[line].trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
            continue;
        if (trimmed.startsWith(u'[')) {
            const qsizetype depth = std::find_if(trimmed.begin(), trimmed.end(), [](QChar c) { return c != u'[' && !c.isSpace(); }) - trimmed.begin();
            const QString name = unquoted(trimmed.sliced(depth).section(u']', 0, 0).trimmed());
            path = path.mid(0, std::max<qsizetype>(trimmed.left(depth).count(u'[') - 1, 0)) << name;
            section = path.join(u'/');
            continue;
        }
        const qsizetype equals = trimmed.indexOf(u'=');
        if (equals > 0)
            sections[section][unquoted(trimmed.left(equals).trimmed())] = valueOf(trimmed.sliced(equals + 1).trimmed(), lines, line);
    }
    return sections;
}

SabnzbdIniPlace FindSabnzbdIni(const QProcessEnvironment &environment, qint64 sabnzbdPid)
{
    QString conf;
    if (const QString confPath = environment.value(QStringLiteral("ORVALIS_PREQUEUE_CONF")); !confPath.isEmpty() && QFileInfo::exists(confPath)
        && !readText(confPath, conf)) {
        if (const QString named = ParseConfigSections(conf).value({}).value(QStringLiteral("sabnzbd_ini")); !named.isEmpty())
            return {iniIn(named), true};
    }
    if (const QString started = sabnzbdConfigFile(sabnzbdPid); !started.isEmpty())
        return {started, true};
    return {environment.value(QStringLiteral("HOME")) + QStringLiteral("/.sabnzbd/sabnzbd.ini"), false};
}

SabnzbdIni ReadSabnzbdIni(const SabnzbdIniPlace &place, const QString &home)
{
    SabnzbdIni ini;
    QString text;
    if (const auto problem = readText(place.path, text)) {
        ini.problem = *problem;
        return ini;
    }
    const ConfigSections sections = ParseConfigSections(text);
    const QHash<QString, QString> misc = sections.value(QStringLiteral("misc"));
    // SABnzbd's default, and its rules for relative folders and "~/".
    QString folder = misc.value(QStringLiteral("download_dir")).trimmed();
    if (folder.isEmpty())
        folder = QStringLiteral("Downloads/incomplete");
    if (folder.startsWith(QLatin1String("~/")))
        folder = home + folder.sliced(1);
    ini.downloadDir = QDir::cleanPath(QDir(place.given ? QFileInfo(place.path).absolutePath() : home).absoluteFilePath(folder));
    ini.sanitizeSafe = number(misc.value(QStringLiteral("sanitize_safe"))) != 0;
    ini.servers = enabledServers(sections);
    return ini;
}
