#!/usr/bin/env python3
"""Writes hand-made compiled-script containers for the loader tests.

The writer here is independent of qx3compile: it builds token streams token by token and encodes them
with chosen literals and back-references, so that the runtime's reader is checked against a second
implementation of the format, including streams and containers that qx3compile never produces (length
codes at their boundaries, stored entries, damaged data).

    make_container.py CASE OUTPUT [--runtime EXE]
    make_container.py check-damaged WINE RUNTIME FOLDER

OUTPUT is a .qxc file, or with --runtime a copy of the runtime with the container appended. check-damaged
writes every damaged container into FOLDER, runs each through the runtime and fails unless every one is
refused with the load error (exit code 1), never a crash or a hang.
"""
import os
import subprocess
import struct
import sys

SIGNATURE = bytes([0xA3, 0x48, 0x4B, 0xBE, 0x98, 0x6C, 0x4A, 0xA9, 0x99, 0x4C, 0x53, 0x0A, 0x86, 0xD6, 0x48, 0x7D])
SEED_TAG, SEED_BLOCK, SEED_NAME, SEED_PATH, SEED_DATA = 0x51A7, 0x2C0B, 0x6E3D, 0x7A29, 0x4B61
KEY_NAME, KEY_PATH, KEY_SIZE, KEY_SUM = 0x29C4A1F3, 0x5E17B2C8, 0x8F3A6D15, 0xB4C9E270
M32 = 0xFFFFFFFF


def scramble(data, seed):
    s = ((seed * 0x9E3779B1) & M32) ^ 0x85EBCA6B
    if s == 0:
        s = 0x6D2B79F5
    out = bytearray(data)
    for i in range(len(out)):
        s ^= (s << 13) & M32
        s ^= s >> 17
        s ^= (s << 5) & M32
        out[i] ^= s >> 24
    return bytes(out)


def adler32(data):
    a, b = 1, 0
    for c in data:
        a = (a + c) % 65521
        b = (b + a) % 65521
    return (b << 16) | a


# ---- token stream --------------------------------------------------------------------------------------------

class Stream:
    """Token stream bytes plus the back-references to use when encoding them: {offset: (distance, length)}."""

    def __init__(self):
        self.lines = []
        self.directives = []

    def line(self, *tokens):
        self.lines.append(tokens)

    def build(self):
        out = bytearray(struct.pack('<I', len(self.lines)))
        refs = {}
        for i, tokens in enumerate(self.lines):
            if i == 0:
                for d in self.directives:
                    out += b'\x37' + text(d)
            for t in tokens:
                kind = t[0]
                if kind in ('builtin', 'keyword', 'macro', 'var', 'str'):
                    out.append({'keyword': 0x30, 'builtin': 0x31, 'macro': 0x32, 'var': 0x33, 'str': 0x36}[kind])
                    start = len(out) + 4
                    out += text(t[1])
                    if len(t) > 2:  # ('str', s, L): the units after the first one come from a distance-2 match
                        refs[start + 2] = (2, t[2])
                elif kind == 'int':
                    out += b'\x05' + struct.pack('<i', t[1])
                elif kind == 'double':
                    out += b'\x20'
                    start = len(out)
                    out += struct.pack('<d', t[1])
                    if t[1] == 0.0:  # eight zero bytes: one literal, then a distance-1 match of 7
                        refs[start + 1] = (1, 7)
                else:
                    out.append(t[1])
            out.append(0x7F)
        return bytes(out), refs


def text(s):
    n = len(s)
    key = ((n * 0x2F1B) ^ 0xA5C3) & 0xFFFF
    return struct.pack('<I', n) + b''.join(struct.pack('<H', ord(c) ^ key) for c in s)


OP = {',': 64, '(': 71, ')': 72, '&': 77}


def op(c):
    return ('op', OP[c])


def print_line(*expr):
    """ConsoleWrite(<expr> & @CRLF)"""
    return (('builtin', 'CONSOLEWRITE'), op('(')) + expr + (op('&'), ('macro', 'CRLF'), op(')'))


# ---- compression ---------------------------------------------------------------------------------------------

class Bits:
    def __init__(self):
        self.out = bytearray()
        self.word = 0
        self.used = 0

    def put(self, v, n):
        for k in range(n - 1, -1, -1):
            self.word = (self.word << 1) | ((v >> k) & 1)
            self.used += 1
            if self.used == 16:
                self.out += struct.pack('>H', self.word)
                self.word = self.used = 0

    def done(self):
        if self.used:
            self.put(0, 16 - self.used)
        return bytes(self.out)


def put_length(b, n):
    for width, span in ((2, 3), (3, 7), (5, 31), (8, 255)):
        base = {2: 3, 3: 6, 5: 13, 8: 44}[width]
        if n - base < span:
            b.put(n - base, width)
            return
        b.put(span, width)
    n -= 299
    while n >= 255:
        b.put(255, 8)
        n -= 255
    b.put(n, 8)


def encode(data, refs, size=None, tail=()):
    """An "EA06" stream of data: literals except at the offsets in refs; tail adds raw (distance, length)
    references after the data; size overrides the size field."""
    b = Bits()
    i = 0
    while i < len(data):
        if i in refs:
            d, n = refs[i]
            assert data[i:i + n] == bytes(data[i - d + k] for k in range(n))
            b.put(0, 1)
            b.put(d, 15)
            put_length(b, n)
            i += n
        else:
            b.put(1, 1)
            b.put(data[i], 8)
            i += 1
    for d, n in tail:
        b.put(0, 1)
        b.put(d, 15)
        put_length(b, n)
    return b'EA06' + struct.pack('>I', len(data) if size is None else size) + b.done()


# ---- container -----------------------------------------------------------------------------------------------

def entry(name, data, compressed, original, path='', stored_size=None, name_len=None, checksum=None):
    units = lambda s: b''.join(struct.pack('<H', ord(c)) for c in s)
    n = len(name) if name_len is None else name_len
    out = scramble(b'FILE', SEED_TAG)
    out += struct.pack('<I', n ^ KEY_NAME) + scramble(units(name), SEED_NAME + len(name))
    out += struct.pack('<I', len(path) ^ KEY_PATH) + scramble(units(path), SEED_PATH + len(path))
    out += bytes([1 if compressed else 0])
    out += struct.pack('<I', (len(data) if stored_size is None else stored_size) ^ KEY_SIZE)
    out += struct.pack('<I', original ^ KEY_SIZE)
    out += struct.pack('<I', (adler32(data) if checksum is None else checksum) ^ KEY_SUM)
    out += struct.pack('<IIII', 0x01D00000, 0, 0x01D00000, 0)
    return out + scramble(data, SEED_DATA)


def container(entries, version=b'EA06'):
    return SIGNATURE + b'QX3!' + version + scramble(bytes(16), SEED_BLOCK) + b''.join(entries)


SCRIPT = '>>>TARVEX SCRIPT<<<'


def script_entry(stream, refs, **kw):
    return entry(SCRIPT, encode(stream, refs), True, len(stream), **kw)


def hello():
    s = Stream()
    s.line(*print_line(('str', 'compiled hello')))
    return s.build()


# ---- cases ---------------------------------------------------------------------------------------------------

LENGTHS = [3, 5, 6, 12, 13, 43, 44, 298, 299, 553, 554, 555, 816]


def case_lengths():
    """Every length-code range at its edges, the 255-run extension, and distance-1 copies."""
    s = Stream()
    for n in LENGTHS:
        units = n // 2 + 2  # 2*units - 2 >= n bytes of the string come from one match
        s.line(*print_line(('builtin', 'STRINGLEN'), op('('), ('str', 'q' * units, n), op(')')))
    s.line(*print_line(('double', 0.0)))
    data, refs = s.build()
    return container([script_entry(data, refs)])


def case_zero_lines():
    return container([script_entry(struct.pack('<I', 0), {})])


def case_layout():
    """The signature starts 11 bytes before the first 64 KiB boundary; the script entry is stored without
    compression and comes after two other entries that the lookup must skip."""
    data, _ = hello()
    other = entry('other.txt', b'x' * 100, False, 100, path='C:\\src\\other.txt')
    no_cmd = entry('>>>TARVEX NO CMDEXECUTE<<<', b'', False, 0)
    return bytes(65536 - 11) + container([other, no_cmd, entry(SCRIPT, data, False, len(data))])


# Damaged containers: each must be refused with the load error.
def damaged(kind):
    data, refs = hello()
    stream = encode(data, refs)
    if kind == 'checksum':
        e = entry(SCRIPT, stream, True, len(data))
        return container([e[:-3] + bytes([e[-3] ^ 0x40]) + e[-2:]])
    if kind == 'truncated':
        return container([script_entry(data, refs)])[:-6]
    if kind == 'overrun':  # a match past the promised size
        return container([entry(SCRIPT, encode(data, refs, size=len(data) + 5, tail=[(1, 10)]), True, len(data) + 5)])
    if kind == 'distance':  # a reference before the start of the output
        return container([entry(SCRIPT, encode(b'', {}, size=3, tail=[(4, 3)]), True, 3)])
    if kind == 'stream-tag':
        return container([entry(SCRIPT, b'EA05' + stream[4:], True, len(data))])
    if kind == 'size-field':  # the stream's own size differs from the entry's
        return container([entry(SCRIPT, encode(data, refs, size=len(data) - 1), True, len(data))])
    if kind == 'name-length':
        return container([script_entry(data, refs, name_len=0x7FFFFFF0)])
    if kind == 'stored-size':
        return container([script_entry(data, refs, stored_size=0x7FFFFFF0)])
    if kind == 'original-size':
        return container([entry(SCRIPT, encode(data, refs, size=0xFFFFFFF0), True, 0xFFFFFFF0)])
    if kind == 'line-count':
        bad = struct.pack('<I', 0x7FFFFFFF) + data[4:]
        return container([script_entry(bad, {})])
    if kind == 'string-length':
        bad = data[:5] + struct.pack('<I', 0x40000000) + data[9:]
        return container([script_entry(bad, {})])
    if kind == 'token-type':
        bad = data[:4] + b'\x99' + data[5:]
        return container([script_entry(bad, {})])
    if kind == 'no-script':
        return container([entry('something else', data, False, len(data))])
    if kind == 'version':
        return container([script_entry(data, refs)], version=b'EA05')
    raise SystemExit('unknown damage: ' + kind)


CASES = {
    'lengths': case_lengths,
    'zero-lines': case_zero_lines,
    'layout': case_layout,
}


DAMAGES = ['checksum', 'truncated', 'overrun', 'distance', 'stream-tag', 'size-field', 'name-length',
           'stored-size', 'original-size', 'line-count', 'string-length', 'token-type', 'no-script', 'version']
LOAD_ERROR = 'Tarvex 错误 (0) : ==> 不能打开脚本文件.: \n \n\n'


def check_damaged(wine, runtime, folder):
    """Each damaged container must give the load error; the version check only applies to the runtime's own
    container (a .qxc of another version is read as text), so that case is an executable."""
    failed = []
    with open(runtime, 'rb') as f:
        image = f.read()
    for kind in DAMAGES:
        blob = damaged(kind)
        if kind == 'version':
            path = os.path.join(folder, 'damaged-version.exe')
            cmd = [wine, path, '/ErrorStdOut']
            blob = image + blob
        else:
            path = os.path.join(folder, f'damaged-{kind}.qxc')
            cmd = [wine, runtime, '/ErrorStdOut', '/Tarvex3ExecuteScript', path]
        with open(path, 'wb') as f:
            f.write(blob)
        # Output goes to a file, not a pipe: a Wine service started along the way may inherit a pipe and keep
        # it open long after the runtime has ended.
        out_path = path + '.out'
        try:
            with open(out_path, 'wb') as out_file:
                p = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=out_file, stderr=subprocess.DEVNULL,
                                   timeout=60)
            with open(out_path, 'rb') as f:
                out, code = f.read().decode('gbk', 'replace'), p.returncode
        except subprocess.TimeoutExpired:
            out, code = '(timed out)', None
        if code != 1 or out != LOAD_ERROR:
            failed.append(f'{kind}: exit {code}, output {out!r}')
    for line in failed:
        print('not refused as expected:', line)
    return 1 if failed else 0


def main():
    args = sys.argv[1:]
    if args and args[0] == 'check-damaged':
        return check_damaged(*args[1:])
    runtime = None
    if '--runtime' in args:
        i = args.index('--runtime')
        runtime = args[i + 1]
        del args[i:i + 2]
    case, output = args
    blob = CASES[case]() if case in CASES else damaged(case.removeprefix('damaged-'))
    if runtime:
        with open(runtime, 'rb') as f:
            blob = f.read() + blob
    with open(output, 'wb') as f:
        f.write(blob)


if __name__ == '__main__':
    sys.exit(main())
