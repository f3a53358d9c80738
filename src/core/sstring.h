// Shared strings: the runtime's one text type.
//
// An SString is a single pointer to a heap block holding a reference count, the length and capacity in
// UTF-16 code units, and the characters (always followed by a 0). Copies share the block and raise the
// count; every mutating operation first makes the block private when it is shared (copy on write). The
// empty string is a static block that is never freed, so making or clearing an empty string allocates
// nothing. All script work runs on one thread, so the count is a plain integer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tx {

using u16view = std::u16string_view;

// The shared empty string's block (same layout as SString::Block followed by its 0 character). It is a
// constant-initialised global, so making, copying and clearing empty strings stays inline.
struct SStringEmptyBlock {
    long refs;
    uint32_t len;
    uint32_t cap;
    char16_t chars[2];
};
extern SStringEmptyBlock g_emptyStringBlock;

class SString {
public:
    SString() noexcept : b_(emptyBlock()) {}
    SString(const char16_t* s, size_t n);
    explicit SString(u16view v) : SString(v.data(), v.size()) {}
    explicit SString(const char16_t* s);
    // ASCII/Latin-1 text given as narrow chars (each byte becomes one code unit).
    static SString fromLatin1(std::string_view s);
    // UTF-8 text, decoded to UTF-16 (invalid sequences become U+FFFD).
    static SString fromUtf8(std::string_view s);
    // A string of n characters with unspecified content, ready to be filled through data().
    static SString withLength(size_t n);

    SString(const SString& o) noexcept : b_(o.b_) { ++b_->refs; }
    SString(SString&& o) noexcept : b_(o.b_) { o.b_ = emptyBlock(); }
    SString& operator=(const SString& o) noexcept {
        ++o.b_->refs;
        release();
        b_ = o.b_;
        return *this;
    }
    SString& operator=(SString&& o) noexcept {
        if (this != &o) {
            release();
            b_ = o.b_;
            o.b_ = emptyBlock();
        }
        return *this;
    }
    ~SString() { release(); }

    size_t size() const noexcept { return b_->len; }
    size_t length() const noexcept { return b_->len; }
    bool empty() const noexcept { return b_->len == 0; }
    size_t capacity() const noexcept { return b_->cap; }
    const char16_t* c_str() const noexcept { return b_->chars(); }
    const char16_t* data() const noexcept { return b_->chars(); }
    u16view view() const noexcept { return u16view(b_->chars(), b_->len); }
    operator u16view() const noexcept { return view(); }
    char16_t operator[](size_t i) const noexcept { return b_->chars()[i]; }
    // Number of holders of the buffer (1 when private).
    long useCount() const noexcept { return b_->refs; }
    bool sharesBufferWith(const SString& o) const noexcept { return b_ == o.b_; }

    // Mutation (copy on write).
    char16_t* mutableData();  // makes the buffer private; length unchanged
    void append(const char16_t* s, size_t n);
    void append(u16view v) { append(v.data(), v.size()); }
    void append(char16_t c) { append(&c, 1); }
    void appendLatin1(std::string_view s);
    void insert(size_t pos, char16_t c);
    void resize(size_t n);  // grows with zeros or cuts
    void clear() noexcept {
        if (b_ == emptyBlock()) return;
        release();
        b_ = emptyBlock();
        ++b_->refs;
    }
    void reserve(size_t n);

    bool operator==(const SString& o) const noexcept { return b_ == o.b_ || view() == o.view(); }
    bool operator==(u16view o) const noexcept { return view() == o; }

    std::string toUtf8() const;

private:
    struct Block {
        long refs;
        uint32_t len;
        uint32_t cap;  // characters, not counting the terminating 0
        char16_t* chars() noexcept { return reinterpret_cast<char16_t*>(this + 1); }
    };
    static Block* emptyBlock() noexcept { return reinterpret_cast<Block*>(&g_emptyStringBlock); }
    static Block* allocBlock(size_t cap);
    static size_t initialCapacity(size_t n) noexcept { return (n & ~size_t(7)) + 8; }
    static void freeBlock(Block* b) noexcept;  // out of line: the empty block's count never reaches 0
    void release() noexcept {
        if (--b_->refs == 0) freeBlock(b_);
    }
    void makePrivate(size_t minCap);

    Block* b_;
};

// Helpers on UTF-16 text shared by the core.
std::u16string utf8ToUtf16(std::string_view s);
std::string utf16ToUtf8(u16view s);
inline bool isAsciiAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
inline bool isAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
inline bool isNameChar(char16_t c) { return isAsciiAlpha(c) || isAsciiDigit(c) || c == u'_'; }
inline char16_t asciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }
// A copy with a-z made upper case (names of functions and classes are looked up this way).
inline std::u16string asciiUpperCopy(u16view s) {
    std::u16string u(s.data(), s.size());
    for (auto& c : u) c = asciiUpper(c);
    return u;
}
inline bool equalsNoCaseAscii(u16view a, std::string_view upper) {
    if (a.size() != upper.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiUpper(a[i]) != char16_t(static_cast<unsigned char>(upper[i]))) return false;
    return true;
}

}  // namespace tx
