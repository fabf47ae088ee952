#pragma once

#include <QJsonObject>
#include <QString>

#include <cstdio>

class CheckRun;
class NzbModel;
struct NzbLoadResult;

// One line of the tool's output, flushed at once: a script sees each line as soon as it is written.
void writeLine(std::FILE *stream, const QString &line);

enum ExitCode { Success = 0, SomethingMissing = 1, ParseFailed = 2, LoadFailed = 3, NoServer = 4, Repairable = 5, UsageError = 64 };

// The exit status of a call that checked several NZBs: the worst of theirs, a file that could
// not be read at all the worst of them.
int worseExitCode(int a, int b);

// What a finished check says as an exit status.
int checkExitCode(const CheckRun &run);

// One line of --json for an NZB that was checked, or one that could not be loaded.
QJsonObject checkedNzbJson(const QString &path, const NzbModel &nzb, const CheckRun &run);
QJsonObject unloadedNzbJson(const QString &path, const NzbLoadResult &result, int exitCode);
