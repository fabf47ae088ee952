#!/usr/bin/env python3
"""The pre-queue script in Debian's SABnzbd 3.7.1, against INN 2 on loopback.

Each job is added through the API's addfile, once to a SABnzbd without the script and once to
one with it, and judged by what SABnzbd says (its history and queue, and its log of the script's
answer), never by the script's output itself. Exit status 77 (skipped) when sabnzbdplus, par2 or
INN 2 is missing, unless ORVALIS_REQUIRE_SABNZBD is set.
"""

import re
import shutil
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / 'tools' / 'sabnzbd'))
from nzbget_extension import posts  # noqa: E402  (the same par2 posts as the NZBGet extension's test)
from sabnzbd_lab import INN_PORT, PRE_QUEUE_FAILED, Lab, completed_files  # noqa: E402
from nzbget_lab import check_folder, port_open  # noqa: E402

# (file name, kind of post, expected). Two of the same name in a row, the second in "twin.1":
# the complete post's NZB, and before it the same with its first file's articles gone, which
# lists as many bytes, so that only the newer copy tells them apart.
JOBS = [('complete.nzb', 'complete', 'complete'), ('repairable.nzb', 'repairable', 'complete'),
        ('hopeless.nzb', 'hopeless', 'failed unloaded'), ('unreadable.nzb', 'unreadable', 'as without'),
        ('twin.nzb', 'gone', 'failed unloaded'), ('twin.nzb', 'complete', 'complete')]


def jobs(folder):
    made = posts(folder)
    made['gone'] = (re.sub(rb'>t(\d+)\.0\.', rb'>gone\1.0.', made['complete'][0]), made['complete'][1])
    return made


def run_jobs(check, made, script):
    """Per job (status, fail message, bytes downloaded, files as posted, the script's answer),
    and what is left in the queue."""
    with Lab(check, script) as lab:
        ids = [lab.add(name, made[kind][0]) for name, kind, _ in JOBS]
        entries = lab.finished(ids)
        # SABnzbd runs the script for one added job after the other.
        answers = lab.log().split('Pre-queue script returned ')[1:] or [''] * len(JOBS)
        outcome = []
        for (_, kind, _), entry, answer in zip(JOBS, entries, answers):
            files = entry['status'] == 'Completed' and completed_files(lab, entry) == made[kind][1].data_files()
            outcome.append((entry['status'], entry['fail_message'], entry['downloaded'], files, answer))
        return outcome, lab.queue()


def judge(name, expected, base, ours):
    status, message, downloaded, files, answer = ours
    checks = {
        'complete': status == 'Completed' and files,
        'failed unloaded': status == 'Failed' and message == PRE_QUEUE_FAILED and downloaded == 0,
        'as without': (status, files) == (base[0], base[3]) and 'could not be read' in answer,
    }
    good = checks[expected]
    print(f'{"ok  " if good else "FAIL"} {name:<15} expected {expected:<15} without: {base[0]:<9} {base[2]:>9} B'
          f'   with: {status:<9} {downloaded:>9} B{"" if files or status != "Completed" else ", files wrong"} {message}')
    if not good:
        print('\n'.join(f'     {line}' for line in answer.splitlines() if line.strip()))
    return good


def main():
    check = check_folder(__doc__.strip().splitlines()[0], {'sabnzbdplus': shutil.which('sabnzbdplus'), 'par2': shutil.which('par2'),
                                                           'INN 2': port_open(INN_PORT)}, 'ORVALIS_REQUIRE_SABNZBD')
    with tempfile.TemporaryDirectory(prefix='sabnzbd-prequeue-') as folder:
        made = jobs(folder)
        base, _ = run_jobs(check, made, script=False)
        ours, left = run_jobs(check, made, script=True)
        results = [judge(f'{name} ({kind})', expected, b, o) for (name, kind, expected), b, o in zip(JOBS, base, ours)]
        print(f'{"ok  " if not left else "FAIL"} queue           nothing left in it: {[slot["filename"] for slot in left]}')
    return 0 if all(results) and not left else 1


if __name__ == '__main__':
    sys.exit(main())
