// The type tests and conversions that ask the system: window handles (ISHWND, HWND) and the
// high-resolution timers (TIMERINIT, TIMERDIFF).
#include <windows.h>

#include "core/engine.h"
#include "core/typetests.h"

namespace tx {

namespace {

bool isWindowHandle(uintptr_t h) { return h != 0 && IsWindow(reinterpret_cast<HWND>(h)); }

bool readCounter(double& ticks) {
    LARGE_INTEGER now;
    if (!QueryPerformanceCounter(&now)) return false;
    ticks = static_cast<double>(now.QuadPart);
    return true;
}

}  // namespace

double performanceTicksPerMs() {
    static const double perMs = [] {
        LARGE_INTEGER f;
        return QueryPerformanceFrequency(&f) ? static_cast<double>(f.QuadPart) / 1000.0 : 0.0;
    }();
    return perMs;
}

// Only a Ptr can be a window handle here: an Int32 holding the same number is not one.
int bi_ISHWND(Engine&, Args& a, Variant& r) {
    r.setInt32(a[0].is(Kind::Ptr) && isWindowHandle(a[0].rawPtr()) ? 1 : 0);
    return 0;
}

// Any kind that converts to a live window handle becomes a Ptr.
int bi_HWND(Engine& e, Args& a, Variant& r) {
    const uintptr_t h = a[0].toPtr();
    if (isWindowHandle(h)) {
        r.setPtr(h);
        return 0;
    }
    e.setError(1);
    r.setPtr(0);
    return 0;
}

int bi_TIMERINIT(Engine& e, Args&, Variant& r) {
    double ticks;
    if (!readCounter(ticks)) {
        e.setError(1);
        r.setDouble(0.0);
        return 0;
    }
    r.setDouble(ticks);
    return 0;
}

// Milliseconds since the stamp, with their fraction. Any value is accepted as a stamp.
int bi_TIMERDIFF(Engine& e, Args& a, Variant& r) {
    double now;
    const double perMs = performanceTicksPerMs();
    if (perMs <= 0.0 || !readCounter(now)) {
        e.setError(1);
        r.setDouble(0.0);
        return 0;
    }
    r.setDouble((now - a[0].toDouble()) / perMs);
    return 0;
}

}  // namespace tx
