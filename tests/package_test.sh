#!/usr/bin/env bash
# Tests the release packages as a user gets them: builds both with scripts/package.sh, checks that each zip holds
# what a user needs (the two programs, the include library, the documentation site, the examples, the licence
# and the quick start, all inside one folder named for the version), unpacks each into a fresh folder and, under
# Wine through the script-test runner, runs examples\hello.qx3 with the unpacked tarvex3.exe and compiles it with
# the unpacked qx3compile.exe into a program that runs too. The win32 package runs where 32-bit programs run
# (elsewhere the runner reports its tests as skipped, with the reason).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
B=${TARVEX_BUILD:-build}
[[ $B = /* ]] || B="$ROOT/$B"
fail() { echo "package test: $*"; status=1; }
status=0

bash "$ROOT/scripts/package.sh" || { echo "package test: scripts/package.sh failed"; exit 1; }
VERSION=$(sed -n 's/^#define TX_VERSION_\(MAJOR\|MINOR\|PATCH\|BUILD\) \([0-9]*\)$/\2/p' "$ROOT/src/host/version.h" \
          | paste -sd.)

winpath() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }

for plat in win64 win32; do
    if [ "$plat" = win64 ]; then arch=x86_64 bits=64-bit; else arch=i686 bits=32-bit; fi
    name="tarvex3-$VERSION-$plat"
    zipf="$ROOT/dist/$name.zip"
    [ -f "$zipf" ] || { fail "no $zipf"; continue; }
    listing=$(unzip -Z1 "$zipf")
    for f in tarvex3.exe qx3compile.exe Include/Strings.qx3 Include/WindowsConstants.qx3 docs/index.html \
             docs/getting-started.html docs/search/search_index.json examples/hello.qx3 examples/file_lister.qx3 \
             LICENSE.txt QUICKSTART.txt; do
        grep -qx "$name/$f" <<<"$listing" || fail "$plat: $name/$f is not in the package"
    done
    outside=$(grep -v "^$name/" <<<"$listing" | head -n 3)
    [ -z "$outside" ] || fail "$plat: files outside the package folder: $outside"

    work="$B/package-test/$plat"
    rm -rf "$work"
    mkdir -p "$work/unpacked" "$work/tests"
    unzip -q "$zipf" -d "$work/unpacked" || { fail "$plat: unzip failed"; continue; }
    pkg="$work/unpacked/$name"
    grep -q "MIT License" "$pkg/LICENSE.txt" || fail "$plat: LICENSE.txt is not the licence"
    grep -q "$VERSION ($bits)" "$pkg/QUICKSTART.txt" || fail "$plat: QUICKSTART.txt does not name $VERSION ($bits)"
    [ "$(head -c 200 "$pkg/QUICKSTART.txt" | tr -cd '\r' | wc -c)" -gt 0 ] || fail "$plat: QUICKSTART.txt has no CR LF"

    # The runner's directives: the unpacked programs instead of the build's runtime.
    cat >"$work/tests/run_example.qx3" <<EOF
; The unpacked runtime runs an example of its own package, with its own Include folder.
; program: $(winpath "$pkg/tarvex3.exe")
; args: /ErrorStdOut /Tarvex3ExecuteScript '$(winpath "$pkg/examples/hello.qx3")'
; expect: Hello from Tarvex $VERSION ($bits)
; expect: .....ready
EOF
    cat >"$work/tests/compiled_example.qx3" <<EOF
; The unpacked compiler makes a program of the example; the program runs without the runtime beside it.
; setup: {wine} '$pkg/qx3compile.exe' '$(winpath "$pkg/examples/hello.qx3")' '$(winpath "$work/hello.exe")' </dev/null
; program: $(winpath "$work/hello.exe")
; args:
; expect: Hello from Tarvex $VERSION ($bits)
; expect: .....ready
EOF
    # The runner needs the build's runtime only to pick the Wine of the architecture and the 32-bit check.
    exe="$B/$arch/tarvex3.exe"
    log="$B/package-test-$plat.log"
    python3 "$ROOT/tests/run_tests.py" --root "$work/tests" --exe "$exe" -j 2 >"$log" 2>&1
    rc=$?
    grep -E '^(ok|FAIL|skip) ' "$log" | sed "s/^/$plat: /"
    sed -n '/^---- FAIL/,/^failed:/p' "$log"
    grep -m1 '^the i686 suite is skipped' "$log" | sed "s/^/$plat: /"
    [ "$rc" = 0 ] || fail "$plat: the unpacked package did not run (log: $log)"
done
[ "$status" = 0 ] && echo "release packages: ok"
exit $status
