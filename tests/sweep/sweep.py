#!/usr/bin/env python3
"""Bad-argument sweep: calls every built-in of the table (src/core/builtin_table.cpp) with every kind of bad
argument in every position, under Wine, and fails on a crash or a hang of the runtime.

For each row not excluded below, and each argument count from its minimum up to its maximum (capped for the
long variadic rows), each position gets each bad kind in turn while the other positions hold a neutral filler
(a string no window, file or function is named after); each count is also called with the kind in every
position. The calls go into generated scripts, one line each, with a marker line written to standard output
before it, so the last marker seen names the call that crashed or hung. After a crash, a hang or a script
error the script is started again from the call after that one, so one run reports every crashing call.

Under Wine a crashing runtime does not always end with its exception code (it can exit 0), so a run also
counts as crashed when Wine's "Unhandled" report appears on either stream; a run that ends without its end
marker and without a script error is reported too.

Rows that would act on the machine or on other programs of the shared test desktop, or wait for a user or
without limit, are excluded with their reason (EXCLUDED). Rows for window and control functions run behind
a guard that makes a hidden window of the sweep's own the last found window before each call, so an empty
title (the last found window) never reaches another program's window.

Usage: tests/sweep/sweep.py [-j N] [--exe PATH] [--only NAME,...] [--hang S]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
sys.path.insert(0, str(ROOT / "tests"))
import run_tests as rt  # noqa: E402  (the script runner's Wine session, launcher and path helpers)

TABLE = ROOT / "src" / "core" / "builtin_table.cpp"

# name -> why it is not swept
EXCLUDED = {
    # waiting for a user
    "MSGBOX": "a message box waits for a user (a zero timeout means none)",
    "INPUTBOX": "waits for a user",
    "FILEOPENDIALOG": "a file dialog waits for a user",
    "FILESAVEDIALOG": "a file dialog waits for a user",
    "FILESELECTFOLDER": "a folder dialog waits for a user",
    # waiting without limit (their matching and process look-ups are swept through WINEXISTS, PROCESSEXISTS, RUN)
    "SLEEP": "sleeps as long as asked (2147483647 ms)",
    "WINWAIT": "waits without limit for the window its arguments name",
    "WINWAITACTIVE": "waits without limit for the window its arguments name",
    "WINWAITCLOSE": "waits without limit while a window matches (an empty title matches)",
    "WINWAITNOTACTIVE": "waits without limit while the window is active",
    "PROCESSWAIT": "waits without limit for the process its arguments name",
    "PROCESSWAITCLOSE": "waits without limit while the process exists",
    "RUNWAIT": "waits for the program it starts",
    "RUNASWAIT": "waits for the program it starts",
    "SHELLEXECUTEWAIT": "waits for the program it starts",
    # acting on the machine or on other programs of the shared desktop
    "SHUTDOWN": "logs off or shuts the machine down",
    "BLOCKINPUT": "blocks the input of the shared desktop",
    "SEND": "keys go to whichever window has the focus on the shared desktop",
    "CONTROLSEND": "keys can reach the focused window of the shared desktop",
    "MOUSECLICK": "clicks whatever lies under the pointer on the shared desktop",
    "MOUSECLICKDRAG": "drags whatever lies under the pointer on the shared desktop",
    "MOUSEDOWN": "presses a button over whatever lies under the pointer",
    "MOUSEUP": "releases a button over whatever lies under the pointer",
    "MOUSEWHEEL": "scrolls whatever lies under the pointer",
    "WINMINIMIZEALL": "minimises every window of the shared desktop",
    "WINMINIMIZEALLUNDO": "restores every window of the shared desktop",
    "CLIPPUT": "replaces the clipboard that other tests use",
    "FILERECYCLEEMPTY": "empties the recycle bin of the shared Wine prefix",
    "DRIVESETLABEL": "renames a drive of the shared Wine prefix (an empty drive is the current one)",
    "PROCESSCLOSE": "ends processes by id or name (a number can name another program's process)",
    "SHELLEXECUTE": "an empty or odd target opens the file manager or another program on the desktop",
    "ENVUPDATE": "broadcasts a settings change to every window of the shared desktop",
    "SOUNDSETWAVEVOLUME": "changes the machine's volume",
    "CDTRAY": "opens and closes drive trays",
    "DRIVEMAPADD": "maps network drives",
    "DRIVEMAPDEL": "removes drive mappings",
}

# Rows whose every call is slow under Wine are swept at these argument counts only (the fewest and the most).
COUNTS = {
    "FILECREATESHORTCUT": (2, 9),  # 0.2 s per shortcut written or refused
}

# Fillers of their own for positions where the usual one would make every call slow: position (from 0) ->
# expression. PING waits its timeout (4 s when none is given) for an address that parses but never answers.
FILLERS = {
    "PING": {1: "100"},
}

# Window-acting rows run behind the own-window guard.
GUARDED_PREFIXES = ("WIN", "CONTROL", "STATUSBAR", "SENDKEEPACTIVE", "GUI", "TRAY")

FILLER = '"qxsweep_filler_z"'
END = "@@sweep-end"

# The bad kinds: (label, expression); the variables are set up by the script's header.
KINDS = [
    ("empty string", '""'),
    ("-1", "-1"),
    ("0", "0"),
    ("Int32 max", "$kI32max"),
    ("Int32 min", "$kI32min"),
    ("Int64 max", "$kI64max"),
    ("Int64 min", "$kI64min"),
    ("1e308", "1e308"),
    ("Inf", "$kInf"),
    ("NaN", "$kNaN"),
    ("100,000 characters", "$kLong"),
    ("embedded NUL", "$kNul"),
    ("lone surrogate", "$kSurrogate"),
    ("1-D array", "$kA1"),
    ("2-D array", "$kA2"),
    ("Default", "Default"),
    ("True", "True"),
    ("empty Binary", "$kBin0"),
    ("Binary", "$kBin"),
    ("Ptr 0", "$kPtr0"),
    ("DllStruct", "$kStruct"),
    ("Object", "$kObj"),
]

HEADER = r"""; generated by tests/sweep/sweep.py
Opt("WinTitleMatchMode", 3)
Global $kI32max = 2147483647, $kI32min = -2147483647 - 1
Global $kI64max = 9223372036854775807, $kI64min = -9223372036854775807 - 1
Global $kInf = 1e308 * 10, $kNaN = $kInf - $kInf
Global $kLong = "x"
While StringLen($kLong) < 100000
	$kLong &= $kLong
WEnd
$kLong = StringLeft($kLong, 100000)
Global $kNul = "a" & Chr(0) & "b", $kSurrogate = ChrW(0xD800) & "x"
Global $kA1[3] = [1, "a", 2.5]
Global $kA2[2][2] = [[1, 2], ["x", "y"]]
Global $kBin0 = Binary(""), $kBin = Binary("0x00FF10")
Global $kPtr0 = Ptr(0)
Global $kStruct = DllStructCreate("int;char[8]")
Global $kObj = ObjCreate("Scripting.Dictionary")
Global $own = 0
Func G()
	If IsPtr($own) And WinExists($own) Then Return
	Local $r = DllCall("user32.dll", "hwnd", "CreateWindowExW", "dword", 0, "wstr", "Static", "wstr", _
			"qxsweep own window " & @TarvexPID, "dword", 0, "int", 0, "int", 0, "int", 60, "int", 40, _
			"hwnd", 0, "handle", 0, "handle", 0, "ptr", 0)
	If IsArray($r) Then $own = $r[0]
	WinExists($own)
EndFunc
"""


def read_table():
    rows = []
    for m in re.finditer(r'\{u"([A-Z0-9_]+)",\s*(\d+),\s*(\d+),\s*([A-Za-z0-9_]+)\}', TABLE.read_text()):
        rows.append((m.group(1), int(m.group(2)), int(m.group(3)), m.group(4) != "nullptr"))
    return rows


def arg_counts(lo, hi):
    if hi >= 20:  # the long variadic rows (BITAND, CALL, DLLCALL, STRINGFORMAT): a few counts are enough
        hi = lo + 2
    return range(lo, min(hi, 10) + 1)


def calls_for(name, lo, hi):
    """(text, description) of every call of a row."""
    out = []
    for n in COUNTS.get(name) or arg_counts(lo, hi):
        if n == 0:
            out.append((f"{name}()", f"{name}()"))
            continue
        fill = [FILLERS.get(name, {}).get(p, FILLER) for p in range(n)]
        for label, expr in KINDS:
            for p in range(n):
                args = list(fill)
                args[p] = expr
                out.append((f"{name}({', '.join(args)})", f"{name} with {n} arguments, {label} in position {p + 1}"))
            if n > 1:
                out.append((f"{name}({', '.join([expr] * n)})", f"{name} with {n} arguments, all {label}"))
    return out


def plan(only):
    calls, swept, skipped = [], [], []
    for name, lo, hi, built in read_table():
        if only and name not in only:
            continue
        if name in EXCLUDED:
            skipped.append(name)
            continue
        swept.append(name)
        guard = name.startswith(GUARDED_PREFIXES)
        for text, desc in calls_for(name, lo, hi):
            calls.append((("G()\n" if guard else "") + text, desc))
    return calls, swept, skipped


def write_script(path, calls, start, stop):
    with open(path, "w", encoding="utf-8-sig", newline="\r\n") as f:
        f.write(HEADER)
        for i in range(start, stop):
            f.write(f'ConsoleWrite("@{i}" & @LF)\n{calls[i][0]}\n')
        f.write(f'ConsoleWrite("{END}" & @LF)\n')


class Sweep:
    def __init__(self, exe, launcher, session, tmpdir, calls, hang_s):
        self.exe, self.launcher, self.session, self.tmpdir = exe, launcher, session, tmpdir
        self.calls, self.hang_s = calls, hang_s
        self.lock = threading.Lock()
        self.counter = 0
        self.crashes, self.hangs, self.script_errors, self.early = [], [], [], []
        self.starts = 0
        self.spent = {}  # built-in name -> seconds between its markers (for keeping the sweep short)

    def run_range(self, start, stop):
        """Runs calls[start:stop], starting again after each call that ends the run."""
        while start < stop:
            last, outcome, detail = self.run_once(start, stop)
            if outcome == "done":
                return
            bad = last if last is not None and last >= start else start
            desc = f"call {bad}: {self.calls[bad][1]}: {self.calls[bad][0].splitlines()[-1]}"
            with self.lock:
                {"crash": self.crashes, "hang": self.hangs, "error": self.script_errors,
                 "early": self.early}[outcome].append(f"{desc}\n      {detail}")
            start = bad + 1

    def run_once(self, start, stop):
        with self.lock:
            self.counter += 1
            self.starts += 1
            work = Path(self.tmpdir) / f"s{self.counter}"
        work.mkdir()
        script = work / "sweep.qx3"
        write_script(script, self.calls, start, stop)
        exit_file = work / "exit.txt"
        env = self.session.base_env()
        env.update(LC_ALL="en_US.UTF-8",
                   TX_LAUNCH_CMDLINE=f'"{rt.win_path(self.exe)}" /ErrorStdOut /Tarvex3ExecuteScript '
                                     f'{rt.quote_word(rt.win_path(script))}',
                   TX_LAUNCH_EXITFILE=rt.win_path(exit_file))
        # The script's working folder is its own scratch folder: file built-ins with relative names act there.
        proc = subprocess.Popen([rt.WINE64, str(self.launcher)], env=env, cwd=str(work), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        last, lines, err_chunks = None, [], []
        state = {"seen": time.monotonic()}

        def read_err():
            for chunk in iter(lambda: proc.stderr.read(4096), b""):
                err_chunks.append(chunk)

        def watchdog():
            while proc.poll() is None:
                if time.monotonic() - state["seen"] > self.hang_s:
                    state["hung"] = True
                    rt.kill_group(proc.pid)
                    return
                time.sleep(0.5)

        threads = [threading.Thread(target=read_err, daemon=True), threading.Thread(target=watchdog, daemon=True)]
        for t in threads:
            t.start()
        ended = False
        for raw in proc.stdout:
            now = time.monotonic()
            if last is not None:
                name = self.calls[last][1].split(" ", 1)[0]
                with self.lock:
                    self.spent[name] = self.spent.get(name, 0.0) + now - state["seen"]
            state["seen"] = now
            line = raw.decode("cp1252", "replace").rstrip("\r\n")
            if line.startswith("@") and line[1:].isdigit():
                last = int(line[1:])
            elif line == END:
                ended = True
            else:
                lines.append(line)
        proc.wait()
        rt.kill_group(proc.pid)
        for t in threads:
            t.join(timeout=5)
        err = b"".join(err_chunks).decode("utf-8", "replace")
        code = None
        try:
            code = int(exit_file.read_text().strip()) & 0xFFFFFFFF
        except (OSError, ValueError):
            pass
        shutil.rmtree(work, ignore_errors=True)
        text = "\n".join(lines)
        unhandled = "Unhandled" in text or "Unhandled" in err
        if state.get("hung"):
            return last, "hang", f"no progress for {self.hang_s:g} s"
        if unhandled or (code is not None and code & 0xF0000000 == 0xC0000000):
            first = next((l for l in (text + "\n" + err).splitlines() if "Unhandled" in l), "")
            return last, "crash", f"exit code 0x{code or 0:08X} {first.strip()}"
        if ended and code == 0:
            return last, "done", ""
        if "==>" in text:
            return last, "error", " | ".join(l.strip() for l in lines[-3:])[:300]
        return last, "early", f"exit code {code}; output: {' | '.join(lines[-3:])[:300]}"


def main():
    ap = argparse.ArgumentParser(description="Calls every built-in with bad arguments under Wine.")
    ap.add_argument("-j", "--jobs", type=int, default=2)
    ap.add_argument("--exe", help="the runtime (default: $TARVEX_BUILD/x86_64/tarvex3.exe)")
    ap.add_argument("--only", help="comma-separated built-in names to sweep (default: all)")
    ap.add_argument("--hang", type=float, default=30, help="seconds without a new call that count as a hang")
    ap.add_argument("--chunk", type=int, default=2500, help="calls per script")
    opts = ap.parse_args()

    only = {n.strip().upper() for n in opts.only.split(",")} if opts.only else None
    calls, swept, skipped = plan(only)
    print(f"sweep: {len(calls)} calls over {len(swept)} built-ins; excluded:")
    for name in skipped:
        print(f"  {name}: {EXCLUDED[name]}")

    bdir = rt.build_dir()
    exe = Path(opts.exe).resolve() if opts.exe else bdir / "x86_64" / "tarvex3.exe"
    if not exe.exists():
        sys.exit(f"no runtime at {exe}: build it first (scripts/build.sh x86_64)")
    launcher = rt.build_tool(rt.LAUNCHER_SRC, bdir / "txlaunch.exe", "x86_64-w64-mingw32-gcc-posix",
                             "-municode", "-static")
    session = rt.Session(rt.wine_prefix(), rt.build_tool(rt.WM_SRC, bdir / "txwm", "gcc", "-lX11"))
    tmpdir = tempfile.mkdtemp(prefix="tarvex-sweep-")
    t0 = time.monotonic()
    sweep = None
    try:
        session.start()
        sweep = Sweep(exe, launcher, session, tmpdir, calls, opts.hang)
        ranges = [(s, min(s + opts.chunk, len(calls))) for s in range(0, len(calls), opts.chunk)]
        with ThreadPoolExecutor(max_workers=max(1, opts.jobs)) as pool:
            list(pool.map(lambda r: sweep.run_range(*r), ranges))
    finally:
        session.stop()
        shutil.rmtree(tmpdir, ignore_errors=True)

    for title, items in (("script errors (the script stopped; not counted as failures)", sweep.script_errors),
                         ("ended early", sweep.early), ("HANGS", sweep.hangs), ("CRASHES", sweep.crashes)):
        if items:
            print(f"{title}:")
            for it in items:
                print("  " + it)
    slow = sorted(sweep.spent.items(), key=lambda kv: -kv[1])[:8]
    print("slowest: " + ", ".join(f"{n} {t:.1f} s" for n, t in slow))
    failed = len(sweep.crashes) + len(sweep.hangs) + len(sweep.early)
    print(f"sweep: {len(calls)} calls, {sweep.starts} runs, {time.monotonic() - t0:.0f} s; "
          f"{len(sweep.crashes)} crashes, {len(sweep.hangs)} hangs, {len(sweep.early)} early ends, "
          f"{len(sweep.script_errors)} script errors")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
