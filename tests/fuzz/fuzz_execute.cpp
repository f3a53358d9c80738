// Fuzz target: the expression evaluator through EXECUTE (the input, UTF-8, is the expression), with the
// core's EXECUTE, EVAL, ASSIGN, ISDECLARED, CALL, UBOUND, SETERROR/SETEXTENDED and STRINGFORMAT callable.
#include "core/builtins.h"
#include "core/core_builtins.h"
#include "core/engine.h"
#include "fuzz_native.h"

using namespace tx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    resetForInput();
    Variant arg = Variant::string(SString::fromUtf8(std::string_view(reinterpret_cast<const char*>(data), size)));
    Args a;
    a.v = &arg;
    a.n = 1;
    Variant result;
    biExecute(engine(), a, result);
    result.toString();
    return 0;
}
