#!/usr/bin/env python3
"""Tests of the documentation checker (tests/docs_check.py) on small pages of their own: which blocks become
examples and with what expectations, how links to pages not written yet are staged, and which gaps the coverage
check reports. Run by scripts/docs.sh."""

import contextlib
import io
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import docs_check as dc  # noqa: E402

PAGE = '''# Sample

```tarvex
ConsoleWrite("a" & @CRLF)
```


```output
a

b
```

```tarvex exit=3
Exit 3
```

Some words between.

```output
not this one's
```

```tarvex norun
Shutdown(1)
```

```tarvex fast
ConsoleWrite("é")
```

````markdown
```tarvex
ConsoleWrite("inside a template, not an example")
```
````

- A list item with an example:

    ```tarvex
    ConsoleWrite("x")
    ```

    ```output
    x
    ```
'''


class Pages:
    """A pages folder of the test's own, put in place of docs/pages for the checker."""

    def __init__(self, files):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = Path(self.tmp.name) / "pages"
        for name, text in files.items():
            p = self.root / name
            p.parent.mkdir(parents=True, exist_ok=True)
            p.write_text(text, encoding="utf-8")

    def __enter__(self):
        self.saved = dc.PAGES
        dc.PAGES = self.root
        return self

    def __exit__(self, *exc):
        dc.PAGES = self.saved
        self.tmp.cleanup()


def quiet(fn, *args):
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        rc = fn(*args)
    return rc, out.getvalue()


class ExampleParsing(unittest.TestCase):
    def test_blocks_words_and_outputs(self):
        with Pages({"sample.md": PAGE}) as pages:
            exs = dc.examples(pages.root / "sample.md")
        self.assertEqual(len(exs), 5)  # the one inside the four-backtick template is no example
        first, second, third, fourth, fifth = exs
        self.assertEqual(first.output, ["a", "", "b"])            # blank lines before the output block are fine
        self.assertEqual((second.exit, second.output), (3, None))  # words between: that output is not its
        self.assertTrue(third.norun)
        self.assertEqual(fourth.problems, ["unknown fence word 'fast' (known: exit=N, norun, exclusive)"])
        self.assertEqual((fifth.block.lines, fifth.output), (['ConsoleWrite("x")'], ["x"]))  # indentation removed

    def test_crlf_pages_and_unclosed_blocks(self):
        page = "```tarvex\nConsoleWrite(1)\n```\n\n```output\n1\n```\n\n```tarvex\nx\n".replace("\n", "\r\n")
        with Pages({"a.md": page}) as pages:
            one, two = dc.examples(pages.root / "a.md")
        self.assertEqual((one.block.lines, one.output, one.problems), (["ConsoleWrite(1)"], ["1"], []))
        self.assertEqual(two.problems, ["the block is not closed"])

    def test_extracted_scripts(self):
        with Pages({"functions/Sample.md": PAGE}) as pages:
            out = Path(pages.tmp.name) / "ex"
            rc, text = quiet(dc.extract, out)
            self.assertEqual(rc, 1)  # the unknown fence word
            self.assertIn("1 marked norun", text)
            names = sorted(p.relative_to(out).as_posix() for p in out.rglob("*.qx3"))
            self.assertEqual(names, [f"functions/Sample.md--{n}.qx3" for n in (1, 2, 4, 5)])
            one = (out / "functions/Sample.md--1.qx3").read_bytes().decode()
            # The script keeps its line numbers; the expectations follow it.
            self.assertTrue(one.startswith('ConsoleWrite("a" & @CRLF)\r\n'))
            self.assertIn("; expect: a\r\n; expect:\r\n; expect: b\r\n", one)
            self.assertIn("; codepage: 1252", one)
            self.assertIn("; exit: 3", (out / "functions/Sample.md--2.qx3").read_bytes().decode())
            self.assertTrue((out / "functions/Sample.md--4.qx3").read_bytes().startswith(b"\xef\xbb\xbf"))


class Staging(unittest.TestCase):
    def test_links_to_pages_not_written_yet(self):
        text = ("See [syntax](../language/syntax.md) and [home](../index.md).\n"
                "| [Strings](strings.md) | text |\n| [Math](math.md) | numbers |\n"
                "```text\n[syntax](../language/syntax.md)\n```\n")
        missing = {"language/syntax.md", "functions/strings.md"}
        out, dropped = dc.unlink_pending(text, "functions/index.md", missing)
        self.assertEqual(out.split("\n"), ["See syntax and [home](../index.md).", "| [Math](math.md) | numbers |",
                                           "```text", "[syntax](../language/syntax.md)", "```", ""])
        self.assertEqual(sorted(dropped), ["functions/strings.md", "language/syntax.md"])


    def test_a_table_left_without_rows_goes(self):
        text = "Intro\n\n| Subject | What |\n|---|---|\n| [Strings](strings.md) | text |\n\nAfter\n"
        out, _ = dc.unlink_pending(text, "functions/index.md", {"functions/strings.md"})
        self.assertEqual(out, "Intro\n\n\nAfter\n")
        out, _ = dc.unlink_pending(text, "functions/index.md", set())
        self.assertEqual(out, text)

    def test_fence_words_go_for_the_site(self):
        out = dc.plain_fences("```tarvex exit=3\nExit 3\n```\n\n  ```tarvex norun\n  Shutdown(1)\n  ```\n"
                              "````markdown\n```tarvex exit=1\n```\n````\n")
        self.assertEqual(out, "```tarvex\nExit 3\n```\n\n  ```tarvex\n  Shutdown(1)\n  ```\n"
                              "````markdown\n```tarvex exit=1\n```\n````\n")


class Coverage(unittest.TestCase):
    def run_check(self, files):
        with Pages(files):
            return quiet(dc.check, False)

    def test_function_pages(self):
        good = "# Abs\n\n```tarvex\nConsoleWrite(Abs(-2))\n```\n\n```output\n2\n```\n"
        rc, out = self.run_check({
            "functions/math.md": "| [Abs](Abs.md) | x |\n| [ACos](ACos.md) | y |\n",
            "functions/Abs.md": good,
            "functions/ACos.md": "# ACos\n\n```tarvex norun\nConsoleWrite(ACos(1))\n```\n\n```output\n0\n```\n",
            "functions/ATan.md": good, "functions/atan.md": good,
            "functions/NoSuchThing.md": good,
        })
        self.assertEqual(rc, 1)
        for gap in ("functions: functions/ACos.md: no runnable example with an output block",
                    "functions: functions/ATan.md: not linked from any subject page",
                    "functions: ATAN: 2 pages: functions/ATan.md, functions/atan.md",
                    "functions: functions/NoSuchThing.md: names no built-in",
                    "functions: ASIN: no page functions/<Name>.md",
                    "functions: subject page functions/strings.md is missing"):
            self.assertIn(gap, out)
        self.assertNotIn("functions/Abs.md:", out)

    def test_parts_not_written_are_pending(self):
        rc, out = self.run_check({"index.md": "# Home\n"})
        self.assertEqual(rc, 0)
        self.assertIn("pending  macros: language/macros.md is not written yet", out)
        self.assertIn("pending  functions:", out)

    def test_macros_options_messages(self):
        rc, out = self.run_check({
            "language/macros.md": "# Macros\n\n### @CRLF\n\n```text\n### @TAB\n```\n",
            "language/options.md": "# Options\n\n### SendKeyDelay\n",
            "language/errors.md": "# Errors\n\n| 101 | paused |\n| 1010 | x |\n",
        })
        self.assertEqual(rc, 1)
        self.assertNotIn("'### @CRLF'", out)
        self.assertIn("language/macros.md has no heading '### @TAB'", out)  # a heading in a code block is none
        self.assertIn("language/macros.md has no heading '### @GUI_CTRLID'", out)  # event macros count
        self.assertNotIn("'### SendKeyDelay'", out)
        self.assertIn("language/options.md has no heading '### MouseCoordMode'", out)
        self.assertNotIn("mention message 101\n", out)
        self.assertIn("language/errors.md does not mention message 102", out)


if __name__ == "__main__":
    unittest.main()
