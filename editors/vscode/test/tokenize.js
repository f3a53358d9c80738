// Checks the grammar with the tokenizer editors use (vscode-textmate over Oniguruma): every built-in of the
// runtime's table is highlighted as one, every macro as a macro, and the project's scripts (tests, include
// library, examples) tokenize without a single token marked invalid.
"use strict";
const fs = require("fs");
const path = require("path");
const vsctm = require("vscode-textmate");
const oniguruma = require("vscode-oniguruma");

const here = path.resolve(__dirname, "..");
const root = path.resolve(here, "..", "..");

async function registry() {
  const wasm = fs.readFileSync(require.resolve("vscode-oniguruma/release/onig.wasm"));
  await oniguruma.loadWASM(wasm.buffer.slice(wasm.byteOffset, wasm.byteOffset + wasm.byteLength));
  return new vsctm.Registry({
    onigLib: Promise.resolve({
      createOnigScanner: (s) => new oniguruma.OnigScanner(s),
      createOnigString: (s) => new oniguruma.OnigString(s),
    }),
    loadGrammar: async (scope) =>
      scope === "source.qx3"
        ? vsctm.parseRawGrammar(fs.readFileSync(path.join(here, "syntaxes", "qx3.tmLanguage.json"), "utf8"), "x.json")
        : null,
  });
}

function tokenize(grammar, text) {
  const out = [];
  let stack = vsctm.INITIAL;
  for (const line of text.split(/\r?\n/)) {
    const r = grammar.tokenizeLine(line, stack);
    for (const t of r.tokens) out.push({ text: line.slice(t.startIndex, t.endIndex), scopes: t.scopes });
    stack = r.ruleStack;
  }
  return out;
}

function files(dir, ext, acc = []) {
  if (!fs.existsSync(dir)) return acc;
  for (const e of fs.readdirSync(dir, { withFileTypes: true })) {
    const p = path.join(dir, e.name);
    if (e.isDirectory()) files(p, ext, acc);
    else if (p.endsWith(ext)) acc.push(p);
  }
  return acc;
}

(async () => {
  const grammar = await (await registry()).loadGrammar("source.qx3");
  let failures = 0;
  const fail = (msg) => {
    failures++;
    if (failures <= 40) console.log("FAIL " + msg);
  };

  const table = fs.readFileSync(path.join(root, "src/core/builtin_table.cpp"), "utf8");
  const builtins = [...table.matchAll(/\{u"([A-Z0-9_]+)", \d+, \d+, /g)].map((m) => m[1]);
  for (const name of builtins) {
    // As users write them: mixed case, called with arguments.
    const written = name.charAt(0) + name.slice(1).toLowerCase();
    const toks = tokenize(grammar, `$x = ${written}(1, "a")`);
    const t = toks.find((k) => k.text === written);
    if (!t || !t.scopes.includes("support.function.builtin.qx3")) fail(`built-in ${name} is not highlighted as one`);
  }
  const macroSrc = fs.readFileSync(path.join(root, "src/env/macros.cpp"), "utf8");
  const macros = [...macroSrc.matchAll(/\{u"([A-Z0-9_]+)", M::/g)].map((m) => m[1]).concat(["EXITCODE", "GUI_CTRLID", "TRAY_ID"]);
  for (const name of macros) {
    const toks = tokenize(grammar, `ConsoleWrite(@${name.toLowerCase()})`);
    const t = toks.find((k) => k.text.toUpperCase() === "@" + name);
    if (!t || !t.scopes.includes("support.variable.macro.qx3")) fail(`macro @${name} is not highlighted as one`);
  }

  // Samples of the notation whose scopes matter.
  const samples = [
    [`$s = "say ""hi"" ; not a comment" ; a comment`, [[" ; not a comment", "string.quoted.double.qx3"], ['""', "constant.character.escape.qx3"], ["; a comment", "comment.line.semicolon.qx3"]]],
    [`#include <Arrays.qx3>`, [["#include", "keyword.control.directive.qx3"], ["<Arrays.qx3>", "string.quoted.other.lt-gt.include.qx3"]]],
    [`Func MyTool($a, ByRef $b)`, [["MyTool", "entity.name.function.qx3"], ["ByRef", "storage.modifier.qx3"], ["$a", "variable.other.qx3"]]],
    [`If $x = 0x1F Then Return 1.5e3`, [["If", "keyword.control.qx3"], ["0x1F", "constant.numeric.hex.qx3"], ["1.5e3", "constant.numeric.qx3"]]],
    [`$q = @NoSuchMacro`, [["@NoSuchMacro", "invalid.illegal.macro.qx3"]]],
  ];
  for (const [line, want] of samples) {
    const toks = tokenize(grammar, line);
    for (const [text, scope] of want) {
      const t = toks.find((k) => k.text === text);
      if (!t || !t.scopes.includes(scope)) fail(`in ${JSON.stringify(line)}: ${JSON.stringify(text)} is not ${scope}`);
    }
  }
  const block = tokenize(grammar, "#cs\nConsoleWrite(1)\n#ce\nConsoleWrite(2)");
  if (!block.find((k) => k.text === "ConsoleWrite(1)" && k.scopes.includes("comment.block.qx3"))) fail("#cs block is no comment");
  if (block.find((k) => k.text === "ConsoleWrite" && k.scopes.includes("comment.block.qx3"))) fail("the block does not end at #ce");

  // The project's own scripts: no invalid token anywhere (an unknown macro would show as one).
  const scripts = [
    ...files(path.join(root, "tests", "scripts"), ".qx3"),
    ...files(path.join(root, "Include"), ".qx3"),
    ...files(path.join(root, "examples"), ".qx3"),
  ];
  let lines = 0;
  for (const f of scripts) {
    const text = fs.readFileSync(f, "utf8");
    lines += text.split("\n").length;
    for (const t of tokenize(grammar, text)) {
      if (t.scopes.some((s) => s.startsWith("invalid")) && !/NoSuch|Bogus|Unknown|Nope|xyz/i.test(t.text)) {
        fail(`${path.relative(root, f)}: invalid token ${JSON.stringify(t.text)}`);
        break;
      }
    }
  }
  console.log(`${builtins.length} built-ins, ${macros.length} macros, ${scripts.length} scripts (${lines} lines): ` +
    (failures ? `${failures} problems` : "all highlighted as expected"));
  process.exit(failures ? 1 : 0);
})().catch((e) => {
  console.error(e);
  process.exit(1);
});
