#!/usr/bin/env python3
"""Referee for orvalis-check's repair verdict.

Each trial makes a par2 set from random data, posts it as yEnc articles on a loopback NNTP
server, loses some of them, runs orvalis-check on the NZB and compares its "Repair" lines with
what par2 verify says about a copy of the files in which every lost article is zeroed.
"""

import argparse
import random
import re
import shutil
import socket
import socketserver
import string
import subprocess
import sys
import tempfile
import threading
import time
import zlib
from dataclasses import dataclass, field
from pathlib import Path
from xml.sax.saxutils import escape, quoteattr

GROUP = 'alt.binaries.test'
LINE = 128
SHIFT = bytes((i + 42) % 256 for i in range(256))
UNSHIFT = bytes((i - 42) % 256 for i in range(256))
RECOVERY_PACKET = b'PAR 2.0\0RecvSlic'
# Files outside every set that a download does not need, as a downloader's default ignore list.
IGNORED = ('.nfo', '.sfv', '.nzb')
# The subject forms a post may use: {i}/{n} counts the files of the NZB, {parts} the file's articles.
SUBJECTS = {
    'quoted': '"{name}" yEnc (1/{parts})',
    'yenc': '{name} yEnc (1/{parts})',
    'counter': '[{i}/{n}] - {name} yEnc (1/{parts})',
    'bracketed': '[PRiVATE]-[WtFnZb]-[{name}]-[{i}/{n}] - "" yEnc {size} (1/{parts})',
}


# ---------------------------------------------------------------- yEnc

def yenc_lines(data, width=LINE):
    enc = data.translate(SHIFT).replace(b'=', b'=}')   # '=' first: the others add '='
    for c in b'\0\n\r':
        enc = enc.replace(bytes([c]), bytes([61, c + 64]))
    lines, pos = [], 0
    while pos < len(enc):
        end = pos + width
        if enc[end - 1:end] == b'=':                    # keep an escape on one line
            end += 1
        line, pos = enc[pos:end], end
        if line[0] in b'\t .':
            line = bytes([61, line[0] + 64]) + line[1:]
        if line[-1] in b'\t ':
            line = line[:-1] + bytes([61, line[-1] + 64])
        lines.append(line)
    return lines


def yenc_fields(line):
    head, _, name = line.partition(b' name=')
    fields = {k.decode(): v.decode() for k, v in re.findall(rb'(\w+)=(\S+)', head)}
    if name:
        fields['name'] = name.decode()
    return fields


def ydecode(lines):
    """Returns the fields of =ybegin, =ypart (empty for the single-part form) and =yend, and the data."""
    begin, end = yenc_fields(lines[0]), yenc_fields(lines[-1])
    part = yenc_fields(lines[1]) if lines[1].startswith(b'=ypart ') else {}
    body = b''.join(lines[1 + bool(part):-1])
    data = re.sub(rb'=(.)', lambda m: bytes([(m[1][0] - 64) % 256]), body, flags=re.S)
    return begin, part, end, data.translate(UNSHIFT)


# ---------------------------------------------------------------- the posting

@dataclass
class Post:
    number: int
    name: str
    data: bytes
    kind: str                     # 'data', 'index' or 'volume'
    set: str | None               # base name of its par2 set; None outside every set
    parts: list = field(default_factory=list)     # (offset, length) of each article
    slices: list = field(default_factory=list)    # (start, end) of each recovery packet's bytes
                                                  # whose loss costs the block
    single: bool = False          # the single-part yEnc form
    posted: str = ''              # the name in the NZB and in =ybegin; the par2 set knows name
    same: 'Post | None' = None    # the post of the file's first listing, for a second listing

    def __post_init__(self):
        self.posted = self.posted or self.name


def recovery_packets(data):
    found, pos = [], 0
    while pos + 64 <= len(data):
        length = int.from_bytes(data[pos + 8:pos + 16], 'little')
        if length < 64:
            break
        if data[pos + 48:pos + 64] == RECOVERY_PACKET:
            found.append((pos, pos + length))
        pos += length
    return found


def overlap(a, b):
    """The byte ranges (offset, length) both lists of ranges cover."""
    both = []
    for o, n in a:
        for p, m in b:
            start, end = max(o, p), min(o + n, p + m)
            if start < end:
                both.append((start, end - start))
    return both


class Trial:
    def __init__(self, seed, folder, rng):
        self.seed, self.folder, self.rng = seed, folder, rng
        self.posts, self.slice = [], {}
        self.gone, self.unlisted, self.dropped = set(), set(), set()
        self.style = 'quoted'      # the subject's form, one of SUBJECTS
        self.heads = False         # whether the NZB's bytes count the article's headers
        self.hidden = False        # whether the par2 files' names hide them
        self.notes = []            # what a disagreement line should also say
        self.article_size = None
        self.line = LINE           # the yEnc line length
        self.counted = False       # whether the subjects' [i/n] counts every file posted, listed or not
        self.mode = None           # how random_trial lost articles

    def add(self, name, data, kind, set_name):
        post = Post(len(self.posts), name, data, kind, set_name)
        self.posts.append(post)
        return post

    def make_set(self, base, sizes, slice_size, count, volumes, dash=None):
        """dash: None keeps par2's NAME.volF+C names, else 'exclusive' or 'inclusive' NAME.volF-E."""
        names = []
        for i, size in enumerate(sizes):
            names.append(f'{base}_{i + 1}.bin')
            (self.folder / names[-1]).write_bytes(self.rng.randbytes(size))
        subprocess.run(['par2', 'create', '-q', '-q', '-t1', f'-s{slice_size}', f'-c{count}',
                        f'-n{volumes}', f'{base}.par2', *names], cwd=self.folder, check=True,
                       stdout=subprocess.DEVNULL)
        for path in sorted(self.folder.glob(f'{base}.vol*.par2')):
            first, blocks = re.search(r'vol(\d+)\+(\d+)', path.name).groups()
            if dash:
                end = int(first) + int(blocks) - (dash == 'inclusive')
                path = path.rename(path.with_name(f'{base}.vol{first}-{end:0{len(first)}d}.par2'))
            names.append(path.name)
        names.append(f'{base}.par2')
        self.slice[base] = slice_size
        # Past the longest file every slice is zero padding, and so is the recovery data:
        # zeroing that tail of a recovery packet leaves it intact.
        live = 68 + min(slice_size, max(sizes))
        for name in names:
            kind = 'data' if name.endswith('.bin') else 'index' if name == f'{base}.par2' else 'volume'
            post = self.add(name, (self.folder / name).read_bytes(), kind, base)
            if kind != 'data':
                post.slices = [(s, min(e, s + live)) for s, e in recovery_packets(post.data)]

    def add_outsider(self, name, size):
        self.add(name, self.rng.randbytes(size), 'data', None)
        (self.folder / name).write_bytes(self.posts[-1].data)

    def cut(self, article_size):
        self.article_size = article_size
        for post in self.posts:
            self.cut_post(post, article_size)

    def cut_post(self, post, article_size):
        n = len(post.data)
        post.parts = [(o, min(article_size, n - o)) for o in range(0, n, article_size)]
        post.single = len(post.parts) == 1 and self.rng.random() < 0.5

    def post(self, name):
        return next(p for p in self.posts if p.name == name)

    def msgid(self, post, k):
        return f't{self.seed}.{post.number}.{k + 1}@validate'

    def lose(self, post, k, unlisted=False):
        (self.unlisted if unlisted else self.gone).add((post.name, k))

    def lose_some(self, post, k):
        """Loses an article, now and then by leaving it out of the NZB instead."""
        self.lose(post, k, len(post.parts) > 1 and self.rng.random() < 0.15)

    def missing(self, post):
        return [post.parts[k] for k in range(len(post.parts))
                if (post.name, k) in self.gone or (post.name, k) in self.unlisted]

    def deleted(self, post):
        return post.name in self.dropped or len(self.missing(post)) == len(post.parts)

    def listings(self):
        """The posts of each file: one, or one per listing of a file listed twice."""
        files = {}
        for post in self.posts:
            files.setdefault((post.same or post).name, []).append(post)
        return list(files.values())

    def ignored(self, post):
        """Whether the data does not need the file: outside every set, named as the ignore list."""
        return post.set is None and post.posted.lower().endswith(IGNORED)

    def lost_everywhere(self, listings):
        """The byte ranges every listing of a file lost."""
        lost = None
        for post in listings:
            mine = [(0, len(post.data))] if self.deleted(post) else self.missing(post)
            lost = mine if lost is None else overlap(lost, mine)
        return lost

    def something_missing(self):
        """Whether a byte the data needs is missing: a file listed twice misses a byte only when
        every listing lost it."""
        return any(self.lost_everywhere(listings) for listings in self.listings() if not self.ignored(listings[0]))

    def lost_blocks(self, post):
        size = self.slice[post.set]
        if self.deleted(post):
            return set(range((len(post.data) + size - 1) // size))
        return {b for o, n in self.missing(post) for b in range(o // size, (o + n - 1) // size + 1)}

    def damage(self, base):
        """The set's damaged data blocks. par2 finds blocks, not bytes, in each listing's copy: a
        block is damaged when every listing lost some of it, even at different bytes."""
        return sum(len(set.intersection(*map(self.lost_blocks, listings))) for listings in self.listings()
                   if listings[0].set == base and listings[0].kind == 'data')

    def blocks(self):
        """Per set [damaged data blocks, intact recovery blocks], counted from the layout; a
        recovery block of a volume listed twice counts once, when some listing kept it."""
        counts = {base: [self.damage(base), 0] for base in self.slice}
        for listings in self.listings():
            if listings[0].set is None or listings[0].kind == 'data':
                continue
            kept = set()
            for post in listings:
                if not self.deleted(post):
                    lost = self.missing(post)
                    kept |= {i for i, (s, e) in enumerate(post.slices)
                             if all(e <= o or o + n <= s for o, n in lost)}
            counts[listings[0].set][1] += len(kept)
        return counts

    def fill(self, base, target, posts=None):
        """Loses data articles of the set (of posts, if given) in random order until target blocks
        are damaged, going past it only when no other article lands on it exactly."""
        articles = [(p, k) for p in posts or self.posts if p.set == base and p.kind == 'data'
                    for k in range(len(p.parts))]
        self.rng.shuffle(articles)
        for overshoot in (False, True):
            for post, k in articles:
                if self.damage(base) >= target:
                    return
                if (post.name, k) in self.gone or (post.name, k) in self.unlisted:
                    continue
                self.lose_some(post, k)
                if not overshoot and self.damage(base) > target:
                    self.gone.discard((post.name, k))
                    self.unlisted.discard((post.name, k))

    def expected(self):
        """What a par2 verify of the zeroed copy should say, from the block counts."""
        return {base: verdict_of(damaged, available)
                for base, (damaged, available) in self.blocks().items()}

    def articles(self):
        """Message-ID with angle brackets -> the dot-stuffed body, for every article still there."""
        served = {}
        for post in self.posts:
            for k, (offset, length) in enumerate(post.parts):
                if (post.name, k) not in self.gone:
                    served[f'<{self.msgid(post, k)}>'] = body(post, k, self.line)
        return served

    def listed(self):
        return [p for p in self.posts if p.name not in self.dropped]

    def numbered(self):
        """The files the subjects' [i/n] counts: those listed, or every file posted."""
        return self.posts if self.counted else self.listed()

    def announced(self):
        """(files listed, files the subjects announce), or None for subjects without [i/n]."""
        return (len(self.listed()), len(self.numbered())) if self.style in ('counter', 'bracketed') else None

    def subject(self, post):
        numbered = self.numbered()
        i = numbered.index(post) + 1 if post in numbered else post.number + 1
        return SUBJECTS[self.style].format(name=post.posted, i=i, n=len(numbered),
                                           parts=len(post.parts), size=len(post.data))

    def head(self, post, k):
        """The article's header block as a server sends it before the blank line."""
        msgid = f'<{self.msgid(post, k)}>'
        if not self.heads:
            return f'From: v@x\r\nNewsgroups: {GROUP}\r\nMessage-ID: {msgid}\r\n'.encode()
        rng = random.Random(f'head {self.seed} {post.number} {k}')
        length = post.parts[k][1]
        lines = [f'Path: news.validate!{rng.choice(["not-for-mail", "feed.validate!not-for-mail"])}',
                 f'From: {rng.choice(["poster", "Anonymous", "yposter"])} <{rng.randbytes(5).hex()}@validate.invalid>',
                 f'Newsgroups: {GROUP}', f'Subject: {self.subject(post)}', f'Message-ID: {msgid}',
                 'Date: Tue, 14 Nov 2023 22:13:20 +0000', f'Lines: {length // self.line + 3}',
                 'Organization: validate', f'X-Received-Bytes: {length * 102 // 100 + 600}']
        text = '\r\n'.join(lines) + '\r\n'
        pad = rng.randint(400, 700) - len(text) - len('X-Ufhash: \r\n')
        if pad > 0:
            text += 'X-Ufhash: ' + ''.join(rng.choices(string.ascii_letters + string.digits, k=pad)) + '\r\n'
        return text.encode()

    def nzb_bytes(self, post, k, served=None):
        """The segment's bytes attribute: the body, with the headers and their blank line or without."""
        found = (served or {}).get(f'<{self.msgid(post, k)}>') or body(post, k, self.line)
        return len(found) + (len(self.head(post, k)) + 2 if self.heads else 0)

    def write_nzb(self, path, served):
        out = ['<?xml version="1.0" encoding="utf-8"?>',
               '<nzb xmlns="http://www.newzbin.com/DTD/2003/nzb">']
        for post in self.listed():
            out += [f'<file poster="v@x" date="1700000000" subject={quoteattr(self.subject(post))}>',
                    f' <groups><group>{GROUP}</group></groups>', ' <segments>']
            for k in range(len(post.parts)):
                if (post.name, k) not in self.unlisted:
                    msgid = self.msgid(post, k)
                    size = self.nzb_bytes(post, k, served)
                    out.append(f'  <segment bytes="{size}" number="{k + 1}">{escape(msgid)}</segment>')
            out += [' </segments>', '</file>']
        out.append('</nzb>')
        path.write_text('\n'.join(out) + '\n', encoding='utf-8')

    def renamed(self):
        return any(p.posted != p.name for p in self.posts)

    def copy_name(self, post):
        """The file's name in the zeroed copy: as posted, a second listing's with its number
        added, and a par2 file under a name that hides it gets ".par2" added, as a downloader
        that finds par2 files by content does (par2 takes neither a target nor extra par2 files
        without ".par2" in the name)."""
        name = f'{post.posted}.{post.number}' if post.same else post.posted
        hidden = post.kind != 'data' and not name.lower().endswith('.par2')
        return name + '.par2' if hidden else name

    def zeroed_copy(self, folder):
        folder.mkdir()
        for post in self.posts:
            if not self.deleted(post):
                data = bytearray(post.data)
                for offset, length in self.missing(post):
                    data[offset:offset + length] = bytes(length)
                (folder / self.copy_name(post)).write_bytes(data)


def body(post, k, line=LINE):
    offset, length = post.parts[k]
    chunk, size = post.data[offset:offset + length], len(post.data)
    if post.single:
        lines = [f'=ybegin line={line} size={size} name={post.posted}'.encode(), *yenc_lines(chunk, line),
                 f'=yend size={length} crc32={zlib.crc32(chunk):08x}'.encode()]
    else:
        lines = [f'=ybegin part={k + 1} total={len(post.parts)} line={line} size={size} '
                 f'name={post.posted}'.encode(),
                 f'=ypart begin={offset + 1} end={offset + length}'.encode(), *yenc_lines(chunk, line),
                 f'=yend size={length} part={k + 1} pcrc32={zlib.crc32(chunk):08x} '
                 f'crc32={zlib.crc32(post.data):08x}'.encode()]
    return b''.join((b'.' + line if line.startswith(b'.') else line) + b'\r\n' for line in lines)


# ---------------------------------------------------------------- trials

MODES = ['nothing', 'par2 only', 'edge', 'repairable', 'beyond']


def random_trial(seed, folder, cut=None, weights=(1, 1, 6, 2, 1), drop=0.15):
    """cut(trial, rng) cuts the files into articles instead of one random size for all; weights
    are those of MODES; drop is the chance that a whole data file is left out of the NZB."""
    rng = random.Random(seed)
    trial = Trial(seed, folder, rng)
    total = rng.randint(200_000, 3_000_000)
    cuts = sorted(rng.sample(range(1000, total - 1000, 1000), rng.randint(0, 3)))
    sizes = [b - a for a, b in zip([0, *cuts], [*cuts, total])]
    slice_size = rng.choice([65_536, 768_000, 4 * rng.randint(5_000, 200_000)])
    blocks = sum((s + slice_size - 1) // slice_size for s in sizes)
    count = rng.randint(1, min(30, blocks // 2 + 2))
    dash = rng.choice([None, None, None, 'exclusive', 'inclusive'])
    trial.make_set('set', sizes, slice_size, count, rng.randint(1, min(count, 4)), dash)
    if cut:
        cut(trial, rng)
    else:
        trial.cut(rng.choice([716_800, 768_000, slice_size, rng.randint(40_000, 800_000)]))
    rng.shuffle(trial.posts)

    mode = trial.mode = rng.choices(MODES, weights)[0]
    if mode == 'nothing':
        return trial
    if mode == 'par2 only' or rng.random() < 0.5:
        lose_index = rng.random() < 0.2
        volumes = [p for p in trial.posts if p.kind == 'volume']
        keep = rng.choice(volumes) if lose_index else None    # par2 needs one readable file
        for post in trial.posts:
            if post.kind == 'index' and lose_index:
                trial.gone.update((post.name, k) for k in range(len(post.parts)))
            elif post.kind == 'volume' and post is not keep:
                for k in range(len(post.parts)):
                    if rng.random() < 0.3:
                        trial.lose_some(post, k)
    if mode == 'par2 only':
        return trial
    target = aim(trial, rng)
    data = [p for p in trial.posts if p.kind == 'data']
    if len(data) > 1 and rng.random() < drop:
        trial.dropped.add(rng.choice(data).name)
    trial.fill('set', max(1, target))
    return trial


def aim(trial, rng):
    """The damaged blocks the trial's mode aims at, from the recovery blocks left."""
    available = trial.blocks()['set'][1]
    return {'edge': available + rng.choice([-1, 0, 0, 1, 1, 2]),
            'repairable': rng.randint(1, max(1, available)),
            'beyond': available + rng.randint(2, 8)}[trial.mode]


def obscure(rng):
    return rng.randbytes(16).hex()


def shaped(shape):
    """A random trial as random_trial makes it, posted in the given shape."""
    def make(seed, folder):
        trial = random_trial(seed, folder)
        rng = random.Random(f'{shape} {seed}')   # its own draws: the files and losses stay the same
        trial.heads = rng.random() < 0.5
        trial.style = shape.removeprefix('subject-') if shape.startswith('subject-') else 'quoted'
        if shape.startswith('obfuscated'):
            hide_data = shape == 'obfuscated' or rng.random() < 0.5
            trial.hidden = shape == 'obfuscated-par2'
            for post in trial.posts:
                if (post.kind == 'data') == hide_data or trial.hidden and post.kind != 'data':
                    post.posted = obscure(rng)
            if rng.random() < 0.15:
                add_extra_file(trial, rng)
        for post in trial.posts:
            first_lost = (post.name, 0) in trial.gone or (post.name, 0) in trial.unlisted
            if trial.hidden and post.kind != 'data' and first_lost and not trial.deleted(post):
                trial.notes.append(f'the par2 file {post.posted} lost its first article')
        return trial
    return make


def add_extra_file(trial, rng):
    """A file outside the set under a random name, as big as a volume, a data file or an .nfo,
    now and then with an article lost."""
    alike = [p for p in trial.posts if p.set is not None and p.kind != 'index']
    model = rng.choice(alike) if rng.random() < 0.7 else None
    size = len(model.data) if model else rng.randint(2_000, 60_000)
    add_outside(trial, rng, obscure(rng), size, lambda: rng.random() < 0.5)
    trial.notes.append(f'an extra file of {size} bytes' + (f', as big as {model.kind} {model.name}' if model else ''))


def add_outside(trial, rng, name, size, lose):
    """A file outside every set at a random place of the NZB; lose() says whether one of its
    articles is lost."""
    post = trial.add(name, rng.randbytes(size), 'data', None)
    (trial.folder / post.name).write_bytes(post.data)
    trial.posts.insert(rng.randrange(len(trial.posts)), trial.posts.pop())
    post.parts = [(o, min(trial.article_size, size - o)) for o in range(0, size, trial.article_size)]
    if lose():
        trial.lose(post, rng.randrange(len(post.parts)))
    return post


def repost(seed, folder):
    """One or two files of the set listed twice under the same name (now and then in other
    letter case), the second listing now and then cut at another article size; the damage in the
    first listing, the second, or both, aimed at the limit again on the merged files."""
    trial = random_trial(seed, folder)
    rng = random.Random(f'repost {seed}')
    trial.heads = rng.random() < 0.5
    plans = {}
    for _ in range(1 if rng.random() < 0.75 else 2):
        kind = rng.choices(['data', 'volume', 'index'], [6, 3, 1])[0]
        pool = [p for p in trial.posts if p.kind == kind and p.set and p.name not in trial.dropped
                and not p.same and p.name not in plans]
        if not pool:
            continue
        first = rng.choice(pool)
        size = rng.choice([716_800, 768_000, rng.randint(100_000, 800_000)]) if rng.random() < 0.4 \
            else trial.article_size
        second = trial.add(first.name + '#2', first.data, first.kind, first.set)
        second.same, second.slices = first, first.slices
        second.posted = first.posted.upper() if rng.random() < 0.15 else first.posted
        trial.cut_post(second, size)
        place = rng.choice([trial.posts.index(first) + 1, len(trial.posts) - 1, rng.randrange(len(trial.posts))])
        trial.posts.insert(place, trial.posts.pop())
        plans[first.name] = plan = rng.choice(['first', 'second', 'both', 'both'])
        lost = trial.missing(first) or [first.parts[k] for k in range(len(first.parts)) if rng.random() < 0.3]
        if plan != 'first':
            chance = 1 if plan == 'second' else 0.6
            for k, part in enumerate(second.parts):
                if overlap([part], lost) and rng.random() < chance or plan == 'both' and rng.random() < 0.1:
                    trial.lose_some(second, k)
        if plan == 'second':
            trial.gone -= {(first.name, k) for k in range(len(first.parts))}
            trial.unlisted -= {(first.name, k) for k in range(len(first.parts))}
        elif plan == 'both' and not trial.missing(first):
            for k in range(len(first.parts)):
                if rng.random() < 0.3:
                    trial.lose_some(first, k)
        damaged = {'first': 'the first listing', 'second': 'the second listing', 'both': 'both listings'}[plan]
        trial.notes.append(f'{first.kind} {first.name} listed twice ({damaged} damaged'
                           + (f', the second in {size}-byte articles' if size != trial.article_size else '') + ')')
    if trial.mode in ('edge', 'repairable', 'beyond') and rng.random() < 0.8:
        # only the listings the plan damages lose more
        posts = [p for p in trial.posts if plans.get((p.same or p).name, 'both') in ('both', 'second' if p.same else 'first')]
        trial.fill('set', max(1, aim(trial, rng)), posts)
    for listings in trial.listings():   # where merging bytes would repair what par2 cannot
        if len(listings) > 1 and listings[0].kind == 'data':
            size = trial.slice[listings[0].set]
            apart = set.intersection(*map(trial.lost_blocks, listings)) - {
                b for o, n in trial.lost_everywhere(listings) for b in range(o // size, (o + n - 1) // size + 1)}
            if apart:
                trial.notes.append(f'{len(apart)} block(s) of {listings[0].name} lost in each listing at different bytes')
    return trial


def refill(seed, folder):
    """Files cut at 100 to 800 KB, but for one data file or volume at 4 to 40 KB."""
    def cut(trial, rng):
        trial.cut(rng.choice([716_800, 768_000, rng.randint(100_000, 800_000)]))
        kind = 'data' if rng.random() < 0.7 else 'volume'
        post = rng.choice([p for p in trial.posts if p.kind == kind])
        size = rng.choice([4_096, rng.randint(4_000, 40_000)])
        trial.cut_post(post, size)
        trial.notes.append(f'{post.name} in {size}-byte articles, the others in {trial.article_size}')
    trial = random_trial(seed, folder, cut)
    trial.heads = random.Random(f'refill {seed}').random() < 0.5
    return trial


def stat_only_edge(seed, folder):
    """Near the limit for --stat-only: lines of 128 or 256 characters, now and then a whole data
    file left out, and half the time subjects led by [i/n] that counts every file posted."""
    trial = random_trial(seed, folder, weights=(0, 0, 1, 0, 0), drop=0.3)
    rng = random.Random(f'stat-only-edge {seed}')
    trial.heads = rng.random() < 0.5
    trial.line = rng.choice([128, 256])
    if rng.random() < 0.5:
        trial.style, trial.counted = 'counter', True
    trial.notes += [f'lines of {trial.line}'] + ['[i/n] counts every file posted'] * trial.counted \
        + [f'{name} left out' for name in sorted(trial.dropped)]
    return trial


def nfo_outside(seed, folder):
    """An .nfo outside the set that loses an article; now and then an .sfv or .nzb too, or a file
    the ignore list does not name."""
    trial = random_trial(seed, folder)
    rng = random.Random(f'nfo-outside {seed}')
    trial.heads = rng.random() < 0.5
    name = rng.choice(['set.nfo', 'Some.Release.2023.1080p-GRP.nfo', 'INFO.NFO', 'readme.Nfo'])
    add_outside(trial, rng, name, rng.randint(1_000, 60_000), lambda: rng.random() < 0.9)
    if rng.random() < 0.25:
        add_outside(trial, rng, rng.choice(['set.sfv', 'SET.SFV', 'set.nzb']), rng.randint(100, 3_000),
                    lambda: rng.random() < 0.5)
    if rng.random() < 0.2:
        add_outside(trial, rng, rng.choice(['cover.jpg', 'set.nfo.txt', 'nfo']), rng.randint(2_000, 60_000),
                    lambda: rng.random() < 0.5)
    trial.notes += [f'{p.posted} outside, {len(trial.missing(p))} lost' for p in trial.posts if p.set is None]
    return trial


SHAPES = {name: shaped(name) for name in
          ('ordinary', 'obfuscated', 'obfuscated-par2', 'subject-yenc', 'subject-counter', 'subject-bracketed')}
SHAPES.update({'repost': repost, 'refill': refill, 'stat-only-edge': stat_only_edge, 'nfo-outside': nfo_outside})
# Shapes that run the tool with --stat-only whatever the command line says.
STAT_ONLY_SHAPES = {'stat-only-edge'}


def fixed(make_set_args, article_size, damage, outsiders=()):
    def scenario(seed, folder):
        trial = Trial(seed, folder, random.Random(seed))
        for args in make_set_args:
            trial.make_set(*args)
        for name, size in outsiders:
            trial.add_outsider(name, size)
        trial.cut(article_size)
        damage(trial)
        return trial
    return scenario


def edge(base='set', extra=0):
    return lambda t: t.fill(base, t.blocks()[base][1] + extra)


def then(*steps):
    def run(trial):
        for step in steps:
            step(trial)
    return run


def lose_part(name, k, unlisted=False):
    return lambda t: t.lose(t.post(name), k, unlisted)


def lose_file(name):
    return lambda t: t.gone.update((name, k) for k in range(len(t.post(name).parts)))


FIXED = {
    'nothing missing': fixed([('set', [900_000, 400_000], 65_536, 5, 2)], 716_800, lambda t: None),
    'aligned articles': fixed([('set', [1_536_000, 1_000_000], 768_000, 2, 1)], 768_000,
                              then(lose_part('set_1.bin', 1), lose_part('set_2.bin', 0))),
    'misaligned articles': fixed([('set', [2_000_000], 300_000, 3, 2)], 716_800,
                                 lose_part('set_1.bin', 1)),
    'short last article missing': fixed([('set', [1_800_000], 262_144, 2, 1)], 716_800,
                                        lose_part('set_1.bin', 2)),
    'damaged volume': fixed([('set', [1_000_000, 900_000], 200_000, 8, 2)], 716_800,
                            then(lose_part('set.vol4+4.par2', 0), edge())),
    'only par2 files damaged': fixed([('set', [700_000], 100_000, 6, 2)], 300_000,
                                     then(lose_part('set.vol2+4.par2', 1), lose_file('set.par2'))),
    'missing index': fixed([('set', [1_200_000, 300_000], 65_536, 12, 3)], 716_800,
                           then(lose_file('set.par2'), edge(extra=-1))),
    'beyond repair': fixed([('set', [2_500_000], 131_072, 4, 2)], 716_800, edge(extra=3)),
    'two sets': fixed([('alpha', [800_000, 500_000], 65_536, 6, 2),
                       ('beta', [1_200_000], 100_000, 3, 1)], 716_800,
                      then(lose_part('alpha_1.bin', 1), edge('beta', 2))),
    'file outside any set': fixed([('set', [600_000], 65_536, 4, 1)], 250_000,
                                  then(lose_part('set_1.bin', 0), lose_part('notes.bin', 1)),
                                  [('notes.bin', 600_000)]),
    'dash volumes, end exclusive': fixed([('set', [1_500_000], 100_000, 7, 3, 'exclusive')],
                                         400_000, then(lose_part('set.vol1-3.par2', 0), edge())),
    'dash volumes, end inclusive': fixed([('set', [1_500_000], 100_000, 7, 3, 'inclusive')],
                                         250_000, then(lose_part('set.vol3-6.par2', 1), edge())),
    'parts announced but not listed': fixed(
        [('set', [1_400_000, 900_000], 90_000, 6, 2)], 300_000,
        then(lose_part('set_1.bin', 2, True), lose_part('set_2.bin', 0, True),
             lose_part('set.vol2+4.par2', 1, True), edge())),
}


# ---------------------------------------------------------------- the server

class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True

    def __init__(self):
        super().__init__(('127.0.0.1', 0), Session)
        self.articles, self.heads = {}, {}
        self.slots = threading.BoundedSemaphore(10)
        self.lock = threading.Lock()
        self.read = [0, 0]     # articles sent for BODY and ARTICLE, and the bytes of those replies
        threading.Thread(target=self.serve_forever, daemon=True).start()

    @property
    def port(self):
        return self.server_address[1]

    def serve(self, trial):
        self.articles = trial.articles()
        self.heads = {msgid: trial.head(post, k) for post in trial.posts for k in range(len(post.parts))
                      if (msgid := f'<{trial.msgid(post, k)}>') in self.articles}
        self.read = [0, 0]

    def sent(self, reply):
        with self.lock:
            self.read[0] += 1
            self.read[1] += len(reply)


class Session(socketserver.StreamRequestHandler):
    def handle(self):
        if not self.server.slots.acquire(blocking=False):
            self.wfile.write(b'400 too many connections\r\n')
            return
        try:
            self.wfile.write(b'200 validate ready\r\n')
            for line in self.rfile:
                reply = self.answer(line.decode('latin-1').split())
                self.wfile.write(reply)
                if reply.startswith(b'205'):
                    return
        except OSError:
            pass
        finally:
            self.server.slots.release()

    def answer(self, words):
        verb = words[0].upper() if words else ''
        arg = words[1] if len(words) > 1 else ''
        found = self.server.articles.get(arg)
        if verb == 'QUIT':
            return b'205 bye\r\n'
        if verb == 'GROUP' and arg:
            return f'211 0 1 1 {arg}\r\n'.encode()
        if verb not in ('STAT', 'HEAD', 'BODY', 'ARTICLE'):
            return b'500 what?\r\n'
        if found is None:
            return b'430 no such article\r\n'
        if verb == 'STAT':
            return f'223 0 {arg}\r\n'.encode()
        head = self.server.heads.get(arg) or \
            f'From: v@x\r\nNewsgroups: {GROUP}\r\nMessage-ID: {arg}\r\n'.encode()
        if verb == 'HEAD':
            return f'221 0 {arg}\r\n'.encode() + head + b'.\r\n'
        if verb == 'ARTICLE':
            reply = f'220 0 {arg}\r\n'.encode() + head + b'\r\n' + found + b'.\r\n'
        else:
            reply = f'222 0 {arg}\r\n'.encode() + found + b'.\r\n'
        self.server.sent(reply)
        return reply


# ---------------------------------------------------------------- the referee and the tool

def verdict_of(damaged, available):
    if damaged == 0:
        return ('not needed',)
    if damaged <= available:
        return ('possible', damaged, available)
    return ('not possible', damaged - available, available)


def par2_verdicts(trial, folder):
    """par2 verify's verdict per set, on the zeroed copy in folder. When names were changed,
    every other file of the copy is given as an extra file, as a downloader that renames
    through par2 does, and par2 matches them by content."""
    verdicts = {}
    files = sorted(path.name for path in folder.iterdir())
    for base in trial.slice:
        left = sorted((p for p in trial.posts if p.set == base and p.kind != 'data' and not trial.deleted(p)),
                      key=lambda p: (p.kind != 'index', p.name))
        target = trial.copy_name(left[0])
        extra = [name for name in files if name != target] if trial.renamed() else []
        run = subprocess.run(['par2', 'verify', '-t1', target, *extra], cwd=folder,
                             capture_output=True, text=True)
        text = run.stdout.replace('\r', '\n')
        (folder / f'par2-verify-{base}.txt').write_text(text)
        available = re.search(r'You have (\d+) recovery blocks? available', text)
        used = re.search(r'(\d+) recovery blocks? will be used to repair', text)
        short = re.search(r'You need (\d+) more recovery blocks? to be able to repair', text)
        found = re.search(r'You have (\d+) out of (\d+) data blocks available', text)
        if run.returncode == 0 and 'All files are correct, repair is not required.' in text:
            verdicts[base] = ('not needed',)
        elif found and found[1] == found[2]:   # every block found, some under other names
            verdicts[base] = ('not needed',)
        elif available and used:
            verdicts[base] = ('possible', int(used[1]), int(available[1]))
        elif short:   # with no recovery block at all, par2 does not say how many it has
            verdicts[base] = ('not possible', int(short[1]), int(available[1]) if available else 0)
        else:
            raise RuntimeError(f'par2 verify {target} in {folder} gave no verdict:\n{text}')
    return verdicts


VERDICT_LINE = re.compile(r'^Repair(?: \((.+)\))?: (.*)$', re.M)
VERDICT_TEXTS = [
    ('not needed', r'not needed, every data article was found\.'),
    # An estimated count of available blocks reads "M1 to M2".
    ('possible', r'possible, needs (\d+) of (\d+)(?: to (\d+))? recovery block\(s\)\.'),
    ('not possible', r'not possible, (\d+) recovery block\(s\) short \(needs (\d+), (\d+) available\)\.'),
    ('uncertain', r'uncertain, needs (\d+) to (\d+) of (\d+)(?: to (\d+))? recovery block\(s\)\.'),
    ('unknown', r'unknown, the NZB has no par2 recovery files\.'),
    ('unknown', r'unknown, no par2 file was found among (\d+) files read \(the names may be obfuscated\)\.'),
    ('unknown', r'unknown, no file is named as par2 \(the names may be obfuscated\)\.'),
]
HIDDEN_UNKNOWN = 'unknown, no file is named as par2 (the names may be obfuscated).'


def parse_verdict(text):
    """(kind, the numbers of the text in order); the upper end of a count not given is None."""
    for kind, pattern in VERDICT_TEXTS:
        m = re.fullmatch(pattern, text)
        if m:
            return (kind, *(None if g is None else int(g) for g in m.groups()))
    return ('unreadable',)


def describe(verdict):
    kind, *n = verdict
    if kind == 'possible':
        return f'possible, {n[0]} of {n[1]} used'
    if kind == 'not possible':
        return f'not possible, {n[0]} short, {n[1]} available'
    return kind


def judge(truth, said, stat_only, shape=None, hidden=False, capped=False):
    """None when the tool's verdict text agrees with par2's, 'uncertain', or what is wrong.
    Without a shape it judges as it always did; with one, an "uncertain" must hold par2's
    count (and is a disagreement for ordinary posts unless the tool ran with --stat-only), and
    an available count given as a range must hold par2's. With --stat-only, "possible" gives the
    high end of its estimate, so at least par2's count; capped (the subjects announce files the
    NZB does not list) allows no better than "uncertain" then."""
    if said is None:
        return 'no verdict line'
    kind, *n = parse_verdict(said)
    wrong = f'says "{said}", par2 says {describe(truth)}'
    if shape is None:
        if kind == 'uncertain' and stat_only:
            return 'uncertain'
        # the lower end of an estimated count of available blocks is compared
        ok = kind == truth[0] and (stat_only or kind == 'not needed'
                                   or kind == 'possible' and tuple(n[:2]) == truth[1:]
                                   or kind == 'not possible' and n == [truth[1], sum(truth[1:]), truth[2]])
        return None if ok else wrong
    if truth[0] == 'not needed':
        damaged, available = 0, None     # par2 does not say how many recovery blocks it has then
    else:
        damaged, available = truth[1] + (truth[0] == 'not possible') * truth[2], truth[2]

    def holds(low, high):
        return available is None or low <= available <= (low if high is None else high)
    if kind == 'uncertain':
        if shape == 'ordinary' and not stat_only:
            return wrong
        return 'uncertain' if n[0] <= damaged <= n[1] and holds(n[2], n[3]) else wrong
    if kind == 'unknown':   # par2 decided, so only the names hiding every par2 file excuse it
        return None if stat_only and hidden and said == HIDDEN_UNKNOWN else wrong
    if capped and stat_only and kind in ('possible', 'not needed'):
        return wrong + '; the subjects announce files the NZB does not list'
    if kind != truth[0]:
        return wrong
    if stat_only and kind == 'possible':
        return None if n[0] >= damaged else wrong + ' (below par2\'s count)'
    if stat_only or kind == 'not needed':
        return None
    if kind == 'possible':
        return None if n[0] == damaged and holds(n[1], n[2]) else wrong
    return None if n == [truth[1], damaged, available] else wrong


def compare(trial, truth, stdout, code, stat_only, shape=None):
    """(list of disagreements, whether a verdict was uncertain, whether one was a false promise:
    "possible" or "not needed", or an exit code that says so, where par2 says not possible)."""
    said, problems = {}, []
    for name, text in VERDICT_LINE.findall(stdout):
        base = name.removesuffix('.par2') if name else next(iter(truth)) if len(truth) == 1 else ''
        if shape is not None and len(truth) == 1:   # the tool may call a renamed set anything
            base = next(iter(truth))
        if base not in truth:
            problems.append(f'verdict line for an unknown set: Repair ({name}): {text}')
        elif base in said:
            problems.append(f'a second verdict line for the set: Repair ({name}): {text}')
        said[base] = text
    announced = trial.announced()
    capped = bool(announced and announced[1] > announced[0])
    findings = {base: judge(truth[base], said.get(base), stat_only, shape, trial.hidden, capped) for base in truth}
    uncertain = 'uncertain' in findings.values()
    problems += [f'{base}: {f}' for base, f in findings.items() if f not in (None, 'uncertain')]
    said_kinds = {base: parse_verdict(text)[0] for base, text in said.items()}
    promise = any(truth[b][0] == 'not possible' and said_kinds.get(b) in ('possible', 'not needed') for b in truth)

    lost = [p for p in trial.listed() if p.set is None and trial.missing(p)]
    outside = {p.posted for p in lost if not trial.ignored(p)}
    unneeded = {p.posted for p in lost if trial.ignored(p)}
    reported = set(re.findall(r'^Not covered by par2: (.+)$', stdout, re.M))
    said_unneeded = set(re.findall(r'^Not covered by par2 \(not needed\): (.+)$', stdout, re.M))
    if said_unneeded != unneeded:
        problems.append(f'"Not covered by par2 (not needed)" lines name {sorted(said_unneeded)}, expected {sorted(unneeded)}')
    counted = [tuple(map(int, m)) for m in re.findall(
        r'^The NZB lists (\d+) of the (\d+) files its subjects announce\.$', stdout, re.M)]
    if counted and counted != [announced] or capped and not counted:
        problems.append(f'"The NZB lists K of the N files" lines say {counted}, expected '
                        + (f'{announced}' if capped else f'none or {announced}' if announced else 'none'))
    if reported != outside:
        posted = {}
        for post in trial.posts:
            posted.setdefault(post.posted.lower(), []).append(post)

        def what(post):
            return f'{"lost " * trial.deleted(post)}{post.kind} {(post.same or post).name}' + ', second listing' * bool(post.same)
        named = [name if all(p.set is None for p in posted.get(name.lower(), [])) else
                 f'{name} ({"; ".join(map(what, posted[name.lower()]))})' for name in sorted(reported)]
        problems.append(f'"Not covered by par2" lines name {named}, expected {sorted(outside)}')
    empty = re.findall(r'^(?:Repair \(\s*\)|Not covered by par2(?: \(not needed\))?:\s*$).*', stdout, re.M)
    if empty:
        problems.append(f'lines without a name: {empty}')

    kinds = [('uncertain',) if findings[b] == 'uncertain' else
             ('unknown',) if findings[b] is None and said_kinds.get(b) == 'unknown' else truth[b] for b in truth]
    if outside or any(k[0] not in ('not needed', 'possible') for k in kinds):
        expected = 1
    else:
        expected = 5 if trial.something_missing() or kinds != [('not needed',)] * len(kinds) else 0
    if code != expected:
        problems.append(f'exit {code}, expected {expected}')
        promise = promise or (code in (0, 5) and any(truth[b][0] == 'not possible' for b in truth))
    return problems, uncertain, promise


@dataclass
class Outcome:
    result: str                   # 'agree', 'disagree' or 'uncertain'
    promise: bool = False         # a false promise among the disagreements
    articles: int = 0             # articles the tool read (BODY or ARTICLE answered)
    bytes: int = 0                # the bytes of those replies


def run_trial(label, make, seed, server, args, shape=None):
    """Prints what disagrees; returns the trial's Outcome."""
    stat_only = args.stat_only or shape in STAT_ONLY_SHAPES
    with tempfile.TemporaryDirectory(prefix='par2-validate-') as tmp:
        tmp = Path(tmp)
        (tmp / 'post').mkdir()
        trial = make(seed, tmp / 'post')
        server.serve(trial)
        nzb = tmp / 'trial.nzb'
        trial.write_nzb(nzb, server.articles)
        trial.zeroed_copy(tmp / 'truth')
        truth = par2_verdicts(trial, tmp / 'truth')
        model = trial.expected()
        if model != truth:
            print(f'note: {label} (seed {seed}): par2 {truth}, block layout {model}')
        try:
            tool = subprocess.run([args.check, '--server', f'127.0.0.1:{server.port}:4',
                                   *(['--stat-only'] if stat_only else []), str(nzb)],
                                  capture_output=True, text=True, timeout=300)
            (tmp / 'tool.txt').write_text(tool.stdout + tool.stderr)
            problems, uncertain, promise = compare(trial, truth, tool.stdout, tool.returncode,
                                                   stat_only, shape)
        except subprocess.TimeoutExpired:
            problems, uncertain, promise = ['the tool ran for more than 300 s'], False, False
        outcome = Outcome('agree', promise, *server.read)
        if not problems and uncertain:
            verdicts = '; '.join(VERDICT_LINE.findall(tool.stdout)[i][1] for i in range(len(truth)))
            print(f'uncertain {label} (seed {seed}): {verdicts}; par2 says ' + '; '.join(map(describe, truth.values())))
        if not problems:
            outcome.result = 'uncertain' if uncertain else 'agree'
            return outcome
        kept = ''
        if args.keep:
            kept = Path(args.keep) / (re.sub(r'\W+', '-', label) + f'-{seed}')
            shutil.rmtree(kept, ignore_errors=True)
            shutil.copytree(tmp, kept)
            kept = f', kept in {kept}'
        notes = ['bytes with headers'] * trial.heads + trial.notes
        print(f'DISAGREE {label} (seed {seed}{kept}){" [" + "; ".join(notes) + "]" if notes else ""}: '
              + ('FALSE PROMISE; ' if promise else '') + '; '.join(problems))
        outcome.result = 'disagree'
        return outcome


def shape_table(shapes, outcomes, stat_only=False):
    """The summary per shape; returns whether every shape passes: no disagreement, and at most
    5 % uncertain unless the tool ran with --stat-only (marked * then: any share is allowed)."""
    print(f'{"shape":<18} {"trials":>6} {"agree":>6} {"disagree":>8} {"false promise":>13} '
          f'{"uncertain":>14} {"articles mean/max":>17} {"bytes mean/max":>21}')
    passed = True
    for shape in shapes:
        mine = [o for s, o in outcomes if s == shape]
        count = {r: sum(o.result == r for o in mine) for r in ('agree', 'disagree', 'uncertain')}
        share = count['uncertain'] / max(1, len(mine))
        articles, sizes = [o.articles for o in mine] or [0], [o.bytes for o in mine] or [0]
        free = stat_only or shape in STAT_ONLY_SHAPES
        print(f'{shape:<18} {len(mine):>6} {count["agree"]:>6} {count["disagree"]:>8} '
              f'{sum(o.promise for o in mine):>13} {count["uncertain"]:>6} ({share:5.1%}){"*" if free else " "}'
              f'{sum(articles) / len(articles):>8.1f} / {max(articles):<5} '
              f'{sum(sizes) / len(sizes):>11,.0f} / {max(sizes):<10,}')
        passed = passed and not count['disagree'] and (free or share <= 0.05)
    return passed


# ---------------------------------------------------------------- self-test

class Client:
    def __init__(self, port):
        self.sock = socket.create_connection(('127.0.0.1', port))
        self.file = self.sock.makefile('rb')

    def send(self, *commands):
        self.sock.sendall(b''.join(c.encode() + b'\r\n' for c in commands))

    def status(self):
        return self.file.readline().decode().rstrip('\r\n')

    def block(self):
        lines = []
        while (line := self.file.readline().rstrip(b'\r\n')) != b'.':
            lines.append(line[1:] if line.startswith(b'..') else line)
        return lines


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def test_yenc():
    awkward = bytes([0x04, 0xDF, 0xF6, 0xD6, 0xE0, 0xE3, 0x13]) * 200   # '.', TAB, space, NUL, LF, CR, '='
    rng = random.Random(7)
    for data in [awkward, bytes(range(256)) * 9, rng.randbytes(50_000), b'\x04', b'\xf6']:
        for width in (LINE, 256):
            lines = yenc_lines(data, width)
            check(all(len(l) <= width + 2 and l[:1] not in (b'\t', b' ', b'.') and l[-1:] not in (b'\t', b' ')
                      and not re.search(rb'[\0\r\n]', l) for l in lines), 'yEnc line rules')
            check(len(data) < 1000 or max(map(len, lines)) >= width, f'lines of {width}')
            check(ydecode([b'=ybegin', *lines, b'=yend'])[3] == data, 'yEnc round trip')


def test_server(server, trial):
    server.serve(trial)
    served = server.articles
    present = next(iter(served))
    post, k = next((p, k) for p in trial.posts for k in range(len(p.parts))
                   if f'<{trial.msgid(p, k)}>' == present)
    c = Client(server.port)
    check(c.status() == '200 validate ready', 'greeting')
    c.send(f'GROUP {GROUP}', f'STAT {present}', 'STAT <nowhere@validate>', f'BODY {present}',
           f'HEAD {present}', 'BODY <nowhere@validate>', 'LIST', f'STAT {present}',
           f'ARTICLE {present}', 'ARTICLE <nowhere@validate>', 'QUIT')
    check(c.status() == f'211 0 1 1 {GROUP}', 'GROUP')
    check(c.status() == f'223 0 {present}', 'STAT of a present article')
    check(c.status() == '430 no such article', 'STAT of a missing article')
    check(c.status() == f'222 0 {present}', 'BODY status')
    offset, length = post.parts[k]
    check(ydecode(c.block())[3] == post.data[offset:offset + length], 'BODY content')
    check(c.status() == f'221 0 {present}' and f'Message-ID: {present}'.encode() in c.block(), 'HEAD')
    check(c.status() == '430 no such article', 'BODY of a missing article')
    check(c.status() == '500 what?', 'unknown command')
    check(c.status() == f'223 0 {present}', 'STAT after the others')
    check(c.status() == f'220 0 {present}', 'ARTICLE status')
    article = c.block()
    blank = article.index(b'')
    check(f'Message-ID: {present}'.encode() in article[:blank]
          and ydecode(article[blank + 1:])[3] == post.data[offset:offset + length], 'ARTICLE')
    check(c.status() == '430 no such article', 'ARTICLE of a missing article')
    check(c.status() == '205 bye' and c.file.readline() == b'', 'QUIT closes')
    both = len(f'222 0 {present}\r\n') + len(f'220 0 {present}\r\n') + 2 * len(served[present]) \
        + len(server.heads[present]) + 2 + 2 * len(b'.\r\n')
    check(server.read == [2, both], f'one BODY and one ARTICLE counted, {both} bytes: {server.read}')
    clients = [Client(server.port) for _ in range(11)]
    greetings = sorted(c.status()[:3] for c in clients)
    check(greetings == ['200'] * 10 + ['400'], f'ten connections at once, not more: {greetings}')
    for c in clients:
        c.sock.close()


def test_articles(server, trial):
    """Fetches every served article over four pipelined connections and decodes it."""
    server.serve(trial)
    wanted = [(p, k) for p in trial.posts for k in range(len(p.parts)) if (p.name, k) not in trial.gone]
    clients = [Client(server.port) for _ in range(4)]
    for i, c in enumerate(clients):
        c.status()
        c.send(*(f'BODY <{trial.msgid(p, k)}>' for p, k in wanted[i::4]), 'QUIT')
    for i, c in enumerate(clients):
        for post, k in wanted[i::4]:
            check(c.status().startswith('222 '), 'BODY answered')
            lines = c.block()
            begin, part, end, data = ydecode(lines)
            check(begin['line'] == str(trial.line) and max(map(len, lines[1:-1])) <= trial.line + 2, 'line length')
            offset, length = post.parts[k]
            check(data == post.data[offset:offset + length], f'{post.name} part {k + 1} decodes')
            check(begin['name'] == post.posted and int(begin['size']) == len(post.data), '=ybegin')
            check(int(end['size']) == length, '=yend size')
            if post.single:
                check(not part and end['crc32'] == f'{zlib.crc32(data):08x}', 'single-part form')
            else:
                check(int(part['begin']) == offset + 1 and int(part['end']) == offset + length
                      and begin['part'] == end['part'] == str(k + 1)
                      and begin['total'] == str(len(post.parts))
                      and end['pcrc32'] == f'{zlib.crc32(data):08x}'
                      and end['crc32'] == f'{zlib.crc32(post.data):08x}', 'multi-part form')
        check(c.status() == '205 bye', 'QUIT')


def test_nzb(trial, nzb):
    import xml.etree.ElementTree as ET
    ns = {'n': 'http://www.newzbin.com/DTD/2003/nzb'}
    files = ET.parse(nzb).getroot().findall('n:file', ns)
    listed = [p for p in trial.posts if p.name not in trial.dropped]
    check(len(files) == len(listed), 'one <file> per listed file')
    served = trial.articles()
    counted = trial.posts if trial.counted else listed      # what [i/n] counts
    for element, post in zip(files, listed):
        i, n = counted.index(post), len(counted)
        name = {'quoted': f'"{post.posted}"', 'yenc': post.posted, 'counter': f'[{i + 1}/{n}] - {post.posted}',
                'bracketed': f'[PRiVATE]-[WtFnZb]-[{post.posted}]-[{i + 1}/{n}] - ""'}[trial.style]
        size = f' {len(post.data)}' if trial.style == 'bracketed' else ''
        check(element.get('subject') == f'{name} yEnc{size} (1/{len(post.parts)})', 'subject')
        segments = element.findall('n:segments/n:segment', ns)
        numbers = [int(s.get('number')) for s in segments]
        check(numbers == [k + 1 for k in range(len(post.parts)) if (post.name, k) not in trial.unlisted],
              'segments')
        for segment, k in zip(segments, (n - 1 for n in numbers)):
            article = len(served.get(f'<{trial.msgid(post, k)}>') or body(post, k, trial.line))
            extra = int(segment.get('bytes')) - article
            check(400 <= extra - 2 <= 760 if trial.heads else extra == 0, f'bytes {extra} over the body')


def test_judge():
    """The judge of shapes on verdict texts: None agrees, 'uncertain', else a disagreement."""
    possible, hopeless, fine = ('possible', 3, 5), ('not possible', 2, 4), ('not needed',)
    needs = 'possible, needs {} of {} recovery block(s).'.format
    short = 'not possible, {} recovery block(s) short (needs {}, {} available).'.format
    range_ = 'uncertain, needs {} to {} of {} recovery block(s).'.format
    hidden = HIDDEN_UNKNOWN
    cases = [  # truth, said, stat_only, shape, hidden par2 names, expected
        (possible, needs(3, 5), False, 'obfuscated', False, None),
        (possible, needs(3, '4 to 6'), False, 'obfuscated', False, None),
        (possible, needs(3, '6 to 7'), False, 'obfuscated', False, 'wrong'),
        (possible, needs(3, 5), False, None, False, None),
        (hopeless, short(2, 6, 4), False, 'subject-yenc', False, None),
        (hopeless, needs(6, 7), True, 'subject-yenc', False, 'wrong'),
        (hopeless, range_(5, 7, 4), False, 'obfuscated', False, 'uncertain'),
        (hopeless, range_(2, 5, 4), False, 'obfuscated', False, 'wrong'),
        (hopeless, range_(5, 7, '3 to 4'), False, 'obfuscated', False, 'uncertain'),
        (possible, range_(2, 4, 5), False, 'ordinary', False, 'wrong'),
        (possible, range_(2, 4, 5), True, 'ordinary', False, 'uncertain'),
        (possible, range_(2, 4, 5), True, None, False, 'uncertain'),
        (fine, range_(0, 2, 5), False, 'obfuscated', False, 'uncertain'),
        (fine, range_(1, 2, 5), False, 'obfuscated', False, 'wrong'),
        (possible, hidden, True, 'obfuscated-par2', True, None),
        (possible, hidden, False, 'obfuscated-par2', True, 'wrong'),
        (possible, 'unknown, the NZB has no par2 recovery files.', True, 'obfuscated-par2', True, 'wrong'),
        (possible, 'unknown, no par2 file was found among 8 files read (the names may be obfuscated).',
         False, 'obfuscated-par2', True, 'wrong'),
    ]
    cases = [(*case, False) for case in cases] + [  # ... and whether subjects announce more files
        (possible, needs(4, 5), True, 'stat-only-edge', False, None, False),
        (possible, needs(2, 5), True, 'stat-only-edge', False, 'wrong', False),
        (possible, needs(4, 5), True, 'stat-only-edge', False, 'wrong', True),
        (possible, range_(2, 4, 5), True, 'stat-only-edge', False, 'uncertain', True),
        (hopeless, short(1, 5, 4), True, 'stat-only-edge', False, None, True),
        (hopeless, range_(2, 5, 4), True, 'stat-only-edge', False, 'wrong', False),
    ]
    for truth, said, stat_only, shape, hide, expected, capped in cases:
        found = judge(truth, said, stat_only, shape, hide, capped)
        check(found == expected or expected == 'wrong' and found not in (None, 'uncertain'),
              f'judge of "{said}" against {truth} ({shape}, stat-only {stat_only}): {found}')
    check(parse_verdict(hidden)[0] == 'unknown', 'the new unknown texts parse')
    trial = Trial(0, None, None)
    trial.gone.add(('set_1.bin', 0))
    lines = [  # stdout, exit code, (problems?, uncertain, false promise)
        (f'Repair (0a1b.par2): {needs(3, 5)}\n', 5, (False, False, False)),
        (f'Repair (0a1b.par2): {needs(3, 5)}\nNot covered by par2: \n', 5, (True, False, False)),
        (f'Repair (0a1b.par2): {needs(3, 5)}\nRepair (set.par2): {needs(3, 5)}\n', 5, (True, False, False)),
        (f'Repair: {range_(2, 4, 5)}\n', 1, (False, True, False)),
    ]
    for stdout, code, expected in lines:
        problems, uncertain, promise = compare(trial, {'set': possible}, stdout, code, False, 'obfuscated')
        check((bool(problems), uncertain, promise) == expected, f'compare {stdout!r}: {problems}')
    problems, _, promise = compare(trial, {'set': hopeless}, 'Repair: ' + short(2, 6, 4) + '\n', 5, False, 'obfuscated')
    check(problems and promise, 'exit 5 where par2 says not possible is a false promise')

    trial = Trial(0, None, None)     # nothing the data needs is lost: an .nfo and a listing of two
    nfo, first = trial.add('x.NFO', b'x', 'data', None), trial.add('set_1.bin', b'x' * 9, 'data', 'set')
    second = trial.add('set_1.bin#2', first.data, 'data', 'set')
    second.same, nfo.parts, first.parts, second.parts = first, [(0, 1)], [(0, 5), (5, 4)], [(0, 6), (6, 3)]
    trial.gone |= {('x.NFO', 0), ('set_1.bin', 0), ('set_1.bin#2', 1)}
    check(not trial.something_missing(), 'a byte some listing has is not missing')
    unneeded = f'Repair: {fine[0]}, every data article was found.\nNot covered by par2 (not needed): x.NFO\n'
    lines = [
        (unneeded, 0, False),
        (unneeded.replace(' (not needed)', ''), 0, True),
        (unneeded, 1, True),
        (unneeded + 'The NZB lists 3 of the 3 files its subjects announce.\n', 0, True),
    ]
    for stdout, code, wrong in lines:
        problems, _, _ = compare(trial, {'set': fine}, stdout, code, False, 'nfo-outside')
        check(bool(problems) == wrong, f'compare {stdout!r}, exit {code}: {problems}')
    trial.gone.add(('set_1.bin', 1))
    check(trial.something_missing(), 'bytes 6 to 9 are lost in both listings')
    trial.style, trial.counted, trial.dropped = 'counter', True, {'x.NFO'}
    announce = 'The NZB lists 2 of the 3 files its subjects announce.\n'
    for stdout, wrong in [(f'Repair: {range_(2, 4, 5)}\n', True), (f'{announce}Repair: {range_(2, 4, 5)}\n', False),
                          (f'{announce.replace("2 of", "3 of")}Repair: {range_(2, 4, 5)}\n', True)]:
        problems, _, _ = compare(trial, {'set': possible}, stdout, 1, True, 'stat-only-edge')
        check(bool(problems) == wrong, f'compare {stdout!r}: {problems}')


def self_test():
    test_yenc()
    test_judge()
    server = Server()
    cases = [(name, make, i + 1) for i, (name, make) in enumerate(FIXED.items())]
    cases += [('random trial', random_trial, 1000 + i) for i in range(6)]
    cases += [(shape, make, 2000 + i) for shape, make in SHAPES.items() for i in range(3)]
    for label, make, seed in cases:
        with tempfile.TemporaryDirectory(prefix='par2-validate-') as tmp:
            tmp = Path(tmp)
            (tmp / 'post').mkdir()
            trial = make(seed, tmp / 'post')
            if label == 'nothing missing':
                test_server(server, trial)
            test_articles(server, trial)
            trial.write_nzb(tmp / 'trial.nzb', trial.articles())
            test_nzb(trial, tmp / 'trial.nzb')
            trial.zeroed_copy(tmp / 'truth')
            truth, model = par2_verdicts(trial, tmp / 'truth'), trial.expected()
            check(truth == model, f'{label} (seed {seed}): par2 says {truth}, block layout {model}')
            shown = ['bytes with headers'] * trial.heads + trial.notes
            print(f'ok  {label} (seed {seed}): {", ".join(f"{b} {describe(v)}" for b, v in truth.items())}'
                  + (f' [{"; ".join(shown)}]' if shown else ''))
    print('self-test passed')
    return 0


# ---------------------------------------------------------------- main

def main():
    parser = argparse.ArgumentParser(description=__doc__.strip().splitlines()[0])
    parser.add_argument('--check', help='path to orvalis-check')
    parser.add_argument('--trials', type=int, default=50)
    parser.add_argument('--seed', type=int, default=1, help='trial i uses seed SEED + i')
    parser.add_argument('--stat-only', action='store_true', help='run the tool with --stat-only')
    parser.add_argument('--fixed', action='store_true', help='run the named fixed scenarios instead')
    parser.add_argument('--shape', action='append', choices=[*SHAPES, 'all'],
                        help='run TRIALS random trials of this shape (repeatable; all: every shape)')
    parser.add_argument('--keep', metavar='DIR', help='keep the folder of every trial that disagrees')
    parser.add_argument('--self-test', action='store_true',
                        help='check the encoder, the server and the referee; needs no tool')
    args = parser.parse_args()
    if not shutil.which('par2'):
        sys.exit('par2 is missing: apt-get install -y par2')
    if args.self_test:
        return self_test()
    if not args.check:
        parser.error('--check is required')
    if args.fixed and args.shape:
        parser.error('--fixed and --shape exclude each other')

    started, server = time.monotonic(), Server()
    if args.shape:
        shapes = list(SHAPES) if 'all' in args.shape else list(dict.fromkeys(args.shape))
        outcomes = [(shape, run_trial(f'{shape} {i}', SHAPES[shape], args.seed + i, server, args, shape))
                    for shape in shapes for i in range(args.trials)]
        passed = shape_table(shapes, outcomes, args.stat_only)
        print(f'{len(outcomes)} trials, {time.monotonic() - started:.0f} s')
        return 0 if passed else 1
    if args.fixed:
        cases = [(name, make, args.seed + i) for i, (name, make) in enumerate(FIXED.items())]
    else:
        cases = [(f'trial {i}', random_trial, args.seed + i) for i in range(args.trials)]
    results = [run_trial(label, make, seed, server, args).result for label, make, seed in cases]
    count = {r: results.count(r) for r in ('agree', 'disagree', 'uncertain')}
    share = count['uncertain'] / max(1, len(results))
    print(f'{len(results)} trials: {count["agree"]} agree, {count["disagree"]} disagree, '
          f'{count["uncertain"]} uncertain ({share:.1%}), {time.monotonic() - started:.0f} s')
    return 1 if count['disagree'] or (args.stat_only and share >= 0.05) else 0


if __name__ == '__main__':
    sys.exit(main())
