#pragma once

#include "servers/ServerRecord.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <vector>

// Everything Settings.dat remembers: the servers in list order, the state of "Only show file
// names when loading the NZB file" (0, 1, or 2 for greyed) and the nine column widths in pixels,
// six of the server list, then three of the NZB list; the idle timeout of connections, and how
// many bodies a check samples after its passes.
struct SettingsContents {
    std::vector<ServerRecord> servers;
    int namesOnly = 0;
    std::array<int, 9> columnWidths{};
    int timeoutSeconds = 60; // 0 for none
    int sampleCount = 0;
};

// The document, byte for byte. The options go into the last server, or into `data` when there is none.
QByteArray WriteSettingsDocument(const SettingsContents &contents);

struct SettingsReadResult {
    SettingsContents contents; // the servers read before any fault
    bool optionsRead = false;  // namesOnly and the widths hold the file's values
    QString problem;           // what kept the file from being read whole; empty when it was
};
SettingsReadResult ReadSettingsDocument(QByteArray bytes);

struct SettingsSaveError {
    int code;
    QString description;
};
// Replaces the file at `path` atomically, readable and writable by its owner only.
std::optional<SettingsSaveError> SaveSettingsFile(const QString &path, const SettingsContents &contents);

// Reads the file at `path` and changes nothing on disk; a failure to read it is the problem.
SettingsReadResult ReadSettingsFile(const QString &path);

struct SettingsLoadResult {
    SettingsReadResult read;
    bool found = false;   // a file was there to read
    QString keptAs;       // where a file that could not be read was moved; empty when it stayed
};
// Reads the file at `path` when it is a file. One that cannot be read whole is kept as
// `path` + ".bad", replacing an older one, so that a hand-edit with a typo loses nothing.
SettingsLoadResult LoadSettingsFile(const QString &path);

// Where Settings.dat lives: beside the program when one is already there, or when the program
// lives outside /usr in a folder its user may write (a portable install or a build folder);
// otherwise, as for an installed program, in `configFolder`.
QString SettingsFilePath(const QString &programFolder, const QString &configFolder);
// SettingsFilePath for the running program and the user's configuration folder.
QString DefaultSettingsPath();
