// CLIPGET and CLIPPUT: text on the system clipboard, opened with the runtime's hidden main window as owner.
//
// CLIPGET takes Unicode text, else ANSI text, else a list of dropped files (one path a line, @extended 1).
// Clipboard data comes from other programs, so a text is read only as far as its memory block reaches,
// whether or not it ends with a 0.
//
// @error of CLIPGET: 1 an empty clipboard (or one that could not be opened), 2 no text on it, 3 no data
// behind the format, 4 the data could not be locked. Of CLIPPUT: 1 the text could not be set (or the
// clipboard could not be opened), 3 no memory, 4 the memory could not be locked.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <string>

#include "core/engine.h"
#include "core/platform.h"
#include "gui/dialogs.h"
#include "host/startup.h"

namespace tx {

namespace {

// Holds the clipboard open for one built-in. Another program may hold it for a moment: a few retries.
class OpenClipboardScope {
public:
    OpenClipboardScope() {
        for (int tries = 0; tries < 10; ++tries) {
            if (OpenClipboard(mainWindow())) {
                open_ = true;
                return;
            }
            Sleep(10);
        }
    }
    OpenClipboardScope(const OpenClipboardScope&) = delete;
    OpenClipboardScope& operator=(const OpenClipboardScope&) = delete;
    ~OpenClipboardScope() {
        if (open_) CloseClipboard();
    }
    bool ok() const { return open_; }

private:
    bool open_ = false;
};

// A lock on a global memory block, released on every path.
class GlobalLockScope {
public:
    explicit GlobalLockScope(HGLOBAL h) : h_(h), p_(h ? GlobalLock(h) : nullptr) {}
    GlobalLockScope(const GlobalLockScope&) = delete;
    GlobalLockScope& operator=(const GlobalLockScope&) = delete;
    ~GlobalLockScope() {
        if (p_) GlobalUnlock(h_);
    }
    void* get() const { return p_; }
    size_t size() const { return GlobalSize(h_); }

private:
    HGLOBAL h_;
    void* p_;
};

// A movable block this code allocated, freed unless handed over to the clipboard.
class GlobalBlock {
public:
    explicit GlobalBlock(size_t bytes) : h_(GlobalAlloc(GMEM_MOVEABLE, bytes)) {}
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    ~GlobalBlock() {
        if (h_) GlobalFree(h_);
    }
    HGLOBAL get() const { return h_; }
    void release() { h_ = nullptr; }

private:
    HGLOBAL h_;
};

// Reads one text format into out: 0, or the @error (3 no data, 4 not lockable).
int readText(UINT format, SString& out) {
    HANDLE data = GetClipboardData(format);
    if (!data) return 3;
    GlobalLockScope lock(data);
    if (!lock.get()) return 4;
    if (format == CF_UNICODETEXT) {
        const auto* s = static_cast<const char16_t*>(lock.get());
        const size_t cap = lock.size() / sizeof(char16_t);
        size_t n = 0;
        while (n < cap && s[n]) ++n;
        out = SString(s, n);
    } else {
        const auto* s = static_cast<const char*>(lock.get());
        const size_t cap = lock.size();
        size_t n = 0;
        while (n < cap && s[n]) ++n;
        out = platform::fromAnsi(s, n);
    }
    return 0;
}

// Reads the file list of a drop into out, one path a line: 0, or the @error.
int readDropList(SString& out) {
    HANDLE data = GetClipboardData(CF_HDROP);
    if (!data) return 3;
    GlobalLockScope lock(data);
    if (!lock.get()) return 4;
    HDROP drop = static_cast<HDROP>(data);
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::u16string list;
    std::wstring path;
    for (UINT i = 0; i < count; ++i) {
        const UINT len = DragQueryFileW(drop, i, nullptr, 0);
        path.assign(len + 1, L'\0');
        const UINT got = DragQueryFileW(drop, i, path.data(), len + 1);
        if (i) list.push_back(u'\n');
        list.append(reinterpret_cast<const char16_t*>(path.data()), got);
    }
    out = SString(list.data(), list.size());
    return 0;
}

}  // namespace

int bi_CLIPGET(Engine& e, Args&, Variant& r) {
    r.setString(SString());
    OpenClipboardScope clip;
    if (!clip.ok()) {
        e.setError(1);
        return 0;
    }
    SString text;
    int error;
    if (IsClipboardFormatAvailable(CF_UNICODETEXT)) {
        error = readText(CF_UNICODETEXT, text);
    } else if (IsClipboardFormatAvailable(CF_TEXT)) {
        error = readText(CF_TEXT, text);
    } else if (IsClipboardFormatAvailable(CF_HDROP)) {
        error = readDropList(text);
        if (!error) e.setExtended(1);
    } else {
        error = CountClipboardFormats() == 0 ? 1 : 2;
    }
    if (error) e.setError(error);
    else r.setString(std::move(text));
    return 0;
}

int bi_CLIPPUT(Engine& e, Args& a, Variant& r) {
    const SString& text = a.str(0);
    if (text.empty()) {
        OpenClipboardScope clip;
        if (!clip.ok()) {
            e.setError(1);
            r.setInt32(0);
            return 0;
        }
        EmptyClipboard();
        return 0;
    }
    const size_t bytes = (text.size() + 1) * sizeof(char16_t);
    GlobalBlock block(bytes);
    if (!block.get()) {
        e.setError(3);
        r.setInt32(0);
        return 0;
    }
    {
        GlobalLockScope lock(block.get());
        if (!lock.get()) {
            e.setError(4);
            r.setInt32(0);
            return 0;
        }
        std::memcpy(lock.get(), text.c_str(), bytes);  // with the terminating 0
    }
    OpenClipboardScope clip;
    if (!clip.ok()) {
        e.setError(1);
        r.setInt32(0);
        return 0;
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_UNICODETEXT, block.get())) {
        e.setError(1);
        r.setInt32(0);
        return 0;
    }
    block.release();  // the clipboard owns it now
    return 0;
}

}  // namespace tx
