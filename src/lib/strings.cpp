// String and binary built-ins (STRINGLEN ... STRINGFORMAT, BINARY..., ASC/CHR, DEC).
//
// Every handler reads its arguments through Args (string form, integer form, Default as absent), does one
// pass over its input where it can, and shares the argument's buffer when the result is the whole input.
// Searching and comparing go through one place (compareText, findText) so the four comparison modes behave
// the same in STRINGINSTR, STRINGCOMPARE and STRINGREPLACE. Text to bytes and back goes through
// lib/encoding.h.
#include "lib/strings.h"

#include <windows.h>

#include <algorithm>
#include <bitset>
#include <climits>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/platform.h"
#include "core/variant.h"
#include "lib/encoding.h"
#include "lib/format.h"

namespace tx {

namespace {

// ---- small helpers -----------------------------------------------------------------------------------------

inline LPCWSTR W(const char16_t* p) { return reinterpret_cast<LPCWSTR>(p); }

inline bool isWhite(char16_t c) { return c == 0x20 || (c >= 0x09 && c <= 0x0D); }
inline char16_t asciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }
inline char16_t basicLower(char16_t c) {
    return c < 0x80 ? asciiLower(c) : static_cast<char16_t>(towlower(static_cast<wint_t>(c)));
}
inline int hexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Part [pos, pos + n) of s; the whole string shares its buffer.
SString slice(const SString& s, size_t pos, size_t n) {
    if (pos == 0 && n == s.size()) return s;
    if (n == 0) return SString();
    return SString(s.data() + pos, n);
}

// n clipped to [0, limit].
size_t clip(int64_t n, size_t limit) {
    if (n <= 0) return 0;
    return static_cast<uint64_t>(n) > limit ? limit : static_cast<size_t>(n);
}

int failString(Engine& e, Variant& result, int32_t code) {
    e.setError(code);
    result = Variant::emptyString();
    return 0;
}

int failInt(Engine& e, Variant& result, int32_t code, int32_t value = 0) {
    e.setError(code);
    result.setInt32(value);
    return 0;
}

// A one-dimensional array of n elements (each the empty String until written).
Variant newArray(size_t n) {
    uint32_t size = static_cast<uint32_t>(n);
    return Variant::array(ArrayData::create(&size, 1));
}

enc::TextEncoding byteEncoding(int32_t flag) {  // 1 ANSI (default), 2 UTF-16 LE, 3 UTF-16 BE, 4 UTF-8
    switch (flag) {
        case 2: return enc::TextEncoding::Utf16LE;
        case 3: return enc::TextEncoding::Utf16BE;
        case 4: return enc::TextEncoding::Utf8;
        default: return enc::TextEncoding::Ansi;
    }
}

// ---- comparison of a sought string against windows of a text ----------------------------------------------

int localeCompare(LCID lcid, const char16_t* a, size_t na, const char16_t* b, size_t nb) {
    if (na > INT_MAX || nb > INT_MAX) return 0;
    int r = CompareStringW(lcid, NORM_IGNORECASE, W(a), static_cast<int>(na), W(b), static_cast<int>(nb));
    return r == 0 ? 0 : r - 2;  // a failed comparison counts as equal
}

LCID lcidOf(CaseMode m) { return m == CaseMode::LocaleUS ? 0x0409 : LOCALE_USER_DEFAULT; }

// Tells whether the sought string equals the text at a position, in one comparison mode. For the locale
// modes a sought string of printable ASCII is compared with ASCII case folding as long as the text window
// is printable ASCII too (the locale comparison of such text is exactly that); any other window goes to
// CompareStringW. This keeps searching large texts from making one system call per position.
class WindowMatcher {
public:
    WindowMatcher(u16view sub, CaseMode mode) : sub_(sub), mode_(mode), lcid_(lcidOf(mode)) {
        if (mode == CaseMode::Exact) return;
        folded_.resize(sub.size());
        asciiOnly_ = true;
        for (size_t i = 0; i < sub.size(); ++i) {
            char16_t c = sub[i];
            if (c < 0x20 || c > 0x7E) asciiOnly_ = false;
            folded_[i] = mode == CaseMode::Basic ? basicLower(c) : asciiLower(c);
        }
    }

    bool at(const char16_t* p) const {
        const size_t m = sub_.size();
        switch (mode_) {
            case CaseMode::Exact:
                return std::char_traits<char16_t>::compare(p, sub_.data(), m) == 0;
            case CaseMode::Basic:
                for (size_t k = 0; k < m; ++k)
                    if (basicLower(p[k]) != folded_[k]) return false;
                return true;
            default:
                if (asciiOnly_) {
                    for (size_t k = 0; k < m; ++k) {
                        char16_t c = p[k];
                        if (c < 0x20 || c > 0x7E) return localeCompare(lcid_, p, m, sub_.data(), m) == 0;
                        if (asciiLower(c) != folded_[k]) return false;
                    }
                    return true;
                }
                return localeCompare(lcid_, p, m, sub_.data(), m) == 0;
        }
    }

private:
    u16view sub_;
    CaseMode mode_;
    LCID lcid_;
    std::u16string folded_;
    bool asciiOnly_ = false;
};

// Finds sub in text at candidate positions, forwards or backwards, in one comparison mode.
class Finder {
public:
    Finder(u16view text, u16view sub, CaseMode mode) : text_(text), sub_(sub), mode_(mode), match_(sub, mode) {}

    // First match starting in [from, last], or -1.
    ptrdiff_t next(ptrdiff_t from, ptrdiff_t last) const {
        if (from < 0) from = 0;
        last = std::min<ptrdiff_t>(last, static_cast<ptrdiff_t>(text_.size()) - static_cast<ptrdiff_t>(sub_.size()));
        if (from > last) return -1;
        if (mode_ == CaseMode::Exact) {
            size_t p = text_.substr(0, static_cast<size_t>(last) + sub_.size()).find(sub_, static_cast<size_t>(from));
            return p == u16view::npos ? -1 : static_cast<ptrdiff_t>(p);
        }
        for (ptrdiff_t i = from; i <= last; ++i)
            if (match_.at(text_.data() + i)) return i;
        return -1;
    }

    // Last match starting in [lowest, from], or -1.
    ptrdiff_t prev(ptrdiff_t from, ptrdiff_t lowest) const {
        if (lowest < 0) lowest = 0;
        from = std::min<ptrdiff_t>(from, static_cast<ptrdiff_t>(text_.size()) - static_cast<ptrdiff_t>(sub_.size()));
        if (from < lowest) return -1;
        if (mode_ == CaseMode::Exact) {
            size_t p = text_.rfind(sub_, static_cast<size_t>(from));
            return (p == u16view::npos || static_cast<ptrdiff_t>(p) < lowest) ? -1 : static_cast<ptrdiff_t>(p);
        }
        for (ptrdiff_t i = from; i >= lowest; --i)
            if (match_.at(text_.data() + i)) return i;
        return -1;
    }

    size_t subLength() const { return sub_.size(); }

private:
    u16view text_, sub_;
    CaseMode mode_;
    WindowMatcher match_;
};

}  // namespace

// ---- shared search and comparison --------------------------------------------------------------------------

CaseMode caseModeFrom(int64_t n) { return (n >= 0 && n <= 3) ? static_cast<CaseMode>(n) : CaseMode::Locale; }

int compareText(u16view a, u16view b, CaseMode mode) {
    switch (mode) {
        case CaseMode::Exact:
        case CaseMode::Basic: {
            const size_t n = std::min(a.size(), b.size());
            for (size_t i = 0; i < n; ++i) {
                char16_t x = a[i], y = b[i];
                if (mode == CaseMode::Basic) {
                    x = basicLower(x);
                    y = basicLower(y);
                }
                if (x != y) return x < y ? -1 : 1;
            }
            return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
        }
        default:
            return localeCompare(lcidOf(mode), a.data(), a.size(), b.data(), b.size());
    }
}

ptrdiff_t findText(u16view text, u16view sub, CaseMode mode, int64_t occurrence, int64_t start, int64_t count) {
    const ptrdiff_t len = static_cast<ptrdiff_t>(text.size());
    const ptrdiff_t m = static_cast<ptrdiff_t>(sub.size());
    if (m == 0 || len == 0 || occurrence == 0) return -1;
    Finder f(text, sub, mode);
    if (occurrence > 0) {
        const int64_t first = start > 0 ? start - 1 : 0;
        if (first >= len) return -1;
        int64_t window = len - first;
        if (count >= 0 && count < window) window = count;
        const ptrdiff_t last = static_cast<ptrdiff_t>(first + window) - m;
        ptrdiff_t i = static_cast<ptrdiff_t>(first);
        for (int64_t found = 0;;) {
            i = f.next(i, last);
            if (i < 0) return -1;
            if (++found == occurrence) return i;
            i += m;
        }
    }
    // Leftwards: the |occurrence|-th match counted from the right, ending at or before position start. A
    // count limits the number of candidates looked at; a jump over a match is one step, not m candidates.
    const int64_t want = occurrence == INT64_MIN ? INT64_MAX : -occurrence;
    int64_t first = (start <= 0 || start - 1 >= len) ? len - m : start - m;
    if (first < 0) return -1;
    int64_t candidates = count >= 0 ? count : INT64_MAX;
    ptrdiff_t i = static_cast<ptrdiff_t>(first);
    for (int64_t found = 0; candidates > 0 && i >= 0;) {
        const ptrdiff_t lowest = static_cast<ptrdiff_t>(std::max<int64_t>(i - candidates + 1, 0));
        const ptrdiff_t p = f.prev(i, lowest);
        if (p < 0) return -1;
        candidates -= i - p + 1;
        if (++found == want) return p;
        i = p - m;
    }
    return -1;
}

// ---- length, slicing, case ---------------------------------------------------------------------------------

int bi_STRINGLEN(Engine&, Args& a, Variant& result) {
    result.setInt32(static_cast<int32_t>(a.str(0).size()));
    return 0;
}

int bi_STRINGLEFT(Engine&, Args& a, Variant& result) {
    const SString& s = a.str(0);
    result.setString(slice(s, 0, clip(a.int64(1), s.size())));
    return 0;
}

int bi_STRINGRIGHT(Engine&, Args& a, Variant& result) {
    const SString& s = a.str(0);
    size_t n = clip(a.int64(1), s.size());
    result.setString(slice(s, s.size() - n, n));
    return 0;
}

int bi_STRINGTRIMLEFT(Engine&, Args& a, Variant& result) {
    const SString& s = a.str(0);
    size_t n = clip(a.int64(1), s.size());
    result.setString(slice(s, n, s.size() - n));
    return 0;
}

int bi_STRINGTRIMRIGHT(Engine&, Args& a, Variant& result) {
    const SString& s = a.str(0);
    size_t n = clip(a.int64(1), s.size());
    result.setString(slice(s, 0, s.size() - n));
    return 0;
}

int bi_STRINGMID(Engine&, Args& a, Variant& result) {
    const SString& s = a.str(0);
    const int64_t start = a.int64(1);
    const int64_t count = a.int64Or(2, -1);
    if (start < 1 || start > static_cast<int64_t>(s.size())) {
        result = Variant::emptyString();
        return 0;
    }
    const size_t pos = static_cast<size_t>(start - 1);
    const size_t remain = s.size() - pos;
    const size_t n = count < 0 ? remain : clip(count, remain);
    result.setString(slice(s, pos, n));
    return 0;
}

int bi_STRINGUPPER(Engine&, Args& a, Variant& result) {
    SString s = a.str(0);
    if (!s.empty()) platform::upperCase(s.mutableData(), s.size());
    result.setString(std::move(s));
    return 0;
}

int bi_STRINGLOWER(Engine&, Args& a, Variant& result) {
    SString s = a.str(0);
    if (!s.empty()) platform::lowerCase(s.mutableData(), s.size());
    result.setString(std::move(s));
    return 0;
}

// ---- line ends and white space -----------------------------------------------------------------------------

int bi_STRINGADDCR(Engine&, Args& a, Variant& result) {
    const SString& s = a.str(0);
    const size_t lfs = static_cast<size_t>(std::count(s.data(), s.data() + s.size(), u'\n'));
    if (lfs == 0) {
        result.setString(s);
        return 0;
    }
    SString out = SString::withLength(s.size() + lfs);
    char16_t* d = out.mutableData();
    for (char16_t c : s.view()) {
        if (c == u'\n') *d++ = u'\r';
        *d++ = c;
    }
    result.setString(std::move(out));
    return 0;
}

int bi_STRINGSTRIPCR(Engine&, Args& a, Variant& result) {
    const SString& s = a.str(0);
    const size_t crs = static_cast<size_t>(std::count(s.data(), s.data() + s.size(), u'\r'));
    if (crs == 0) {
        result.setString(s);
        return 0;
    }
    SString out = SString::withLength(s.size() - crs);
    if (!out.empty()) std::remove_copy(s.data(), s.data() + s.size(), out.mutableData(), u'\r');
    result.setString(std::move(out));
    return 0;
}

int bi_STRINGSTRIPWS(Engine&, Args& a, Variant& result) {
    const SString& s = a.str(0);
    const int32_t flags = a.int32(1);
    const char16_t* p = s.data();
    size_t b = 0, e = s.size();
    std::u16string out;
    if (flags == 8) {  // every white-space character
        out.reserve(e);
        for (size_t i = 0; i < e; ++i)
            if (!isWhite(p[i])) out.push_back(p[i]);
        result.setString(out.size() == s.size() ? s : SString(out.data(), out.size()));
        return 0;
    }
    if (flags & 1)
        while (b < e && isWhite(p[b])) ++b;
    if (flags & 2)
        while (e > b && isWhite(p[e - 1])) --e;
    if (!(flags & 4)) {
        result.setString(slice(s, b, e - b));
        return 0;
    }
    out.reserve(e - b);
    for (size_t i = b; i < e; ++i)
        if (!(isWhite(p[i]) && i > b && isWhite(p[i - 1]))) out.push_back(p[i]);
    result.setString(out.size() == s.size() ? s : SString(out.data(), out.size()));
    return 0;
}

// ---- searching, comparing, replacing ----------------------------------------------------------------------

int bi_STRINGINSTR(Engine& e, Args& a, Variant& result) {
    const CaseMode mode = caseModeFrom(a.int64Or(2, 0));
    const int64_t occurrence = a.int64Or(3, 1);
    const int64_t start = a.given(4) ? a.int64(4) : 0;
    const int64_t count = a.given(5) ? a.int64(5) : -1;
    if ((a.given(5) && count <= 0) || (a.given(4) && start < 1) || occurrence == 0) return failInt(e, result, 1);
    const ptrdiff_t pos = findText(a.str(0), a.str(1), mode, occurrence, start, count);
    result.setInt32(static_cast<int32_t>(pos + 1));
    return 0;
}

int bi_STRINGCOMPARE(Engine&, Args& a, Variant& result) {
    result.setInt32(compareText(a.str(0), a.str(1), caseModeFrom(a.int64Or(2, 0))));
    return 0;
}

int bi_STRINGREPLACE(Engine& e, Args& a, Variant& result) {
    const SString& s = a.str(0);
    const SString& repl = a.str(2);
    if (a[1].isNumber()) {  // overwrite at a position, keeping the length
        const int64_t p = a.int64(1) - 1;
        if (p < 0 || static_cast<int64_t>(s.size()) < static_cast<int64_t>(repl.size()) + p)
            return failString(e, result, 1);
        SString out = s;
        if (!repl.empty()) std::copy(repl.data(), repl.data() + repl.size(), out.mutableData() + p);
        result.setString(std::move(out));
        return 0;
    }
    const SString& sub = a.str(1);
    if (sub.empty()) return failString(e, result, 1);
    const int64_t count = a.int64Or(3, 0);
    const CaseMode mode = a.int64Or(4, 0) != 0 ? CaseMode::Exact : CaseMode::Locale;
    const u16view text = s.view();
    const ptrdiff_t m = static_cast<ptrdiff_t>(sub.size());
    const ptrdiff_t last = static_cast<ptrdiff_t>(text.size()) - m;
    Finder f(text, sub, mode);

    ptrdiff_t from = 0;
    int64_t limit = count;
    if (count < 0) {
        // The last n: start at the n-th match from the right; with fewer matches, replace them all.
        ptrdiff_t p = findText(text, sub, mode, count, 0, -1);
        from = p < 0 ? 0 : p;
        limit = p < 0 ? 0 : -count;
    }
    std::u16string out;
    ptrdiff_t copied = 0;
    int32_t replaced = 0;
    for (ptrdiff_t i = from; limit == 0 || replaced < limit;) {
        i = f.next(i, last);
        if (i < 0) break;
        if (out.empty()) out.reserve(text.size() + repl.size());
        out.append(text.data() + copied, static_cast<size_t>(i - copied));
        out.append(repl.data(), repl.size());
        copied = i + m;
        i += m;
        ++replaced;
    }
    e.setExtended(replaced);
    if (replaced == 0) {
        result.setString(s);
        return 0;
    }
    out.append(text.data() + copied, text.size() - static_cast<size_t>(copied));
    result.setString(SString(out.data(), out.size()));
    return 0;
}

// ---- splitting ----------------------------------------------------------------------------------------------

int bi_STRINGSPLIT(Engine& e, Args& a, Variant& result) {
    const SString& s = a.str(0);
    const SString& delims = a.str(1);
    const int32_t flags = a.int32Or(2, 0);
    const bool countFirst = !(flags & 2);
    const bool wholeSeparator = flags & 1;
    const size_t base = countFirst ? 1 : 0;
    const u16view text = s.view();

    auto whole = [&](int32_t error) {
        Variant arr = newArray(base + 1);
        ArrayData* d = arr.rawArray();
        if (countFirst) d->at(0) = Variant::int32(1);
        d->at(static_cast<uint32_t>(base)) = Variant::string(s);
        result = std::move(arr);
        e.setError(error);
        return 0;
    };
    if (countFirst && flags != 0 && flags != 1) return whole(2);

    // Piece boundaries: piece k runs from starts[k] to ends[k].
    std::vector<std::pair<size_t, size_t>> pieces;
    // More pieces than an array can hold: "" and @error 3.
    auto tooMany = [&] { return pieces.size() + base > kMaxElements; };
    if (delims.empty()) {
        if (text.size() + base > kMaxElements) return failString(e, result, 3);
        pieces.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) pieces.emplace_back(i, i + 1);
    } else if (wholeSeparator) {
        const size_t m = delims.size();
        size_t from = 0;
        for (size_t p; (p = text.find(delims.view(), from)) != u16view::npos; from = p + m) {
            pieces.emplace_back(from, p);
            if (tooMany()) return failString(e, result, 3);
        }
        if (pieces.empty()) return whole(1);
        pieces.emplace_back(from, text.size());
    } else {
        std::unique_ptr<std::bitset<65536>> set;
        if (delims.size() > 4) {
            set = std::make_unique<std::bitset<65536>>();
            for (char16_t c : delims.view()) set->set(c);
        }
        auto isSep = [&](char16_t c) {
            return set ? set->test(c) : delims.view().find(c) != u16view::npos;
        };
        size_t from = 0;
        for (size_t i = 0; i < text.size(); ++i)
            if (isSep(text[i])) {
                pieces.emplace_back(from, i);
                from = i + 1;
                if (tooMany()) return failString(e, result, 3);
            }
        if (pieces.empty()) return whole(1);
        pieces.emplace_back(from, text.size());
    }
    if (tooMany()) return failString(e, result, 3);

    Variant arr = newArray(pieces.size() + base);
    ArrayData* d = arr.rawArray();
    if (countFirst) d->at(0) = Variant::int32(static_cast<int32_t>(pieces.size()));
    for (size_t k = 0; k < pieces.size(); ++k)
        d->at(static_cast<uint32_t>(base + k)) =
            Variant::string(slice(s, pieces[k].first, pieces[k].second - pieces[k].first));
    result = std::move(arr);
    return 0;
}

// ---- formatting ---------------------------------------------------------------------------------------------

int bi_STRINGFORMAT(Engine&, Args& a, Variant& result) {
    result.setString(formatText(a.str(0).view(), a.v + 1, a.count() - 1));
    return 0;
}

// ---- character-class tests (STRINGIS...) --------------------------------------------------------------------

namespace {

template <typename Pred>
int everyChar(Args& a, Variant& result, Pred pred) {
    const SString& s = a.str(0);
    bool ok = !s.empty();
    for (size_t i = 0; ok && i < s.size(); ++i) ok = pred(s[i]);
    result.setInt32(ok ? 1 : 0);
    return 0;
}

inline bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Optional sign; returns the index after it.
size_t skipSign(u16view s) { return (!s.empty() && (s[0] == u'+' || s[0] == u'-')) ? 1 : 0; }

}  // namespace

int bi_STRINGISALNUM(Engine&, Args& a, Variant& r) { return everyChar(a, r, [](char16_t c) { return IsCharAlphaNumericW(c) != 0; }); }
int bi_STRINGISALPHA(Engine&, Args& a, Variant& r) { return everyChar(a, r, [](char16_t c) { return IsCharAlphaW(c) != 0; }); }
int bi_STRINGISUPPER(Engine&, Args& a, Variant& r) { return everyChar(a, r, [](char16_t c) { return IsCharUpperW(c) != 0; }); }
int bi_STRINGISLOWER(Engine&, Args& a, Variant& r) { return everyChar(a, r, [](char16_t c) { return IsCharLowerW(c) != 0; }); }
int bi_STRINGISDIGIT(Engine&, Args& a, Variant& r) { return everyChar(a, r, [](char16_t c) { return iswdigit(c) != 0; }); }
int bi_STRINGISXDIGIT(Engine&, Args& a, Variant& r) { return everyChar(a, r, [](char16_t c) { return iswxdigit(c) != 0; }); }
int bi_STRINGISSPACE(Engine&, Args& a, Variant& r) { return everyChar(a, r, isWhite); }
int bi_STRINGISASCII(Engine&, Args& a, Variant& r) { return everyChar(a, r, [](char16_t c) { return c < 128; }); }

int bi_STRINGISINT(Engine&, Args& a, Variant& result) {
    const u16view s = a.str(0).view();
    size_t i = skipSign(s);
    const size_t digitsFrom = i;
    while (i < s.size() && isDigit(s[i])) ++i;
    result.setInt32(i == s.size() && i > digitsFrom ? 1 : 0);
    return 0;
}

int bi_STRINGISFLOAT(Engine&, Args& a, Variant& result) {
    // [sign] digits* "." digits+   or   [sign] digits+ "."
    const u16view s = a.str(0).view();
    size_t i = skipSign(s);
    size_t before = 0, after = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++before;
    bool ok = i < s.size() && s[i] == u'.';
    if (ok) {
        ++i;
        while (i < s.size() && isDigit(s[i])) ++i, ++after;
        ok = i == s.size() && (after > 0 || before > 0);
    }
    result.setInt32(ok ? 1 : 0);
    return 0;
}

// ---- character codes ----------------------------------------------------------------------------------------

int bi_ASC(Engine&, Args& a, Variant& result) {
    const SString& s = a.str(0);
    if (s.empty()) {
        result.setInt32(0);
        return 0;
    }
    const std::string bytes = enc::toAnsi(u16view(s.data(), 1));
    result.setInt32(bytes.empty() ? 0 : static_cast<unsigned char>(bytes[0]));
    return 0;
}

int bi_ASCW(Engine&, Args& a, Variant& result) {
    const SString& s = a.str(0);
    result.setInt32(s.empty() ? 0 : s[0]);
    return 0;
}

int bi_CHR(Engine& e, Args& a, Variant& result) {
    const int64_t n = a.int64(0);
    if (n < 0 || n > 255) return failString(e, result, 1);  // negative codes refused, not wrapped
    if (n >= 128) {
        const char byte = static_cast<char>(n);
        result.setString(enc::fromAnsi(&byte, 1));
        return 0;
    }
    const char16_t c = static_cast<char16_t>(n);
    result.setString(SString(&c, 1));
    return 0;
}

int bi_CHRW(Engine& e, Args& a, Variant& result) {
    const int64_t n = a.int64(0);
    if (n < 0 || n > 65535) return failString(e, result, 1);  // negative codes refused, not wrapped
    const char16_t c = static_cast<char16_t>(n);
    result.setString(SString(&c, 1));
    return 0;
}

int bi_DEC(Engine& e, Args& a, Variant& result) {
    const SString& s = a.str(0);
    if (s.size() > 8) return failInt(e, result, 1);
    uint32_t v = 0;
    for (char16_t c : s.view()) {
        const int d = hexValue(c);
        if (d < 0) return failInt(e, result, 1);
        v = v * 16 + static_cast<uint32_t>(d);
    }
    result.setInt32(static_cast<int32_t>(v));
    return 0;
}

int bi_STRING(Engine&, Args& a, Variant& result) {
    result.setString(a.str(0));
    return 0;
}

// ---- ASCII arrays -------------------------------------------------------------------------------------------

int bi_STRINGTOASCIIARRAY(Engine& e, Args& a, Variant& result) {
    const SString& s = a.str(0);
    const int64_t len = static_cast<int64_t>(s.size());
    int64_t end = a.given(2) ? a.int64(2) : len;
    if (end < 0 || end > len) end = len;
    int64_t start = a.given(1) ? a.int64(1) : 0;
    if (start > end || start < 0) start = 0;
    // An empty range takes one more character: the one at start, or the terminating zero.
    size_t from = static_cast<size_t>(start);
    size_t n = static_cast<size_t>(end - start);
    std::u16string one;
    u16view range(s.data() + from, n);
    if (n == 0) {
        one.assign(1, from < s.size() ? s[from] : u'\0');
        range = one;
    }
    const int32_t encoding = a.int32Or(3, 0);
    if (encoding == 1 || encoding == 2) {
        const std::string bytes = encoding == 1 ? enc::toAnsi(range) : enc::toUtf8(range);
        if (bytes.size() > kMaxElements) return failString(e, result, 3);  // more than an array can hold
        Variant arr = newArray(bytes.size());
        for (size_t i = 0; i < bytes.size(); ++i)
            arr.rawArray()->at(static_cast<uint32_t>(i)) = Variant::int32(static_cast<unsigned char>(bytes[i]));
        result = std::move(arr);
        return 0;
    }
    if (range.size() > kMaxElements) return failString(e, result, 3);
    Variant arr = newArray(range.size());
    for (size_t i = 0; i < range.size(); ++i) arr.rawArray()->at(static_cast<uint32_t>(i)) = Variant::int32(range[i]);
    result = std::move(arr);
    return 0;
}

int bi_STRINGFROMASCIIARRAY(Engine& e, Args& a, Variant& result) {
    if (!a[0].isArray()) return failString(e, result, 1);
    const ArrayData* arr = a[0].rawArray();
    // Elements along the first dimension (the others at subscript 0).
    uint64_t stride = 1;
    for (uint32_t d = 1; d < arr->ndims; ++d) stride *= arr->dims[d];
    const int64_t size = arr->ndims && arr->total ? arr->dims[0] : 0;
    int64_t end = a.given(2) ? a.int64(2) : -1;
    if (end < 0 || end > size) end = size;
    int64_t start = a.given(1) ? a.int64(1) : 0;
    if (start > end || start < 0) start = 0;
    const int32_t encoding = a.int32Or(3, 0);
    auto element = [&](int64_t i) -> const Variant& { return arr->at(static_cast<uint32_t>(i * stride)); };

    if (encoding == 1 || encoding == 2) {
        std::string bytes;
        bytes.reserve(static_cast<size_t>(end - start));
        for (int64_t i = start; i < end; ++i) {
            const char b = static_cast<char>(element(i).toInt32() & 0xFF);
            if (b == 0) break;  // the bytes are decoded as a zero-terminated string
            bytes.push_back(b);
        }
        result.setString(encoding == 1 ? enc::fromAnsi(bytes.data(), bytes.size())
                                       : enc::fromUtf8(bytes.data(), bytes.size()));
        return 0;
    }
    SString out = SString::withLength(static_cast<size_t>(end - start));
    if (!out.empty()) {
        char16_t* d = out.mutableData();
        for (int64_t i = start; i < end; ++i) *d++ = static_cast<char16_t>(element(i).toInt32() & 0xFFFF);
    }
    result.setString(std::move(out));
    return 0;
}

// ---- Binary -------------------------------------------------------------------------------------------------

int bi_STRINGTOBINARY(Engine&, Args& a, Variant& result) {
    const std::string bytes = enc::encode(a.str(0), byteEncoding(a.int32Or(1, 1)));
    result = Variant::binary(bytes.data(), bytes.size());
    return 0;
}

int bi_BINARYTOSTRING(Engine& e, Args& a, Variant& result) {
    a[0].toBinary();
    const size_t n = a[0].binaryLength();
    const enc::TextEncoding encoding = byteEncoding(a.int32Or(1, 1));
    if (n == 0) return failString(e, result, 1);
    if ((encoding == enc::TextEncoding::Utf16LE || encoding == enc::TextEncoding::Utf16BE) && n % 2)
        return failString(e, result, 2);
    result.setString(enc::decode(a[0].binaryData(), n, encoding));
    return 0;
}

int bi_BINARY(Engine&, Args& a, Variant& result) {
    a[0].toBinary();
    result = std::move(a[0]);
    return 0;
}

int bi_BINARYLEN(Engine&, Args& a, Variant& result) {
    a[0].toBinary();
    result.setInt32(static_cast<int32_t>(a[0].binaryLength()));
    return 0;
}

int bi_BINARYMID(Engine&, Args& a, Variant& result) {
    a[0].toBinary();
    const size_t len = a[0].binaryLength();
    const int64_t start = a.int64(1);
    const int64_t count = a.int64Or(2, -1);
    if (start < 1 || start > static_cast<int64_t>(len)) {
        result = Variant::binary(nullptr, 0);
        return 0;
    }
    const size_t pos = static_cast<size_t>(start - 1);
    const size_t n = count < 0 ? len - pos : clip(count, len - pos);
    result = Variant::binary(a[0].binaryData() + pos, n);
    return 0;
}

}  // namespace tx
