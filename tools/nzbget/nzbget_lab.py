"""Debian's NZBGet on loopback with a private configuration, and par2 posts on INN 2, for the
tests and the bench of the NZBGet extension (tests/nzbget_extension.py, bench/downloader.sh).

Everything NZBGet writes stays in a temporary MainDir; /etc/nzbget.conf is never read. The posts
go to INN 2 on 127.0.0.1:1119 (tools/inn2/inn2-up.sh) as yEnc articles made with the generator
of bench/par2/validate.py, each post under message-IDs of its own.
"""

import argparse
import base64
import ctypes
import http.client
import json
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / 'bench' / 'par2'))
import validate  # noqa: E402  (the yEnc encoder, par2 sets and NZB writer)

INN_PORT = 1119
EXTENSION = 'Orvalis/main.sh'   # as NZBGet 21 names the script in the second ScriptDir
CONTROL_USER, CONTROL_PASSWORD = 'nzbget', 'lab-secret'
PR_SET_PDEATHSIG = 1


def end_with_parent():
    """In the child before exec: the kernel sends it SIGTERM when its parent dies."""
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def check_folder(description, needs, required_by):
    """The folder of the orvalis-check that the option --check names. When something of `needs`
    (what -> whether it is there) is missing, says so and exits: 77 (skipped), or 1 when the
    variable `required_by` is set."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument('--check', required=True, help='path to orvalis-check')
    args = parser.parse_args()
    if missing := [what for what, there in needs.items() if not there]:
        print(f'needs {", ".join(missing)} (./build.sh test as root brings them)')
        sys.exit(1 if os.environ.get(required_by) else 77)
    return str(Path(args.check).resolve().parent)


def stop_child(process, ask, seconds):
    """Asks a downloader to stop (it may go before its answer is whole), and kills it when it
    has not after `seconds`."""
    try:
        ask()
    except (OSError, http.client.HTTPException):
        pass
    try:
        process.wait(seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def free_port():
    with socket.socket() as probe:
        probe.bind(('127.0.0.1', 0))
        return probe.getsockname()[1]


def port_open(port):
    with socket.socket() as probe:
        probe.settimeout(2)
        return probe.connect_ex(('127.0.0.1', port)) == 0


class Lab:
    """One NZBGet daemon. servers: dicts of NZBGet's ServerN options (Host, Port, Level, ...)."""

    def __init__(self, check_dir, extension=True, servers=None, options=None):
        self.folder = Path(tempfile.mkdtemp(prefix='nzbget-lab-'))
        self.port = free_port()
        self.process = None
        servers = servers or [{'Host': '127.0.0.1', 'Port': INN_PORT}]
        config = {
            'MainDir': str(self.folder), 'DestDir': '${MainDir}/dst', 'InterDir': '${MainDir}/inter',
            'NzbDir': '${MainDir}/nzb', 'QueueDir': '${MainDir}/queue', 'TempDir': '${MainDir}/tmp',
            'LockFile': '${MainDir}/nzbget.lock', 'LogFile': '${MainDir}/nzbget.log',
            'ScriptDir': '${MainDir}/scripts;' + str(ROOT / 'packaging' / 'nzbget'),
            'Extensions': EXTENSION if extension else '', 'WebDir': '', 'ConfigTemplate': '',
            'ControlIP': '127.0.0.1', 'ControlPort': self.port, 'ControlUsername': CONTROL_USER,
            'ControlPassword': CONTROL_PASSWORD, 'SecureControl': 'no', 'UpdateCheck': 'none',
            'NzbDirInterval': 0, 'DupeCheck': 'no', 'ParCheck': 'auto', 'ParRepair': 'yes',
            'ParIgnoreExt': '.sfv, .nzb, .nfo', 'Unpack': 'no', 'HealthCheck': 'park',
            'OutputMode': 'log', 'WriteLog': 'append', **(options or {})}
        for number, server in enumerate(servers, 1):
            for key, value in {'Active': 'yes', 'Level': 0, 'Encryption': 'no', 'Connections': 4, **server}.items():
                config[f'Server{number}.{key}'] = value
        self.config = self.folder / 'nzbget.conf'
        self.config.write_text(''.join(f'{key}={value}\n' for key, value in config.items()))
        self.environment = dict(os.environ, PATH=f'{check_dir}:{os.environ["PATH"]}')
        self.start()

    def start(self):
        # In the foreground, as our child: a run killed midway (a test's timeout) takes it along
        # instead of leaving a daemon behind.
        self.process = subprocess.Popen(['nzbget', '-c', str(self.config), '-s'], env=self.environment,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        preexec_fn=end_with_parent)
        self.wait(lambda: self.answers(), 30, 'NZBGet did not answer JSON-RPC')
        # The scheduler resumes a held job whose newest message shares NZBGet's first second:
        # jobs are added only after it.
        self.wait(lambda: self.rpc('status')['UpTimeSec'] >= 1, 5, 'NZBGet did not get past its first second')

    def restart(self):
        self.stop(remove=False)
        self.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def rpc(self, method, *params):
        request = urllib.request.Request(
            f'http://127.0.0.1:{self.port}/jsonrpc', json.dumps({'method': method, 'params': params}).encode(),
            {'Authorization': 'Basic ' + base64.b64encode(f'{CONTROL_USER}:{CONTROL_PASSWORD}'.encode()).decode()})
        with urllib.request.urlopen(request, timeout=30) as answer:
            return json.load(answer)['result']

    def answers(self):
        try:
            return self.rpc('version')
        except OSError:
            return None

    @staticmethod
    def wait(condition, seconds, failure):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if result := condition():
                return result
            time.sleep(0.1)
        raise TimeoutError(failure)

    def append(self, name, nzb, paused=False, category=''):
        content = base64.b64encode(nzb).decode()
        return self.rpc('append', name, content, category, 0, False, paused, '', 0, 'SCORE', [])

    def history(self, nzb_id):
        return next((h for h in self.rpc('history', False) if h['NZBID'] == nzb_id), None)

    def finished(self, ids, seconds=120):
        """The history entries of the jobs, once all of them are there."""
        return self.wait(lambda: (lambda found: found if all(found) else None)([self.history(i) for i in ids]),
                         seconds, f'jobs {ids} did not finish')

    def log(self):
        return (self.folder / 'nzbget.log').read_text(errors='replace')

    def log_of(self, nzb_id):
        return [f'{m["Kind"]} {m["Text"]}' for m in self.rpc('loadlog', nzb_id, 0, 10000)]

    def downloaded(self, nzb_id):
        entry = self.history(nzb_id)
        return entry['DownloadedSizeHi'] * 2**32 + entry['DownloadedSizeLo']

    def stop(self, remove=True):
        if self.process:
            stop_child(self.process, lambda: self.rpc('shutdown'), 15)
            self.process = None
        if remove:
            shutil.rmtree(self.folder, ignore_errors=True)


def post_articles(articles, port=INN_PORT):
    """articles: (message-ID with angle brackets, subject, dot-stuffed body ending in CR LF)."""
    with socket.create_connection(('127.0.0.1', port), timeout=30) as connection:
        stream = connection.makefile('rwb')
        reply = lambda: stream.readline().decode('latin-1').rstrip('\r\n')  # noqa: E731
        if not reply().startswith('200'):
            raise RuntimeError(f'INN 2 on port {port} does not let us post')
        for message_id, subject, body in articles:
            stream.write(b'POST\r\n')
            stream.flush()
            if not (answer := reply()).startswith('340'):
                raise RuntimeError(f'POST refused: {answer}')
            stream.write(f'From: Orvalis lab <lab@orvalis.test>\r\nNewsgroups: {validate.GROUP}\r\n'
                         f'Subject: {subject}\r\nMessage-ID: {message_id}\r\n\r\n'.encode() + body + b'.\r\n')
            stream.flush()
            if not (answer := reply()).startswith('240'):
                raise RuntimeError(f'{message_id} not posted: {answer}')
        stream.write(b'QUIT\r\n')
        stream.flush()


class Post:
    """A post made by `make(seed, folder)` (a validate.Trial) on INN 2, less the articles it lost;
    `nzb` lists them all."""

    def __init__(self, folder, make):
        seed = random.getrandbits(40)    # message-IDs no earlier run used
        self.folder = Path(folder) / str(seed)
        self.folder.mkdir(parents=True)
        self.trial = make(seed, self.folder)
        served = self.trial.articles()
        post_articles([(f'<{self.trial.msgid(post, k)}>', f'"{post.name}" yEnc ({k + 1}/{len(post.parts)})',
                        served[f'<{self.trial.msgid(post, k)}>'])
                       for post in self.trial.posts for k in range(len(post.parts))
                       if f'<{self.trial.msgid(post, k)}>' in served])
        path = self.folder / 'post.nzb'
        self.trial.write_nzb(path, served)
        self.nzb = path.read_bytes()
        self.bytes = sum(len(body) for body in served.values())
        self.articles = len(served)

    def data_files(self):
        return {p.name: p.data for p in self.trial.posts if p.kind == 'data' and p.set}

    def par2_says(self):
        """Par2's verdict on the files as downloaded: 'not needed', 'possible' or 'not possible'."""
        self.trial.zeroed_copy(self.folder / 'truth')
        return validate.par2_verdicts(self.trial, self.folder / 'truth')['set'][0]


def par2_set(sizes, slice_size, recovery, volumes, article, lose=lambda trial: None):
    """A maker of one par2 set 'set' over files of these sizes, cut in articles of `article` bytes."""
    def make(seed, folder):
        trial = validate.Trial(seed, folder, random.Random(seed))
        trial.make_set('set', list(sizes), slice_size, recovery, volumes)
        trial.cut(article)
        lose(trial)
        return trial
    return make


def lose_blocks(extra):
    """Loses data articles until the damaged blocks are the recovery blocks left plus `extra`."""
    return lambda trial: trial.fill('set', trial.blocks()['set'][1] + extra)
