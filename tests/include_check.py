#!/usr/bin/env python3
"""Checks the Windows constants of the include library against the mingw-w64 headers of both architectures.

Every "Global Const $NAME = VALUE" line of an include file generated from the headers (scripts/
gen_constants.py) becomes a compile-time assertion that NAME has VALUE's 32-bit pattern; the assertions are
compiled by the x86_64 and the i686 cross compilers. Prints what differs and exits non-zero when anything
does.

    python3 tests/include_check.py
"""
import re
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CONST = re.compile(r"^Global Const \$([A-Z][A-Z0-9_]*) = (-?(?:0x[0-9A-F]+|\d+))\s*$", re.M)
HEAD = """#define UNICODE
#define _UNICODE
#define _WIN32_WINNT 0x0601
#define _WIN32_IE 0x0800
#include <windows.h>
#include <commctrl.h>
#include <stdint.h>
#define CHECK(name, value) _Static_assert((((unsigned long long)(long long)(intptr_t)(name)) & 0xFFFFFFFFull) == \\
    (value##ull), #name " is not " #value);
"""


def main():
    files = [p for p in sorted((ROOT / "Include").glob("*.qx3"))
             if "Generated from the mingw-w64 headers" in p.read_text(errors="replace")]
    checks, count = [], 0
    for p in files:
        for name, value in CONST.findall(p.read_text()):
            v = int(value, 0)
            if value.startswith("0x") and v >= 1 << 31:
                v -= 1 << 32  # a hexadecimal literal is the Int32 pattern
            checks.append(f"CHECK({name}, 0x{v & 0xFFFFFFFF:08X})")
            count += 1
    if not count:
        sys.exit("no generated constants files found under Include/")
    failed = False
    with tempfile.TemporaryDirectory() as tmp:
        src = Path(tmp) / "constants.c"
        src.write_text(HEAD + "\n".join(checks) + "\n")
        for arch in ("x86_64", "i686"):
            p = subprocess.run([f"{arch}-w64-mingw32-gcc-posix", "-fsyntax-only", "-Wno-int-to-pointer-cast",
                                "-Wno-pointer-to-int-cast", str(src)], capture_output=True, text=True)
            if p.returncode != 0:
                failed = True
                bad = re.findall(r"static assertion failed: \"(.*?)\"", p.stderr)
                print(f"{arch}: " + ("; ".join(bad[:40]) if bad else p.stderr[:3000]))
    print(f"{count} constants in {len(files)} files: " + ("DIFFER" if failed else "as in the headers of both builds"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
