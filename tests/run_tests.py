#!/usr/bin/env python3
"""Script test runner: runs tests/scripts/**/*.qx3 through tarvex3.exe under Wine and compares each script's
standard output and exit code with the expectations written in its own comment lines.

    tests/run_tests.py [FILTER...] [-j N] [--exe PATH] [--root DIR]

A FILTER keeps the tests whose path (relative to tests/scripts, or to DIR with --root) contains it. --root runs
the .qx3 files under another folder with the same machinery (the documentation's examples, extracted by
tests/docs_check.py into build/doc-examples). The runner starts one Xvfb on a free display with a minimal window
manager (tests/tools/txwm.c) and one persistent wineserver for the Wine prefix, runs the tests on a pool of -j
workers and stops exactly what it started, also on Ctrl-C. Every test runs through tests/tools/txlaunch.exe,
which hands the runtime an exact Windows command line and reports the full 32-bit exit code (a Linux exit status
keeps only 8 bits).

Directives, each on a comment line of its own anywhere in the script:
    ; expect: TEXT          one line of expected standard output (may be empty)
    ; exit: N               expected exit code (default 0), compared modulo 2^32 (-1 == 4294967295)
    ; args: WORDS           the arguments instead of "/ErrorStdOut /Tarvex3ExecuteScript {script}", split like
                            a shell; each word reaches the runtime as one argument
    ; cmdline: TEXT         the arguments as raw command-line text, passed exactly as written
    ; stdin: TEXT           one line (TEXT + CR LF) of standard input; without any, standard input is empty
    ; stdin-none:           the runtime gets no standard-input handle at all
    ; codepage: 1252        LC_ALL=en_US.UTF-8 and output decoded as cp1252 (default: zh_CN.UTF-8 and GBK, 936)
    ; timeout: S            seconds before the test is killed and failed (default 20)
    ; close-window: TITLE   wait for a visible top-level window named TITLE and close it (the close key, then
                            Escape, then harder); the test fails when none appears
    ; close-key: KEY        the key sent first to close windows (an xdotool key name; default Return, which
                            presses a dialog's default button; Escape cancels)
    ; skip: REASON          report the test as skipped
    ; setup: COMMAND        a bash command run first, in the test's folder, with the Wine environment of the
                            run; the test fails when it fails. Its {dir}, {script}, {tmp}, {exe}, {exedir} are
                            Linux paths and {wine} is the Wine loader
    ; program: PATH         the program to run instead of the runtime (e.g. one that setup made)
    ; workdir: tmp          run in the test's scratch folder instead of the test file's folder
    ; final-newline: optional   the output may lack the line break after its last expected line
    ; source: TEXT          where the test comes from (a page and line), shown when it fails
In args, cmdline, program and expect, {script} is the Windows path of the test file, {dir} its folder, {tmp} a
scratch folder of the test's own (empty at the start), {exe} the runtime itself and {exedir} its folder.
"""

import argparse
import contextlib
import difflib
import fcntl
import os
import random
import re
import selectors
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SCRIPTS = ROOT / "tests" / "scripts"
LAUNCHER_SRC = ROOT / "tests" / "tools" / "txlaunch.c"
WM_SRC = ROOT / "tests" / "tools" / "txwm.c"
WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"  # 32-bit Wine's loader (package wine32), for setup lines of i686 runs
EXEC32_SRC = ROOT / "tests" / "tools" / "exec32.c"
WINESERVER = "/usr/lib/wine/wineserver"
DEFAULT_TIMEOUT = 20.0
CODEPAGES = {  # code page -> (LC_ALL, Python codec)
    936: ("zh_CN.UTF-8", "gbk"),
    1252: ("en_US.UTF-8", "cp1252"),
}
DIRECTIVE = re.compile(r"^\s*;\s*(expect|exit|args|cmdline|stdin|stdin-none|codepage|timeout|close-window|close-key|"
                       r"skip|setup|program|arch|requires|exclusive|workdir|final-newline|source)\s*:(.*)$",
                       re.IGNORECASE)


# ---- test files -----------------------------------------------------------------------------------------------

@dataclass
class Test:
    path: Path
    text: str = ""
    expect: list = field(default_factory=list)
    exit: int = 0
    args: list = None        # words, or None for the default command line
    cmdline: str = None      # raw command-line text
    stdin: list = field(default_factory=list)
    stdin_none: bool = False
    codepage: int = 936
    timeout: float = DEFAULT_TIMEOUT
    close_windows: list = field(default_factory=list)
    close_key: str = "Return"  # the key that closes them first
    skip: str = None
    setup: list = field(default_factory=list)  # bash commands run before the test
    program: str = None      # run this instead of the runtime
    arch: str = None         # x86_64 or i686: the only build the test is for
    requires: list = field(default_factory=list)  # capabilities of the machine the test needs
    exclusive: str = None    # why the test must run alone (real input, the one mouse pointer, focus)
    workdir_tmp: bool = False  # run in the scratch folder
    lax_final_newline: bool = False  # the last line break of the output may be missing
    source: str = None       # where the test comes from, for its name in reports
    root: Path = SCRIPTS
    error: str = None        # a malformed directive

    @property
    def name(self):
        return self.path.relative_to(self.root).as_posix()


def decode_source(raw):
    """Script text for reading directives: BOM-marked UTF-16/UTF-8, else UTF-8, else the test's ANSI page."""
    if raw.startswith(b"\xff\xfe"):
        return raw[2:].decode("utf-16-le", "replace")
    if raw.startswith(b"\xfe\xff"):
        return raw[2:].decode("utf-16-be", "replace")
    if raw.startswith(b"\xef\xbb\xbf"):
        return raw[3:].decode("utf-8", "replace")
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        page = re.search(rb"^\s*;\s*codepage\s*:\s*(\d+)", raw, re.IGNORECASE | re.MULTILINE)
        codec = CODEPAGES.get(int(page.group(1)) if page else 936, (None, "gbk"))[1]
        return raw.decode(codec, "replace")


def parse_test(path, root=SCRIPTS):
    t = Test(path, root=root)
    t.text = decode_source(path.read_bytes())
    for line in t.text.splitlines():
        m = DIRECTIVE.match(line)
        if not m:
            continue
        key = m.group(1).lower()
        value = m.group(2)
        if value.startswith(" "):  # one space after the colon belongs to the syntax; the rest is the value
            value = value[1:]
        try:
            if key == "expect":
                t.expect.append(value)
            elif key == "exit":
                t.exit = int(value.strip(), 0)
            elif key == "args":
                t.args = shlex.split(value)
            elif key == "cmdline":
                t.cmdline = value
            elif key == "stdin":
                t.stdin.append(value)
            elif key == "stdin-none":
                t.stdin_none = True
            elif key == "codepage":
                t.codepage = int(value.strip())
                if t.codepage not in CODEPAGES:
                    raise ValueError(f"code page {t.codepage} is not one of {sorted(CODEPAGES)}")
            elif key == "timeout":
                t.timeout = float(value.strip())
            elif key == "close-window":
                t.close_windows.append(value.strip())
            elif key == "close-key":
                t.close_key = value.strip() or "Return"
            elif key == "skip":
                t.skip = value.strip() or "skipped"
            elif key == "setup":
                t.setup.append(value)
            elif key == "program":
                t.program = value.strip()
            elif key == "arch":
                t.arch = value.strip().lower()
                if t.arch not in ARCHES:
                    raise ValueError(f"architecture {t.arch} is not one of {ARCHES}")
            elif key == "exclusive":
                t.exclusive = value.strip() or "runs alone"
            elif key == "workdir":
                if value.strip().lower() != "tmp":
                    raise ValueError("the only working folder a test can ask for is tmp")
                t.workdir_tmp = True
            elif key == "final-newline":
                if value.strip().lower() != "optional":
                    raise ValueError("final-newline takes only 'optional'")
                t.lax_final_newline = True
            elif key == "source":
                t.source = value.strip()
            elif key == "requires":
                t.requires.append(value.strip().lower())
                if t.requires[-1] not in CAPABILITIES:
                    raise ValueError(f"capability {t.requires[-1]} is not one of {sorted(CAPABILITIES)}")
        except ValueError as e:
            t.error = f"bad directive '{line.strip()}': {e}"
    if t.args is not None and t.cmdline is not None:
        t.error = "a test takes either args or cmdline, not both"
    if t.stdin and t.stdin_none:
        t.error = "a test takes either stdin lines or stdin-none, not both"
    return t


def find_tests(filters, root=SCRIPTS):
    tests = sorted(root.rglob("*.qx3"))
    if filters:
        tests = [p for p in tests if any(f in p.relative_to(root).as_posix() for f in filters)]
    return tests


# ---- the build under test and the machine's capabilities ----------------------------------------------------

ARCHES = ("x86_64", "i686")


def exe_arch(exe):
    """The architecture of a PE executable, from the machine field of its file header."""
    with open(exe, "rb") as f:
        head = f.read(4096)
    if head[:2] != b"MZ" or len(head) < 0x40:
        sys.exit(f"{exe} is not a Windows executable")
    pe = int.from_bytes(head[0x3C:0x40], "little")
    if head[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{exe} is not a Windows executable")
    machine = int.from_bytes(head[pe + 4:pe + 6], "little")
    return {0x8664: "x86_64", 0x14C: "i686"}.get(machine) or sys.exit(f"{exe}: unknown machine 0x{machine:X}")


def exec32_problem(bdir):
    """None when this machine's kernel runs 32-bit x86 programs, else why not."""
    out = bdir / "exec32"
    try:
        build_tool(EXEC32_SRC, out, "gcc", "-m32", "-nostdlib", "-static")
    except (subprocess.CalledProcessError, OSError) as e:
        return f"a 32-bit test program could not be built ({e})"
    try:
        rc = subprocess.run([str(out)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10).returncode
    except OSError as e:
        return f"this machine's kernel does not run 32-bit programs ({e.strerror})"
    return None if rc == 0 else f"a 32-bit test program failed with status {rc}"


def wine32_problem(bdir, prefix):
    """None when 32-bit Windows programs can run in the test prefix, else why not."""
    problem = exec32_problem(bdir)
    if problem:
        return problem
    if not os.access(WINE32, os.X_OK):
        return f"32-bit Wine is not installed ({WINE32} is missing)"
    if not (prefix / "drive_c" / "windows" / "syswow64").is_dir():
        return "the Wine prefix has no syswow64 folder (it was made before 32-bit Wine was installed)"
    return None


# Capabilities a test may require with "; requires: NAME", each with its check (None: available).
CAPABILITIES = {
    "exec32": lambda bdir, prefix: exec32_problem(bdir),
}


# ---- Windows command lines ---------------------------------------------------------------------------------------

def win_path(p):
    """Wine maps the Linux root to drive Z:."""
    return "Z:" + str(Path(p).resolve()).replace("/", "\\")


def quote_word(w):
    """Quotes one word the way the runtime's command-line splitter reads it back: quotes around a word with
    blanks or quotes (or an empty one), a quote inside written as two."""
    if w and not any(c in w for c in ' \t"'):
        return w
    return '"' + w.replace('"', '""') + '"'


def substitute(s, subst):
    for k, v in subst.items():
        s = s.replace(k, v)
    return s


def windows_placeholders(t, exe, tmp):
    return {"{script}": win_path(t.path), "{dir}": win_path(t.path.parent), "{tmp}": win_path(tmp),
            "{exe}": win_path(exe), "{exedir}": win_path(Path(exe).parent)}


def command_line(t, exe, tmp):
    subst = windows_placeholders(t, exe, tmp)

    def fill(s):
        return substitute(s, subst)

    if t.cmdline is not None:
        rest = fill(t.cmdline)
    else:
        words = t.args if t.args is not None else ["/ErrorStdOut", "/Tarvex3ExecuteScript", "{script}"]
        rest = " ".join(quote_word(fill(w)) for w in words)
    program = fill(t.program) if t.program else win_path(exe)
    return f'"{program}" {rest}'.rstrip(" ") if rest else f'"{program}"'


# ---- the shared X display and wineserver ---------------------------------------------------------------------------

class Session:
    """One Xvfb of its own and the prefix's persistent wineserver for the run; stop() ends exactly those.

    Several runs (of several people) may share the prefix. Each holds a shared lock on it while it runs; the
    wineserver is started by whichever run finds none, which leaves a marker, and stopped by the run that ends
    last (the one that then gets the lock exclusively) when the marker says a run started it. A wineserver
    that someone started by hand is left alone."""

    def __init__(self, prefix, wm):
        self.prefix = prefix
        self.desktop_proc = None
        self.wm_program = wm
        self.wm = None
        self.xvfb = None
        self.display = None
        self.lock_file = None
        self.marker = prefix / ".tarvex-runner-wineserver"

    def base_env(self):
        env = dict(os.environ)
        for k in ("WINEARCH", "WINELOADER", "WINESERVER", "WINEDLLPATH"):
            env.pop(k, None)
        env.update(WINEPREFIX=str(self.prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                   DISPLAY=self.display or "", LC_ALL="zh_CN.UTF-8")
        return env

    def start(self):
        self.lock_file = open(self.prefix / ".tarvex-runner.lock", "w")
        fcntl.flock(self.lock_file, fcntl.LOCK_SH)  # waits only while a run is stopping the wineserver
        self.start_xvfb()
        env = self.base_env()
        rc = subprocess.run([WINESERVER, "-p"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL).returncode
        if rc == 0:  # started now (it goes to the background); otherwise one already serves the prefix
            self.marker.touch()
        # The first program of a wineserver session starts Wine's own services; they must not inherit a test's
        # output pipes or process group, so a throwaway program starts them here.
        subprocess.run([WINE64, "cmd.exe", "/c", "exit"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True, timeout=120)
        # The desktop process (with the shell's tray) is started here too, in a session of its own: started by
        # the first test that opens a window, it would belong to that test's process group and end with it,
        # and the next one (started mid-run by another test) comes up without the tray. When one already
        # serves the session, this one sees it and exits.
        self.desktop_proc = subprocess.Popen([WINE64, "explorer.exe", "/desktop"], env=env, stdin=subprocess.DEVNULL,
                                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                             start_new_session=True)

    def start_xvfb(self):
        candidates = list(range(100, 400))
        random.shuffle(candidates)
        for n in candidates[:40]:
            if os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
                continue
            proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    start_new_session=True)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and proc.poll() is None:
                if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                    self.xvfb, self.display = proc, f":{n}"
                    self.start_wm()
                    return
                time.sleep(0.05)
            if proc.poll() is None:
                proc.kill()
            proc.wait()
        raise RuntimeError("could not start Xvfb on a free display")

    def start_wm(self):
        """The display's window manager (tests/tools/txwm.c): without one, Wine waits two seconds for every
        window it hides or shows."""
        env = dict(os.environ, DISPLAY=self.display)
        for _ in range(50):  # the display may not take clients for a moment after its socket appears
            self.wm = subprocess.Popen([str(self.wm_program)], env=env, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, start_new_session=True)
            try:
                rc = self.wm.wait(timeout=0.3)
            except subprocess.TimeoutExpired:
                return  # running
            self.wm = None
            if rc == 2:
                raise RuntimeError(f"another window manager runs on {self.display}")
            time.sleep(0.1)
        raise RuntimeError(f"the window manager does not start on {self.display}")

    def stop(self):
        if self.wm is not None:
            self.wm.kill()
            self.wm.wait()
            self.wm = None
        if self.lock_file:
            fcntl.flock(self.lock_file, fcntl.LOCK_UN)
            try:
                fcntl.flock(self.lock_file, fcntl.LOCK_EX | fcntl.LOCK_NB)
                last = True
            except BlockingIOError:
                last = False
            if last and self.marker.exists():
                subprocess.run([WINESERVER, "-k"], env=self.base_env(), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                self.marker.unlink(missing_ok=True)
                if self.desktop_proc is not None:  # ended with its wineserver
                    try:
                        self.desktop_proc.wait(timeout=10)
                    except subprocess.TimeoutExpired:
                        self.desktop_proc.kill()
                        self.desktop_proc.wait()
            self.lock_file.close()
            self.lock_file = None
        if self.xvfb is not None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
            self.xvfb = None


# ---- running one test ------------------------------------------------------------------------------------------------

@dataclass
class Result:
    test: Test
    status: str              # ok, FAIL, skip
    seconds: float = 0.0
    stdout: str = ""
    stderr: str = ""
    exit: int = None
    problems: list = field(default_factory=list)
    expected: str = None     # the expected output with its placeholders filled in
    rerun: str = ""          # why the test ran a second time


# Wine's own client/server transport reporting a broken request (seen under heavy load: a write to the
# wineserver cut short). The process that hit it is gone, whatever it was doing; it is no fault of the runtime.
# Also the test's process failing to start at all with Wine's internal error (ERROR_INTERNAL_ERROR, 1359).
WINE_FAULT = re.compile(r"wine client error:\S* ?(partial write|partial read|write|read)|wineserver crashed|"
                        r"txlaunch: cannot start .*: error 1359\b")


def kill_group(pgid):
    try:
        os.killpg(pgid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def close_window(title, key, env, pgid, deadline, stop):
    """Watches, for the whole life of a test, for a visible top-level window named `title` and closes it:
    first `key` sent to it, then Escape, then the same with the window focused, then the window destroyed,
    one step every two seconds while it stays. Returns an error text when no such window ever appeared."""
    pattern = "^" + re.sub(r"([][.^$*+?(){}|\\])", r"\\\1", title) + "$"
    xenv = dict(env, LC_ALL="C.UTF-8")

    def xdo(*args):
        try:
            return subprocess.run(["xdotool", *args], env=xenv, stdin=subprocess.DEVNULL, capture_output=True,
                                  text=True, timeout=10).stdout
        except subprocess.TimeoutExpired:
            return ""

    def find():
        ids = xdo("search", "--onlyvisible", "--name", pattern).split()
        own = []
        for wid in ids:  # prefer the test's own windows when parallel tests show the same title
            pid = xdo("getwindowpid", wid).strip()
            try:
                if pid and os.getpgid(int(pid)) == pgid:
                    own.append(wid)
            except (ProcessLookupError, ValueError):
                pass
        return own or ids

    keys = [key] if key == "Escape" else [key, "Escape"]
    steps = [("key", "--window", "{w}", k) for k in keys]
    steps += [("windowfocus", "--sync", "{w}", "key", "--clearmodifiers", k) for k in keys]
    steps.append(("windowclose", "{w}"))
    seen = False
    step = 0
    next_step = 0.0
    # The window may vanish for a moment (a dialog that navigates) or come back: the watch goes on until the
    # test's program ends.
    while time.monotonic() < deadline and not stop.is_set():
        ids = find()
        if ids:
            seen = True
            now = time.monotonic()
            if now >= next_step and step < len(steps):
                xdo(*(a.replace("{w}", ids[0]) for a in steps[step]))
                step += 1
                next_step = now + 2.0
        stop.wait(0.1)
    return None if seen else f"no window '{title}' appeared"


def run_setup(t, cmd, env, exe, scratch, wine):
    """Runs one setup command of a test; returns an error text or None."""
    cmd = substitute(cmd, {"{script}": str(t.path), "{dir}": str(t.path.parent), "{tmp}": str(scratch),
                           "{exe}": str(exe), "{exedir}": str(Path(exe).parent), "{wine}": wine})
    # The output goes to a file rather than a pipe: a Wine service that a setup program starts may inherit a
    # pipe and hold it open long after the program itself has ended.
    with tempfile.TemporaryFile() as out_file:
        try:
            p = subprocess.run(["bash", "-c", cmd], cwd=str(t.path.parent), env=env, stdin=subprocess.DEVNULL,
                               stdout=out_file, stderr=subprocess.STDOUT, timeout=max(t.timeout, 60),
                               start_new_session=True)
        except subprocess.TimeoutExpired:
            return f"setup timed out: {cmd}"
        out_file.seek(0)
        output = out_file.read()
    if p.returncode != 0:
        out = output.decode("utf-8", "backslashreplace").strip()
        return f"setup failed (exit status {p.returncode}): {cmd}" + (f"\n{out}" if out else "")
    return None


class SharedLock:
    """Many holders in shared mode, or one in exclusive mode; a waiting exclusive holder goes first."""

    def __init__(self):
        self.cond = threading.Condition()
        self.shared = 0
        self.exclusive = False
        self.waiting = 0

    @contextlib.contextmanager
    def holding(self, exclusive):
        with self.cond:
            if exclusive:
                self.waiting += 1
                self.cond.wait_for(lambda: not self.exclusive and self.shared == 0)
                self.waiting -= 1
                self.exclusive = True
            else:
                self.cond.wait_for(lambda: not self.exclusive and self.waiting == 0)
                self.shared += 1
        try:
            yield
        finally:
            with self.cond:
                if exclusive:
                    self.exclusive = False
                else:
                    self.shared -= 1
                self.cond.notify_all()


class Runner:
    def __init__(self, exe, arch, launcher, session, tmpdir):
        self.exe = exe
        self.wine = WINE64 if arch == "x86_64" else WINE32
        self.launcher = launcher
        self.session = session
        self.tmpdir = tmpdir
        self.lock = threading.Lock()
        # Tests that close a window by its title run one at a time: two boxes of the same title on the display
        # at once could make one test close the other's.
        self.desktop = threading.Lock()
        # Tests marked exclusive (real keyboard and mouse input, the pointer's position, the foreground window)
        # run while no other test runs; the others share this lock.
        self.alone = SharedLock()
        self.procs = set()
        self.counter = 0
        self.stopping = False

    def run(self, t):
        r = self.run_guarded(t)
        fault = WINE_FAULT.search(r.stderr) if r.status == "FAIL" else None
        if fault and not self.stopping:
            # A test that failed because Wine itself broke a process runs once more; a second failure stands.
            r = self.run_guarded(t)
            r.rerun = f"ran again after Wine's own fault ({fault.group(0)})"
        return r

    def run_guarded(self, t):
        with self.alone.holding(exclusive=bool(t.exclusive and not t.skip)):
            if t.close_windows and not t.skip:
                with self.desktop:
                    return self.run_one(t)
            return self.run_one(t)

    def run_one(self, t):
        if self.stopping:
            return Result(t, "FAIL", problems=["not run: the run was stopped"])
        if t.skip:
            return Result(t, "skip")
        if t.error:
            return Result(t, "FAIL", problems=[t.error])
        lc_all, codec = CODEPAGES[t.codepage]
        with self.lock:
            self.counter += 1
            exit_file = Path(self.tmpdir) / f"exit-{self.counter}.txt"
            scratch = Path(self.tmpdir) / f"t{self.counter}"
        scratch.mkdir()
        expected = "".join(substitute(line, windows_placeholders(t, self.exe, scratch)) + "\n" for line in t.expect)
        env = self.session.base_env()
        for cmd in t.setup:
            problem = run_setup(t, cmd, env, self.exe, scratch, self.wine)
            if problem:
                return Result(t, "FAIL", problems=[problem], expected=expected)
        env.update(LC_ALL=lc_all, TX_LAUNCH_CMDLINE=command_line(t, self.exe, scratch),
                   TX_LAUNCH_EXITFILE=win_path(exit_file))
        if t.stdin_none:
            env["TX_LAUNCH_STDIN"] = "none"
        stdin_bytes = "".join(s + "\r\n" for s in t.stdin).encode(codec, "replace")

        start = time.monotonic()
        with self.lock:  # registered under the lock so that kill_all() cannot miss a test just starting
            if self.stopping:
                return Result(t, "FAIL", problems=["not run: the run was stopped"])
            proc = subprocess.Popen([WINE64, str(self.launcher)], env=env,
                                    cwd=str(scratch if t.workdir_tmp else t.path.parent),
                                    stdin=subprocess.PIPE if t.stdin else subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
            self.procs.add(proc)
        deadline = start + t.timeout
        problems = []
        stop_watch = threading.Event()
        watchers = []
        for title in t.close_windows:
            holder = {}
            th = threading.Thread(target=lambda h=holder, ti=title: h.setdefault(
                "err", close_window(ti, t.close_key, env, proc.pid, deadline, stop_watch)), daemon=True)
            th.start()
            watchers.append((th, holder))

        out, err, timed_out = self.collect(proc, stdin_bytes, deadline)
        kill_group(proc.pid)  # whatever the script left running (its own child programs)
        proc.wait()
        with self.lock:
            self.procs.discard(proc)
        stop_watch.set()
        for th, holder in watchers:
            th.join(timeout=15)
            if holder.get("err") and not timed_out:
                problems.append(holder["err"])
        seconds = time.monotonic() - start

        stdout = out.decode(codec, "backslashreplace").replace("\r\n", "\n")
        stderr = err.decode("utf-8", "backslashreplace")
        code = None
        try:
            code = int(exit_file.read_text().strip())
            exit_file.unlink()
        except (OSError, ValueError):
            pass
        if timed_out:
            problems.append(f"timed out after {t.timeout:g} s")
        elif code is None:
            problems.append(f"no exit code reported (launcher exit status {proc.returncode})")
        if t.lax_final_newline and expected.endswith("\n") and stdout == expected[:-1]:
            stdout = expected
        if stdout != expected:
            problems.append("output differs")
        if code is not None and (code & 0xFFFFFFFF) != (t.exit & 0xFFFFFFFF):
            crash = f" (crashed: exception 0x{code:08X})" if code & 0xF0000000 == 0xC0000000 else ""
            problems.append(f"exit code {signed32(code)}{crash}, expected {t.exit}")
        return Result(t, "FAIL" if problems else "ok", seconds, stdout, stderr, code, problems, expected)

    def collect(self, proc, stdin_bytes, deadline):
        """Feeds standard input and gathers both output streams until they close or the time is up; after the
        process itself ends, a pipe kept open by a leftover child is given only a short grace."""
        out, err = bytearray(), bytearray()
        sel = selectors.DefaultSelector()
        sel.register(proc.stdout, selectors.EVENT_READ, out)
        sel.register(proc.stderr, selectors.EVENT_READ, err)
        pending = memoryview(stdin_bytes)
        if proc.stdin:
            if pending:
                sel.register(proc.stdin, selectors.EVENT_WRITE, None)
            else:
                proc.stdin.close()
        timed_out = False
        ended_at = None
        while sel.get_map():
            now = time.monotonic()
            if now >= deadline:
                timed_out = proc.poll() is None
                break
            if ended_at is None and proc.poll() is not None:
                ended_at = now
            if ended_at is not None and now - ended_at > 2.0:
                break
            for key, _ in sel.select(timeout=0.1):
                if key.data is None:  # standard input
                    try:
                        n = os.write(key.fd, pending[:65536])
                        pending = pending[n:]
                    except BrokenPipeError:
                        pending = pending[:0]
                    if not pending:
                        sel.unregister(key.fileobj)
                        key.fileobj.close()
                    continue
                chunk = os.read(key.fd, 65536)
                if chunk:
                    key.data.extend(chunk)
                else:
                    sel.unregister(key.fileobj)
        for key in list(sel.get_map().values()):
            sel.unregister(key.fileobj)
        sel.close()
        if timed_out:
            kill_group(proc.pid)
        for f in (proc.stdin, proc.stdout, proc.stderr):
            if f and not f.closed:
                f.close()
        return bytes(out), bytes(err), timed_out

    def kill_all(self):
        with self.lock:
            for p in self.procs:
                kill_group(p.pid)


def signed32(n):
    n &= 0xFFFFFFFF
    return n - (1 << 32) if n >= 1 << 31 else n


def visible_end(line):
    body = line.rstrip(" \t")
    return body + "~" * (len(line) - len(body))


def report_failure(r):
    t = r.test
    lines = [f"---- FAIL {t.name}: {'; '.join(r.problems)}"]
    lines += [f"from {t.source}"] if t.source else []
    lines.append("script:")
    lines += ["  | " + l for l in t.text.splitlines()]
    if t.error is None:
        expected = r.expected if r.expected is not None else "".join(x + "\n" for x in t.expect)
        lines.append("expected output:")
        lines += ["  | " + l for l in expected.split("\n")[:-1]] or ["  (none)"]
        lines.append("actual output:")
        actual = r.stdout.split("\n")
        if actual and actual[-1] == "":
            actual.pop()
        lines += ["  | " + l for l in actual] or ["  (none)"]
        if r.stdout and not r.stdout.endswith("\n"):
            lines.append("  (no newline at the end)")
        if r.stdout != expected:
            lines.append("diff (trailing blanks shown as '~'):")
            lines += ["  " + visible_end(l.rstrip("\n")) for l in difflib.unified_diff(
                expected.splitlines(True), r.stdout.splitlines(True), "expected", "actual", lineterm="")]
        lines.append(f"expected exit code: {t.exit}; actual: "
                     f"{signed32(r.exit) if r.exit is not None else 'none'}")
        if r.stderr.strip():
            lines.append("standard error:")
            lines += ["  | " + l for l in r.stderr.splitlines()[:40]]
    return "\n".join(lines)


# ---- main --------------------------------------------------------------------------------------------------------------

def build_dir():
    b = Path(os.environ.get("TARVEX_BUILD") or "build")
    return b if b.is_absolute() else ROOT / b


def wine_prefix():
    prefix = ROOT / "build" / "wineprefix"
    if not (prefix / ".tarvex-ready").exists():
        sys.exit("no Wine prefix: run scripts/setup.sh first")
    return prefix


def build_tool(src, out, compiler, *flags):
    """Compiles one of the runner's helper programs when it is missing or older than its source; the result
    appears at once (renamed into place), so concurrent runs never see half a file."""
    if out.exists() and out.stat().st_mtime >= src.stat().st_mtime:
        return out
    out.parent.mkdir(parents=True, exist_ok=True)
    tmp = out.with_name(f"{out.stem}.{os.getpid()}{out.suffix}")
    subprocess.run([compiler, "-O2", "-Wall", "-Wextra", str(src), "-o", str(tmp), *flags], check=True)
    os.replace(tmp, out)
    return out


def main():
    ap = argparse.ArgumentParser(description="Runs the script tests under Wine.")
    ap.add_argument("filters", nargs="*", help="run only tests whose path contains one of these")
    ap.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--exe", help="the runtime to test (default: $TARVEX_BUILD/x86_64/tarvex3.exe)")
    ap.add_argument("--root", help="run the .qx3 files under this folder instead of tests/scripts")
    opts = ap.parse_args()
    root = Path(opts.root).resolve() if opts.root else SCRIPTS
    if not root.is_dir():
        sys.exit(f"no folder {root}")

    bdir = build_dir()
    exe = Path(opts.exe).resolve() if opts.exe else bdir / "x86_64" / "tarvex3.exe"
    if not exe.exists():
        sys.exit(f"no runtime at {exe}: build it first (scripts/build.sh x86_64)")
    arch = exe_arch(exe)
    tests = [parse_test(p, root) for p in find_tests(opts.filters, root)]
    if not tests:
        print("no tests found")
        print("0 passed, 0 failed")
        return 1
    prefix = wine_prefix()
    if arch == "i686":
        problem = wine32_problem(bdir, prefix)
        if problem:  # the whole suite is skipped, and says why: never counted as passed
            print(f"the i686 suite is skipped: {problem}")
            print(f"{len(tests)} skipped")
            print("0 passed, 0 failed")
            return 0
    print(f"testing {exe} ({arch})", flush=True)
    checked = {}
    for t in tests:
        if t.skip or t.error:
            continue
        if t.arch and t.arch != arch:
            t.skip = f"{t.arch} only"
            continue
        for cap in t.requires:
            if cap not in checked:
                checked[cap] = CAPABILITIES[cap](bdir, prefix)
            if checked[cap]:
                t.skip = checked[cap]
                break

    launcher = build_tool(LAUNCHER_SRC, bdir / "txlaunch.exe", "x86_64-w64-mingw32-gcc-posix",
                          "-municode", "-static")
    session = Session(prefix, build_tool(WM_SRC, bdir / "txwm", "gcc", "-lX11"))
    runner = None
    interrupted = False

    def on_signal(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGHUP, on_signal)
    results = []
    tmpdir = tempfile.mkdtemp(prefix="tarvex-tests-")
    try:
        session.start()
        runner = Runner(exe, arch, launcher, session, tmpdir)
        pool = ThreadPoolExecutor(max_workers=max(1, opts.jobs))
        try:
            for r in pool.map(runner.run, tests):
                results.append(r)
                extra = f" ({r.test.skip})" if r.status == "skip" else f" ({r.rerun})" if r.rerun else ""
                print(f"{r.status:4} {r.seconds:6.2f}s  {r.test.name}{extra}", flush=True)
        finally:
            runner.stopping = True
            pool.shutdown(wait=False, cancel_futures=True)
            runner.kill_all()
            pool.shutdown(wait=True)
    except KeyboardInterrupt:
        interrupted = True
        print("interrupted", flush=True)
    finally:
        session.stop()
        shutil.rmtree(tmpdir, ignore_errors=True)

    failed = [r for r in results if r.status == "FAIL"]
    for r in failed:
        print(report_failure(r))
    passed = sum(r.status == "ok" for r in results)
    skipped = sum(r.status == "skip" for r in results)
    if failed:
        print("failed: " + " ".join(r.test.name for r in failed))
    if skipped:
        print(f"{skipped} skipped")
    print(f"{passed} passed, {len(failed)} failed")
    return 1 if failed or interrupted or len(results) < len(tests) else 0


if __name__ == "__main__":
    sys.exit(main())
