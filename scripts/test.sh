#!/usr/bin/env bash
# Runs everything the project checks: set-up, both Windows builds (x86_64 and i686), the native unit tests,
# the native fuzz targets (tests/fuzz/run.sh, 30 s each), the bad-argument sweep of every built-in under
# Wine (tests/sweep/sweep.py), then the script tests under Wine (tests/run_tests.py; extra arguments go to
# it, e.g. a filter or -j N).
# Exits non-zero when any step fails; the last line is the script tests' "N passed, N failed".
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
B=${TARVEX_BUILD:-build}
[[ $B = /* ]] || B="$ROOT/$B"
status=0

t0=$SECONDS
step() { printf '== %s  (%d s so far)\n' "$*" $((SECONDS - t0)); }

step "set-up"
bash "$ROOT/scripts/setup.sh" || exit 1

for arch in x86_64 i686; do
    step "build $arch"
    if ! bash "$ROOT/scripts/build.sh" "$arch"; then
        echo "build $arch FAILED"
        status=1
    fi
done

step "unit tests"
if bash "$ROOT/scripts/build.sh" native; then
    "$B/native/unit_tests" || status=1
else
    echo "native unit-test build FAILED"
    status=1
fi

step "fuzz targets (30 s each)"
bash "$ROOT/tests/fuzz/run.sh" 30 || status=1

step "bad-argument sweep"
if [ -f "$B/x86_64/tarvex3.exe" ]; then
    python3 "$ROOT/tests/sweep/sweep.py" || status=1
fi

step "script tests"
if [ -f "$B/x86_64/tarvex3.exe" ]; then
    python3 "$ROOT/tests/run_tests.py" "$@" || status=1
else
    echo "no x86_64 runtime to test"
    status=1
fi
exit $status
