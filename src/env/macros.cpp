// Macro evaluation: the fixed table of "@" names and the event macros published as "@" global variables.
//
// The evaluator hands over the upper-case name without its "@". A sorted name table finds the macro's id
// by binary search (macros are read inside loops, so the lookup must stay cheap); the id selects the code
// that computes the value afresh on every use.
#include "env/macros.h"

#include <algorithm>
#include <iterator>

#include "core/engine.h"

namespace tx {

namespace {

enum class M : uint8_t {
    Error,
    Extended,
    CR,
    LF,
    CRLF,
    Tab,
    NumParams,
};

struct MacroName {
    u16view name;
    M id;
};

// Sorted by name (plain code-unit order) for binary search.
constexpr MacroName kMacros[] = {
    {u"CR", M::CR},
    {u"CRLF", M::CRLF},
    {u"ERROR", M::Error},
    {u"EXTENDED", M::Extended},
    {u"LF", M::LF},
    {u"NUMPARAMS", M::NumParams},
    {u"TAB", M::Tab},
};

// Constant texts are made once and shared, so @CRLF in a loop allocates nothing.
const SString& constText(const char16_t* s) {
    return *new SString(s);  // kept for the life of the process
}

const MacroName* findMacro(u16view name) {
    auto it = std::lower_bound(std::begin(kMacros), std::end(kMacros), name,
                               [](const MacroName& m, u16view n) { return m.name < n; });
    return (it != std::end(kMacros) && it->name == name) ? it : nullptr;
}

}  // namespace

bool evalMacro(Engine& engine, u16view upperName, Variant& out) {
    const MacroName* m = findMacro(upperName);
    if (!m) return false;
    switch (m->id) {
        case M::Error: out.setInt32(engine.error()); return true;
        case M::Extended: out = engine.extended(); return true;
        case M::CR: { static const SString& s = constText(u"\r"); out.setString(s); return true; }
        case M::LF: { static const SString& s = constText(u"\n"); out.setString(s); return true; }
        case M::CRLF: { static const SString& s = constText(u"\r\n"); out.setString(s); return true; }
        case M::Tab: { static const SString& s = constText(u"\t"); out.setString(s); return true; }
        case M::NumParams: out.setInt32(engine.numParams()); return true;
    }
    return false;
}

}  // namespace tx
