#!/usr/bin/env bash
# Builds the native profiling driver: the Win32-free core plus bench/native/driver.cpp as the Linux program
# $TARVEX_BUILD/prof/txprof (optimised, with debug information for callgrind and perf).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
B=${TARVEX_BUILD:-build}
[[ $B = /* ]] || B="$ROOT/$B"
OUT="$B/prof"
mkdir -p "$OUT"
# The core without the built-in table (the driver has its own) and without engine_hooks.cpp (console and
# start-up services).
SOURCES=("$ROOT"/bench/native/driver.cpp "$ROOT"/tests/unit/native_text.cpp "$ROOT"/src/host/lexer.cpp)
for f in "$ROOT"/src/core/*.cpp; do
    case "$(basename "$f")" in builtin_table.cpp|engine_hooks.cpp) continue ;; esac
    SOURCES+=("$f")
done
objs=()
pids=()
for f in "${SOURCES[@]}"; do
    o="$OUT/$(basename "${f%.cpp}").o"
    if [ ! -f "$o" ] || [ "$f" -nt "$o" ] || [ -n "$(find "$ROOT/src/core" "$ROOT/src/host/lexer.h" -name '*.h' -newer "$o" -print -quit)" ]; then
        g++ -std=c++20 -O2 -g -Wall -Wextra -Wno-restrict -DTX_NATIVE=1 -I"$ROOT/src" -c "$f" -o "$o" &
        pids+=($!)
    fi
    objs+=("$o")
done
for p in "${pids[@]}"; do wait "$p"; done
g++ "${objs[@]}" -o "$OUT/txprof"
echo "$OUT/txprof"
