#!/usr/bin/env bash
# Builds the release packages:  scripts/package.sh [win64|win32]...   (default: both)
#   dist/tarvex3-<version>-win64.zip   from the x86_64 build
#   dist/tarvex3-<version>-win32.zip   from the i686 build
# Each holds one folder tarvex3-<version>-<platform>/ with tarvex3.exe, qx3compile.exe, the Include folder, the
# documentation site (docs/, built by scripts/docs.sh --site-only), the examples/ folder, LICENSE.txt and
# QUICKSTART.txt (text files with Windows line ends). The version is read from src/host/version.h, the one place
# it is written. Builds what is missing first; the staging folders are $TARVEX_BUILD/package/.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
B=${TARVEX_BUILD:-build}
[[ $B = /* ]] || B="$ROOT/$B"
DIST="$ROOT/dist"
mkdir -p "$B"

die() { printf 'package: %s\n' "$*" >&2; exit 1; }

version() {
    local parts=() p v
    for p in MAJOR MINOR PATCH BUILD; do
        v=$(sed -n "s/^#define TX_VERSION_$p \\([0-9][0-9]*\\)\$/\\1/p" "$ROOT/src/host/version.h")
        [ -n "$v" ] || die "src/host/version.h has no TX_VERSION_$p number"
        parts+=("$v")
    done
    (IFS=.; echo "${parts[*]}")
}
VERSION=$(version)

platforms=("$@")
[ ${#platforms[@]} -gt 0 ] || platforms=(win64 win32)
for plat in "${platforms[@]}"; do
    case "$plat" in win64|win32) ;; *) echo "usage: scripts/package.sh [win64|win32]..." >&2; exit 2 ;; esac
done

command -v zip >/dev/null || bash "$ROOT/scripts/setup.sh"
command -v zip >/dev/null || die "zip is not installed (scripts/setup.sh installs it)"

# The documentation site, once for both packages.
if ! bash "$ROOT/scripts/docs.sh" --site-only >"$B/package-docs.log" 2>&1; then
    cat "$B/package-docs.log" >&2
    die "the documentation site did not build"
fi
[ -f "$B/docs-site/index.html" ] || die "no documentation site in $B/docs-site"

crlf() { sed 's/\r$//; s/$/\r/' "$1"; }

mkdir -p "$DIST"
for plat in "${platforms[@]}"; do
    if [ "$plat" = win64 ]; then arch=x86_64 bits=64-bit; else arch=i686 bits=32-bit; fi
    bash "$ROOT/scripts/build.sh" "$arch" >"$B/package-build-$arch.log" 2>&1 \
        || { cat "$B/package-build-$arch.log" >&2; die "the $arch build failed"; }
    name="tarvex3-$VERSION-$plat"
    stage="$B/package/$name"
    rm -rf "$stage"
    mkdir -p "$stage"
    cp "$B/$arch/tarvex3.exe" "$B/$arch/qx3compile.exe" "$stage/"
    cp -r "$ROOT/Include" "$stage/Include"
    cp -r "$ROOT/examples" "$stage/examples"
    cp -r "$B/docs-site" "$stage/docs"
    crlf "$ROOT/LICENSE" >"$stage/LICENSE.txt"
    crlf "$ROOT/docs/QUICKSTART.txt" | sed "s/@VERSION@/$VERSION/g; s/@BITS@/$bits/g" >"$stage/QUICKSTART.txt"
    out="$DIST/$name.zip"
    rm -f "$out"
    (cd "$B/package" && zip -q -r -X "$out.tmp" "$name") || die "zip failed"
    mv -f "$out.tmp" "$out"
    echo "$out ($(du -k "$out" | cut -f1) KiB, $(unzip -Z1 "$out" | grep -vc '/$') files)"
done
