// Script loading: decides between a compiled container and a plain-text script and fills the script
// store from either.
//
// A compiled script arrives as a token stream in the container's script entry: it becomes the token-line
// table directly (no line texts, so error reports of compiled scripts name no text), and its directive
// tokens are applied as they are met. Anything that is not a container is read as text, unless a container
// was required (the executable's own script), in which case the load error is reported.
#include "core/errors.h"
#include "core/script_store.h"
#include "host/container.h"
#include "host/hooks.h"
#include "host/preprocess.h"
#include "host/token_stream.h"

namespace tx {

bool containerForbidsCommandLine(const SString& exePath) { return containerHasEntry(exePath, qx::kNoCmdExecuteEntry); }

bool loadScript(const SString& path, int fileIndex, SourceMode& mode) {
    Container c;
    if (c.open(path) != cres::Ok) {
        if (mode == SourceMode::Compiled) {
            reportLoadError();
            return false;
        }
        mode = SourceMode::Text;
        return readScriptFile(path, fileIndex);
    }
    std::vector<uint8_t> stream;
    std::vector<TokenLine> lines;
    std::vector<SString> directives;
    if (c.read(qx::kScriptEntry, stream) != cres::Ok ||
        !decodeTokenStream(stream.data(), stream.size(), lines, directives)) {
        reportLoadError();
        return false;
    }
    ScriptStore& store = scriptStore();
    store.tokenLines = std::move(lines);
    store.compiled = true;
    for (const SString& d : directives) applyCompiledDirective(d.view());
    setRunningContainer(path);
    return true;
}

}  // namespace tx
