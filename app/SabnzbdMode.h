#pragma once

#include <QProcessEnvironment>

// orvalis-check --sabnzbd: the tool as SABnzbd's pre-queue script. It finds the NZB SABnzbd has
// just saved for the job, checks it with SABnzbd's servers, and answers with the seven lines
// SABnzbd reads: "2" (accept, but fail: the job goes to the history as failed) when its data
// cannot be complete, else "1", then six empty lines, which keep SABnzbd's own values; the
// report follows them. Nothing goes to standard error, which SABnzbd reads as the answer too.
// Returns the exit status: 0, since SABnzbd ignores the answer of a script that exits with
// another; only a call that is no SABnzbd's gets a usage error.
int RunSabnzbdPreQueue(const QProcessEnvironment &environment);
