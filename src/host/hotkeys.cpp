// Hot keys: HOTKEYSET, the table of registered keys, and the queue the main window fills from WM_HOTKEY.
//
// A hot key is registered with the system for the hidden main window; its id is its slot in the table
// (free slots are reused first). The window procedure only queues the ids it receives; the run loop takes
// them one at a time between two lines and calls the key's function, with @HOTKEYPRESSED giving the key
// string while it runs.
#include <windows.h>

#include <deque>
#include <vector>

#include "automation/keys.h"
#include "core/engine.h"
#include "core/platform.h"
#include "env/macro_feeds.h"
#include "host/runloop.h"
#include "host/startup.h"

namespace tx {

namespace {

struct Slot {
    bool used = false;
    uint32_t code = 0;  // virtual key << 16 | modifier flags
    SString function;   // upper case
    SString keyString;
};

std::vector<Slot> g_slots;
std::deque<int> g_queue;
SString g_pressed;  // @HOTKEYPRESSED

SString pressedKey() { return g_pressed; }

// @HOTKEYPRESSED reads the key being served.
const bool g_feedInstalled = [] {
    macroFeeds().hotKeyPressed = pressedKey;
    return true;
}();

SString upper(const SString& s) {
    SString u = s;
    if (!u.empty()) platform::upperCase(u.mutableData(), u.size());
    return u;
}

}  // namespace

namespace loop {

void queueHotKey(int id) { g_queue.push_back(id); }

bool hotKeyQueued() { return !g_queue.empty(); }

bool serveHotKey() {
    int id = g_queue.front();
    g_queue.pop_front();
    if (id < 0 || static_cast<size_t>(id) >= g_slots.size() || !g_slots[static_cast<size_t>(id)].used) return false;
    // Copies: the function may change its own hot key while it runs.
    SString fn = g_slots[static_cast<size_t>(id)].function;
    SString saved = std::move(g_pressed);
    g_pressed = g_slots[static_cast<size_t>(id)].keyString;
    callEventFunction(fn.view());
    g_pressed = std::move(saved);
    return true;
}

void unregisterHotKeys(HWND main) {
    for (size_t i = 0; i < g_slots.size(); ++i)
        if (g_slots[i].used) UnregisterHotKey(main, static_cast<int>(i));
    g_slots.clear();
    g_queue.clear();
}

}  // namespace loop

int bi_HOTKEYSET(Engine& e, Args& a, Variant& r) {
    const bool named = a.given(1);
    SString fn;
    if (named) {
        fn = upper(a.str(1));
        if (e.findUserFunction(fn.view()) < 0) {
            e.setError(1);
            r.setInt32(0);
            return 0;
        }
    }
    const SString& keyString = a.str(0);
    HotKey hk = parseHotKey(keyString.view());
    if (hk.status != HotKey::Ok) {
        if (hk.status == HotKey::UnknownChar) e.setError(1);
        r.setInt32(0);
        return 0;
    }
    if (hk.vk == VK_PAUSE && (hk.mods & kHotCtrl)) hk.vk = VK_CANCEL;  // Ctrl+Pause arrives as Break
    const uint32_t code = static_cast<uint32_t>(hk.vk) << 16 | hk.mods;

    for (size_t i = 0; i < g_slots.size(); ++i) {
        Slot& s = g_slots[i];
        if (!s.used || s.code != code) continue;
        if (named) {
            s.function = fn;
        } else {
            UnregisterHotKey(mainWindow(), static_cast<int>(i));
            s = Slot();
        }
        return 0;  // result 1
    }
    if (!named) {
        r.setInt32(0);
        return 0;
    }

    size_t id = 0;
    while (id < g_slots.size() && g_slots[id].used) ++id;
    if (id == g_slots.size()) g_slots.emplace_back();
    Slot& s = g_slots[id];
    s.used = true;
    s.code = code;
    s.function = fn;
    s.keyString = keyString;
    if (!RegisterHotKey(mainWindow(), static_cast<int>(id), hk.mods, hk.vk)) {
        e.setExtended(static_cast<int32_t>(GetLastError()));
        s = Slot();
        r.setInt32(0);
    }
    return 0;
}

}  // namespace tx
