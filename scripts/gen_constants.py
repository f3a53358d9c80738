#!/usr/bin/env python3
"""Writes the Windows constants files of the include library (Include/*.qx3) from the mingw-w64 headers.

Each file gathers the integer macros of some families (by name prefix) from some headers. The values are
taken by the compiler itself: a small C program that prints every candidate is cross-compiled and run under
Wine (names that are not integer constants in the x86_64 headers are dropped after a first syntax check).
Run it again when a family is added; tests/include_check.py checks the files against the headers of both
architectures in every test run.

    python3 scripts/gen_constants.py
"""
import os
import re
import subprocess
import sys
import tempfile
import textwrap
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
HEADERS = Path("/usr/share/mingw-w64/include")
WINE64 = "/usr/lib/wine/wine64"

# file name -> (title, [(header, [prefixes]), ...], [extra names])
FILES = {
    "WindowsConstants.qx3": (
        "Windows: window styles, show and position flags, messages, message boxes, virtual keys, system "
        "metrics and commands, file attributes, registry types and access rights.",
        [("winuser.h", ["WS_", "WS_EX_", "SW_", "SWP_", "WM_", "MB_", "VK_", "SM_", "SC_", "MK_", "GWL_",
                        "GWLP_", "HWND_", "CW_", "WA_", "SIZE_", "SPI_", "SPIF_", "MF_", "TPM_", "IMAGE_",
                        "LR_", "IDC_", "IDI_", "CF_", "DT_", "SS_", "SMTO_", "HC_", "WH_"]),
         ("winnt.h", ["FILE_ATTRIBUTE_", "REG_", "KEY_", "PROCESS_", "SYNCHRONIZE", "GENERIC_"]),
         ("winbase.h", ["GMEM_", "MOVEFILE_", "CREATE_", "NORMAL_PRIORITY_CLASS", "HIGH_PRIORITY_CLASS",
                        "IDLE_PRIORITY_CLASS", "REALTIME_PRIORITY_CLASS", "INFINITE"]),
         ("wingdi.h", ["SRCCOPY", "PS_", "BS_SOLID", "BS_NULL", "BS_HOLLOW", "TRANSPARENT", "OPAQUE",
                       "FW_", "ANSI_CHARSET", "DEFAULT_CHARSET", "CLR_INVALID"])],
        ["IDOK", "IDCANCEL", "IDABORT", "IDRETRY", "IDIGNORE", "IDYES", "IDNO", "IDCLOSE", "IDHELP",
         "IDTRYAGAIN", "IDCONTINUE", "IDTIMEOUT"]),
    "ControlConstants.qx3": (
        "Windows controls: styles, messages and notifications of buttons, edits, statics, combo and list "
        "boxes, list views, tree views, tabs, status bars, progress bars, sliders, up-downs, date and "
        "month-calendar controls, and the common notification codes.",
        [("winuser.h", ["BS_", "BM_", "BN_", "BST_", "ES_", "EM_", "EN_", "EC_", "CBS_", "CB_", "CBN_",
                        "LBS_", "LB_", "LBN_", "STM_", "SBS_", "SBM_", "ESB_"]),
         ("commctrl.h", ["LVM_", "LVN_", "LVS_", "LVS_EX_", "LVIF_", "LVIS_", "LVNI_", "LVCF_", "LVCFMT_",
                         "LVSCW_", "LVA_", "LVIR_", "LVHT_", "LVSIL_", "TVM_", "TVN_", "TVS_", "TVIF_",
                         "TVIS_", "TVGN_", "TVE_", "TVHT_", "TVSIL_", "TCM_", "TCN_", "TCS_", "TCIF_",
                         "SB_SETTEXT", "SB_GETTEXT", "SB_SETPARTS", "SB_GETPARTS", "SB_GETRECT",
                         "SB_SIMPLE", "SB_SETMINHEIGHT", "SB_SETICON", "SB_SETTIPTEXT", "SB_GETTIPTEXT",
                         "SB_ISSIMPLE", "SB_SETBKCOLOR", "SB_GETICON", "SB_GETBORDERS", "SBARS_", "SBT_",
                         "PBM_", "PBS_", "PBST_", "TBM_", "TBS_", "TB_LINEUP", "TB_LINEDOWN", "TB_PAGEUP",
                         "TB_PAGEDOWN", "TB_THUMBPOSITION", "TB_THUMBTRACK", "TB_TOP", "TB_BOTTOM",
                         "TB_ENDTRACK", "UDM_", "UDS_", "UDN_", "DTM_", "DTS_", "DTN_", "MCM_", "MCS_",
                         "MCN_", "NM_", "HDM_", "HDN_", "HDS_", "HDI_", "HDF_", "TTM_", "TTS_", "TTN_",
                         "TTF_", "ILC_", "ILD_", "CCM_", "CCS_", "GDT_", "ICC_"])],
        []),
}

DEFINE = re.compile(r"^\s*#\s*define\s+([A-Z][A-Z0-9_]*)\s+\S", re.M)


def candidates(header, prefixes):
    text = (HEADERS / header).read_text(errors="replace")
    names = []
    for name in DEFINE.findall(text):
        if any(name == p or (p.endswith("_") and name.startswith(p)) for p in prefixes):
            names.append(name)
    return names


C_HEAD = """#define UNICODE
#define _UNICODE
#define _WIN32_WINNT 0x0601
#define _WIN32_IE 0x0800
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
"""


def compile_ok(names, compiler, workdir):
    """Drops the names whose macro is no integer constant (a syntax check per round)."""
    names = list(dict.fromkeys(names))
    for _ in range(12):
        src = workdir / "check.c"
        lines = [C_HEAD, "static const long long values[] = {"]
        for n in names:
            lines.append(f"    (long long)(intptr_t)({n}),")
        lines.append("};\nint main(void) { return (int)values[0]; }\n")
        text = "\n".join(lines)
        src.write_text(text)
        first = text[:text.index("(long long)(intptr_t)(")].count("\n") + 1  # the line of the first name
        p = subprocess.run([compiler, "-fsyntax-only", "-Wno-int-to-pointer-cast", "-Wno-pointer-to-int-cast",
                            str(src)], capture_output=True, text=True)
        if p.returncode == 0:
            return names
        bad = set()
        # An error inside a macro's expansion is reported at the header, with the use site in a note.
        for m in re.finditer(r"check\.c:(\d+):\d+: (?:error|note)", p.stderr):
            i = int(m.group(1)) - first
            if 0 <= i < len(names):
                bad.add(names[i])
        if not bad:
            sys.exit(p.stderr[:3000])
        names = [n for n in names if n not in bad]
    sys.exit("could not settle the names")


def values_of(names, workdir):
    src = workdir / "print.c"
    body = "".join(f'    printf("%s %lld\\n", "{n}", (long long)(intptr_t)({n}));\n' for n in names)
    src.write_text(C_HEAD + "int main(void) {\n" + body + "    return 0;\n}\n")
    exe = workdir / "print.exe"
    subprocess.run(["x86_64-w64-mingw32-gcc-posix", "-w", "-O0", "-static", str(src), "-o", str(exe)], check=True)
    env = dict(os.environ, WINEDEBUG="-all", WINEPREFIX=str(ROOT / "build" / "wineprefix"))
    out = subprocess.run([WINE64, str(exe)], capture_output=True, text=True, env=env, check=True).stdout
    vals = {}
    for line in out.splitlines():
        n, v = line.split()
        vals[n] = int(v)
    return vals


def literal(v):
    """The language's literal for a value: small ones in decimal, others as 32-bit hexadecimal (values from
    2^31 are taken as their Int32 pattern, as the Windows functions and messages see them)."""
    if -256 < v < 256:
        return str(v)
    if -(1 << 31) <= v < (1 << 32):
        return f"0x{v & 0xFFFFFFFF:08X}"
    return str(v)


def main():
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        for fname, (title, groups, extra) in FILES.items():
            names = []
            for header, prefixes in groups:
                names += candidates(header, prefixes)
            names += extra
            names = [n for n in names if not n.endswith("_")]
            # Both architectures must agree: a name whose value differs between them is left out.
            names = compile_ok(names, "x86_64-w64-mingw32-gcc-posix", tmp)
            names = compile_ok(names, "i686-w64-mingw32-gcc-posix", tmp)
            vals = values_of(names, tmp)
            out = ["; " + line for line in textwrap.wrap(title, 105)]
            out += [
                   "; Generated from the mingw-w64 headers by scripts/gen_constants.py; checked against them by the",
                   "; tests. The values are those of the Unicode (W) forms.",
                   "#include-once", ""]
            for n in sorted(vals):
                out.append(f"Global Const ${n} = {literal(vals[n])}")
            (ROOT / "Include" / fname).write_text("\r\n".join(out) + "\r\n")
            print(f"{fname}: {len(vals)} constants")


if __name__ == "__main__":
    main()
