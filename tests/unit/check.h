// A tiny test framework for the native unit tests: TEST(name) registers a case; CHECK and CHECK_EQ
// record failures with file:line and the compared values; main() runs every case and prints a summary.
#pragma once

#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace check {

struct Case {
    const char* name;
    void (*fn)();
};
inline std::vector<Case>& cases() {
    static std::vector<Case> c;
    return c;
}
inline int& failures() {
    static int f = 0;
    return f;
}
struct Registrar {
    Registrar(const char* n, void (*f)()) { cases().push_back({n, f}); }
};
template <class T>
std::string show(const T& v) {
    std::ostringstream o;
    if constexpr (std::is_same_v<T, std::string>) o << '"' << v << '"';
    else o << v;
    return o.str();
}
inline void fail(const char* file, int line, const std::string& what) {
    ++failures();
    std::printf("  %s:%d: %s\n", file, line, what.c_str());
}

}  // namespace check

#define TEST(name)                                                   \
    static void test_##name();                                       \
    static check::Registrar reg_##name(#name, &test_##name);         \
    static void test_##name()

#define CHECK(cond) \
    do { if (!(cond)) check::fail(__FILE__, __LINE__, "CHECK(" #cond ")"); } while (0)

#define CHECK_EQ(a, b)                                                                          \
    do {                                                                                        \
        auto&& va_ = (a);                                                                       \
        auto&& vb_ = (b);                                                                       \
        if (!(va_ == vb_))                                                                      \
            check::fail(__FILE__, __LINE__,                                                     \
                        "CHECK_EQ(" #a ", " #b "): " + check::show(va_) + " != " + check::show(vb_)); \
    } while (0)
