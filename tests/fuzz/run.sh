#!/usr/bin/env bash
# Runs each native fuzz target for a bounded time (default 30 s, two at a time) from the corpus kept in
# tests/fuzz/corpus/<target>; what a run finds goes to a scratch folder, not into the repository.
#   tests/fuzz/run.sh [SECONDS] [TARGET...]
#   tests/fuzz/run.sh --merge [TARGET...]   folds the last runs' finds into the kept corpus (minimised)
# A crash, a leak, a sanitizer report or an input slower than 10 s fails the run; the input is left in
# $TARVEX_BUILD/fuzz/artifacts/ and named in the output.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
B=${TARVEX_BUILD:-build}
[[ $B = /* ]] || B="$ROOT/$B"
OUT="$B/fuzz"
CORPUS="$ROOT/tests/fuzz/corpus"

merge=0
seconds=30
if [ "${1:-}" = --merge ]; then merge=1; shift; fi
if [[ ${1:-} =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(lexer preprocess container format execute)

bash "$ROOT/tests/fuzz/build.sh" >/dev/null || { echo "fuzz build FAILED"; exit 1; }
mkdir -p "$OUT/artifacts"
COMMON=(-max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1)

if [ $merge = 1 ]; then
    for t in "${targets[@]}"; do
        mkdir -p "$CORPUS/$t"
        "$OUT/fuzz_$t" -merge=1 "${COMMON[@]}" "$CORPUS/$t" "$OUT/found/$t" >/dev/null 2>&1
        echo "$t: $(ls "$CORPUS/$t" | wc -l) inputs kept"
    done
    exit 0
fi

run_one() {  # $1 = target
    local t=$1 log="$OUT/fuzz_$1.log"
    mkdir -p "$OUT/found/$t" "$CORPUS/$t"
    if "$OUT/fuzz_$t" "${COMMON[@]}" -max_total_time="$seconds" -artifact_prefix="$OUT/artifacts/$t-" \
        "$OUT/found/$t" "$CORPUS/$t" >"$log" 2>&1; then
        echo "fuzz $t: ok, $(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$') runs"
        return 0
    fi
    echo "fuzz $t: FAILED"
    grep -E "ERROR|SUMMARY|Test unit written|^==" "$log" | head -20
    return 1
}

status=0
pids=()
for t in "${targets[@]}"; do
    run_one "$t" &
    pids+=($!)
    if [ ${#pids[@]} -ge 2 ]; then
        wait "${pids[0]}" || status=1
        pids=("${pids[@]:1}")
    fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status
