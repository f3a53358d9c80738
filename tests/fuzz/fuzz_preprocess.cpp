// Fuzz target: the text reader and preprocessor (decoding, lines, comments, continuations, directives,
// #include: every included name reads the same input again, up to the include depth limit), then the
// lexer over the lines it stored.
#include <vector>

#include "core/errors.h"
#include "core/script_store.h"
#include "fuzz_native.h"
#include "host/lexer.h"
#include "host/preprocess.h"

using namespace tx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    resetForInput();
    setFuzzInput(data, size);
    // The reader's registrations only grow; one input's must not pile up over a run.
    const_cast<std::vector<SString>&>(startFunctionNames()).clear();
    const_cast<std::vector<SString>&>(carriedDirectives()).clear();
    ScriptStore& st = scriptStore();
    SString path(u"C:\\fuzz.qx3");
    int file = st.addFile(path);
    if (readScriptFile(path, file)) tokeniseAll();
    return 0;
}
