// The control search: after the window search of winspec.cpp has found the window, the control argument
// (a handle, a control id, a description, or nothing for the focused control) is resolved among the
// window's descendants in the system's child-enumeration order. A description is a ClassNN ("Edit2"), or
// a bracketed list of properties that must all fit; a ClassNN that names no control is tried once more as
// the exact text of a control, so "OK" finds the button captioned OK.
//
// Also here: the input attachment and the remote memory blocks the control built-ins share.
#include "automation/control_search.h"

#include <algorithm>
#include <memory>
#include <string>

#include "automation/winspec.h"
#include "lib/regex.h"

namespace tx {

namespace {

const char16_t* U(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }

constexpr int kTextBuffer = 1024;   // class names read for REGEXPCLASS and ClassNN, and texts compared
constexpr int kClassBuffer = 256;   // class names compared by CLASS
constexpr int kMaxRemoteBlocks = 16;
constexpr UINT kNameTimeoutMs = 5000;

enum : uint32_t {
    kClass = 1u << 0,
    kClassNN = 1u << 1,
    kRegexpClass = 1u << 2,
    kId = 1u << 3,
    kName = 1u << 4,
    kX = 1u << 5,
    kY = 1u << 6,
    kW = 1u << 7,
    kH = 1u << 8,
    kInstance = 1u << 9,
    kText = 1u << 10,
};

struct ControlSearch {
    uint32_t criteria = 0;
    std::u16string cls, classNN, name, text;
    std::unique_ptr<Regex> classRe;
    int id = 0, x = 0, y = 0, w = 0, h = 0;
    int instanceWanted = 1, instanceCounter = 0;
    size_t nnDigits = 0;
    HWND found = nullptr;
};

HWND g_lastControl = nullptr;
int g_remoteBlocks = 0;

size_t trailingDigits(u16view s) {
    size_t n = 0;
    while (n < s.size() && s[s.size() - 1 - n] >= u'0' && s[s.size() - 1 - n] <= u'9') ++n;
    return n;
}

u16view classOf(HWND h, wchar_t* buf, int size) {
    int n = GetClassNameW(h, buf, size);
    n = std::max(n, 0);
    buf[n] = 0;
    return u16view(U(buf), static_cast<size_t>(n));
}

// Asks a control for its name with the registered name message, through a buffer in its own process.
bool controlNameIs(HWND child, u16view want) {
    static const UINT msg = RegisterWindowMessageW(L"WM_GETCONTROLNAME");
    if (!msg || RemoteMemory::inUse() >= kMaxRemoteBlocks) return false;
    constexpr size_t kBytes = 514;
    RemoteMemory mem(child, kBytes);
    if (!mem.ok()) return false;
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(child, msg, 257, static_cast<LPARAM>(mem.address()), SMTO_ABORTIFHUNG,
                             kNameTimeoutMs, &answer) ||
        answer == 0)
        return false;
    char16_t buf[kBytes / 2] = {};
    if (!mem.read(0, buf, kBytes)) return false;
    buf[256] = 0;
    return u16view(buf) == want;
}

bool regexFinds(Regex& re, u16view subject) {
    re.setSubject(subject);
    return re.step(false) > 0;
}

bool controlMatches(ControlSearch& s, HWND child) {
    const uint32_t c = s.criteria;
    wchar_t buf[kTextBuffer];
    if (c & kClassNN) {
        // A candidate is a class whose name, followed by some number, could spell the ClassNN text.
        const u16view cls = classOf(child, buf, kTextBuffer);
        const u16view nn(s.classNN);
        const size_t digits = trailingDigits(cls);
        if (cls.size() >= nn.size() || digits >= s.nnDigits || cls.size() != nn.size() - s.nnDigits + digits ||
            nn.substr(0, cls.size()) != cls)
            return false;
        ++s.instanceCounter;
        std::u16string want(cls);
        for (char c16 : std::to_string(s.instanceCounter)) want += static_cast<char16_t>(c16);
        return want == nn;
    }
    if ((c & kName) && !controlNameIs(child, s.name)) return false;
    if ((c & kRegexpClass) && !regexFinds(*s.classRe, classOf(child, buf, kTextBuffer))) return false;
    if (c & kId) return GetDlgCtrlID(child) == s.id;
    if (c & (kX | kY | kW | kH)) {
        RECT r{};
        GetWindowRect(child, &r);
        POINT p{r.left, r.top};
        if (HWND parent = GetAncestor(child, GA_PARENT)) ScreenToClient(parent, &p);
        if ((c & kX) && p.x != s.x) return false;
        if ((c & kY) && p.y != s.y) return false;
        if ((c & kW) && r.right - r.left != s.w) return false;
        if ((c & kH) && r.bottom - r.top != s.h) return false;
    }
    if ((c & kClass) && classOf(child, buf, kClassBuffer) != u16view(s.cls)) return false;
    if (c & kText) {
        int n = GetWindowTextW(child, buf, kTextBuffer);
        buf[std::max(n, 0)] = 0;
        if (u16view(U(buf)) != u16view(s.text)) return false;
    }
    if ((c & kInstance) && ++s.instanceCounter != s.instanceWanted) return false;
    return true;
}

BOOL CALLBACK testControl(HWND child, LPARAM lp) {
    auto& s = *reinterpret_cast<ControlSearch*>(lp);
    if (!controlMatches(s, child)) return TRUE;
    s.found = child;
    return FALSE;
}

HWND enumerate(HWND window, ControlSearch& s) {
    s.instanceCounter = 0;
    s.found = nullptr;
    EnumChildWindows(window, testControl, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// Reads a bracketed description into the criteria; false for an unknown property or a bad pattern.
bool parseDescription(ControlSearch& s, u16view body) {
    size_t pos = 0;
    std::u16string name, value;
    while (nextProperty(body, pos, name, value)) {
        if (name == u"CLASS") {
            s.criteria |= kClass;
            s.cls = value;
        } else if (name == u"CLASSNN") {
            s.criteria |= kClassNN;
            s.classNN = value;
        } else if (name == u"REGEXPCLASS") {
            s.classRe = std::make_unique<Regex>(u16view(value));
            if (!s.classRe->ok()) return false;
            s.criteria |= kRegexpClass;
        } else if (name == u"ID") {
            s.criteria |= kId;
            s.id = parseDecimalInt32(value);
        } else if (name == u"NAME") {
            s.criteria |= kName;
            s.name = value;
        } else if (name == u"TEXT") {
            s.criteria |= kText;
            s.text = value;
        } else if (name == u"INSTANCE") {
            s.criteria |= kInstance;
            s.instanceWanted = parseDecimalInt32(value);
        } else if (name == u"X" || name == u"Y" || name == u"W" || name == u"H") {
            const int v = parseDecimalInt32(value);
            switch (name[0]) {
                case u'X': s.x = v; s.criteria |= kX; break;
                case u'Y': s.y = v; s.criteria |= kY; break;
                case u'W': s.w = v; s.criteria |= kW; break;
                default: s.h = v; s.criteria |= kH; break;
            }
        } else {
            return false;
        }
    }
    return true;
}

HWND byDescription(HWND window, u16view spec) {
    ControlSearch s;
    if (spec.size() >= 2 && spec.front() == u'[' && spec.back() == u']' &&
        !parseDescription(s, spec.substr(1, spec.size() - 2)))
        return nullptr;
    if (s.criteria == 0) {
        s.criteria = kClassNN;
        s.classNN = spec;
    }
    if (s.criteria & kClassNN) s.nnDigits = trailingDigits(s.classNN);
    if (HWND h = enumerate(window, s)) return h;
    if (s.criteria != kClassNN) return nullptr;
    // No control has that ClassNN: it may be a control's text, a button caption for instance.
    s.criteria = kText;
    s.text = spec;
    return enumerate(window, s);
}

struct IdSearch {
    int id;
    HWND found;
};

BOOL CALLBACK testId(HWND child, LPARAM lp) {
    auto& s = *reinterpret_cast<IdSearch*>(lp);
    if (GetDlgCtrlID(child) != s.id) return TRUE;
    s.found = child;
    return FALSE;
}

// The control of the window that has the keyboard focus (asked of the window's input queue), or the
// window itself when none of its descendants has it.
HWND focusedOrWindow(HWND window) {
    HWND focus;
    {
        AttachedInput attached(window);
        focus = GetFocus();
    }
    return focus && IsChild(window, focus) ? focus : window;
}

struct NNCount {
    HWND target;
    const wchar_t* cls;
    int count;
    bool found;
};

BOOL CALLBACK countClass(HWND child, LPARAM lp) {
    auto& c = *reinterpret_cast<NNCount*>(lp);
    wchar_t buf[kTextBuffer];
    if (classOf(child, buf, kTextBuffer) == u16view(U(c.cls))) ++c.count;
    if (child != c.target) return TRUE;
    c.found = true;
    return FALSE;
}

}  // namespace

HWND findControl(const Variant& title, const SString& text, const Variant& control) {
    setWindowSpec(title, text);
    if (searchWindows(true) <= 0) return nullptr;
    HWND window = foundWindows().front();
    HWND h = nullptr;
    if (control.is(Kind::Ptr)) {
        h = reinterpret_cast<HWND>(control.rawPtr());
    } else if (control.isNumber()) {
        const int id = control.toInt32();
        if (id == 0) {
            h = focusedOrWindow(window);
        } else {
            IdSearch s{id, nullptr};
            EnumChildWindows(window, testId, reinterpret_cast<LPARAM>(&s));
            h = s.found;
        }
    } else if (control.isString()) {
        const u16view spec = control.toString().view();
        h = spec.empty() ? focusedOrWindow(window) : byDescription(window, spec);
    }
    if (h) g_lastControl = h;
    return h;
}

HWND findControl(const Args& a, HWND* window) {
    HWND h = findControl(a[0], a.given(1) ? a.str(1) : SString(), a[2]);
    if (window) *window = h && !foundWindows().empty() ? foundWindows().front() : nullptr;
    return h;
}

HWND lastControl() { return g_lastControl; }

SString classNNOf(HWND window, HWND control) {
    wchar_t cls[kTextBuffer];
    classOf(control, cls, kTextBuffer);
    NNCount c{control, cls, 0, false};
    EnumChildWindows(window, countClass, reinterpret_cast<LPARAM>(&c));
    if (!c.found) return SString();
    std::u16string nn(U(cls));
    for (char d : std::to_string(c.count)) nn += static_cast<char16_t>(d);
    return SString(u16view(nn));
}

// ---- input attachment ------------------------------------------------------------------------------------

AttachedInput::AttachedInput(HWND h) {
    me_ = GetCurrentThreadId();
    other_ = h ? GetWindowThreadProcessId(h, nullptr) : 0;
    if (other_ && other_ != me_) attached_ = AttachThreadInput(me_, other_, TRUE) != FALSE;
}

AttachedInput::~AttachedInput() {
    if (attached_) AttachThreadInput(me_, other_, FALSE);
}

// ---- remote memory ---------------------------------------------------------------------------------------

namespace {

bool processIs64(HANDLE process) {
#ifdef _WIN64
    BOOL wow = FALSE;
    return !(IsWow64Process(process, &wow) && wow);
#else
    // A 32-bit runtime on a 64-bit system sees native processes as the wide ones.
    BOOL selfWow = FALSE, wow = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &selfWow) || !selfWow) return false;
    return IsWow64Process(process, &wow) && !wow;
#endif
}

}  // namespace

RemoteMemory::RemoteMemory(HWND owner, size_t size) : size_(size) {
    DWORD pid = 0;
    if (!owner || !GetWindowThreadProcessId(owner, &pid) || !pid || size == 0) return;
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                           FALSE, pid);
    if (!process_) return;
    target64_ = processIs64(process_);
    address_ = VirtualAllocEx(process_, nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (address_) ++g_remoteBlocks;
}

RemoteMemory::~RemoteMemory() {
    if (address_) {
        VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        --g_remoteBlocks;
    }
    if (process_) CloseHandle(process_);
}

bool RemoteMemory::write(size_t offset, const void* data, size_t n) {
    if (!address_ || offset > size_ || n > size_ - offset) return false;
    SIZE_T done = 0;
    return WriteProcessMemory(process_, static_cast<char*>(address_) + offset, data, n, &done) && done == n;
}

bool RemoteMemory::read(size_t offset, void* data, size_t n) const {
    if (!address_ || offset > size_ || n > size_ - offset) return false;
    SIZE_T done = 0;
    return ReadProcessMemory(process_, static_cast<const char*>(address_) + offset, data, n, &done) && done == n;
}

int RemoteMemory::inUse() { return g_remoteBlocks; }

}  // namespace tx
