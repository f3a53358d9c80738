#!/usr/bin/env python3
"""Network benchmark: the runtime against Python 3 on loopback transfers.

    bench/net.py [-r ROUNDS] [--exe PATH] [--tcp-mb N] [--http-mb N]

Two workloads, each run by the runtime and by Python, interleaved round by round:
  tcp   N MiB (default 20) over one loopback TCP connection between two processes of the same kind
        (bench/net/tcp_send.* to bench/net/tcp_recv.*), timed by the receiver from its accept;
  http  INETGET of an N MiB body (default 50) from the local HTTP test server into a file, against urllib
        copying the same body into a file, timed from inside.
Prints the median seconds and MiB/s of each and the ratio Tarvex/Python (the target is 1.5 at most).
"""

import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
import run_tests as rt  # noqa: E402  (Wine session, paths and the build directory)

NET = ROOT / "bench" / "net"
SERVER = ROOT / "tests" / "scripts" / "net" / "fixtures" / "start.sh"


def first_line(p):
    out = p.stdout.decode("utf-8", "replace").split()
    if p.returncode != 0 or len(out) < 2:
        raise RuntimeError(f"failed (exit {p.returncode}): {p.stdout!r} {p.stderr[-400:]!r}")
    return float(out[0]), int(float(out[1]))


def tcp_round(receiver, sender, tmp, total, env):
    """Starts the receiver, waits for its port, runs the sender; returns (seconds, bytes) from the receiver."""
    port_file = tmp / "tcp.port"
    port_file.unlink(missing_ok=True)
    port_arg = rt.win_path(port_file) if env else str(port_file)
    recv = subprocess.Popen(receiver + [port_arg, str(total)], env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 60
    while not port_file.exists():
        if time.monotonic() > deadline or recv.poll() is not None:
            recv.kill()
            raise RuntimeError("the receiver did not start listening")
        time.sleep(0.02)
    port = port_file.read_text().strip()
    subprocess.run(sender + [port, str(total)], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300)
    out, err = recv.communicate(timeout=300)
    return first_line(subprocess.CompletedProcess(recv.args, recv.returncode, out, err))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("-r", "--rounds", type=int, default=3)
    ap.add_argument("--exe", help="tarvex3.exe to measure (default: the x86_64 build)")
    ap.add_argument("--tcp-mb", type=int, default=20)
    ap.add_argument("--http-mb", type=int, default=50)
    args = ap.parse_args()

    exe = Path(args.exe).resolve() if args.exe else rt.build_dir() / "x86_64" / "tarvex3.exe"
    if not exe.exists():
        sys.exit(f"no runtime at {exe}: run scripts/build.sh x86_64 first")
    tcp_total = args.tcp_mb * 1048576
    http_total = args.http_mb * 1048576

    session = rt.Session(rt.wine_prefix(), rt.build_tool(rt.WM_SRC, rt.build_dir() / "txwm", "gcc", "-lX11"))
    with tempfile.TemporaryDirectory(dir=ROOT / "build") as tmp:
        tmp = Path(tmp)
        try:
            session.start()
            wenv = session.base_env()
            wenv["LC_ALL"] = "C.UTF-8"
            lifetime = 120 + args.rounds * 60
            subprocess.run([str(SERVER), "http", str(tmp), str(lifetime)], check=True)
            url = f"http://127.0.0.1:{(tmp / 'http.port').read_text().strip()}/bytes/{http_total}"
            with urllib.request.urlopen(url) as r:  # the server builds the body once; warm it up
                r.read()

            tx = lambda name: [rt.WINE64, str(exe), "/ErrorStdOut", "/Tarvex3ExecuteScript",
                               rt.win_path(NET / f"{name}.qx3")]
            py = lambda name: [sys.executable, str(NET / f"{name}.py")]
            results = {("tcp", "tarvex"): [], ("tcp", "python"): [], ("http", "tarvex"): [], ("http", "python"): []}
            for r in range(args.rounds):
                for lang, make, env in (("tarvex", tx, wenv), ("python", py, None)):
                    secs, got = tcp_round(make("tcp_recv"), make("tcp_send"), tmp, tcp_total, env)
                    if got != tcp_total:
                        raise RuntimeError(f"tcp {lang}: {got} bytes of {tcp_total}")
                    results[("tcp", lang)].append(secs)
                    out = tmp / "body.bin"
                    target = rt.win_path(out) if env else str(out)
                    p = subprocess.run(make("inet_get") + [url, target], env=env, stdin=subprocess.DEVNULL,
                                       capture_output=True, timeout=300)
                    secs, got = first_line(p)
                    if got != http_total or out.stat().st_size != http_total:
                        raise RuntimeError(f"http {lang}: {got} bytes of {http_total}")
                    out.unlink()
                    results[("http", lang)].append(secs)
                print(f"round {r + 1}/{args.rounds} done", file=sys.stderr)

            print(f"{'workload':<22} {'Tarvex':>8} {'MB/s':>7} {'Python':>8} {'MB/s':>7} {'T/Py':>6}")
            for name, total, label in (("tcp", tcp_total, f"tcp {args.tcp_mb} MB"),
                                       ("http", http_total, f"inetget {args.http_mb} MB")):
                t = statistics.median(results[(name, "tarvex")])
                p = statistics.median(results[(name, "python")])
                mb = total / 1048576
                print(f"{label:<22} {t:8.3f} {mb / t:7.0f} {p:8.3f} {mb / p:7.0f} {t / p:6.2f}")
        finally:
            pid_file = tmp / "http.pid"
            if pid_file.exists():
                try:
                    os.kill(int(pid_file.read_text().strip()), signal.SIGTERM)
                except (OSError, ValueError):
                    pass
            session.stop()


if __name__ == "__main__":
    main()
