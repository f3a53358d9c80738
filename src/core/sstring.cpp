// Shared string storage: allocation, copy on write and UTF-8 conversion helpers.
#include "core/sstring.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tx {

// Never freed: its count starts high and is raised and lowered like any other block's.
SStringEmptyBlock g_emptyStringBlock = {1L << 30, 0, 0, {0, 0}};
static_assert(sizeof(SStringEmptyBlock) >= sizeof(long) + 2 * sizeof(uint32_t) + sizeof(char16_t));

[[gnu::noinline]] void SString::freeBlock(Block* b) noexcept { std::free(b); }

SString::Block* SString::allocBlock(size_t cap) {
    static_assert(offsetof(SStringEmptyBlock, chars) == sizeof(Block), "the empty block must look like a Block");
    if (cap > 0x7FFFFFF0u) throw std::bad_alloc();
    void* p = std::malloc(sizeof(Block) + (cap + 1) * sizeof(char16_t));
    if (!p) throw std::bad_alloc();
    Block* b = static_cast<Block*>(p);
    b->refs = 1;
    b->len = 0;
    b->cap = static_cast<uint32_t>(cap);
    b->chars()[0] = 0;
    return b;
}

SString::SString(const char16_t* s, size_t n) {
    if (n == 0) {
        b_ = emptyBlock();
        ++b_->refs;
        return;
    }
    b_ = allocBlock(initialCapacity(n));
    std::memcpy(b_->chars(), s, n * sizeof(char16_t));
    b_->chars()[n] = 0;
    b_->len = static_cast<uint32_t>(n);
}

SString::SString(const char16_t* s) : SString(s, std::char_traits<char16_t>::length(s)) {}

SString SString::fromLatin1(std::string_view s) {
    SString r = withLength(s.size());
    char16_t* d = r.mutableData();
    for (size_t i = 0; i < s.size(); ++i) d[i] = static_cast<unsigned char>(s[i]);
    return r;
}

SString SString::fromUtf8(std::string_view s) {
    std::u16string w = utf8ToUtf16(s);
    return SString(w.data(), w.size());
}

SString SString::withLength(size_t n) {
    SString r;
    if (n == 0) return r;
    r.release();
    r.b_ = allocBlock(initialCapacity(n));
    r.b_->len = static_cast<uint32_t>(n);
    r.b_->chars()[n] = 0;
    return r;
}

void SString::makePrivate(size_t minCap) {
    if (b_->refs == 1 && b_->cap >= minCap && b_ != emptyBlock()) return;
    size_t cap = b_->cap;
    if (cap < minCap) {
        // Amortised growth: at least double, so repeated appends stay linear.
        size_t grown = cap + cap / 2 + 8;
        cap = grown > minCap ? grown : initialCapacity(minCap);
    }
    Block* nb = allocBlock(cap);
    std::memcpy(nb->chars(), b_->chars(), (b_->len + 1) * sizeof(char16_t));
    nb->len = b_->len;
    release();
    b_ = nb;
}

char16_t* SString::mutableData() {
    if (b_->len == 0) return b_->chars();  // nothing to write into; callers use withLength/resize first
    makePrivate(b_->len);
    return b_->chars();
}

void SString::reserve(size_t n) {
    if (n > b_->cap || b_->refs != 1) makePrivate(n > b_->len ? n : b_->len);
}

void SString::append(const char16_t* s, size_t n) {
    if (n == 0) return;
    size_t len = b_->len;
    if (s >= b_->chars() && s < b_->chars() + len) {
        // Appending part of itself: copy first, the buffer may move.
        std::u16string tmp(s, n);
        append(tmp.data(), tmp.size());
        return;
    }
    makePrivate(len + n);
    std::memcpy(b_->chars() + len, s, n * sizeof(char16_t));
    b_->len = static_cast<uint32_t>(len + n);
    b_->chars()[b_->len] = 0;
}

void SString::appendLatin1(std::string_view s) {
    size_t len = b_->len;
    if (s.empty()) return;
    makePrivate(len + s.size());
    char16_t* d = b_->chars() + len;
    for (size_t i = 0; i < s.size(); ++i) d[i] = static_cast<unsigned char>(s[i]);
    b_->len = static_cast<uint32_t>(len + s.size());
    b_->chars()[b_->len] = 0;
}

void SString::insert(size_t pos, char16_t c) {
    size_t len = b_->len;
    if (pos > len) pos = len;
    makePrivate(len + 1);
    char16_t* d = b_->chars();
    std::memmove(d + pos + 1, d + pos, (len - pos + 1) * sizeof(char16_t));
    d[pos] = c;
    b_->len = static_cast<uint32_t>(len + 1);
}

void SString::resize(size_t n) {
    size_t len = b_->len;
    if (n == len) return;
    if (n == 0) {
        clear();
        return;
    }
    makePrivate(n > len ? n : len);
    if (n > len) std::memset(b_->chars() + len, 0, (n - len) * sizeof(char16_t));
    b_->len = static_cast<uint32_t>(n);
    b_->chars()[n] = 0;
}

std::string SString::toUtf8() const { return utf16ToUtf8(view()); }

std::u16string utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp;
        size_t need;
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            need = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            need = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            need = 3;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (i + need >= s.size()) {
            out.push_back(0xFFFD);
            break;
        }
        bool ok = true;
        for (size_t k = 1; k <= need; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        i += need + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string utf16ToUtf8(u16view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace tx
