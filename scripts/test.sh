#!/usr/bin/env bash
# Runs everything the project checks: set-up, both Windows builds (x86_64 and i686), the native unit tests,
# the native fuzz targets (tests/fuzz/run.sh, 30 s each), the bad-argument sweep of every built-in under
# Wine (tests/sweep/sweep.py), the editor support (scripts/editor.sh), the documentation (scripts/docs.sh
# --examples: the site with its link check, the coverage checks and every example of the pages run under Wine),
# the release packages (tests/package_test.sh), then the script tests under Wine against each build
# (tests/run_tests.py; extra arguments go to it, e.g. a filter or -j N).
# Exits non-zero when any step fails; the last line is "N passed, N failed" over the script tests and the
# documentation's examples.
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

step "editor support"
bash "$ROOT/scripts/editor.sh" || { echo "editor support FAILED"; status=1; }

# The documentation's examples count with the script tests in the closing line.
step "documentation"
docs_passed=0 docs_failed=0 docs_summary="docs examples: no result"
dlog="$B/docs-step.log"
bash "$ROOT/scripts/docs.sh" --examples -j 2 | tee "$dlog"
[ "${PIPESTATUS[0]}" = 0 ] || { echo "documentation FAILED"; status=1; }
if [[ $(tail -n 1 "$dlog") =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    docs_passed=${BASH_REMATCH[1]} docs_failed=${BASH_REMATCH[2]}
    docs_summary=$(grep -m1 '^docs examples: ' "$dlog")
else
    status=1
fi

step "release packages"
bash "$ROOT/tests/package_test.sh" || { echo "release packages FAILED"; status=1; }

# The same script tests run against both builds. Where 32-bit programs cannot run (see scripts/setup.sh), the
# i686 run reports its tests as skipped and why; it never counts them as passed.
passed=0 failed=0 summary=()
for arch in x86_64 i686; do
    step "script tests ($arch)"
    exe="$B/$arch/tarvex3.exe"
    if [ ! -f "$exe" ]; then
        echo "no $arch runtime to test"
        status=1
        summary+=("$arch: not built")
        continue
    fi
    log="$B/script-tests-$arch.log"
    python3 "$ROOT/tests/run_tests.py" --exe "$exe" "$@" | tee "$log"
    [ "${PIPESTATUS[0]}" = 0 ] || status=1
    last=$(tail -n 1 "$log")
    if [[ $last =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
        passed=$((passed + BASH_REMATCH[1])) failed=$((failed + BASH_REMATCH[2]))
        skipped=$(grep -E '^[0-9]+ skipped$' "$log" | tail -n 1)
        summary+=("$arch: $last${skipped:+, $skipped}$(grep -m1 '^the i686 suite is skipped' "$log" | sed 's/^the i686 suite is skipped: / — /')")
    else
        status=1
        summary+=("$arch: no result")
    fi
done
summary+=("$docs_summary")
passed=$((passed + docs_passed)) failed=$((failed + docs_failed))
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed"
exit $status
