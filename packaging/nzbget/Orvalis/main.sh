#!/bin/sh
#
##############################################################################
### NZBGET SCAN/QUEUE/SCHEDULER SCRIPT                                     ###
### QUEUE EVENTS: NZB_ADDED
### TASK TIME: *

# Fails an NZB before a byte of it is downloaded when its data cannot be
# complete, even after par2 repair (Orvalis).
#
# A job is paused as it arrives, checked with NZBGet's own newsservers
# (STAT, and the par2 index for the repair verdict), then either marked bad
# or resumed. A check that cannot judge (a server given up, an NZB it cannot
# read, more than 120 seconds) resumes the job with a warning. At NZBGet's
# start every job a check left paused is resumed.
#
# NOTE: This extension needs orvalis-check (Debian package orvalis).

##############################################################################
### OPTIONS                                                                ###

# Which jobs fail (not-possible, incomplete).
#
# not-possible: those whose data cannot be complete ("Repair: not possible",
# or "Not covered by par2" for a file the download needs).
# incomplete: also those repair cannot be counted on to mend ("uncertain",
# "unknown").
#Verdict=not-possible

### NZBGET SCAN/QUEUE/SCHEDULER SCRIPT                                     ###
##############################################################################

# The job, the servers and the option come from NZBGet's environment.
exec orvalis-check --nzbget
