#!/usr/bin/env bash
# Builds the reference documentation and checks it:  scripts/docs.sh [--examples | --site-only] [-j N]
#   1. set-up (mkdocs comes with it);
#   2. stages docs/pages into $TARVEX_BUILD/docs-src with the navigation made from the pages that exist
#      (tests/docs_check.py stage) and builds the site into $TARVEX_BUILD/docs-site with `mkdocs build --strict`,
#      so a broken internal link fails;
#   3. the coverage checks (tests/docs_check.py check): a page for every built-in, every macro, option and
#      message documented;
#   4. with --examples, runs every example of the pages under Wine as a script test (tests/run_tests.py --root)
#      against $TARVEX_BUILD/x86_64/tarvex3.exe, then against the i686 build where 32-bit programs run (built
#      first when missing); each build's log is $TARVEX_BUILD/doc-examples-<arch>.log.
# --site-only stops after step 2 (scripts/package.sh uses it).
# Exits non-zero when any step fails. With --examples the last line is the examples' "N passed, N failed".
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
B=${TARVEX_BUILD:-build}
[[ $B = /* ]] || B="$ROOT/$B"
# mkdocs and its YAML module are Debian's: use Debian's Python for the staging step too.
PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3

examples=0 site_only=0 jobs=2
while [ $# -gt 0 ]; do
    case "$1" in
        --examples) examples=1 ;;
        --site-only) site_only=1 ;;
        -j) jobs=$2; shift ;;
        -j*) jobs=${1#-j} ;;
        *) echo "usage: scripts/docs.sh [--examples | --site-only] [-j N]" >&2; exit 2 ;;
    esac
    shift
done

status=0
t0=$SECONDS
mkdir -p "$B"
bash "$ROOT/scripts/setup.sh" || exit 1

echo "-- site: $B/docs-site"
"$PY" "$ROOT/tests/docs_check.py" stage || status=1
log="$B/docs-mkdocs.log"
if mkdocs build --strict -f "$B/docs-src/mkdocs.yml" >"$log" 2>&1; then
    echo "site built ($(find "$B/docs-site" -name '*.html' | wc -l) HTML files)"
    # A fence Markdown did not take as one (indented in a list, words after the language) shows as text.
    unrendered=$(grep -rl '<p>```' "$B/docs-site" --include='*.html' | sed "s|^$B/docs-site/||")
    if [ -n "$unrendered" ]; then
        echo "code fences shown as text (not at the start of a line or not closed?) in:" $unrendered
        status=1
    fi
else
    # Only what went wrong: the pages left out of the navigation on purpose are no news.
    grep -vE '^INFO|^  - ' "$log" | sed 's/\x1b\[[0-9;]*m//g'
    echo "site build FAILED (broken link or bad page; full log: $log)"
    status=1
fi

[ "$site_only" = 0 ] || exit $status

echo "-- coverage"
python3 "$ROOT/tests/docs_check_test.py" 2>"$B/docs-check-test.log" || { cat "$B/docs-check-test.log"; status=1; }
python3 "$ROOT/tests/docs_check.py" check || status=1

if [ "$examples" = 1 ]; then
    echo "-- examples"
    python3 "$ROOT/tests/docs_check.py" extract --out "$B/doc-examples" || status=1
    passed=0 failed=0 summary=()
    if [ -z "$(find "$B/doc-examples" -name '*.qx3' -print -quit)" ]; then
        summary+=("no examples")
    else
        for arch in x86_64 i686; do
            exe="$B/$arch/tarvex3.exe"
            if [ ! -f "$exe" ] && ! bash "$ROOT/scripts/build.sh" "$arch" >"$B/docs-build-$arch.log" 2>&1; then
                echo "no $arch runtime (build failed: $B/docs-build-$arch.log)"
                summary+=("$arch: not built")
                status=1
                continue
            fi
            elog="$B/doc-examples-$arch.log"
            python3 "$ROOT/tests/run_tests.py" --root "$B/doc-examples" --exe "$exe" -j "$jobs" >"$elog" 2>&1
            rc=$?
            # One line per example is in the log; failures are shown in full here.
            sed -n '/^---- FAIL/,$p' "$elog" | grep -v '^[0-9]* passed, [0-9]* failed$'
            grep -m1 '^the i686 suite is skipped' "$elog"
            last=$(tail -n 1 "$elog")
            if [[ $last =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
                passed=$((passed + BASH_REMATCH[1])) failed=$((failed + BASH_REMATCH[2]))
                skipped=$(grep -E '^[0-9]+ skipped$' "$elog" | tail -n 1)
                summary+=("$arch: $last${skipped:+, $skipped}")
            else
                tail -n 20 "$elog"
                summary+=("$arch: no result")
                status=1
            fi
            [ "$rc" = 0 ] || status=1
        done
    fi
fi

echo "-- documentation took $((SECONDS - t0)) s"
if [ "$examples" = 1 ]; then
    echo "docs examples: $(IFS=';'; echo "${summary[*]}" | sed 's/;/; /g')"
    echo "$passed passed, $failed failed"
fi
exit $status
