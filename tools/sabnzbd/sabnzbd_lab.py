"""Debian's SABnzbd on loopback with a private configuration, for the test of the pre-queue
script (tests/sabnzbd_prequeue.py).

Its sabnzbd.ini, folders and HOME are a temporary folder's, so ~/.sabnzbd is never read; its
newsserver is INN 2 on 127.0.0.1:1119, where the NZBGet lab (tools/nzbget/nzbget_lab.py) posts
the par2 sets. The script is packaging/sabnzbd/orvalis-prequeue, linked into the Scripts folder
as the README tells users to.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import urllib.parse
import urllib.request
import uuid
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / 'tools' / 'nzbget'))
from nzbget_lab import INN_PORT, Lab as NzbgetLab, end_with_parent, free_port, stop_child  # noqa: E402

SCRIPT = 'orvalis-prequeue'
PRE_QUEUE_FAILED = 'Pre-queue script marked job as failed'
wait = NzbgetLab.wait


class Lab:
    """One SABnzbd, with the pre-queue script chosen or not."""

    def __init__(self, check_dir, script=True):
        self.folder = Path(tempfile.mkdtemp(prefix='sabnzbd-lab-'))
        self.port = free_port()
        self.key = uuid.uuid4().hex
        (self.folder / 'scripts').mkdir()
        (self.folder / 'scripts' / SCRIPT).symlink_to(ROOT / 'packaging' / 'sabnzbd' / SCRIPT)
        # Folders relative to the file, as SABnzbd takes them from a --config-file.
        misc = {'api_key': self.key, 'nzb_key': uuid.uuid4().hex, 'host': '127.0.0.1', 'port': self.port,
                'download_dir': 'incomplete', 'complete_dir': 'complete', 'script_dir': 'scripts',
                'pre_script': SCRIPT if script else 'None', 'check_new_rel': 0, 'auto_browser': 0,
                'enable_unrar': 0, 'enable_7zip': 0, 'log_level': 1}
        server = {'name': 'inn', 'displayname': 'INN 2', 'host': '127.0.0.1', 'port': INN_PORT,
                  'connections': 4, 'ssl': 0, 'enable': 1, 'priority': 0}
        self.ini = self.folder / 'sabnzbd.ini'
        self.ini.write_text('__version__ = 19\n__encoding__ = utf-8\n[misc]\n'
                            + ''.join(f'{k} = {v}\n' for k, v in misc.items())
                            + '[servers]\n[[inn]]\n' + ''.join(f'{k} = {v}\n' for k, v in server.items()))
        # In the foreground, as our child: a run killed midway takes it along.
        self.process = subprocess.Popen(
            ['sabnzbdplus', '--config-file', str(self.ini), '--browser', '0', '--server', f'127.0.0.1:{self.port}'],
            env=dict(os.environ, HOME=str(self.folder), PATH=f'{check_dir}:{os.environ["PATH"]}'),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=end_with_parent)
        wait(self.answers, 60, 'SABnzbd did not answer its API')

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def api(self, mode, data=None, content_type=None, **params):
        query = urllib.parse.urlencode({'mode': mode, 'apikey': self.key, 'output': 'json', **params})
        request = urllib.request.Request(f'http://127.0.0.1:{self.port}/api?{query}', data,
                                         {'Content-Type': content_type} if content_type else {})
        with urllib.request.urlopen(request, timeout=90) as answer:
            return json.load(answer)

    def answers(self):
        try:
            return self.api('version').get('version')
        except OSError:
            return None

    def add(self, name, nzb):
        """Adds the NZB as an upload (mode=addfile) under this file name; its job's id, or None
        when SABnzbd took no job."""
        boundary = uuid.uuid4().hex
        body = (f'--{boundary}\r\nContent-Disposition: form-data; name="name"; filename="{name}"\r\n'
                f'Content-Type: application/x-nzb\r\n\r\n').encode() + nzb + f'\r\n--{boundary}--\r\n'.encode()
        ids = self.api('addfile', body, f'multipart/form-data; boundary={boundary}').get('nzo_ids')
        return ids[0] if ids else None

    def history(self):
        return {slot['nzo_id']: slot for slot in self.api('history', limit=1000)['history']['slots']}

    def queue(self):
        return self.api('queue')['queue']['slots']

    def finished(self, ids, seconds=180):
        """The history entries of the jobs, once each is completed or failed."""
        def done():
            found = self.history()
            return found if all(found.get(i, {}).get('status') in ('Completed', 'Failed') for i in ids) else None
        entries = wait(done, seconds, f'jobs {ids} did not finish')
        return [entries[i] for i in ids]

    def log(self):
        return (self.folder / 'logs' / 'sabnzbd.log').read_text(errors='replace')

    def stop(self):
        if self.process:
            stop_child(self.process, lambda: self.api('shutdown'), 30)
            self.process = None
        shutil.rmtree(self.folder, ignore_errors=True)


def completed_files(lab, entry):
    """File name -> bytes of what a completed job left in its final folder."""
    storage = Path(entry.get('storage') or lab.folder / 'complete' / entry['name'])
    return {path.name: path.read_bytes() for path in storage.iterdir() if path.is_file()} if storage.is_dir() else {}
