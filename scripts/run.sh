#!/usr/bin/env bash
# Runs one script with the x86_64 runtime under Wine:  scripts/run.sh script.qx3 [args...]
# Sets the machine up and (re)builds the runtime first when needed (build output is shown only on failure),
# then runs  tarvex3.exe /ErrorStdOut /Tarvex3ExecuteScript <script> args...  in the private Wine prefix
# and exits with the script's exit code (its low 8 bits: a Linux exit status holds no more).
# Without $DISPLAY it starts an Xvfb of its own for the run, with the tests' minimal window manager.
# LC_ALL picks Wine's ANSI code page; the default here is zh_CN.UTF-8 (code page 936, so console output is
# GBK), en_US.UTF-8 gives 1252.
# TARVEX_BUILD selects the build directory as for scripts/build.sh.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ $# -lt 1 ]; then
    echo "usage: scripts/run.sh script.qx3 [args...]" >&2
    exit 2
fi
SCRIPT=$1
shift
[ -f "$SCRIPT" ] || { echo "run.sh: no such script: $SCRIPT" >&2; exit 2; }

B=${TARVEX_BUILD:-build}
[[ $B = /* ]] || B="$ROOT/$B"
if ! log=$(bash "$ROOT/scripts/build.sh" x86_64 2>&1); then
    printf '%s\n' "$log" >&2
    exit 1
fi
EXE="$B/x86_64/tarvex3.exe"

WINE64=/usr/lib/wine/wine64
export WINEPREFIX="$ROOT/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Only now: build.sh has run the set-up, which generates the locale. Bash itself complains ("setlocale: LC_ALL:
# cannot change locale") when LC_ALL names a locale that is not generated yet, so nothing may set it earlier.
export LC_ALL=${LC_ALL:-zh_CN.UTF-8}
unset WINEARCH

XVFB_PID=
WM_PID=
cleanup() {
    if [ -n "$WM_PID" ]; then
        kill "$WM_PID" 2>/dev/null || true
        wait "$WM_PID" 2>/dev/null || true
    fi
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
    for n in $(shuf -i 100-399 -n 40); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        for _ in $(seq 100); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            kill -0 "$XVFB_PID" 2>/dev/null || break
            sleep 0.05
        done
        if [ -e "/tmp/.X11-unix/X$n" ]; then export DISPLAY=":$n"; break; fi
        cleanup
        XVFB_PID=
    done
    [ -n "${DISPLAY:-}" ] || { echo "run.sh: could not start Xvfb" >&2; exit 1; }
    # Without a window manager Wine waits two seconds whenever it hides a window (tests/tools/txwm.c).
    WM="$B/txwm"
    if [ ! -x "$WM" ] || [ "$ROOT/tests/tools/txwm.c" -nt "$WM" ]; then
        gcc -O2 "$ROOT/tests/tools/txwm.c" -o "$WM.$$" -lX11 && mv -f "$WM.$$" "$WM"
    fi
    "$WM" </dev/null >/dev/null 2>&1 &
    WM_PID=$!
fi

# A test run that ends last stops the prefix's wineserver; the shared lock keeps it running under us.
exec 8>"$WINEPREFIX/.tarvex-runner.lock"
flock -s 8
# Let a throwaway program start Wine's own services (when no wineserver runs yet), so that they do not hold
# on to the script's output pipes after it ends.
"$WINE64" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true

winpath="Z:$(realpath "$SCRIPT" | tr / '\\')"
set +e
"$WINE64" "$EXE" /ErrorStdOut /Tarvex3ExecuteScript "$winpath" "$@"
rc=$?
set -e
exit $rc
