#pragma once

#include "HandOver.h"

#include <QProcessEnvironment>
#include <QString>

#include <vector>

// Where NZBGet answers JSON-RPC: its control address, user and password.
struct NzbgetControl {
    QString host;
    int port = 0;
    QString username;
    QString password;
};

// What NZBGet tells its extension in the environment, as orvalis-check --nzbget reads it. A
// /bin/sh script sees only the upper-case copies of NZBGet's variables, so only those are read.
struct NzbgetCall {
    enum class Step { Scan, Added, Scheduled, OtherEvent, None };
    Step step = Step::None;
    QString nzbPath;          // the NZB: in NzbDir while scanned, the queued copy once added
    bool addedPaused = false; // the user added the job paused
    int nzbId = 0;
    bool held = false;        // the job carries the marker of a scan that paused it
    std::vector<CheckServer> servers; // active ones, by level, at most HandOverSetup::kConnectionsPerServer each
    NzbgetControl control;
    bool parCheckForced = false;
    repair::IgnoreList ignore; // ParIgnoreExt
    QString certStore;        // a PEM file or a folder of them; empty for none
    bool failIncomplete = false; // Verdict=incomplete: fail what cannot be counted on
    QString verdictOption;    // the Verdict value when it is none the extension knows
};

NzbgetCall ReadNzbgetCall(const QProcessEnvironment &environment);

// The marker a scan leaves on a job it paused, as a post-processing parameter.
inline const QString kNzbgetMarker = QStringLiteral("Orvalis");
inline const QString kNzbgetMarkerValue = QStringLiteral("paused");
