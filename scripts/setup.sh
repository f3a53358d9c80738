#!/usr/bin/env bash
# Prepares this machine for building and testing the runtime: Debian packages (mingw-w64 cross compilers,
# Wine, Xvfb, CMake/Ninja, mkdocs, zip, Lua 5.4, ...), the zh_CN.UTF-8 and en_US.UTF-8 locales Wine takes its ANSI code page from,
# PCRE2 (16-bit, static, JIT) cross-built for both targets from Debian's source package, and the private
# Wine prefix the tests run in. Everything is done only when missing, so a second run returns at once.
#
# Output:  build/deps/pcre2-x86_64, build/deps/pcre2-i686   (include/, lib/libpcre2-16.a)
#          build/deps/probe-x86_64.exe                       (proves PCRE2 + JIT and the code pages under Wine)
#          build/wineprefix                                  (WINEARCH=win64; with syswow64 when 32-bit
#                                                            Wine is there)
#          build/wineprefix/.tarvex-wow64                    "ready", or why 32-bit programs cannot run here
#
# 32-bit Wine (Debian's i386 architecture and wine32) is installed only where the kernel executes 32-bit x86
# code: a tiny static 32-bit program (tests/tools/exec32.c) is built and run to find out.
# Safe to run as root on a clean Debian 12 machine; several engineers may run it at once (it takes a lock).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DEPS="$ROOT/build/deps"
PREFIX="$ROOT/build/wineprefix"
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
# Bump when a step below changes in a way that must redo it on machines that already ran it.
SETUP_VERSION=2
STAMP="$DEPS/.setup-$SETUP_VERSION"

PACKAGES=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
          wine wine64 xvfb xauth xdotool cmake ninja-build make g++ libx11-dev dpkg-dev python3 locales
          xz-utils bzip2 ca-certificates
          # the native fuzz targets (tests/fuzz): clang with its libFuzzer and sanitizer runtimes
          clang-14 libclang-rt-14-dev
          # The network tests' FTP server (run with Debian's own /usr/bin/python3).
          python3-pyftpdlib
          # widl: the type library of the COM test server (tests/scripts/com/server).
          mingw-w64-tools
          # The documentation site (scripts/docs.sh), the release packages (scripts/package.sh and its test) and
          # the benchmarks' Lua 5.4 comparison (bench/run.py).
          mkdocs zip unzip lua5.4
          # A font with Chinese glyphs: under code page 936 Wine's dialog font maps to one, and without it the
          # windows of scripts and Wine's programs show boxes in place of every character.
          fonts-wqy-microhei
          # Wine's X11 driver loads these at run time; Debian only recommends them.
          libxcursor1 libxrandr2 libxi6 libxrender1 libxinerama1 libxcomposite1 libxfixes3 libxxf86vm1 libgnutls30)
LOCALES=(zh_CN en_US)

log() { printf '[setup] %s\n' "$*" >&2; }
die() { printf '[setup] error: %s\n' "$*" >&2; exit 1; }

have_locale() {  # locale -a lists "zh_CN.utf8"
    locale -a 2>/dev/null | grep -qix "$1.utf8"
}

# ---- fast path: everything there already ------------------------------------------------------------------
quick_ok() {
    [ -f "$STAMP" ] || return 1
    [ -x "$WINE64" ] && [ -x /usr/bin/x86_64-w64-mingw32-widl ] && [ -x /usr/bin/x86_64-w64-mingw32-g++-posix ] && [ -x /usr/bin/i686-w64-mingw32-g++-posix ] \
        || return 1
    local c
    for c in cmake ninja Xvfb xdotool python3 g++ make clang++-14 mkdocs zip unzip lua5.4; do
        command -v "$c" >/dev/null || return 1
    done
    [ -f /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a ] || return 1
    for c in "${LOCALES[@]}"; do have_locale "$c" || return 1; done
    [ -f /usr/lib/python3/dist-packages/pyftpdlib/__init__.py ] || return 1
    [ -f /usr/share/fonts/truetype/wqy/wqy-microhei.ttc ] || return 1
    [ -f "$DEPS/pcre2-x86_64/lib/libpcre2-16.a" ] && [ -f "$DEPS/pcre2-i686/lib/libpcre2-16.a" ] || return 1
    [ -f "$PREFIX/.tarvex-ready" ] && [ -f "$PREFIX/.tarvex-no-crash-dialog" ] && [ -f "$PREFIX/.tarvex-wow64" ] \
        || return 1
}
if quick_ok; then exit 0; fi

mkdir -p "$DEPS"
exec 9>"$DEPS/.setup.lock"
if ! flock -n 9; then
    log "another set-up is running; waiting for it"
    flock 9
fi
if quick_ok; then exit 0; fi
need_root() { [ "$(id -u)" = 0 ] || die "$1 needs root (run this once as root; later runs do not)"; }

export DEBIAN_FRONTEND=noninteractive
APT_UPDATED=0
apt_update() {
    if [ "$APT_UPDATED" = 0 ]; then
        need_root "apt-get update"
        log "apt-get update"
        apt-get update -qq >/dev/null
        APT_UPDATED=1
    fi
}

# ---- packages ---------------------------------------------------------------------------------------------
NATIVE_ARCH=$(dpkg --print-architecture)
missing=()
for p in "${PACKAGES[@]}"; do
    # With a foreign architecture added a package may be listed once per architecture: the native one counts.
    dpkg-query -W -f='${db:Status-Status} ${Architecture}\n' "$p" 2>/dev/null | grep -qE "^installed ($NATIVE_ARCH|all)\$" \
        || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    need_root "installing ${missing[*]}"
    apt_update
    log "installing: ${missing[*]}"
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# ---- 32-bit Wine, where this machine runs 32-bit code ------------------------------------------------------
EXEC32_PROBLEM=
exec32_check() {  # sets EXEC32_PROBLEM to why 32-bit programs cannot run here, or leaves it empty
    local out="$DEPS/exec32"
    if ! gcc -m32 -nostdlib -static -o "$out" "$ROOT/tests/tools/exec32.c" 2>/dev/null; then
        EXEC32_PROBLEM="a 32-bit test program could not be built"
    elif ! "$out" 2>/dev/null; then
        EXEC32_PROBLEM="this machine's kernel does not run 32-bit programs"
    fi
}
exec32_check
if [ -z "$EXEC32_PROBLEM" ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        need_root "adding the i386 architecture"
        log "adding Debian's i386 architecture (for 32-bit Wine)"
        dpkg --add-architecture i386
        APT_UPDATED=0
    fi
    st=$(dpkg-query -W -f='${db:Status-Status}' wine32:i386 2>/dev/null || true)
    if [ "$st" != installed ]; then
        need_root "installing wine32"
        apt_update
        log "installing wine32:i386"
        apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null || EXEC32_PROBLEM="wine32 could not be installed"
    fi
    # A prefix made before 32-bit Wine was there has no syswow64 and cannot run 32-bit programs: make it anew.
    if [ -z "$EXEC32_PROBLEM" ] && [ -f "$PREFIX/.tarvex-ready" ] && [ ! -d "$PREFIX/drive_c/windows/syswow64" ]; then
        log "the Wine prefix predates 32-bit Wine: making it anew"
        rm -f "$PREFIX/.tarvex-ready" "$PREFIX/.tarvex-no-crash-dialog" "$PREFIX/.tarvex-wow64"
    fi
else
    log "32-bit Wine is not set up: $EXEC32_PROBLEM (the i686 tests will be reported as skipped)"
fi

# ---- locales (Wine reads its ANSI code page from LC_ALL: zh_CN.UTF-8 -> 936, en_US.UTF-8 -> 1252) -----------
for l in "${LOCALES[@]}"; do
    if ! have_locale "$l"; then
        need_root "generating the locale $l.UTF-8"
        log "generating locale $l.UTF-8"
        # Keep /etc/locale.gen in step so a later locale-gen does not drop it again.
        sed -i "s/^# *\($l\.UTF-8 UTF-8\)/\1/" /etc/locale.gen 2>/dev/null || true
        grep -q "^$l.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null || echo "$l.UTF-8 UTF-8" >>/etc/locale.gen
        localedef -i "$l" -f UTF-8 "$l.UTF-8"
    fi
done

# ---- deb-src entries, then Debian's pcre2 source --------------------------------------------------------
enable_deb_src() {
    if grep -rqsE '^\s*(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then return; fi
    need_root "enabling deb-src in the apt sources"
    log "enabling deb-src"
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        grep -q 'debian' "$f" || continue
        # deb822: a copy of the stanzas with Types: deb-src, in a file of its own.
        sed 's/^Types:.*/Types: deb-src/' "$f" >"/etc/apt/sources.list.d/tarvex-src-$(basename "$f")"
    done
    if [ -f /etc/apt/sources.list ] && grep -qE '^\s*deb\s' /etc/apt/sources.list; then
        grep -E '^\s*deb\s' /etc/apt/sources.list | sed 's/^\s*deb\s/deb-src /' >/etc/apt/sources.list.d/tarvex-src.list
    fi
    APT_UPDATED=0
}

pcre2_source() {  # prints the unpacked source directory
    local d
    d=$(find "$DEPS/src" -maxdepth 1 -type d -name 'pcre2-*' 2>/dev/null | sort | tail -n 1)
    if [ -n "$d" ] && [ -f "$d/configure" ]; then echo "$d"; return; fi
    enable_deb_src
    apt_update
    mkdir -p "$DEPS/src"
    log "apt-get source pcre2"
    # The newest version first; a mirror may lack it (the security archive's sources), so older ones follow.
    local v ok=0
    for v in "" $(apt-cache showsrc pcre2 2>/dev/null | sed -n 's/^Version: //p' | sort -rV); do
        if (cd "$DEPS/src" && apt-get source -qq "pcre2${v:+=$v}" >/dev/null 2>&1); then ok=1; break; fi
        [ -z "$v" ] || log "pcre2 $v could not be fetched"
    done
    [ "$ok" = 1 ] || die "apt-get source pcre2 failed"
    d=$(find "$DEPS/src" -maxdepth 1 -type d -name 'pcre2-*' | sort | tail -n 1)
    [ -n "$d" ] && [ -f "$d/configure" ] || die "no pcre2 source tree after apt-get source"
    echo "$d"
}

build_pcre2() {  # $1 = x86_64 | i686
    local arch=$1 host="$1-w64-mingw32" out="$DEPS/pcre2-$1" bld="$DEPS/pcre2-build-$1" src
    [ -f "$out/lib/libpcre2-16.a" ] && return
    src=$(pcre2_source)
    log "building PCRE2 16-bit for $arch"
    rm -rf "$bld" "$out"
    mkdir -p "$bld"
    cd "$bld"
    "$src/configure" -q --host="$host" --prefix="$out" \
        CC="$host-gcc-posix" AR="$host-gcc-ar-posix" RANLIB="$host-gcc-ranlib-posix" CFLAGS="-O2" \
        --enable-pcre2-16 --disable-pcre2-8 --disable-pcre2-32 --enable-jit \
        --disable-shared --enable-static >/dev/null || die "PCRE2 configure for $arch failed (see $bld/config.log)"
    grep -q '^#define SUPPORT_JIT' src/config.h || die "PCRE2 configure for $arch did not enable the JIT"
    make -s -j"$(nproc)" libpcre2-16.la >/dev/null || die "PCRE2 build for $arch failed (see $bld)"
    make -s install-libLTLIBRARIES install-nodist_includeHEADERS >/dev/null || die "PCRE2 install for $arch failed"
    cd "$ROOT"
    [ -f "$out/lib/libpcre2-16.a" ] || die "PCRE2 for $arch: no libpcre2-16.a"
}
build_pcre2 x86_64
build_pcre2 i686

# ---- private Wine prefix ----------------------------------------------------------------------------------
XVFB_PID=
stop_xvfb() {  # the prefix's wineserver holds a connection to the display: let it end first
    if [ -n "$XVFB_PID" ]; then timeout 20 "$WINESERVER" -w 2>/dev/null || true; kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; XVFB_PID=; fi; }
trap stop_xvfb EXIT
start_xvfb() {  # sets DISPLAY to a free display of our own
    local n
    for n in $(seq 90 190); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        local i
        for i in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && { export DISPLAY=":$n"; return; }
            kill -0 "$XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
        stop_xvfb
    done
    die "could not start Xvfb"
}

wine_env() {
    export WINEPREFIX="$PREFIX" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

if [ ! -f "$PREFIX/.tarvex-ready" ]; then
    log "creating the Wine prefix (once)"
    wine_env
    [ -n "${DISPLAY:-}" ] || start_xvfb
    t0=$(date +%s)
    rm -rf "$PREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1 || true
    "$WINESERVER" -w || true
    [ -f "$PREFIX/system.reg" ] || die "wineboot did not create the prefix"
    echo "created $(date -u +%FT%TZ) in $(( $(date +%s) - t0 )) s" >"$PREFIX/.tarvex-ready"
fi

# A program that crashes must end at once with its exception code (and a backtrace on its output), not wait
# in Wine's crash dialog until a test times out.
if [ ! -f "$PREFIX/.tarvex-no-crash-dialog" ]; then
    wine_env
    "$WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 \
        || die "could not turn off the crash dialog in the Wine prefix"
    touch "$PREFIX/.tarvex-no-crash-dialog"
fi

# ---- probe: PCRE2 16-bit with JIT, and the ANSI code page Wine gives each locale ---------------------------
PROBE="$DEPS/probe-x86_64.exe"
if [ ! -f "$PROBE" ]; then
    log "checking PCRE2 and the code pages under Wine"
    for arch in x86_64 i686; do
        "$arch-w64-mingw32-g++-posix" -std=c++20 -O2 -municode -static -DPCRE2_STATIC -DPCRE2_CODE_UNIT_WIDTH=16 \
            -I"$DEPS/pcre2-$arch/include" "$ROOT/scripts/probe.cpp" "$DEPS/pcre2-$arch/lib/libpcre2-16.a" \
            -o "$DEPS/probe-$arch.exe.tmp" || die "probe does not build for $arch"
    done
    mv "$DEPS/probe-i686.exe.tmp" "$DEPS/probe-i686.exe"   # run below when 32-bit Wine is there
    wine_env
    [ -n "${DISPLAY:-}" ] || start_xvfb
    for want in "zh_CN.UTF-8 936" "en_US.UTF-8 1252"; do
        set -- $want
        got=$(LC_ALL=$1 "$WINE64" "$DEPS/probe-x86_64.exe.tmp" </dev/null | tr -d '\r') || die "probe failed under Wine ($1): $got"
        grep -qx "acp $2" <<<"$got" || die "Wine with LC_ALL=$1 should report code page $2: $got"
        grep -qx "pcre2 jit ok" <<<"$got" || die "PCRE2 JIT check failed: $got"
    done
    mv "$DEPS/probe-x86_64.exe.tmp" "$PROBE"
fi

# ---- 32-bit programs in the prefix: the i686 probe must run as the 64-bit one did ----------------------------
if [ ! -f "$PREFIX/.tarvex-wow64" ]; then
    if [ -n "$EXEC32_PROBLEM" ]; then
        echo "$EXEC32_PROBLEM" >"$PREFIX/.tarvex-wow64"
    elif [ ! -d "$PREFIX/drive_c/windows/syswow64" ]; then
        echo "the Wine prefix has no syswow64 folder" >"$PREFIX/.tarvex-wow64"
    else
        log "checking 32-bit programs under Wine"
        wine_env
        [ -n "${DISPLAY:-}" ] || start_xvfb
        got=$(LC_ALL=en_US.UTF-8 /usr/lib/wine/wine "$DEPS/probe-i686.exe" </dev/null 2>/dev/null | tr -d '\r') || true
        if grep -qx "pcre2 jit ok" <<<"$got"; then
            echo ready >"$PREFIX/.tarvex-wow64"
        else
            log "32-bit Wine did not run the i686 probe: the i686 tests will be reported as skipped"
            echo "32-bit Wine did not run a test program in the prefix" >"$PREFIX/.tarvex-wow64"
        fi
    fi
fi

touch "$STAMP"
log "ready"
