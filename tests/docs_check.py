#!/usr/bin/env python3
"""The reference documentation's checker: stages the pages for the site build, extracts the executable
examples, and checks that the reference covers the runtime's tables.

    tests/docs_check.py stage     copy docs/pages to build/docs-src (links to planned pages that are not written
                                  yet become plain text there, and the fence words below go, since the site's
                                  Markdown takes only a language after a fence) and write
                                  build/docs-src/mkdocs.yml from docs/mkdocs.yml with the navigation made from
                                  the pages that exist
    tests/docs_check.py extract   write every ```tarvex example of docs/pages/**/*.md as a script test under
                                  build/doc-examples/<page>--<n>.qx3 (run them with
                                  tests/run_tests.py --root build/doc-examples)
    tests/docs_check.py check     the coverage checks below; prints every gap and exits 1 when there is one

Example format: a block fenced ```tarvex is a whole script, run with code page 1252 in a scratch folder; the
```output block that follows it (only blank lines between) is its exact standard output, and a script without
one must print nothing. The fence may add "exit=N" (the expected exit code, default 0), "norun" (not run) or
"exclusive" (runs while no other test runs). An example that uses the foreground window, real keys or the mouse,
or reads screen pixels (see FOREGROUND) runs alone without being told: the examples run in parallel on one
desktop, and another test taking the foreground would change its output.

Coverage checks: every row of the built-in table (src/core/builtin_table.cpp) has exactly one page
docs/pages/functions/<Name>.md (names compared without regard to case), with at least one runnable example that
has an output block, linked from a subject page; every macro of the macro table (src/env/macros.cpp) and every
event macro (editors/vscode/gen_grammar.py) has a "### @Name" heading in language/macros.md; every option of the
Opt table (src/env/options.cpp) a "### Name" heading in language/options.md; every message id of
src/core/messages.inc appears in language/errors.md. A part of the reference that is not written at all yet
(no subject page, no macros.md, ...) is reported as pending, not as a failure, until --require-all is given; a
part that exists is checked in full.
"""

import argparse
import ast
import os
import re
import shutil
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DOCS = ROOT / "docs"
PAGES = DOCS / "pages"
CONFIG = DOCS / "mkdocs.yml"

# The pages the reference is made of: the language reference and the function subject pages, in the order of
# the navigation. Pages found beside them that are not listed here are added after them.
LANGUAGE_PAGES = ["syntax", "datatypes", "operators", "variables", "statements", "functions", "directives",
                  "macros", "options", "keys", "windows", "dll-types", "errors", "command-line", "compiler",
                  "includes"]
SUBJECT_PAGES = ["strings", "math", "types", "files", "ini", "drives", "processes", "registry", "runtime",
                 "system", "dialogs", "tray", "windows", "controls", "input", "gui", "gui-controls", "dll",
                 "com", "network", "plugins"]
PLANNED = {f"language/{p}.md" for p in LANGUAGE_PAGES} | {f"functions/{p}.md" for p in SUBJECT_PAGES}

FENCE = re.compile(r"^(\s*)(`{3,}|~{3,})\s*([^`]*?)\s*$")
LINK = re.compile(r"(!?)\[((?:[^\[\]]|\[[^\]]*\])*)\]\(\s*([^)\s]+)(\s+\"[^\"]*\")?\s*\)")
EXIT_WORD = re.compile(r"^exit=(-?\d+)$")
FOREGROUND = re.compile(r"\b(WinActivate|WinActive|WinWaitActive|WinWaitNotActive|WinSetOnTop|WinMinimizeAll\w*|"
                        r"Send|SendKeepActive|ControlSend|Mouse\w+|Pixel\w+|BlockInput|HotKeySet|WinGetCaretPos|"
                        r"ControlFocus|ControlGetFocus|ToolTip|TrayTip)\s*\(", re.IGNORECASE)


def build_dir():
    b = Path(os.environ.get("TARVEX_BUILD") or "build")
    return b if b.is_absolute() else ROOT / b


def page_files(pages=None):
    return sorted(p for p in (pages or PAGES).rglob("*.md") if p.is_file())


def rel(p, base=None):
    return p.relative_to(base or PAGES).as_posix()


def shown(p):
    """A path as reports show it: relative to the repository when inside it."""
    try:
        return p.relative_to(ROOT).as_posix()
    except ValueError:
        return str(p)


# ---- fenced blocks ---------------------------------------------------------------------------------------------

def read_page(path):
    return path.read_text(encoding="utf-8").replace("\r\n", "\n")


class Block:
    def __init__(self, info, start, lines, indent, closed):
        self.info = info          # the words after the fence
        self.start = start        # 1-based line of the opening fence
        self.lines = lines        # the content lines, the fence's indentation removed
        self.indent = indent
        self.closed = closed
        self.end = start + len(lines) + 1  # the closing fence's line

    @property
    def lang(self):
        return self.info.split()[0].lower() if self.info.split() else ""

    @property
    def words(self):
        return self.info.split()[1:]


def blocks(text):
    """The fenced code blocks of a Markdown text, and for each line whether it is inside one."""
    out = []
    lines = text.split("\n")
    inside = [False] * len(lines)
    i = 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m or (m.group(2)[0] == "`" and "`" in m.group(3)):
            i += 1
            continue
        indent, fence, info = len(m.group(1)), m.group(2), m.group(3)
        body = []
        j = i + 1
        closed = False
        while j < len(lines):
            s = lines[j]
            stripped = s.lstrip(" ")
            if stripped.startswith(fence[0] * len(fence)) and stripped.rstrip() == fence[0] * len(stripped.rstrip()):
                closed = True
                break
            body.append(s[indent:] if s[:indent].strip() == "" else s.lstrip(" "))
            j += 1
        for k in range(i, min(j + 1, len(lines))):
            inside[k] = True
        out.append(Block(info, i + 1, body, indent, closed))
        if not closed:
            break
        i = j + 1
    return out, lines, inside


class Example:
    def __init__(self, page, number, block, output, exit_code, norun, problems, exclusive=False):
        self.page = page            # relative to docs/pages
        self.number = number        # 1-based among the page's tarvex blocks
        self.block = block
        self.output = output        # list of lines, or None
        self.exit = exit_code
        self.norun = norun
        self.problems = problems
        self.exclusive = exclusive


def examples(page_path):
    """The ```tarvex blocks of one page with their output blocks and fence words."""
    found, lines, _ = blocks(read_page(page_path))
    result = []
    n = 0
    for idx, b in enumerate(found):
        if b.lang != "tarvex":
            continue
        n += 1
        problems = []
        exit_code, norun, exclusive = 0, False, False
        if not b.closed:
            problems.append("the block is not closed")
        for w in b.words:
            m = EXIT_WORD.match(w)
            if m:
                exit_code = int(m.group(1))
            elif w == "norun":
                norun = True
            elif w == "exclusive":
                exclusive = True
            else:
                problems.append(f"unknown fence word '{w}' (known: exit=N, norun, exclusive)")
        output = None
        if idx + 1 < len(found) and found[idx + 1].lang == "output":
            nxt = found[idx + 1]
            between = lines[b.end:nxt.start - 1]
            if all(not s.strip() for s in between):
                output = nxt.lines
        exclusive = exclusive or any(FOREGROUND.search(line.split(";", 1)[0]) for line in b.lines)
        result.append(Example(rel(page_path), n, b, output, exit_code, norun, problems, exclusive))
    return result


# ---- stage: the pages as the site builds them -----------------------------------------------------------------

def resolve_link(page_rel, target):
    """The page a relative link points at (relative to docs/pages), or None for other links."""
    if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I) or target.startswith(("#", "/")):
        return None
    path = target.split("#", 1)[0].split("?", 1)[0]
    if not path.endswith(".md"):
        return None
    return os.path.normpath(os.path.join(os.path.dirname(page_rel), path)).replace(os.sep, "/")


def unlink_pending(text, page_rel, missing):
    """Turns links to planned pages that are not written yet into their plain text (outside code blocks).
    `missing` is a set of page paths, or a function that tells whether a page path is one."""
    if not callable(missing):
        missing = missing.__contains__
    _, lines, inside = blocks(text)
    dropped = []

    def sub(m):
        target = resolve_link(page_rel, m.group(3))
        if m.group(1) or not target or not missing(target):
            return m.group(0)
        dropped.append(target)
        return m.group(2)

    kept = []
    for i, line in enumerate(lines):
        if inside[i]:
            kept.append(line)
            continue
        first = LINK.search(line)
        before = len(dropped)
        line = LINK.sub(sub, line)
        # A table row or list item that leads with a link to such a page goes altogether.
        if (len(dropped) > before and re.match(r"^\s*(\||[-*+]\s|\d+\.\s)", line)
                and missing(resolve_link(page_rel, first.group(3)) or "")):
            continue
        kept.append(line)
    # A table left with no rows at all goes too (its header and separator lines).
    out = []
    i = 0
    while i < len(kept):
        row = kept[i].lstrip().startswith("|")
        if (dropped and row and i + 1 < len(kept) and re.match(r"^\s*\|?\s*:?-{3,}", kept[i + 1])
                and not (i + 2 < len(kept) and kept[i + 2].lstrip().startswith("|"))):
            i += 2
            continue
        out.append(kept[i])
        i += 1
    return "\n".join(out), dropped


def plain_fences(text):
    """The site's Markdown takes only a language after a fence: the checker's words (exit=N, norun, exclusive) go."""
    found, lines, _ = blocks(text)
    for b in found:
        if b.lang == "tarvex" and b.words:
            i = b.start - 1
            m = FENCE.match(lines[i])
            lines[i] = m.group(1) + m.group(2) + "tarvex"
    return "\n".join(lines)


def load_config():
    import yaml  # PyYAML comes with mkdocs
    return yaml.safe_load(CONFIG.read_text(encoding="utf-8"))


def nav_entries(existing, folder, planned, index=None):
    names = [f"{folder}/{p}.md" for p in planned if f"{folder}/{p}.md" in existing]
    return ([index] if index and index in existing else []) + names


def title_of(page_path):
    for line in read_page(page_path).split("\n"):
        if line.startswith("# "):
            return line[2:].strip()
    return page_path.stem


def stage(out_dir):
    existing = {rel(p) for p in page_files()}
    planned_missing = PLANNED - existing
    builtins = set(builtin_names())

    def missing(target):
        """A planned page not written yet: a subject or language page, or the page of a built-in (whose exact
        spelling is the writer's: a link in another case to a page that exists stays, and fails)."""
        if target in planned_missing:
            return True
        folder, _, name = target.partition("/")
        return (folder == "functions" and "/" not in name and name.endswith(".md") and target not in existing
                and name[:-3].upper() in builtins
                and not any(e.upper() == target.upper() for e in existing))

    src = out_dir / "pages"
    if src.exists():
        shutil.rmtree(src)
    src.mkdir(parents=True)
    pending = {}
    for p in page_files():
        r = rel(p)
        dst = src / r
        dst.parent.mkdir(parents=True, exist_ok=True)
        text, dropped = unlink_pending(plain_fences(read_page(p)), r, missing)
        for d in dropped:
            pending.setdefault(d, set()).add(r)
        dst.write_text(text, encoding="utf-8")
    # Other files (images) as they are.
    for p in PAGES.rglob("*"):
        if p.is_file() and p.suffix != ".md":
            dst = src / rel(p)
            dst.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(p, dst)

    cfg = load_config()
    cfg["docs_dir"] = str(src)
    cfg["site_dir"] = str(build_dir() / "docs-site")
    lang = nav_entries(existing, "language", LANGUAGE_PAGES)
    lang += sorted(r for r in existing if r.startswith("language/") and r not in lang)
    funcs = nav_entries(existing, "functions", SUBJECT_PAGES, "functions/index.md")
    nav = []
    for r in ("index.md", "getting-started.md"):
        if r in existing:
            nav.append({title_of(PAGES / r) if r != "index.md" else "Home": r})
    if lang:
        nav.append({"Language": [{title_of(PAGES / r): r} for r in lang]})
    if funcs:
        nav.append({"Functions": [{"All subjects" if r == "functions/index.md" else title_of(PAGES / r): r}
                                  for r in funcs]})
    extra = sorted(r for r in existing if "/" not in r and r not in ("index.md", "getting-started.md"))
    nav += [{title_of(PAGES / r): r} for r in extra]
    cfg["nav"] = nav
    import yaml
    (out_dir / "mkdocs.yml").write_text(yaml.safe_dump(cfg, sort_keys=False, allow_unicode=True), encoding="utf-8")
    if planned_missing:
        print(f"pending: {len(planned_missing)} planned page(s) not written yet: "
              + ", ".join(sorted(planned_missing)))
    fn_pending = sorted({d for d in pending if d not in planned_missing})
    if fn_pending:
        print(f"pending: links to {len(fn_pending)} function page(s) not written yet left as plain text")
    return 0


# ---- extract: the examples as script tests ---------------------------------------------------------------------

def extract(out_dir):
    if out_dir.exists():
        shutil.rmtree(out_dir)
    out_dir.mkdir(parents=True)
    count = skipped = 0
    bad = []
    for p in page_files():
        for ex in examples(p):
            if ex.problems:
                bad += [f"{ex.page}:{ex.block.start}: {x}" for x in ex.problems]
            if ex.norun:
                skipped += 1
                continue
            name = out_dir / f"{ex.page[:-3]}.md--{ex.number}.qx3"
            name.parent.mkdir(parents=True, exist_ok=True)
            script = "\n".join(ex.block.lines).rstrip("\n")
            # The directives go after the script, so its line numbers stay those of the page's example.
            d = ["", f"; source: {shown(PAGES / ex.page)}:{ex.block.start + 1}", "; codepage: 1252",
                 "; workdir: tmp", "; final-newline: optional"]
            if ex.exit:
                d.append(f"; exit: {ex.exit}")
            if ex.exclusive:
                d.append("; exclusive: uses the foreground, real input or screen pixels")
            d += [f"; expect: {line}" if line else "; expect:" for line in (ex.output or [])]
            text = script + "\n" + "\n".join(d) + "\n"
            data = text.replace("\n", "\r\n")
            raw = data.encode("ascii") if data.isascii() else b"\xef\xbb\xbf" + data.encode("utf-8")
            name.write_bytes(raw)
            count += 1
    print(f"extracted {count} example(s) to {out_dir}" + (f", {skipped} marked norun" if skipped else ""))
    for b in bad:
        print(f"bad example fence: {b}")
    return 1 if bad else 0


# ---- check: the reference covers the runtime's tables ----------------------------------------------------------

def builtin_names():
    text = (ROOT / "src/core/builtin_table.cpp").read_text(encoding="utf-8")
    return re.findall(r'^\s*\{u"([A-Z0-9_]+)",\s*-?\d+,\s*-?\d+,', text, re.M)


def macro_names():
    text = (ROOT / "src/env/macros.cpp").read_text(encoding="utf-8")
    names = re.findall(r'\{u"([A-Z0-9_]+)", M::', text)
    grammar = (ROOT / "editors/vscode/gen_grammar.py").read_text(encoding="utf-8")
    m = re.search(r"^EVENT_MACROS\s*=\s*(\[[^\]]*\])", grammar, re.M)
    if m:
        names += ast.literal_eval(m.group(1))
    return sorted(set(names))


def option_names():
    text = (ROOT / "src/env/options.cpp").read_text(encoding="utf-8")
    return re.findall(r'TX_OPT\("([A-Za-z0-9_]+)"', text)


def message_ids():
    text = (ROOT / "src/core/messages.inc").read_text(encoding="utf-8")
    return re.findall(r"\bX\((\d+),", text)


def headings(page, level):
    _, lines, inside = blocks(read_page(page))
    return [l[level + 1:].strip() for i, l in enumerate(lines) if not inside[i] and l.startswith("#" * level + " ")]


class Report:
    def __init__(self, require_all):
        self.require_all = require_all
        self.gaps = []
        self.pending = []

    def gap(self, section, text):
        self.gaps.append(f"{section}: {text}")

    def section_missing(self, section, what):
        (self.gaps if self.require_all else self.pending).append(f"{section}: {what}")


def check(require_all):
    rep = Report(require_all)
    pages = page_files()
    existing = {rel(p) for p in pages}

    # Examples whose fences are malformed, anywhere.
    for p in pages:
        for ex in examples(p):
            for x in ex.problems:
                rep.gap("examples", f"{ex.page}:{ex.block.start}: {x}")

    # Function pages.
    builtins = builtin_names()
    subject_files = [f"functions/{s}.md" for s in SUBJECT_PAGES]
    written_subjects = [s for s in subject_files if s in existing]
    fpages = [p for p in pages if rel(p).startswith("functions/") and "/" not in rel(p)[len("functions/"):]]
    if not any(rel(p) != "functions/index.md" for p in fpages):
        rep.section_missing("functions", f"no subject page written yet: {len(builtins)} built-ins without pages")
    else:
        for s in subject_files:
            if s not in existing:
                rep.gap("functions", f"subject page {s} is missing")
        by_upper = {}
        for p in fpages:
            r = rel(p)
            if r in subject_files or r == "functions/index.md":
                continue
            by_upper.setdefault(p.stem.upper(), []).append(p)
        table = set(builtins)
        for name in builtins:
            found = by_upper.get(name, [])
            if not found:
                rep.gap("functions", f"{name}: no page functions/<Name>.md")
            elif len(found) > 1:
                rep.gap("functions", f"{name}: {len(found)} pages: " + ", ".join(rel(p) for p in found))
        for up, found in sorted(by_upper.items()):
            if up not in table:
                for p in found:
                    rep.gap("functions", f"{rel(p)}: names no built-in of the table (nor a subject page)")
        linked = set()
        for s in written_subjects:
            _, lines, inside = blocks(read_page(PAGES / s))
            for i, line in enumerate(lines):
                if inside[i]:
                    continue
                for m in LINK.finditer(line):
                    t = resolve_link(s, m.group(3))
                    if t:
                        linked.add(t)
        for up, found in sorted(by_upper.items()):
            if up not in table:
                continue
            for p in found:
                r = rel(p)
                exs = examples(p)
                if not any(not e.norun and e.output is not None and any(l.strip() for l in e.output) for e in exs):
                    rep.gap("functions", f"{r}: no runnable example with an output block")
                if r not in linked:
                    rep.gap("functions", f"{r}: not linked from any subject page")

    # Macros, options, messages.
    def heading_check(page_rel, section, names, prefix):
        page = PAGES / page_rel
        if not page.exists():
            rep.section_missing(section, f"{page_rel} is not written yet ({len(names)} to document)")
            return
        hs = headings(page, 3)
        for n in names:
            pat = re.compile(r"(?<![\w@])" + re.escape(prefix + n) + r"(?!\w)", re.I)
            if not any(pat.search(h) for h in hs):
                rep.gap(section, f"{page_rel} has no heading '### {prefix}{n}'")

    heading_check("language/macros.md", "macros", macro_names(), "@")
    heading_check("language/options.md", "options", option_names(), "")
    errors = PAGES / "language/errors.md"
    ids = message_ids()
    if not errors.exists():
        rep.section_missing("messages", f"language/errors.md is not written yet ({len(ids)} message ids)")
    else:
        text = read_page(errors)
        for i in ids:
            if not re.search(r"(?<!\d)" + i + r"(?!\d)", text):
                rep.gap("messages", f"language/errors.md does not mention message {i}")

    lang_missing = sorted(p for p in PLANNED if p.startswith("language/") and p not in existing)
    if lang_missing:
        if any(p.startswith("language/") for p in existing):
            for p in lang_missing:
                rep.gap("language", f"{p} is missing")
        else:
            rep.section_missing("language", "no language page written yet")

    for line in rep.pending:
        print(f"pending  {line}")
    for line in rep.gaps:
        print(f"GAP      {line}")
    total_examples = sum(len(examples(p)) for p in pages)
    print(f"documentation: {len(pages)} pages, {total_examples} examples, {len(rep.gaps)} gaps"
          + (f", {len(rep.pending)} parts pending" if rep.pending else ""))
    return 1 if rep.gaps else 0


def main():
    ap = argparse.ArgumentParser(description="Stages, extracts and checks the reference documentation.")
    ap.add_argument("command", choices=["stage", "extract", "check"])
    ap.add_argument("--out", help="output folder (stage: build/docs-src; extract: build/doc-examples)")
    ap.add_argument("--pages", help="the pages folder (default: docs/pages)")
    ap.add_argument("--require-all", action="store_true",
                    help="check: a part of the reference that is not written at all is a gap too")
    opts = ap.parse_args()
    if opts.pages:
        global PAGES
        PAGES = Path(opts.pages).resolve()
    if opts.command == "stage":
        return stage(Path(opts.out).resolve() if opts.out else build_dir() / "docs-src")
    if opts.command == "extract":
        return extract(Path(opts.out).resolve() if opts.out else build_dir() / "doc-examples")
    return check(opts.require_all)


if __name__ == "__main__":
    sys.exit(main())
