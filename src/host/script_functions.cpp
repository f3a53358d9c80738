// The script functions the run loop calls on its own: start functions (#OnTarvexStartRegister), Adlib
// timers (ADLIBREGISTER, ADLIBUNREGISTER) and exit functions (ONTARVEXEXITREGISTER,
// ONTARVEXEXITUNREGISTER).
//
// Adlib entries are kept in registration order. A pass calls every entry that is due, each in a nested
// level; entries unregistered meanwhile (even by their own function) are only marked, and the pass
// deletes them when it ends, so the list never changes under a running pass.
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <vector>

#include "core/engine.h"
#include "core/platform.h"
#include "host/preprocess.h"
#include "host/runloop.h"

namespace tx {

namespace {

struct Adlib {
    SString name;  // upper case
    bool running = false;
    bool removed = false;
    uint32_t interval = 250;
    uint32_t lastStart = 0;  // timeGetTime
};

std::vector<Adlib> g_adlibs;
bool g_passRunning = false;
std::vector<SString> g_exitFunctions;  // upper case, in order, no duplicates

SString upper(const SString& s) {
    SString u = s;
    if (!u.empty()) platform::upperCase(u.mutableData(), u.size());
    return u;
}

// Milliseconds from start to now on the wrapping millisecond counter, or -1 when start lies ahead.
int64_t elapsed(uint32_t start, uint32_t now) {
    if (start >= 0x80000000u && now < 0x80000000u) return static_cast<uint32_t>(now - start);  // wrapped
    return static_cast<int64_t>(now) - static_cast<int64_t>(start);
}

Adlib* findAdlib(u16view name) {
    for (Adlib& a : g_adlibs)
        if (a.name.view() == name) return &a;
    return nullptr;
}

}  // namespace

namespace loop {

void callStartFunctions() {
    const std::vector<SString>& names = startFunctionNames();
    for (const SString& n : names) {
        SString u = upper(n);
        if (engine().findUserFunction(u.view()) < 0) continue;
        callEventFunction(u.view());
        if (runState().stopping || runState().quit) break;
    }
}

void callExitFunctions() {
    // A copy: an exit function may unregister itself or others.
    std::vector<SString> names = g_exitFunctions;
    for (const SString& n : names) {
        if (runState().stopping || runState().quit) break;  // EXIT or an error inside an exit function
        if (engine().findUserFunction(n.view()) < 0) continue;
        callEventFunction(n.view());
    }
}

bool adlibRegistered() { return !g_adlibs.empty(); }

bool adlibPass() {
    if (g_passRunning) return false;
    g_passRunning = true;
    bool called = false;
    // By index: entries may be appended while a function runs; they wait for the next pass's turn.
    for (size_t i = 0; i < g_adlibs.size(); ++i) {
        if (g_adlibs[i].removed) continue;
        uint32_t now = timeGetTime();
        if (elapsed(g_adlibs[i].lastStart, now) < static_cast<int64_t>(g_adlibs[i].interval)) continue;
        g_adlibs[i].lastStart = now;
        g_adlibs[i].running = true;
        SString name = g_adlibs[i].name;
        callEventFunction(name.view());
        g_adlibs[i].running = false;
        called = true;
        if (runState().stopping || runState().quit) break;
    }
    g_adlibs.erase(std::remove_if(g_adlibs.begin(), g_adlibs.end(), [](const Adlib& a) { return a.removed; }),
                   g_adlibs.end());
    g_passRunning = false;
    return called;
}

uint32_t adlibMsUntilDue() {
    if (g_adlibs.empty() || g_passRunning) return UINT32_MAX;
    uint32_t now = timeGetTime();
    uint32_t best = UINT32_MAX;
    for (const Adlib& a : g_adlibs) {
        if (a.removed) continue;
        int64_t e = elapsed(a.lastStart, now);
        if (e < 0) continue;
        uint32_t left = e >= a.interval ? 0 : a.interval - static_cast<uint32_t>(e);
        best = std::min(best, left);
    }
    return best;
}

}  // namespace loop

int bi_ADLIBREGISTER(Engine& e, Args& a, Variant& r) {
    SString name = upper(a.str(0));
    if (e.findUserFunction(name.view()) < 0) {
        r.setInt32(0);
        return 0;
    }
    int32_t t = a.given(1) ? a.int32(1) : 0;
    uint32_t interval = t > 0 ? static_cast<uint32_t>(t) : 250;
    if (Adlib* x = findAdlib(name.view())) {
        x->removed = false;
        x->interval = interval;
        if (!x->running) x->lastStart = timeGetTime();
        e.setExtended(1);
        return 0;
    }
    Adlib n;
    n.name = std::move(name);
    n.interval = interval;
    n.lastStart = timeGetTime();  // so the first call comes one interval from now
    g_adlibs.push_back(std::move(n));
    return 0;
}

int bi_ADLIBUNREGISTER(Engine&, Args& a, Variant& r) {
    if (g_adlibs.empty()) {
        r.setInt32(0);
        return 0;
    }
    if (a.given(0)) {
        SString name = upper(a.str(0));
        if (Adlib* x = findAdlib(name.view())) x->removed = true;
    } else {
        g_adlibs.back().removed = true;
    }
    int32_t left = 0;
    for (const Adlib& x : g_adlibs)
        if (!x.removed) ++left;
    r.setInt32(left);
    return 0;
}

int bi_ONTARVEXEXITREGISTER(Engine& e, Args& a, Variant& r) {
    SString name = upper(a.str(0));
    if (e.findUserFunction(name.view()) < 0) {
        r.setInt32(0);
        return 0;
    }
    if (std::find(g_exitFunctions.begin(), g_exitFunctions.end(), name) != g_exitFunctions.end()) {
        e.setExtended(1);
        return 0;
    }
    g_exitFunctions.push_back(std::move(name));
    return 0;
}

int bi_ONTARVEXEXITUNREGISTER(Engine& e, Args& a, Variant& r) {
    SString name = upper(a.str(0));
    auto found = std::find(g_exitFunctions.begin(), g_exitFunctions.end(), name);
    if (e.findUserFunction(name.view()) < 0 || found == g_exitFunctions.end()) {
        r.setInt32(0);
        return 0;
    }
    g_exitFunctions.erase(found);
    return 0;
}

}  // namespace tx
