#!/usr/bin/env python3
"""Benchmark runner: the seven workloads of bench/workloads in the language, in Python 3 and in Lua 5.4.

    bench/run.py [-r ROUNDS] [--exe PATH] [WORKLOAD...]

Each workload times itself from inside (the first word it prints is its run time in seconds), so process
start-up, and Wine's in particular, is not counted. The runs are interleaved (round by round, workload by
workload, one run per language) so that a noisy machine hurts all three alike. The table gives the median of
each and the ratios Tarvex/Python and Tarvex/Lua. Two more figures follow: the memory a 1,000,000-element array
of integers costs (peak resident size of a script that fills one, minus that of a script that does not) and
the start-up cost of a hello-world script over a trivial Windows program.

The desktop workloads of bench/desktop (pixel search, key sending) exist only in the language: each prints
the seconds of one operation, and the table gives their medians.
"""

import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
import run_tests as rt  # noqa: E402  (Wine session, paths and the build directory)

WORKLOADS = ROOT / "bench" / "workloads"
DESKTOP = ROOT / "bench" / "desktop"
LUA = "lua5.4"


def run_timed(cmd, env, cwd=None):
    """Runs a workload; returns (seconds it reported, the rest of its first output line)."""
    p = subprocess.run(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
    out = p.stdout.decode("utf-8", "replace").split()
    if p.returncode != 0 or not out:
        raise RuntimeError(f"{cmd[-1]} failed (exit {p.returncode}): {p.stdout!r} {p.stderr[-400:]!r}")
    return float(out[0]), " ".join(out[1:2])


def peak_rss_mb(cmd, env):
    """Peak resident size of a child in MB (the Wine process runs the program itself)."""
    code = ("import resource, subprocess, sys\n"
            "subprocess.run(sys.argv[1:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, "
            "stderr=subprocess.DEVNULL)\n"
            "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n")
    p = subprocess.run([sys.executable, "-c", code, *cmd], env=env, capture_output=True, text=True, timeout=600)
    return int(p.stdout.strip()) / 1024.0


def wall(cmd, env, n=10):
    times = []
    for _ in range(n):
        t = time.perf_counter()
        subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - t)
    return statistics.median(times)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("-r", "--rounds", type=int, default=5)
    ap.add_argument("--exe", help="tarvex3.exe to measure, either build (default: the x86_64 build)")
    ap.add_argument("names", nargs="*", help="workloads to run (prefix of the file name, e.g. a or b_fib)")
    args = ap.parse_args()

    exe = Path(args.exe).resolve() if args.exe else rt.build_dir() / "x86_64" / "tarvex3.exe"
    if not exe.exists():
        sys.exit(f"no runtime at {exe}: run scripts/build.sh x86_64 first")
    arch = rt.exe_arch(exe)
    wine = rt.WINE64 if arch == "x86_64" else rt.WINE32
    if arch == "i686":
        problem = rt.wine32_problem(rt.build_dir(), rt.wine_prefix())
        if problem:
            sys.exit(f"cannot run the i686 build here: {problem}")
    names = sorted(p.stem for p in WORKLOADS.glob("*.qx3"))
    desktop = sorted(p.stem for p in DESKTOP.glob("*.qx3"))
    if args.names:
        names = [n for n in names if any(n.startswith(x) for x in args.names)]
        desktop = [n for n in desktop if any(n.startswith(x) for x in args.names)]

    session = rt.Session(rt.wine_prefix(), rt.build_tool(rt.WM_SRC, rt.build_dir() / "txwm", "gcc", "-lX11"))
    try:
        session.start()
        wenv = session.base_env()
        wenv["LC_ALL"] = "C.UTF-8"
        results = {n: {"tarvex": [], "python": [], "lua": []} for n in names}
        checks = {n: {} for n in names}
        desk = {n: [] for n in desktop}
        for r in range(args.rounds):
            for n in desktop:
                secs, check = run_timed([rt.WINE64, str(exe), "/ErrorStdOut", "/Tarvex3ExecuteScript",
                                         rt.win_path(DESKTOP / f"{n}.qx3")], wenv)
                desk[n].append((secs, check))
            for n in names:
                runs = {
                    "tarvex": ([wine, str(exe), "/ErrorStdOut", "/Tarvex3ExecuteScript",
                                rt.win_path(WORKLOADS / f"{n}.qx3")], wenv),
                    "python": ([sys.executable, str(WORKLOADS / f"{n}.py")], None),
                    "lua": ([LUA, str(WORKLOADS / f"{n}.lua")], None),
                }
                for lang, (cmd, env) in runs.items():
                    secs, check = run_timed(cmd, env)
                    results[n][lang].append(secs)
                    checks[n][lang] = check
            print(f"round {r + 1}/{args.rounds} done", file=sys.stderr)

        for n in desktop:
            secs = statistics.median(x[0] for x in desk[n])
            print(f"desktop {n:<14} {secs * 1000:9.1f} ms   ({desk[n][-1][1]})")
        if not names:
            return
        print(f"{'workload':<12} {'Tarvex':>9} {'Python':>9} {'Lua':>9} {'T/Py':>7} {'T/Lua':>7}")
        ratios = []
        for n in names:
            m = {k: statistics.median(v) for k, v in results[n].items()}
            rp = m["tarvex"] / m["python"] if m["python"] else float("inf")
            rl = m["tarvex"] / m["lua"] if m["lua"] else float("inf")
            ratios.append(rp)
            flag = "" if len(set(checks[n].values())) == 1 else f"   results differ: {checks[n]}"
            print(f"{n:<12} {m['tarvex']:9.3f} {m['python']:9.3f} {m['lua']:9.3f} {rp:7.2f} {rl:7.2f}{flag}")
        print(f"median Tarvex/Python ratio: {statistics.median(ratios):.2f}; worst: {max(ratios):.2f}")

        # Memory of a million-element array of integers, and start-up over a trivial program.
        with tempfile.TemporaryDirectory(dir=ROOT / "build") as tmp:
            tmp = Path(tmp)
            full = tmp / "array_full.qx3"
            base = tmp / "array_base.qx3"
            hello = tmp / "hello.qx3"
            full.write_text("Local $a[1000000]\nFor $i = 0 To 999999\n    $a[$i] = $i\nNext\n")
            base.write_text("Local $a[1]\nFor $i = 0 To 999999\n    $a[0] = $i\nNext\n")
            hello.write_text('ConsoleWrite("hello" & @CRLF)\n')
            run = lambda f: [wine, str(exe), "/ErrorStdOut", "/Tarvex3ExecuteScript", rt.win_path(f)]
            mem = peak_rss_mb(run(full), wenv) - peak_rss_mb(run(base), wenv)
            print(f"1,000,000-element integer array: {mem:.1f} MB")
            trivial = tmp / "trivial.exe"
            src = tmp / "trivial.c"
            src.write_text("int main(void) { return 0; }\n")
            subprocess.run([f"{arch}-w64-mingw32-gcc-posix", "-O2", "-static", str(src), "-o", str(trivial)],
                           check=True)
            # The runtime needs its hidden main window, and under Wine the first window of a process costs
            # the display driver's set-up: the same trivial program that also makes one window shows that floor.
            windowed = tmp / "trivial_window.exe"
            wsrc = tmp / "trivial_window.c"
            wsrc.write_text("#include <windows.h>\n"
                            "int WINAPI WinMain(HINSTANCE a, HINSTANCE b, LPSTR c, int d) {\n"
                            "    HWND h = CreateWindowExW(0, L\"STATIC\", L\"\", 0, 0, 0, 10, 10, 0, 0, 0, 0);\n"
                            "    DestroyWindow(h);\n    return 0;\n}\n")
            subprocess.run([f"{arch}-w64-mingw32-gcc-posix", "-O2", "-static", "-mwindows", str(wsrc), "-o",
                            str(windowed)], check=True)
            t_hello = wall(run(hello), wenv)
            t_trivial = wall([wine, str(trivial)], wenv)
            t_window = wall([wine, str(windowed)], wenv)
            print(f"hello-world start: {t_hello * 1000:.0f} ms; trivial exe: {t_trivial * 1000:.0f} ms; "
                  f"difference {(t_hello - t_trivial) * 1000:.0f} ms; trivial exe with one window: "
                  f"{t_window * 1000:.0f} ms (difference {(t_hello - t_window) * 1000:.0f} ms)")
    finally:
        session.stop()


if __name__ == "__main__":
    main()
