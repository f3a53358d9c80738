#!/usr/bin/env python3
"""Writes syntaxes/qx3.tmLanguage.json from the runtime's own tables: the built-in names of
src/core/builtin_table.cpp and the macro names of src/env/macros.cpp, so the grammar highlights exactly
the names the runtime knows. Run it after adding a built-in or a macro (the editor test fails until then).

    python3 editors/vscode/gen_grammar.py
"""
import json
import re
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent

KEYWORDS_CONTROL = ["If", "Then", "Else", "ElseIf", "EndIf", "While", "WEnd", "Do", "Until", "For", "To", "Step",
                    "Next", "In", "ExitLoop", "ContinueLoop", "Select", "Case", "EndSelect", "Switch", "EndSwitch",
                    "ContinueCase", "Return", "Exit", "With", "EndWith"]
KEYWORDS_DECL = ["Dim", "ReDim", "Local", "Global", "Const", "Static", "Enum", "ByRef"]
KEYWORDS_OPERATOR = ["And", "Or", "Not"]
CONSTANTS = ["True", "False", "Default"]
# Macros that the layers owning their events publish as they happen (not rows of the macro table).
EVENT_MACROS = ["EXITCODE", "EXITMETHOD", "GUI_CTRLID", "GUI_WINHANDLE", "GUI_CTRLHANDLE", "GUI_DRAGID",
                "GUI_DRAGFILE", "GUI_DROPID", "TRAY_ID", "COM_EVENTOBJ"]
DIRECTIVES = ["include-once", "include", "NoTrayIcon", "RequireAdmin", "NoTarvex3Execute", "OnTarvexStartRegister"]


def table_names(path, pattern):
    return sorted(set(re.findall(pattern, (ROOT / path).read_text(encoding="utf-8"))))


def words(names):
    return "|".join(sorted(names, key=lambda n: (-len(n), n)))


def grammar():
    builtins = table_names("src/core/builtin_table.cpp", r'\{u"([A-Z0-9_]+)", \d+, \d+, ')
    macros = table_names("src/env/macros.cpp", r'\{u"([A-Z0-9_]+)", M::') + EVENT_MACROS
    return {
        "$schema": "https://raw.githubusercontent.com/martinring/tmlanguage/master/tmlanguage.json",
        "name": "Tarvex v3",
        "scopeName": "source.qx3",
        "fileTypes": ["qx3"],
        "patterns": [
            {"include": "#comment-block"},
            {"include": "#comment"},
            {"include": "#directive"},
            {"include": "#function-definition"},
            {"include": "#code"},
        ],
        "repository": {
            "comment-block": {
                "name": "comment.block.qx3",
                "begin": r"(?i)^\s*#(?:cs|comments-start)\b.*$",
                "end": r"(?i)^\s*#(?:ce|comments-end)\b.*$",
                "patterns": [{"include": "#comment-block"}],
            },
            "comment": {"name": "comment.line.semicolon.qx3", "match": ";.*$"},
            "directive": {
                "match": r"(?i)^\s*(#(?:" + "|".join(re.escape(d) for d in DIRECTIVES) + r"))\b(.*?)(?=;|$)",
                "captures": {
                    "1": {"name": "keyword.control.directive.qx3"},
                    "2": {"patterns": [{"include": "#string"},
                                       {"name": "string.quoted.other.lt-gt.include.qx3", "match": "<[^>]*>"}]},
                },
            },
            "function-definition": {
                "match": r"(?i)^\s*(Func)\s+([A-Za-z_][A-Za-z0-9_]*)",
                "captures": {"1": {"name": "storage.type.function.qx3"},
                             "2": {"name": "entity.name.function.qx3"}},
            },
            "code": {
                "patterns": [
                    {"include": "#comment"},
                    {"include": "#string"},
                    {"name": "storage.type.function.qx3", "match": r"(?i)\b(?:Func|EndFunc)\b"},
                    {"name": "keyword.control.qx3", "match": r"(?i)\b(?:" + words(KEYWORDS_CONTROL) + r")\b"},
                    {"name": "storage.modifier.qx3", "match": r"(?i)\b(?:" + words(KEYWORDS_DECL) + r")\b"},
                    {"name": "keyword.operator.word.qx3", "match": r"(?i)\b(?:" + words(KEYWORDS_OPERATOR) + r")\b"},
                    {"name": "constant.language.qx3", "match": r"(?i)\b(?:" + words(CONSTANTS) + r")\b"},
                    {"name": "support.function.builtin.qx3",
                     "match": r"(?i)\b(?:" + words(builtins) + r")\b(?=\s*\()"},
                    {"name": "support.variable.macro.qx3", "match": r"(?i)@(?:" + words(macros) + r")\b"},
                    {"name": "invalid.illegal.macro.qx3", "match": r"@[A-Za-z0-9_]+"},
                    {"name": "variable.other.qx3", "match": r"\$[A-Za-z0-9_]+"},
                    {"name": "constant.numeric.hex.qx3", "match": r"\b0[xX][0-9A-Fa-f]+\b"},
                    {"name": "constant.numeric.qx3", "match": r"(?:\b\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?\b"},
                    {"name": "entity.name.function.call.qx3", "match": r"\b[A-Za-z_][A-Za-z0-9_]*(?=\s*\()"},
                    {"name": "keyword.operator.qx3", "match": r"==|<>|<=|>=|[-+*/&^]=?|=|<|>|\?|:"},
                    {"name": "punctuation.separator.continuation.qx3", "match": r"\s_\s*$"},
                ]
            },
            "string": {
                "patterns": [
                    {"name": "string.quoted.double.qx3", "begin": '"', "end": '"(?!")',
                     "patterns": [{"name": "constant.character.escape.qx3", "match": '""'}]},
                    {"name": "string.quoted.single.qx3", "begin": "'", "end": "'(?!')",
                     "patterns": [{"name": "constant.character.escape.qx3", "match": "''"}]},
                ]
            },
        },
    }


if __name__ == "__main__":
    g = grammar()
    (HERE / "syntaxes" / "qx3.tmLanguage.json").write_text(json.dumps(g, indent=2) + "\n")
    print("syntaxes/qx3.tmLanguage.json written")
