#pragma once

#include "nzb/NzbModel.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>

// The most a gzip-compressed NZB may unpack to: far above real NZBs (a hundred megabytes is
// a very large one), and a bound on what a small file made to unpack to gigabytes can cost.
constexpr qint64 kLargestUnpackedNzb = qint64(1) << 30;

struct LoadOptions {
    bool namesOnly = false;           // show file names instead of subjects
    QDateTime now;                    // local date-time the post age is counted to
    QChar decimalSeparator = u'.';    // of the missing percentage
    QString previousGroupName;        // kept when the new NZB names no group
    qint64 largestUnpacked = kLargestUnpackedNzb; // of an NZB file, and of a gzip-compressed one unpacked, in bytes
};

// What a load gives: a new model, an XML parse error, or another failure.
// The caller's current model is never touched; it swaps in `model` on success.
struct NzbLoadResult {
    enum class Kind { Loaded, ParseError, Failure };

    Kind kind = Kind::Failure;
    std::unique_ptr<NzbModel> model; // Loaded
    QStringList warningLines;        // Loaded: the incomplete-NZB warning, empty when none is due

    int errorNumber = 0;   // ParseError: the parser's code; Failure: the failure's number
    qint64 errorLine = 0;  // ParseError only
    QString errorReason;   // the parser's reason or the failure's description

    bool loaded() const { return kind == Kind::Loaded; }
    QString boxTitle() const;      // of the parse-error or failure box
    QStringList boxLines() const;  // the box text, one entry per line
};

// Reads, decodes and parses the NZB at `path` (blanks at both ends removed). Bytes that begin
// as gzip does are unpacked first, whatever the file's name.
NzbLoadResult LoadNzb(const QString &path, const LoadOptions &options);

// The same for bytes already in memory; `path` is only shown in the summary.
NzbLoadResult LoadNzbFromBytes(QByteArray bytes, const QString &path, const LoadOptions &options);

// Line breaks of message boxes.
QString joinBoxLines(const QStringList &lines);
