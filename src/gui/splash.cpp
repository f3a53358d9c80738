// Splash and progress windows: SPLASHTEXTON, SPLASHIMAGEON, SPLASHOFF, PROGRESSON, PROGRESSSET and
// PROGRESSOFF.
//
// At most one splash (a text or a picture) and one progress window exist at a time; a new call replaces
// the old window. Both are windows of the main window's class, owned by the hidden main window, shown
// without taking the focus, disabled (so the mouse passes them by) unless option 16 asks for a window the
// user can move. Each window's font and bitmap belong to its state record and go with the window.
#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>
#include <olectl.h>

#include "core/engine.h"
#include "gui/tray.h"
#include "host/file_io.h"
#include "host/startup.h"

namespace tx {

namespace {

using fio::wz;

constexpr int kOptNoCaption = 1;
constexpr int kOptNotOnTop = 2;
constexpr int kOptLeft = 4;
constexpr int kOptRight = 8;
constexpr int kOptMovable = 16;
constexpr int kOptCentreVertically = 32;

constexpr int kTextMargin = 11;

void destroyWindow(HWND& h) {
    if (h && IsWindow(h)) DestroyWindow(h);
    h = nullptr;
}

template <class H>
void deleteObject(H& h) {
    if (h) DeleteObject(h);
    h = nullptr;
}

struct SplashState {
    HWND window = nullptr;
    HWND child = nullptr;
    HFONT font = nullptr;
    HBITMAP bitmap = nullptr;
    ~SplashState() { release(); }
    // The window goes first: its control must not draw with a deleted font or bitmap.
    void release() {
        destroyWindow(window);
        child = nullptr;
        deleteObject(font);
        deleteObject(bitmap);
    }
};

struct ProgressState {
    HWND window = nullptr;
    HWND mainText = nullptr;
    HWND bar = nullptr;
    HWND subText = nullptr;
    HFONT font = nullptr;  // the main text's
    ~ProgressState() { release(); }
    void release() {
        destroyWindow(window);
        mainText = bar = subText = nullptr;
        deleteObject(font);
    }
};

SplashState& splash() {
    static SplashState s;
    return s;
}

ProgressState& progress() {
    static ProgressState p;
    return p;
}

struct Style {
    DWORD style;
    DWORD exStyle;
};

Style styleFor(int options) {
    Style s;
    s.style = (options & kOptNoCaption) ? WS_POPUP | WS_DISABLED | WS_BORDER : WS_POPUP | WS_DISABLED | WS_CAPTION;
    if (options & kOptMovable) s.style &= ~static_cast<DWORD>(WS_DISABLED);
    s.exStyle = (options & kOptNotOnTop) ? 0 : WS_EX_TOPMOST;
    return s;
}

// A window of the runtime's class whose client area has the given size, its top-left corner at (x, y).
HWND createWindow(const SString& title, int options, int x, int y, int width, int height) {
    const Style s = styleFor(options);
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, s.style, FALSE, s.exStyle);
    return CreateWindowExW(s.exStyle, L"Tarvex v3", wz(title), s.style, x, y, r.right - r.left, r.bottom - r.top,
                           mainWindow(), nullptr, instanceHandle(), nullptr);
}

SString defaultGuiFace() {
    LOGFONTW lf{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    return SString(reinterpret_cast<const char16_t*>(lf.lfFaceName));
}

HFONT makeFont(const SString& face, double points, int weight) {
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    const int height = -static_cast<int>(dpi * points / 72.0);
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                       CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH | FF_DONTCARE, wz(face));
}

// Width and height (-1 or Default: the defaults) and the position (-1 or Default: centred on the desktop).
void splashPlace(const Args& a, int& x, int& y, int& w, int& h) {
    w = a.int32Or(2, -1);
    h = a.int32Or(3, -1);
    if (w == -1) w = 500;
    if (h == -1) h = 400;
    x = a.int32Or(4, -1);
    y = a.int32Or(5, -1);
    RECT desk{};
    GetWindowRect(GetDesktopWindow(), &desk);
    if (x == -1) x = (desk.right - desk.left - w) / 2;
    if (y == -1) y = (desk.bottom - desk.top - h) / 2;
}

void show(HWND h) {
    ShowWindow(h, SW_SHOWNOACTIVATE);
    UpdateWindow(h);
}

// The whole file as an OLE picture copied into a bitmap of the given size; nullptr when the file cannot
// be read or holds no picture.
HBITMAP loadPicture(const SString& path, int width, int height) {
    HANDLE file = CreateFileW(wz(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size{};
    HGLOBAL mem = nullptr;
    bool read = false;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < 0x40000000) {
        const DWORD n = static_cast<DWORD>(size.QuadPart);
        mem = GlobalAlloc(GMEM_MOVEABLE, n);
        if (void* p = mem ? GlobalLock(mem) : nullptr) {
            DWORD got = 0;
            read = ReadFile(file, p, n, &got, nullptr) && got == n;
            GlobalUnlock(mem);
        }
    }
    CloseHandle(file);
    if (!read) {
        if (mem) GlobalFree(mem);
        return nullptr;
    }
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(mem, TRUE, &stream)) || !stream) {  // the stream frees the memory
        GlobalFree(mem);
        return nullptr;
    }
    IPicture* picture = nullptr;
    HBITMAP result = nullptr;
    if (SUCCEEDED(OleLoadPicture(stream, 0, FALSE, IID_IPicture, reinterpret_cast<void**>(&picture))) && picture) {
        OLE_HANDLE handle = 0;
        short type = 0;
        if (SUCCEEDED(picture->get_Type(&type)) && type == PICTYPE_BITMAP && SUCCEEDED(picture->get_Handle(&handle)))
            result = static_cast<HBITMAP>(CopyImage(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle)),
                                                    IMAGE_BITMAP, width, height, LR_CREATEDIBSECTION));
        picture->Release();
    }
    stream->Release();
    return result;
}

}  // namespace

int bi_SPLASHTEXTON(Engine&, Args& a, Variant& r) {
    SplashState& s = splash();
    s.release();
    int x, y, w, h;
    splashPlace(a, x, y, w, h);
    const int options = a.int32Or(6, 0);
    s.window = createWindow(a.str(0), options, x, y, w, h);
    if (!s.window) {
        r.setInt32(0);
        return 0;
    }
    DWORD align = SS_CENTER;
    if ((options & (kOptLeft | kOptRight)) == kOptLeft) align = SS_LEFT;
    if ((options & (kOptLeft | kOptRight)) == kOptRight) align = SS_RIGHT;
    const int cw = w - 2 * kTextMargin, ch = h - 2 * kTextMargin;
    s.child = CreateWindowExW(0, L"static", wz(a.str(1)), WS_CHILD | WS_VISIBLE | align, kTextMargin, kTextMargin, cw,
                              ch, s.window, nullptr, instanceHandle(), nullptr);

    SString face = a.given(7) ? a.str(7) : SString();
    if (face.empty()) face = defaultGuiFace();
    double points = a.dblOr(8, 12);
    if (points < 6) points = 12;
    int weight = a.int32Or(9, 400);
    if (weight < 0 || weight > 1000) weight = 400;
    s.font = makeFont(face, points, weight);
    if (s.child && s.font) SendMessageW(s.child, WM_SETFONT, reinterpret_cast<WPARAM>(s.font), TRUE);

    if ((options & kOptCentreVertically) && s.child) {
        HDC dc = GetDC(s.child);
        HGDIOBJ old = SelectObject(dc, s.font ? static_cast<HGDIOBJ>(s.font) : GetStockObject(DEFAULT_GUI_FONT));
        RECT rc{0, 0, cw, 0};
        DrawTextW(dc, wz(a.str(1)), -1, &rc, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
        SelectObject(dc, old);
        ReleaseDC(s.child, dc);
        const int textHeight = rc.bottom - rc.top;
        MoveWindow(s.child, kTextMargin, (ch - textHeight) / 2 + kTextMargin, cw, textHeight, TRUE);
    }
    show(s.window);
    r.setPtr(reinterpret_cast<uintptr_t>(s.window));
    return 0;
}

int bi_SPLASHIMAGEON(Engine&, Args& a, Variant&) {
    SplashState& s = splash();
    s.release();
    int x, y, w, h;
    splashPlace(a, x, y, w, h);
    s.window = createWindow(a.str(0), a.int32Or(6, 0), x, y, w, h);
    if (!s.window) return 0;
    s.child = CreateWindowExW(0, L"static", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP, 0, 0, w, h, s.window, nullptr,
                              instanceHandle(), nullptr);
    s.bitmap = loadPicture(a.str(1), w, h);
    if (!s.bitmap || !s.child) return 0;  // nothing to show: the window stays hidden
    SendMessageW(s.child, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(s.bitmap));
    MoveWindow(s.child, 0, 0, w, h, TRUE);
    show(s.window);
    return 0;
}

int bi_SPLASHOFF(Engine&, Args&, Variant&) {
    splash().release();
    return 0;
}

int bi_PROGRESSON(Engine&, Args& a, Variant&) {
    ProgressState& p = progress();
    p.release();
    constexpr int kWidth = 300, kHeight = 100;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    int x = a.int32Or(3, -1), y = a.int32Or(4, -1);
    if (x == -1) x = (work.right - work.left - kWidth) / 2;
    if (y == -1) y = (work.bottom - work.top - kHeight) / 2;
    p.window = createWindow(a.str(0), a.int32Or(5, 0), x, y, kWidth, kHeight);
    if (!p.window) return 0;
    RECT client{};
    GetClientRect(p.window, &client);
    const int cw = client.right;
    HINSTANCE inst = instanceHandle();
    HGDIOBJ guiFont = GetStockObject(DEFAULT_GUI_FONT);

    p.mainText = CreateWindowExW(0, L"static", wz(a.str(1)), WS_CHILD | WS_VISIBLE, cw - 281, 4, 1280, 24, p.window,
                                 nullptr, inst, nullptr);
    p.font = makeFont(defaultGuiFace(), 10, 600);
    if (p.mainText && p.font) SendMessageW(p.mainText, WM_SETFONT, reinterpret_cast<WPARAM>(p.font), TRUE);

    ensureCommonControls();
    p.bar = CreateWindowExW(WS_EX_CLIENTEDGE, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, (cw - 260) / 2, 30,
                            260, 20, p.window, nullptr, inst, nullptr);
    if (p.bar) {
        SendMessageW(p.bar, PBM_SETRANGE32, 0, 100);
        SendMessageW(p.bar, PBM_SETSTEP, 1, 0);
    }

    p.subText = CreateWindowExW(0, L"static", wz(a.given(2) ? a.str(2) : SString()), WS_CHILD | WS_VISIBLE, cw - 280,
                                55, 1280, 50, p.window, nullptr, inst, nullptr);
    if (p.subText) SendMessageW(p.subText, WM_SETFONT, reinterpret_cast<WPARAM>(guiFont), TRUE);
    show(p.window);
    return 0;
}

int bi_PROGRESSSET(Engine&, Args& a, Variant&) {
    ProgressState& p = progress();
    if (!p.window || !IsWindow(p.window)) return 0;  // none, or closed by someone else
    const double percent = a.dbl(0);
    if (percent >= 0 && percent <= 100 && p.bar) SendMessageW(p.bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    if (a.given(1) && !a.str(1).empty() && p.subText) SetWindowTextW(p.subText, wz(a.str(1)));
    if (a.given(2) && p.mainText) SetWindowTextW(p.mainText, wz(a.str(2)));
    return 0;
}

int bi_PROGRESSOFF(Engine&, Args&, Variant&) {
    progress().release();
    return 0;
}

}  // namespace tx
