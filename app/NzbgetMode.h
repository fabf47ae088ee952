#pragma once

#include <QProcessEnvironment>

// orvalis-check --nzbget: the tool as NZBGet's scan, queue and scheduler extension. The scan
// pauses a job so nothing is downloaded before the verdict; the queue event NZB_ADDED checks it
// with NZBGet's own servers and fails it when its data cannot be complete, else resumes it;
// the scheduler, at NZBGet's start, resumes every job a check left paused. Returns the exit
// status: NZBGet reads none, so only a call that is no extension's gets another than 0.
int RunNzbgetExtension(const QProcessEnvironment &environment);
