#!/usr/bin/env bash
# Editor support: installs the VS Code extension's tools from the npm registry (once, from its lock file),
# checks the grammar against the runtime's tables and the project's scripts, and packages
# editors/vscode/tarvex3-language.vsix. Exits non-zero when the check or the packaging fails.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT/editors/vscode"
command -v npm >/dev/null || { echo "editor support: npm is not installed" >&2; exit 1; }
python3 gen_grammar.py >/dev/null
if ! git -C "$ROOT" diff --quiet -- editors/vscode/syntaxes 2>/dev/null; then
    echo "editor support: syntaxes/qx3.tmLanguage.json was out of date with the built-in and macro tables;" \
         "regenerated it (commit the change)" >&2
fi
if [ ! -d node_modules ] || [ package-lock.json -nt node_modules ]; then
    npm ci --no-audit --no-fund --loglevel=error >/dev/null
fi
node test/tokenize.js
npx --no-install vsce package --out tarvex3-language.vsix >/dev/null
echo "editor support: editors/vscode/tarvex3-language.vsix"
