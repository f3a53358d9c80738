// The PIXEL... built-ins. Coordinates are relative to the PixelCoordMode origin of the window argument when
// it names a window, else of the foreground window. A search or checksum copies its whole rectangle from
// the screen once, into one top-down 32-bit image, and works on that copy: reading the screen pixel by
// pixel costs a round trip to the display for each one. A rectangle given right to left or bottom to top is
// walked from the corner the script named first (the scan runs from its left toward its right, from its
// top toward its bottom).
#include "automation/pixels.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "automation/mouse.h"
#include "core/engine.h"
#include "env/options.h"

namespace tx {

namespace {

// ---- owners of the GDI objects of one capture ----------------------------------------------------------

class ScreenDC {
public:
    ScreenDC() : dc_(GetDC(nullptr)) {}
    ~ScreenDC() {
        if (dc_) ReleaseDC(nullptr, dc_);
    }
    ScreenDC(const ScreenDC&) = delete;
    ScreenDC& operator=(const ScreenDC&) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

class MemoryDC {
public:
    explicit MemoryDC(HDC like) : dc_(CreateCompatibleDC(like)) {}
    ~MemoryDC() {
        if (dc_) DeleteDC(dc_);
    }
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

class Bitmap {
public:
    Bitmap() = default;
    ~Bitmap() {
        if (bmp_) DeleteObject(bmp_);
    }
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;
    HBITMAP* out() { return &bmp_; }
    HBITMAP get() const { return bmp_; }

private:
    HBITMAP bmp_ = nullptr;
};

class Selection {
public:
    Selection(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
    ~Selection() {
        if (old_) SelectObject(dc_, old_);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// ---- the rectangle ----------------------------------------------------------------------------------------

// The origin of script coordinates: from the window argument when it is a window, else the foreground's.
POINT pixelOrigin(const Args& a, int windowArg) {
    HWND w = nullptr;
    if (a.given(windowArg)) {
        HWND h = reinterpret_cast<HWND>(a[windowArg].toPtr());
        if (h && IsWindow(h)) w = h;
    }
    if (!w) w = GetForegroundWindow();
    return coordModeOrigin(options().pixelCoordMode, w);
}

// A screen rectangle copied into memory, with the script's own corner at image position (0, 0).
struct Capture {
    int64_t left = 0, top = 0;  // the script's left and top (script coordinates)
    int64_t width = 0, height = 0;
    int64_t sx = 0, sy = 0;  // the screen position of image position (0, 0)
    int64_t band = 1;        // rows copied at a time
    bool mirrorX = false, mirrorY = false;
    int64_t vx = 0, vy = 0, vw = 0, vh = 0;  // the virtual screen
    const uint32_t* bits = nullptr;  // 0x00RRGGBB, top-down rows of width pixels
    ScreenDC screen;
    MemoryDC mem{screen.get()};
    Bitmap bmp;

    // The pixel at the script offset (dx, dy) from its (left, top) corner.
    uint32_t at(int64_t dx, int64_t dy) const {
        const int64_t col = mirrorX ? width - 1 - dx : dx, row = mirrorY ? height - 1 - dy : dy;
        return bits[row * width + col];
    }
};

// Larger rectangles than this many pixels (a 16384 x 16384 screen) are refused.
constexpr int64_t kMaxPixels = int64_t{16384} * 16384;

// Sets the rectangle up and makes its image; no pixel is copied yet.
bool prepare(Capture& c, const Args& a, int windowArg) {
    const int64_t l = a.int32(0), t = a.int32(1), r = a.int32(2), b = a.int32(3);
    const POINT o = pixelOrigin(a, windowArg);
    c.left = l;
    c.top = t;
    c.mirrorX = r < l;
    c.mirrorY = b < t;
    c.width = std::abs(r - l) + 1;
    c.height = std::abs(b - t) + 1;
    if (c.width * c.height > kMaxPixels || !c.screen.get() || !c.mem.get()) return false;
    c.sx = std::min(l, r) + o.x;
    c.sy = std::min(t, b) + o.y;
    if (c.sx < INT32_MIN || c.sx > INT32_MAX || c.sy < INT32_MIN || c.sy > INT32_MAX) return false;

    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = static_cast<LONG>(c.width);
    bi.bmiHeader.biHeight = -static_cast<LONG>(c.height);  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    *c.bmp.out() = CreateDIBSection(c.screen.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!c.bmp.get() || !bits) return false;
    // Parts of the rectangle off the screen read as white, as a single pixel there does.
    const int64_t vx = GetSystemMetrics(SM_XVIRTUALSCREEN), vy = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int64_t vw = GetSystemMetrics(SM_CXVIRTUALSCREEN), vh = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    c.vx = vx;
    c.vy = vy;
    c.vw = vw;
    c.vh = vh;
    if (c.sx < vx || c.sy < vy || c.sx + c.width > vx + vw || c.sy + c.height > vy + vh)
        std::memset(bits, 0xFF, static_cast<size_t>(c.width * c.height) * 4);
    c.bits = static_cast<const uint32_t*>(bits);
    // Copied in bands of about half a megabyte: the display copies a large rectangle several times slower
    // than the same pixels in bands (measured 390 ms against 150 ms for 1280x1024 under Wine), as its
    // intermediate images then stay in the processor's cache.
    c.band = std::max<int64_t>(1, 131072 / c.width);
    return true;
}

// Copies the rows of script offsets [dy0, dy1) from the screen into the image.
void copyRows(Capture& c, int64_t dy0, int64_t dy1) {
    const int64_t y = c.mirrorY ? c.height - dy1 : dy0, rows = dy1 - dy0;
    // Only the part on the screen is copied (the rest stays white): a copy far wider or taller than the
    // screen would ask the display for an image beyond its limits, which ends the process under X.
    const int64_t x0 = std::max(c.sx, c.vx), x1 = std::min(c.sx + c.width, c.vx + c.vw);
    const int64_t y0 = std::max(c.sy + y, c.vy), y1 = std::min(c.sy + y + rows, c.vy + c.vh);
    if (x0 >= x1 || y0 >= y1) return;
    Selection sel(c.mem.get(), c.bmp.get());
    BitBlt(c.mem.get(), static_cast<int>(x0 - c.sx), static_cast<int>(y0 - c.sy), static_cast<int>(x1 - x0),
           static_cast<int>(y1 - y0), c.screen.get(), static_cast<int>(x0), static_cast<int>(y0), SRCCOPY);
    GdiFlush();
}

bool capture(Capture& c, const Args& a, int windowArg) {
    if (!prepare(c, a, windowArg)) return false;
    for (int64_t dy = 0; dy < c.height; dy += c.band) copyRows(c, dy, std::min(dy + c.band, c.height));
    return true;
}

Variant intPair(int64_t a, int64_t b) {
    const uint32_t n = 2;
    ArrayData* arr = ArrayData::create(&n, 1);
    arr->at(0) = Variant::int32(static_cast<int32_t>(a));
    arr->at(1) = Variant::int32(static_cast<int32_t>(b));
    return Variant::array(arr);
}

// ---- checksums ---------------------------------------------------------------------------------------------

struct Adler32 {
    uint32_t a = 1, b = 0, pending = 0;
    void add(uint8_t byte) {
        a += byte;
        b += a;
        // 5552 bytes is the most that cannot overflow b before the reduction.
        if (++pending == 5552) reduce();
    }
    void reduce() {
        a %= 65521;
        b %= 65521;
        pending = 0;
    }
    uint32_t value() {
        reduce();
        return b << 16 | a;
    }
};

struct Crc32 {
    uint32_t crc = 0xFFFFFFFFu;
    static const uint32_t* table() {
        static uint32_t t[256];
        static bool made = false;
        if (!made) {
            for (uint32_t i = 0; i < 256; ++i) {
                uint32_t c = i;
                for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
                t[i] = c;
            }
            made = true;
        }
        return t;
    }
    void add(uint8_t byte) { crc = table()[(crc ^ byte) & 0xFF] ^ (crc >> 8); }
    uint32_t value() const { return ~crc; }
};

template <class Sum>
uint32_t checksum(const Capture& c, int64_t step) {
    Sum sum;
    for (int64_t dx = 0; dx < c.width; dx += step) {
        for (int64_t dy = 0; dy < c.height; dy += step) {
            const uint32_t px = c.at(dx, dy);
            sum.add(static_cast<uint8_t>(px >> 16));
            sum.add(static_cast<uint8_t>(px >> 8));
            sum.add(static_cast<uint8_t>(px));
        }
    }
    return sum.value();
}

}  // namespace

int bi_PIXELGETCOLOR(Engine&, Args& a, Variant& r) {
    const POINT o = pixelOrigin(a, 2);
    ScreenDC screen;
    COLORREF c = CLR_INVALID;
    const int64_t x = int64_t{a.int32(0)} + o.x, y = int64_t{a.int32(1)} + o.y;
    if (screen.get() && x >= INT32_MIN && x <= INT32_MAX && y >= INT32_MIN && y <= INT32_MAX)
        c = GetPixel(screen.get(), static_cast<int>(x), static_cast<int>(y));
    if (c == CLR_INVALID) {
        r.setInt32(0xFFFFFF);
        return 0;
    }
    r.setInt32(static_cast<int32_t>(GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c)));
    return 0;
}

int bi_PIXELSEARCH(Engine& e, Args& a, Variant& r) {
    const uint32_t colour = static_cast<uint32_t>(a.int64(4)) & 0xFFFFFF;
    const int32_t shade = std::clamp(a.int32Or(5, 0), 0, 255);
    int64_t step = a.int32Or(6, 1);
    if (step < 2) step = 1;
    Capture c;
    if (!prepare(c, a, 7)) {
        e.setError(1);
        r.setInt32(0);
        return 0;
    }
    auto lo = [&](int shift) { return std::max(static_cast<int>((colour >> shift) & 0xFF) - shade, 0); };
    auto hi = [&](int shift) { return std::min(static_cast<int>((colour >> shift) & 0xFF) + shade, 255); };
    const int rlo = lo(16), rhi = hi(16), glo = lo(8), ghi = hi(8), blo = lo(0), bhi = hi(0);
    auto match = [&](uint32_t px) {
        if (shade == 0) return (px & 0xFFFFFF) == colour;
        const int pr = (px >> 16) & 0xFF, pg = (px >> 8) & 0xFF, pb = px & 0xFF;
        return pr >= rlo && pr <= rhi && pg >= glo && pg <= ghi && pb >= blo && pb <= bhi;
    };
    // The rows are copied a band at a time in the order they are searched, so a colour near the start
    // of the scan is found without copying the rest of the rectangle.
    int64_t dy = 0;
    for (int64_t b0 = 0; b0 < c.height; b0 += c.band) {
        const int64_t b1 = std::min(b0 + c.band, c.height);
        copyRows(c, b0, b1);
        for (; dy < b1; dy += step) {
            const uint32_t* row = c.bits + (c.mirrorY ? c.height - 1 - dy : dy) * c.width;
            for (int64_t dx = 0; dx < c.width; dx += step) {
                if (match(row[c.mirrorX ? c.width - 1 - dx : dx])) {
                    r = intPair(c.mirrorX ? c.left - dx : c.left + dx, c.mirrorY ? c.top - dy : c.top + dy);
                    return 0;
                }
            }
        }
    }
    e.setError(1);
    r.setInt32(0);
    return 0;
}

int bi_PIXELCHECKSUM(Engine&, Args& a, Variant& r) {
    int64_t step = a.int32Or(4, 1);
    if (step < 1) step = 1;
    Capture c;
    if (!capture(c, a, 5)) {
        r.setInt32(0);
        return 0;
    }
    const uint32_t sum = a.int32Or(6, 0) == 1 ? checksum<Crc32>(c, step) : checksum<Adler32>(c, step);
    r.setDouble(static_cast<double>(sum));
    return 0;
}

}  // namespace tx
