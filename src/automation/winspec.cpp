// The window search: parses a window description (plain title, handle, or bracketed property list),
// walks the windows in the system's enumeration order (top of the z-order first) and collects the ones
// whose class, title, child text, rectangle and instance number fit. See winspec.h for the language.
#include "automation/winspec.h"

#include <algorithm>
#include <memory>
#include <string>

#include "core/engine.h"
#include "core/platform.h"
#include "env/options.h"
#include "lib/regex.h"

namespace tx {

namespace {

const char16_t* U(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }

constexpr UINT kHungTimeoutMs = 5000;
constexpr int kNameBuffer = 1024;  // class names and titles compared by the search
constexpr int kMaxText = 32767;
constexpr int kMaxWindowText = 64 * 1024 * 1024;  // characters

// Criteria flags.
enum : uint32_t {
    kTitle = 1u << 0,
    kRegexpTitle = 1u << 1,
    kText = 1u << 2,
    kClass = 1u << 3,
    kRegexpClass = 1u << 4,
    kInstance = 1u << 5,
    kAll = 1u << 6,
    kX = 1u << 7,
    kY = 1u << 8,
    kW = 1u << 9,
    kH = 1u << 10,
};

struct SearchState {
    HWND lastFound = nullptr;
    Variant title;  // as passed
    SString text;

    // Rebuilt by each search.
    uint32_t criteria = 0;
    bool caseSensitive = true;
    int mode = 1;
    std::u16string titleToMatch, textToMatch, classToMatch;
    std::unique_ptr<Regex> titleRe, classRe;
    int instanceWanted = 1, instanceCounter = 0;
    int x = 0, y = 0, w = 0, h = 0;
    bool stopAtFirst = false;
    bool detectHiddenText = false;
    std::vector<HWND> found;

    // Scratch buffers reused by every window test.
    wchar_t nameBuf[kNameBuffer];
    std::u16string textBuf;
    std::u16string titleUpper;
};

SearchState& state() {
    static SearchState s;
    return s;
}

bool fail(int& rc, int code) {
    rc = code;
    return false;
}

void upper(std::u16string& s) {
    if (!s.empty()) platform::upperCase(s.data(), s.size());
}

bool equalsNoCase(u16view a, u16view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
        if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
        if (x != y) return false;
    }
    return true;
}

bool startsWithNoCase(u16view s, u16view prefix) {
    return s.size() >= prefix.size() && equalsNoCase(s.substr(0, prefix.size()), prefix);
}

// Old-style titles (WinTitleMatchMode 4) written as property lists; ";" in the rest is doubled so that it
// survives the property parser.
std::u16string rewriteOldStyle(u16view t) {
    auto wrap = [](const char16_t* open, u16view rest) {
        std::u16string out(open);
        for (char16_t c : rest) {
            out += c;
            if (c == u';') out += u';';
        }
        out += u']';
        return out;
    };
    if (t.empty() || equalsNoCase(t, u"LAST")) return u"[LAST]";
    if (equalsNoCase(t, u"ACTIVE")) return u"[ACTIVE]";
    if (equalsNoCase(t, u"ALL")) return u"[ALL]";
    if (startsWithNoCase(t, u"HANDLE=")) return wrap(u"[HANDLE:", t.substr(7));
    if (startsWithNoCase(t, u"REGEXP=")) return wrap(u"[REGEXPTITLE:", t.substr(7));
    if (startsWithNoCase(t, u"CLASSNAME=")) return wrap(u"[CLASS:", t.substr(10));
    return std::u16string(t);
}

// A hexadecimal handle: at most a pointer's digits read from the right; what is left may only be "0x"/"0X".
// Anything else gives 0, which names no window.
uintptr_t parseHandle(u16view v) {
    size_t end = v.size(), digits = 0;
    uintptr_t value = 0;
    // As many digits as a pointer has, so a handle's own string form ("0x" and 16 digits on x86_64) names
    // its window.
    constexpr size_t kMaxDigits = 2 * sizeof(uintptr_t);
    while (end > 0 && digits < kMaxDigits) {
        char16_t c = v[end - 1];
        unsigned d;
        if (c >= u'0' && c <= u'9') d = c - u'0';
        else if (c >= u'a' && c <= u'f') d = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F') d = c - u'A' + 10;
        else break;
        value |= static_cast<uintptr_t>(d) << (4 * digits);
        ++digits;
        --end;
    }
    if (digits == 0) return 0;
    if (end == 0) return value;
    if (end == 2 && v[0] == u'0' && (v[1] == u'x' || v[1] == u'X')) return value;
    return 0;
}

bool sole(SearchState& s, HWND h) {
    s.found.assign(1, h);
    s.lastFound = h;
    return true;
}

}  // namespace

bool nextProperty(u16view body, size_t& pos, std::u16string& name, std::u16string& value) {
    const size_t n = body.size();
    size_t start = pos;
    while (pos < n && body[pos] != u':' && body[pos] != u';' && body[pos] != u']') ++pos;
    if (pos == start) return false;
    name.assign(body.substr(start, pos - start));
    upper(name);
    value.clear();
    if (pos < n && body[pos] == u':') {
        ++pos;
        while (pos < n) {
            if (body[pos] == u';') {
                if (pos + 1 < n && body[pos + 1] == u';') {
                    value += u';';
                    pos += 2;
                    continue;
                }
                ++pos;
                break;
            }
            value += body[pos++];
        }
    } else if (pos < n && body[pos] == u';') {
        ++pos;
    }
    while (pos < n && (body[pos] == u' ' || body[pos] == u'\t')) ++pos;
    return true;
}

namespace {

// Parses the properties between "[" and "]". Returns true when the search is decided already (rc holds
// its result), false to go on with the criteria it added.
bool parseProperties(SearchState& s, u16view body, bool& titleGiven, int& rc) {
    size_t pos = 0;
    std::u16string name, value;
    while (nextProperty(body, pos, name, value)) {
        if (name == u"LAST") {
            if (!value.empty()) return !fail(rc, kSpecBadProperty);
            if (!s.lastFound) return !fail(rc, 0);
            sole(s, s.lastFound);
            rc = 1;
            return true;
        }
        if (name == u"ACTIVE") {
            if (!value.empty()) return !fail(rc, kSpecBadProperty);
            HWND fg = GetForegroundWindow();
            rc = fg ? 1 : 0;
            if (fg) sole(s, fg);
            return true;
        }
        if (name == u"HANDLE") {
            HWND h = reinterpret_cast<HWND>(parseHandle(value));
            rc = h && IsWindow(h) ? 1 : 0;
            if (rc) sole(s, h);
            return true;
        }
        if (name == u"REGEXPTITLE" || name == u"REGEXPCLASS") {
            const bool forTitle = name == u"REGEXPTITLE";
            if (forTitle && (s.criteria & kTitle)) return !fail(rc, kSpecRegexpAfterTitle);
            auto re = std::make_unique<Regex>(u16view(value));
            if (!re->ok()) return !fail(rc, kSpecBadPattern);
            (forTitle ? s.titleRe : s.classRe) = std::move(re);
            s.criteria |= forTitle ? kRegexpTitle : kRegexpClass;
        } else if (name == u"CLASS") {
            s.criteria |= kClass;
            s.classToMatch = value;
        } else if (name == u"X" || name == u"Y" || name == u"W" || name == u"H") {
            const int v = parseDecimalInt32(value);
            switch (name[0]) {
                case u'X': s.x = v; s.criteria |= kX; break;
                case u'Y': s.y = v; s.criteria |= kY; break;
                case u'W': s.w = v; s.criteria |= kW; break;
                default: s.h = v; s.criteria |= kH; break;
            }
        } else if (name == u"INSTANCE") {
            s.criteria |= kInstance;
            s.instanceWanted = parseDecimalInt32(value);
        } else if (name == u"ALL") {
            if (!value.empty()) return !fail(rc, kSpecBadProperty);
            s.criteria |= kAll;
        } else if (name == u"TITLE") {
            if (s.criteria & kRegexpTitle) return !fail(rc, kSpecTitleAfterRegexp);
            s.criteria |= kTitle;
            s.titleToMatch = value;
            titleGiven = true;
        } else {
            return !fail(rc, kSpecBadProperty);
        }
    }
    return false;
}

// Reads the text of a window into buf by the window-text messages; false for a hung window or no text.
bool readWindowText(HWND h, std::u16string& buf) {
    buf.clear();
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kHungTimeoutMs, &len)) return false;
    // A window that does not tell its length gets a buffer of 32767 characters; a long text (an edit
    // holding a whole file) is read whole, up to a bound that keeps a nonsense answer from taking all memory.
    if (len == 0) len = kMaxText;
    if (len > static_cast<DWORD_PTR>(kMaxWindowText)) len = kMaxWindowText;
    buf.resize(static_cast<size_t>(len) + 1);
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, static_cast<WPARAM>(len + 1), reinterpret_cast<LPARAM>(buf.data()),
                             SMTO_ABORTIFHUNG, kHungTimeoutMs, &got) ||
        got == 0) {
        buf.clear();
        return false;
    }
    buf.resize(std::min<size_t>(static_cast<size_t>(got), static_cast<size_t>(len)));
    // A window may answer with a shorter text than it reported; the terminator marks the real end.
    buf.resize(std::u16string_view(buf.c_str()).size());
    return true;
}

struct TextSearch {
    SearchState* s;
    bool found;
};

BOOL CALLBACK childHasText(HWND child, LPARAM lp) {
    auto* ts = reinterpret_cast<TextSearch*>(lp);
    SearchState& s = *ts->s;
    if (!s.detectHiddenText && !IsWindowVisible(child)) return TRUE;
    if (!readWindowText(child, s.textBuf)) return TRUE;
    if (!s.caseSensitive) upper(s.textBuf);
    if (s.textBuf.find(s.textToMatch) != std::u16string::npos) {
        ts->found = true;
        return FALSE;
    }
    return TRUE;
}

bool titleMatches(SearchState& s, HWND h, bool& titleRead) {
    if (!titleRead) {
        int n = GetWindowTextW(h, s.nameBuf, kNameBuffer);
        s.nameBuf[std::max(n, 0)] = 0;
        titleRead = true;
    }
    u16view title(U(s.nameBuf));
    if (s.criteria & kTitle) {
        if (!s.caseSensitive) {
            s.titleUpper.assign(title);
            upper(s.titleUpper);
            title = s.titleUpper;
        }
        const u16view want(s.titleToMatch);
        switch (s.mode) {
            case 1: if (title.substr(0, want.size()) != want) return false; break;
            case 2: if (title.find(want) == u16view::npos) return false; break;
            default: if (title != want) return false; break;
        }
    }
    return true;
}

bool regexFinds(Regex& re, u16view subject) {
    re.setSubject(subject);
    return re.step(false) > 0;
}

bool windowMatches(SearchState& s, HWND h) {
    const uint32_t c = s.criteria;
    wchar_t className[kNameBuffer];
    className[0] = 0;
    const bool needClass = c & (kClass | kRegexpClass | kTitle | kRegexpTitle);
    if (needClass) {
        int n = GetClassNameW(h, className, kNameBuffer);
        className[std::max(n, 0)] = 0;
    }
    if ((c & kClass) && s.classToMatch != u16view(U(className))) return false;
    if (c & (kTitle | kRegexpTitle)) {
        bool titleRead = false;
        if (!titleMatches(s, h, titleRead)) return false;
        if ((c & kRegexpTitle) && !regexFinds(*s.titleRe, u16view(U(s.nameBuf)))) return false;
        // Live taskbar thumbnails copy the titles of the windows they show: they are never the target.
        if (!(c & (kClass | kRegexpClass)) && wcscmp(className, L"ThumbnailClass") == 0) return false;
    }
    if ((c & kRegexpClass) && !regexFinds(*s.classRe, u16view(U(className)))) return false;
    if (!s.textToMatch.empty()) {
        if (windowIsHung(h)) return false;
        TextSearch ts{&s, false};
        EnumChildWindows(h, childHasText, reinterpret_cast<LPARAM>(&ts));
        if (!ts.found) return false;
    }
    if (c & (kX | kY | kW | kH)) {
        RECT r{};
        GetWindowRect(h, &r);
        if ((c & kX) && r.left != s.x) return false;
        if ((c & kY) && r.top != s.y) return false;
        if ((c & kW) && r.right - r.left != s.w) return false;
        if ((c & kH) && r.bottom - r.top != s.h) return false;
    }
    if (c & kInstance) {
        if (++s.instanceCounter != s.instanceWanted) return false;
    }
    return true;
}

BOOL CALLBACK testWindow(HWND h, LPARAM lp) {
    auto& s = *reinterpret_cast<SearchState*>(lp);
    if (!windowMatches(s, h)) return TRUE;
    s.found.push_back(h);
    return s.stopAtFirst ? FALSE : TRUE;
}

}  // namespace

void setWindowSpec(const Variant& title, const SString& text) {
    SearchState& s = state();
    s.title = title;
    s.text = text;
}

void setWindowSpec(const Args& a) {
    SearchState& s = state();
    s.title = a[0];
    s.text = a.given(1) ? a.str(1) : SString();
}

int searchWindows(bool stopAtFirst) {
    SearchState& s = state();
    const Options& o = options();
    s.mode = o.winTitleMatchMode;
    s.caseSensitive = true;
    s.criteria = 0;
    s.instanceWanted = 1;
    s.instanceCounter = 0;
    s.found.clear();
    s.classToMatch.clear();
    s.titleRe.reset();
    s.classRe.reset();
    s.stopAtFirst = stopAtFirst;
    s.detectHiddenText = o.winDetectHiddenText != 0;
    const bool searchChildren = o.winSearchChildren != 0;

    if (s.title.is(Kind::Ptr)) {
        HWND h = reinterpret_cast<HWND>(s.title.rawPtr());
        if (!h || !IsWindow(h)) return 0;
        sole(s, h);
        return 1;
    }
    if (!s.title.isString()) return 0;
    std::u16string title(s.title.toString().view());
    s.textToMatch.assign(s.text.view());

    if (s.mode < 0) {
        s.mode = -s.mode;
        s.caseSensitive = false;
    }
    if (s.mode == 4) {
        title = rewriteOldStyle(title);
        s.mode = 1;
    }
    if (title.empty() && s.textToMatch.empty()) {
        HWND fg = GetForegroundWindow();
        if (!fg) return 0;
        sole(s, fg);
        return 1;
    }
    bool titleGiven = false;
    if (title.size() >= 2 && title.front() == u'[' && title.back() == u']') {
        int rc = 0;
        if (parseProperties(s, u16view(title).substr(1, title.size() - 2), titleGiven, rc)) return rc;
    }
    if (!titleGiven) s.titleToMatch = title;
    if (s.criteria == 0) s.criteria = kTitle;
    s.criteria |= kText;
    if (!s.caseSensitive) {
        upper(s.textToMatch);
        if (s.criteria & kTitle) upper(s.titleToMatch);
    }

    if (searchChildren) EnumChildWindows(GetDesktopWindow(), testWindow, reinterpret_cast<LPARAM>(&s));
    else EnumWindows(testWindow, reinterpret_cast<LPARAM>(&s));
    if (s.found.empty()) return 0;
    s.lastFound = s.found.front();
    return static_cast<int>(s.found.size());
}

int activeMatch(Engine& e) {
    int rc = searchWindows(false);
    if (rc < 0) {
        e.setError(-rc);
        return rc;
    }
    if (rc == 0) return 0;
    const auto& found = state().found;
    return std::find(found.begin(), found.end(), GetForegroundWindow()) != found.end() ? 1 : 0;
}

const std::vector<HWND>& foundWindows() { return state().found; }

HWND lastFoundWindow() { return state().lastFound; }

HWND findTargetWindow(Engine& e, const Args& a, Variant& result, const Variant& notFound, bool errorOnNone) {
    setWindowSpec(a);
    int rc = searchWindows(true);
    if (rc > 0) return state().found.front();
    result = notFound;
    if (rc < 0) e.setError(-rc);
    else if (errorOnNone) e.setError(1);
    return nullptr;
}

bool windowIsHung(HWND h) {
    DWORD_PTR r = 0;
    return !SendMessageTimeoutW(h, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kHungTimeoutMs, &r);
}

SString windowText(HWND h) {
    if (windowIsHung(h)) return SString();
    std::u16string& buf = state().textBuf;
    if (!readWindowText(h, buf)) return SString();
    return SString(u16view(buf));
}

void automationDelay(int32_t ms) {
    if (ms <= 0) {
        Sleep(0);
        return;
    }
    if (ms >= 15) {
        Sleep(static_cast<DWORD>(ms));
        return;
    }
    LARGE_INTEGER freq, start, now;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    const int64_t ticks = freq.QuadPart * ms / 1000;
    do {
        Sleep(0);
        QueryPerformanceCounter(&now);
    } while (now.QuadPart - start.QuadPart < ticks);
}

}  // namespace tx
