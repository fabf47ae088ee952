#!/usr/bin/env python3
"""The NZBGet extension in Debian's NZBGet 21, against INN 2 on loopback.

Each job is added by JSON-RPC `append`, once to an NZBGet without the extension and once to one
with it, and judged by what NZBGet says (`history`, `listgroups`, `loadlog`), never by the
extension's output. Exit status 77 (skipped) when nzbget, par2 or INN 2 is missing, unless
ORVALIS_REQUIRE_NZBGET is set.
"""

import shutil
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / 'tools' / 'nzbget'))
from nzbget_lab import INN_PORT, Lab, Post, check_folder, lose_blocks, par2_set, port_open, validate  # noqa: E402

AUTH_PORT = 1120   # INN 2's port that wants a login (tester, s3cret)
WARNING = 'WARNING main: Orvalis: '


def posts(folder):
    """Name -> (NZB, post or None), the jobs of the common case."""
    # Every data article lost, the repair all in one volume: NZBGet, idle, starts the volume as
    # soon as the job is resumed, the moment a resume and a pause of the volumes would race.
    lose_all = validate.then(validate.lose_file('set_1.bin'), validate.lose_file('set_2.bin'))
    made = {'lost-files': Post(folder, par2_set([60_000, 120_000], 65_536, 3, 1, 100_000, lose_all))}
    made.update({kind: Post(folder, par2_set([1_200_000, 300_000], 65_536, 6, 2, 100_000, lose))
                 for kind, lose in (('complete', lambda t: None), ('repairable', lose_blocks(-2)),
                                    ('hopeless', lose_blocks(3)))})
    # libxml2 reads ISO-8859-2, Orvalis's loader does not.
    latin2 = made['complete'].nzb.replace(b'encoding="utf-8"', b'encoding="ISO-8859-2"', 1)
    return {**{kind: (post.nzb, post) for kind, post in made.items()}, 'unreadable': (latin2, made['complete'])}


def checked(lab, nzb_id):
    lab.wait(lambda: any('Orvalis: Repair' in line for line in lab.log_of(nzb_id)), 60, f'job {nzb_id} was not checked')


def slow_nzb(segments=40_000):
    """Articles no server has: its check takes seconds, and its verdict fails it."""
    listed = ''.join(f'<segment bytes="700000" number="{i}">never-{i}@lab.invalid</segment>' for i in range(1, segments + 1))
    return (f'<nzb><file poster="p" date="1700000000" subject="&quot;slow.bin&quot; yEnc (1/{segments})"><groups>'
            f'<group>alt.binaries.test</group></groups><segments>{listed}</segments></file></nzb>').encode()


def restart(lab, nzb):
    """A job held when NZBGet stopped (its check killed), its last message in the second NZBGet
    starts again, and one added after that second that waits behind a slow check: the scheduler
    resumes the first only. The jobs' outcomes and the scheduler's lines."""
    slow_one = slow_nzb()
    time.sleep(1 - time.time() % 1)  # adding, checking and restarting take about half a second
    killed = lab.append('killed.nzb', nzb, paused=True)
    checked(lab, killed)
    lab.rpc('editqueue', 'GroupSetParameter', 'Orvalis=paused', [killed])
    lab.restart()
    slow = lab.append('slow.nzb', slow_one)
    added = lab.append('restarted.nzb', nzb)
    done = lab.finished([killed, slow, added])
    checked(lab, added)
    resumed = [line for line in lab.log().splitlines() if 'held for a check that did not end' in line]
    return [entry['Status'] for entry in done], [line.split('Orvalis: ')[1] for line in resumed]


def run_jobs(check, jobs, extension, servers=None, paused=None):
    """Per job (status, bytes downloaded, files as expected, log); the paused job's state and
    what a restart did."""
    outcome = {}
    with Lab(check, extension, servers) as lab:
        ids = {name: lab.append(f'{name}.nzb', nzb) for name, (nzb, _) in jobs.items()}
        held = lab.append('paused.nzb', paused, paused=True) if paused else None
        for name, entry in zip(ids, lab.finished(list(ids.values()))):
            post = jobs[name][1]
            files = all((lab.folder / 'dst' / name / file).exists()
                        and (lab.folder / 'dst' / name / file).read_bytes() == data
                        for file, data in post.data_files().items())
            outcome[name] = (entry['Status'], lab.downloaded(ids[name]), files, lab.log_of(ids[name]))
        if held:
            checked(lab, held)
            outcome['restart'] = restart(lab, paused)
            time.sleep(1)
            outcome['paused'] = [(g['NZBID'] == held, g['Status']) for g in lab.rpc('listgroups')]
    return outcome


def judge(name, expected, base, ours, total):
    status, downloaded, files, log = ours
    checks = {
        'complete': status == 'SUCCESS/PAR' and files and downloaded <= base[1],
        'repairable': status == 'SUCCESS/PAR' and files,
        'hopeless': status == 'FAILURE/BAD' and downloaded <= total // 100,
        'as without': status == base[0] and files == base[2] and any(line.startswith(WARNING) for line in log),
    }
    good = checks[expected]
    print(f'{"ok  " if good else "FAIL"} {name:<12} expected {expected:<10} without: {base[0]:<13} {base[1]:>9} B'
          f'   with: {status:<13} {downloaded:>9} B{"" if files else ", files wrong"}')
    if not good:
        print('\n'.join(f'     {line}' for line in log if 'Orvalis' in line))
    return good


def main():
    check = check_folder(__doc__.strip().splitlines()[0], {'nzbget': shutil.which('nzbget'), 'par2': shutil.which('par2'),
                                                           'INN 2': port_open(INN_PORT) and port_open(AUTH_PORT)}, 'ORVALIS_REQUIRE_NZBGET')
    with tempfile.TemporaryDirectory(prefix='nzbget-extension-') as folder:
        jobs = posts(folder)
        base = run_jobs(check, jobs, extension=False)
        ours = run_jobs(check, jobs, extension=True, paused=jobs['complete'][0])
        # The main server refuses the login; NZBGet (it is optional) and the check fall back to the fill server.
        servers = [{'Host': '127.0.0.1', 'Port': AUTH_PORT, 'Username': 'tester', 'Password': 'wrong', 'Optional': 'yes'},
                   {'Host': '127.0.0.1', 'Port': INN_PORT, 'Level': 1}]
        login = {'login': jobs['complete']}
        base.update(run_jobs(check, login, extension=False, servers=servers))
        ours.update(run_jobs(check, login, extension=True, servers=servers))
        expected = {'complete': 'complete', 'repairable': 'repairable', 'lost-files': 'repairable', 'hopeless': 'hopeless',
                    'unreadable': 'as without', 'login': 'as without'}
        results = [judge(name, kind, base[name], ours[name], jobs.get(name, jobs['complete'])[1].bytes)
                   for name, kind in expected.items()]
        paused = ours['paused'] == [(True, 'PAUSED')]
        print(f'{"ok  " if paused else "FAIL"} paused       stays paused, nothing else left in the queue: {ours["paused"]}')
        restarted = ours['restart'] == (['SUCCESS/PAR', 'FAILURE/BAD', 'SUCCESS/PAR'], ['resumed killed, held for a check that did not end.'])
        print(f'{"ok  " if restarted else "FAIL"} restart      the held job resumed at start, the one added then checked first: {ours["restart"]}')
    return 0 if all(results) and paused and restarted else 1


if __name__ == '__main__':
    sys.exit(main())
