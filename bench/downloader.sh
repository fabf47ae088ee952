#!/usr/bin/env bash
# Random par2 posts on INN 2 (the shapes of bench/par2/validate.py: nothing lost, only par2 lost,
# near the repair limit, repairable, beyond it), each added by JSON-RPC to Debian's NZBGet 21
# without and with the Orvalis extension, one job at a time, then an NZB of 1,000 data articles.
# Prints side by side the posts, the hopeless ones (par2 cannot repair what reaches the disk),
# the bytes NZBGet downloaded for them, and the wait from the append until NZBGet may download
# the job or has failed it: the time the extension adds per NZB.
#   bench/downloader.sh [POSTS] [ORVALIS-CHECK]   (defaults: 50, build/app/orvalis-check)
# Needs nzbget, par2 and INN 2 on loopback (as root: tools/inn2/inn2-up.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
check=$(realpath "${2:-build/app/orvalis-check}")
[ -x "$check" ] || { echo "$check is missing: build it first" >&2; exit 1; }
exec python3 - "${1:-50}" "$check" <<'EOF'
import shutil
import statistics
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, 'tools/nzbget')
from nzbget_lab import INN_PORT, Lab, Post, par2_set, port_open, validate  # noqa: E402

count, check = int(sys.argv[1]), str(Path(sys.argv[2]).parent)
if not (shutil.which('nzbget') and shutil.which('par2') and port_open(INN_PORT)):
    sys.exit('needs nzbget, par2 and INN 2 on 127.0.0.1:1119 (tools/inn2/inn2-up.sh)')


def held(lab, nzb_id):
    """Whether the job still waits, paused, for its check."""
    group = next((g for g in lab.rpc('listgroups') if g['NZBID'] == nzb_id), None)
    return group is not None and group['Status'] == 'PAUSED'


def through(lab, post):
    """(seconds from the append until the job may download or has failed, status, bytes downloaded)."""
    started = time.monotonic()
    nzb_id = lab.append('post.nzb', post.nzb)
    while held(lab, nzb_id):
        time.sleep(0.01)
    waited = time.monotonic() - started
    return waited, lab.finished([nzb_id], 600)[0]['Status'], lab.downloaded(nzb_id)


def row(label, without, with_, note=''):
    print(f'{label:<44}{without:>14}{with_:>14}  {note}'.rstrip())


with tempfile.TemporaryDirectory(prefix='downloader-bench-') as folder:
    posts = [Post(folder, validate.random_trial) for _ in range(count)]
    verdicts = [post.par2_says() for post in posts]
    hopeless = [verdict == 'not possible' for verdict in verdicts]
    large = Post(folder, par2_set([1000 * 20_000], 200_000, 10, 2, 20_000))
    runs = {}
    for extension in (False, True):
        with Lab(check, extension) as lab:
            runs[extension] = [through(lab, post) for post in posts + [large]]
    both = [runs[False], runs[True]]
    lost = [i for i, h in enumerate(hopeless) if h]
    kept = [i for i, h in enumerate(hopeless) if not h]
    posted = sum(posts[i].bytes for i in lost)
    per_run = lambda what: [what(run) for run in both]  # noqa: E731
    row('', 'without', 'with')
    row('posts', count, count)
    row('hopeless posts (par2 referee)', len(lost), len(lost))
    row('  ended FAILURE/BAD', *per_run(lambda run: sum(run[i][1] == 'FAILURE/BAD' for i in lost)))
    row('  bytes downloaded', *per_run(lambda run: f'{sum(run[i][2] for i in lost):,}'), f'of {posted:,} posted')
    row('  most of one post downloaded', *per_run(lambda run: f'{max((run[i][2] / posts[i].bytes for i in lost), default=0):.2%}'))
    row('repairable or complete posts', len(kept), len(kept))
    row('  not ended SUCCESS', *per_run(lambda run: sum(not run[i][1].startswith('SUCCESS') for i in kept)))
    row('  ended FAILURE/BAD', *per_run(lambda run: sum(run[i][1] == 'FAILURE/BAD' for i in kept)))
    row('wait before download, median', *per_run(lambda run: f'{statistics.median(w for w, _, _ in run[:-1]):.2f} s'),
        f'({statistics.median(post.articles for post in posts):.0f} articles median)')
    row('  longest', *per_run(lambda run: f'{max(w for w, _, _ in run[:-1]):.2f} s'))
    row(f'  NZB of {large.articles:,} articles', *per_run(lambda run: f'{run[-1][0]:.2f} s'))
    differ = [i for i in kept if both[0][i][1] != both[1][i][1]]
    Path('bench/out/downloader').mkdir(parents=True, exist_ok=True)
    for i in differ:  # a post the extension changed the outcome of, kept to be added again
        nzb = Path(f'bench/out/downloader/{posts[i].folder.name}.nzb')
        nzb.write_bytes(posts[i].nzb)
        print(f'{nzb} (par2: {verdicts[i]}): without {both[0][i][1]}, {both[0][i][2]:,} B;'
              f' with {both[1][i][1]}, {both[1][i][2]:,} B')
    added = [b[0] - a[0] for a, b in zip(*both)]
    print(f'time the extension adds per NZB: median {statistics.median(added[:-1]):.2f} s, longest {max(added[:-1]):.2f} s;'
          f' {added[-1]:.2f} s for {large.articles:,} articles')
EOF
