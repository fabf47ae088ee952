#pragma once

#include "check/CheckRun.h"

#include <QHash>
#include <QProcessEnvironment>
#include <QString>

#include <vector>

// The sections of a file in configobj's syntax, as SABnzbd writes sabnzbd.ini: "[misc]",
// "[[subsection]]" below "[servers]", "key = value"; values bare (up to a '#') or in single,
// double or triple quotes. A section is named by its path, "servers/news.example.com"; the
// keys outside any section are in "".
using ConfigSections = QHash<QString, QHash<QString, QString>>;
ConfigSections ParseConfigSections(const QString &text);

// Where SABnzbd's configuration is. `given`: named by the script's configuration or by SABnzbd's
// command line, whose relative folders SABnzbd counts from the file's folder, not the home.
struct SabnzbdIniPlace {
    QString path;
    bool given = false;
};

// The file named by orvalis-prequeue.conf (ORVALIS_PREQUEUE_CONF names it) as sabnzbd_ini, else
// the --config-file of the SABnzbd that runs the script (the process `sabnzbdPid`), else
// ~/.sabnzbd/sabnzbd.ini; a folder stands for the sabnzbd.ini in it, as SABnzbd takes one.
SabnzbdIniPlace FindSabnzbdIni(const QProcessEnvironment &environment, qint64 sabnzbdPid);

// What orvalis-check --sabnzbd reads of sabnzbd.ini.
struct SabnzbdIni {
    QString problem;           // why it could not be read; empty when it was
    QString downloadDir;       // the temporary download folder, absolute
    bool sanitizeSafe = false; // file names lose the characters Windows refuses too
    // The enabled servers, in SABnzbd's order (priority, then name), at most
    // HandOverSetup::kConnectionsPerServer connections each.
    std::vector<CheckServer> servers;
};
SabnzbdIni ReadSabnzbdIni(const SabnzbdIniPlace &place, const QString &home);
