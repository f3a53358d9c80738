#!/usr/bin/env bash
# Builds the COM test server (txprobe.dll, x86_64) and registers it in the test prefix with Wine's
# regsvr32. The DLL goes to C:\tarvex-comtest\<hash of its sources>\ inside the prefix, so that every work
# tree that shares the prefix finds the build of its own sources; a second run with the same sources
# returns at once. Run by the set-up lines of the COM tests (with the run's Wine environment).
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
WINE64=/usr/lib/wine/wine64
hash=$(cat "$HERE/txprobe.cpp" "$HERE/txprobe.idl" "$HERE/base.idl" "$HERE/txprobe.rc" "$HERE/build.sh" | sha1sum | cut -c1-12)
dir="$WINEPREFIX/drive_c/tarvex-comtest/$hash"
stamp="$dir/registered"
[ -f "$stamp" ] && exit 0
mkdir -p "$WINEPREFIX/drive_c/tarvex-comtest"
exec 9>"$WINEPREFIX/drive_c/tarvex-comtest/.lock"
flock 9
[ -f "$stamp" ] && exit 0
command -v x86_64-w64-mingw32-widl >/dev/null || { echo "x86_64-w64-mingw32-widl missing (package mingw-w64-tools)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
x86_64-w64-mingw32-widl -t -I "$HERE" -L /usr/lib/x86_64-linux-gnu/wine/x86_64-windows -o "$tmp/txprobe.tlb" "$HERE/txprobe.idl"
(cd "$tmp" && x86_64-w64-mingw32-windres -I "$tmp" "$HERE/txprobe.rc" -O coff -o "$tmp/txprobe.res")
x86_64-w64-mingw32-g++-posix -std=c++17 -O1 -Wall -shared -static -o "$tmp/txprobe.dll" "$HERE/txprobe.cpp" "$tmp/txprobe.res" \
    -loleaut32 -lole32 -luuid -luser32
mkdir -p "$dir"
cp "$tmp/txprobe.dll" "$dir/txprobe.dll"
WINEDEBUG=-all "$WINE64" regsvr32 /s "C:\\tarvex-comtest\\$hash\\txprobe.dll" </dev/null >/dev/null 2>&1 \
    || { echo "regsvr32 failed for $dir/txprobe.dll" >&2; exit 1; }
touch "$stamp"
