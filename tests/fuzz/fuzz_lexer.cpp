// Fuzz target: the lexer and the structure check over script text (UTF-8, one line per line), as a script's
// lines reach them after preprocessing.
#include "core/engine.h"
#include "core/errors.h"
#include "core/interp.h"
#include "core/script_store.h"
#include "fuzz_native.h"
#include "host/lexer.h"

using namespace tx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    resetForInput();
    ScriptStore& st = scriptStore();
    int file = st.addFile(SString(u"C:\\fuzz.qx3"));
    std::string_view text(reinterpret_cast<const char*>(data), size);
    int number = 0;
    for (size_t pos = 0; pos <= text.size();) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        st.addLine(SString::fromUtf8(text.substr(pos, end - pos)), ++number, file);
        pos = end + 1;
    }
    if (tokeniseAll()) {
        g_lines = st.tokenLines.data();
        Engine& e = engine();
        if (e.registerFunctions()) e.checkBlocks();
    }
    return 0;
}
