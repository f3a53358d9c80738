#!/usr/bin/env bash
# Builds the native fuzz targets (libFuzzer, with AddressSanitizer and UndefinedBehaviorSanitizer) from the
# Win32-free core plus the loader files that tests/fuzz/shim lets build natively:
#   $TARVEX_BUILD/fuzz/fuzz_{lexer,preprocess,container,format,execute}
# Needs clang-14 and its libFuzzer runtime (scripts/setup.sh installs them).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
B=${TARVEX_BUILD:-build}
[[ $B = /* ]] || B="$ROOT/$B"
OUT="$B/fuzz"
OBJ="$OUT/obj"
mkdir -p "$OBJ"
CXX=${FUZZ_CXX:-clang++-14}
SAN=(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-sanitize=vptr)
FLAGS=(-std=c++20 -O1 -g "${SAN[@]}" -fsanitize=fuzzer-no-link -DTX_NATIVE=1 -Wall -Wextra
       -I"$ROOT/src" -I"$ROOT/tests/fuzz" -I"$ROOT/tests/fuzz/shim")

COMMON=("$ROOT"/tests/fuzz/fuzz_native.cpp "$ROOT"/tests/unit/native_text.cpp "$ROOT"/src/host/lexer.cpp
        "$ROOT"/src/host/preprocess.cpp "$ROOT"/src/host/container.cpp "$ROOT"/src/host/container_format.cpp
        "$ROOT"/src/host/token_stream.cpp "$ROOT"/src/lib/format.cpp)
for f in "$ROOT"/src/core/*.cpp; do
    case "$(basename "$f")" in builtin_table.cpp|engine_hooks.cpp) continue ;; esac
    COMMON+=("$f")
done
TARGETS=(lexer preprocess container format execute)

# An object is rebuilt when its source or any header of the project is newer (two compilations at a time).
HEADERS_NEWEST=$(find "$ROOT/src" "$ROOT/tests/fuzz" "$ROOT/tests/unit" -name '*.h' -printf '%T@\n' | sort -n | tail -1)
compile() {  # $1 = source, $2 = object
    local src=$1 obj=$2
    if [ -f "$obj" ] && [ "$obj" -nt "$src" ] && \
       awk -v h="$HEADERS_NEWEST" -v o="$(stat -c %Y "$obj")" 'BEGIN { exit !(o >= h) }'; then
        return 0
    fi
    "$CXX" "${FLAGS[@]}" -c "$src" -o "$obj"
}
objs=()
running=0
for f in "${COMMON[@]}" "${TARGETS[@]/#/$ROOT/tests/fuzz/fuzz_}"; do
    [[ $f = *.cpp ]] || f="$f.cpp"
    o="$OBJ/$(basename "${f%.cpp}").o"
    compile "$f" "$o" &
    running=$((running + 1))
    if [ $running -ge 2 ]; then wait -n; running=$((running - 1)); fi
    [[ $f = */tests/fuzz/fuzz_*.cpp && $f != */fuzz_native.cpp ]] || objs+=("$o")
done
wait
for t in "${TARGETS[@]}"; do
    "$CXX" "${SAN[@]}" -fsanitize=fuzzer "${objs[@]}" "$OBJ/fuzz_$t.o" -o "$OUT/fuzz_$t"
done
echo "$OUT"
