#!/usr/bin/env bash
# Builds the runtime: scripts/build.sh [x86_64|i686|all|native] (default all).
#   x86_64, i686  tarvex3.exe for that Windows target, in $TARVEX_BUILD/<arch>
#   native        the Linux unit tests (tests/unit), in $TARVEX_BUILD/native
# TARVEX_BUILD (default: build) lets several people build side by side, e.g. TARVEX_BUILD=build/h1; a relative
# path is taken from the repository root. The set-up (packages, PCRE2, Wine prefix) is shared under build/.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
B=${TARVEX_BUILD:-build}
[[ $B = /* ]] || B="$ROOT/$B"

bash "$ROOT/scripts/setup.sh"

# ccache, where the machine has it, lets several work trees of the project share compiled objects.
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=1
    LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
else
    LAUNCHER=()
fi

configure_and_build() {  # $1 = source dir, $2 = build dir, then extra cmake arguments
    local src=$1 dir=$2
    shift 2
    mkdir -p "$dir"
    # Two builds in one directory at once would corrupt Ninja's logs: the second waits for the first.
    (
        flock 7
        if [ ! -f "$dir/build.ninja" ]; then
            cmake -S "$src" -B "$dir" -G Ninja "${LAUNCHER[@]}" "$@" >/dev/null
        fi
        cmake --build "$dir"
    ) 7>"$dir/.build.lock"
}

build_windows() {  # $1 = x86_64 | i686
    configure_and_build "$ROOT" "$B/$1" \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$1.cmake" -DPCRE2_ROOT="$ROOT/build/deps/pcre2-$1"
}

case "${1:-all}" in
    x86_64|i686) build_windows "$1" ;;
    all) build_windows x86_64; build_windows i686 ;;
    native) configure_and_build "$ROOT/tests/unit" "$B/native" ;;
    *) echo "usage: scripts/build.sh [x86_64|i686|all|native]" >&2; exit 2 ;;
esac
