// Engine set-up called by start-up: the command-line variables, and the preparation of the script
// (user-function registration, then the structure check) before its first line runs.
#include "core/interp.h"
#include "host/console.h"
#include "host/hooks.h"

namespace tx {

void createCommandLineVariables(const SString& raw, const std::vector<SString>& args) {
    Engine& e = engine();
    e.declare(u"CMDLINERAW", Scope::Global, 0, Variant::string(raw));
    uint32_t size = static_cast<uint32_t>(args.size() + 1);
    ArrayData* a = ArrayData::create(&size, 1);
    a->at(0) = Variant::int32(static_cast<int32_t>(args.size()));
    for (size_t i = 0; i < args.size(); ++i) a->at(static_cast<uint32_t>(i + 1)) = Variant::string(args[i]);
    e.declare(u"CMDLINE", Scope::Global, kVarConst, Variant::array(a));
    // Standard input is read from now on, so nothing the parent sends early is lost.
    startStdinReader();
}

bool prepareEngine() {
    Engine& e = engine();
    g_lines = scriptStore().tokenLines.data();
    if (!e.registerFunctions()) return false;
    if (!e.checkBlocks()) return false;
    runState().currentLine = 0;
    return true;
}

}  // namespace tx
