// Regular expressions: the PCRE2 matcher, STRINGREGEXP and STRINGREGEXPREPLACE.
//
// Global matching follows the usual rule for empty matches: after an empty match the next attempt at the
// same place must be non-empty and anchored there (PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED); when that
// fails the search moves on by one character. An empty match at the very end finishes the run, so a
// pattern that can match nothing never loops; nor does one whose \K in a lookbehind reports a start before
// the place where it matched nothing (the search moves on by one character from there).
//
// The JIT is used for subjects long enough to repay compiling it; when the JIT runs out of its stack the
// same match is run again by the interpreter, so results never depend on the JIT. Engine errors (match or
// depth limit, memory) end the matching as no match.
#include "lib/regex.h"

#include <pcre2.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "core/engine.h"
#include "core/variant.h"

namespace tx {

namespace {

// Subjects at least this long get the JIT. Compiling it costs about as much as interpreting 10 to 15
// thousand characters of text with a typical pattern (measured under Wine), so short subjects, the
// common case of a call in a loop, are interpreted.
constexpr size_t kJitThreshold = 16384;

inline bool isHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool isLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Scans text for surrogates: sets pairs when it holds a valid pair, and returns a copy with every unpaired
// surrogate replaced by U+FFFD when there is one (else an empty string). The length never changes, so
// offsets into the copy are offsets into the original.
std::u16string cleanSurrogates(u16view text, bool& pairs) {
    pairs = false;
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < 0xD800 || c > 0xDFFF) continue;
        if (isHigh(c) && i + 1 < text.size() && isLow(text[i + 1])) {
            pairs = true;
            ++i;
            continue;
        }
        if (out.empty()) out.assign(text);
        out[i] = 0xFFFD;
    }
    return out;
}

inline PCRE2_SPTR16 P(const char16_t* p) { return reinterpret_cast<PCRE2_SPTR16>(p); }

}  // namespace

struct Regex::Code {
    pcre2_code_16* re;
    uint32_t uses = 0;      // matchers made from this code (counted until the JIT is tried)
    bool jitTried = false;  // the JIT compile is tried once per compiled pattern
    explicit Code(pcre2_code_16* r) : re(r) {}
    ~Code() { pcre2_code_free_16(re); }
    Code(const Code&) = delete;
    Code& operator=(const Code&) = delete;
};

namespace {

// Compiled patterns, kept by their text: scripts match the same few patterns in loops, and compiling costs
// far more than a short match. A compiled pattern is never changed by matching (each matcher has its own
// match data), so one code serves every matcher of that text. Bounded; the oldest entry makes room.
class PatternCache {
public:
    std::shared_ptr<Regex::Code> find(u16view pattern) const {
        for (const Entry& e : entries_)
            if (e.pattern.size() == pattern.size() && u16view(e.pattern) == pattern) return e.code;
        return nullptr;
    }
    void add(u16view pattern, std::shared_ptr<Regex::Code> code) {
        if (pattern.size() > kMaxPatternLength) return;  // huge generated patterns are not worth keeping
        if (entries_.size() < kEntries) {
            entries_.push_back(Entry{std::u16string(pattern), std::move(code)});
            return;
        }
        entries_[next_] = Entry{std::u16string(pattern), std::move(code)};
        next_ = (next_ + 1) % kEntries;
    }

private:
    static constexpr size_t kEntries = 32;
    static constexpr size_t kMaxPatternLength = 4096;
    struct Entry {
        std::u16string pattern;
        std::shared_ptr<Regex::Code> code;
    };
    std::vector<Entry> entries_;
    size_t next_ = 0;
};

PatternCache& patternCache() {
    static PatternCache cache;
    return cache;
}

// A pattern used this often is worth the JIT compile (about 60 short interpreted matches' time).
constexpr uint32_t kJitAfterUses = 24;

}  // namespace
struct Regex::Data {
    pcre2_match_data_16* md;
    ~Data() { pcre2_match_data_free_16(md); }
};

Regex::Regex(u16view pattern) {
    if ((code_ = patternCache().find(pattern))) {
        data_ = new Data{pcre2_match_data_create_from_pattern_16(code_->re, nullptr)};
        return;
    }
    bool pairs = false;
    const std::u16string cleaned = cleanSurrogates(pattern, pairs);
    const u16view text = cleaned.empty() ? pattern : u16view(cleaned);
    int err = 0;
    PCRE2_SIZE errOffset = 0;
    // An empty pattern needs a valid pointer.
    static const char16_t kEmpty[1] = {0};
    // \K inside lookarounds is accepted, as scripts written for older engines use it; a match that ends
    // before its start is handled by matchEnd() and group().
    static pcre2_compile_context_16* const kContext = [] {
        pcre2_compile_context_16* c = pcre2_compile_context_create_16(nullptr);
        if (c) pcre2_set_compile_extra_options_16(c, PCRE2_EXTRA_ALLOW_LOOKAROUND_BSK);
        return c;
    }();
    // \C (one code unit) is refused: it can end a match inside a surrogate pair, and the next search would
    // then start in the middle of a character.
    pcre2_code_16* re = pcre2_compile_16(P(text.empty() ? kEmpty : text.data()), text.size(),
                                         PCRE2_UTF | PCRE2_NEVER_BACKSLASH_C, &err, &errOffset, kContext);
    if (!re) {
        // Report the character (not code unit) position, 1-based.
        size_t units = std::min<size_t>(errOffset, text.size());
        int64_t chars = 0;
        for (size_t i = 0; i < units; ++i, ++chars)
            if (isHigh(text[i]) && i + 1 < units && isLow(text[i + 1])) ++i;
        errorPos_ = chars + 1;
        return;
    }
    code_ = std::make_shared<Code>(re);
    data_ = new Data{pcre2_match_data_create_from_pattern_16(re, nullptr)};
    patternCache().add(pattern, code_);
}

Regex::~Regex() { delete data_; }

void Regex::setSubject(u16view subject, int64_t startChar) {
    subject_ = subject;
    cleaned_ = cleanSurrogates(subject, pairs_);
    engineText_ = cleaned_.empty() ? subject_ : u16view(cleaned_);
    cursor_ = Cursor{};
    retry_ = 0;
    last_ = 0;
    pos_ = unitOfChar(startChar < 0 ? 0 : startChar);
    if (code_ && !code_->jitTried && (subject.size() >= kJitThreshold || ++code_->uses >= kJitAfterUses)) {
        code_->jitTried = true;
        pcre2_jit_compile_16(code_->re, PCRE2_JIT_COMPLETE);  // on failure the interpreter serves
    }
}

size_t Regex::nextCharUnit(size_t unit) const {
    const u16view t = engineText_;
    if (unit + 1 < t.size() && isHigh(t[unit]) && isLow(t[unit + 1])) return unit + 2;
    return unit + 1;
}

size_t Regex::unitOfChar(int64_t chr) {
    if (!pairs_) return chr > static_cast<int64_t>(engineText_.size()) ? SIZE_MAX : static_cast<size_t>(chr);
    if (chr < cursor_.chr) cursor_ = Cursor{};
    while (cursor_.chr < chr) {
        if (cursor_.unit >= engineText_.size()) return SIZE_MAX;
        cursor_.unit = nextCharUnit(cursor_.unit);
        ++cursor_.chr;
    }
    return cursor_.unit;
}

int64_t Regex::charOffset(size_t unit) {
    if (!pairs_) return static_cast<int64_t>(unit);
    if (unit < cursor_.unit) cursor_ = Cursor{};
    while (cursor_.unit < unit) {
        cursor_.unit = nextCharUnit(cursor_.unit);
        ++cursor_.chr;
    }
    return cursor_.chr;
}

int Regex::runMatch(size_t unit, uint32_t options) {
    static const char16_t kEmpty[1] = {0};
    PCRE2_SPTR16 s = P(engineText_.empty() ? kEmpty : engineText_.data());
    options |= PCRE2_NO_UTF_CHECK;  // checked (and cleaned) once in setSubject
    int rc = pcre2_match_16(code_->re, s, engineText_.size(), unit, options, data_->md, nullptr);
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT)
        rc = pcre2_match_16(code_->re, s, engineText_.size(), unit, options | PCRE2_NO_JIT, data_->md, nullptr);
    return rc;
}

int Regex::step(bool global) {
    last_ = 0;
    if (!code_ || !data_->md) return 0;
    for (;;) {
        if (pos_ > engineText_.size()) return 0;
        const uint32_t retry = retry_;
        const int rc = runMatch(pos_, retry);
        if (rc > 0) {
            retry_ = 0;
            const size_t start = matchStart(), end = matchEnd();
            pos_ = end;
            if (global && start == end) {
                if (end >= engineText_.size()) pos_ = engineText_.size() + 1;
                else retry_ = PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED;
            } else if (global) {
                // A match that reports a start before the place where it was found (\K in a lookbehind) may
                // end right there, having consumed nothing; the next search would find it again. Move on by
                // one character from that place instead.
                const size_t at = static_cast<size_t>(pcre2_get_startchar_16(data_->md));
                if (end <= at) pos_ = at >= engineText_.size() ? engineText_.size() + 1 : nextCharUnit(at);
            }
            last_ = rc;
            return rc;
        }
        if (rc == PCRE2_ERROR_NOMATCH && retry) {
            retry_ = 0;
            pos_ = nextCharUnit(pos_);
            continue;
        }
        return 0;
    }
}

size_t Regex::matchStart() const {
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer_16(data_->md);
    return static_cast<size_t>(ov[0]);
}

size_t Regex::matchEnd() const {
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer_16(data_->md);
    // \K can put the start after the end; the end is never before the start for our purposes.
    return static_cast<size_t>(std::max(ov[0], ov[1]));
}

u16view Regex::groupView(int k) const {
    if (k < 0 || k >= last_) return {};
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer_16(data_->md);
    const PCRE2_SIZE s = ov[2 * k], e = ov[2 * k + 1];
    if (s == PCRE2_UNSET || e == PCRE2_UNSET || e <= s || e > subject_.size()) return {};
    return subject_.substr(s, e - s);
}

SString Regex::group(int k) const {
    const u16view g = groupView(k);
    return SString(g.data(), g.size());
}

bool regexSearch(u16view pattern, u16view subject, bool* compiled) {
    Regex re(pattern);
    if (compiled) *compiled = re.ok();
    if (!re.ok()) return false;
    re.setSubject(subject);
    return re.step(false) > 0;
}

// ---- STRINGREGEXP -------------------------------------------------------------------------------------------

namespace {

Variant stringArray(const std::vector<SString>& items) {
    uint32_t n = static_cast<uint32_t>(items.size());
    Variant arr = Variant::array(ArrayData::create(&n, 1));
    for (uint32_t i = 0; i < n; ++i) arr.rawArray()->at(i) = Variant::string(items[i]);
    return arr;
}

// Groups 1 .. rc-1 of the last match, or the whole match when no group took part.
void collectGroups(const Regex& re, int rc, std::vector<SString>& out) {
    if (rc <= 1) {
        out.push_back(re.group(0));
        return;
    }
    for (int k = 1; k < rc; ++k) out.push_back(re.group(k));
}

int compileFailed(Engine& e, const Regex& re) {
    e.setError(2);
    e.setExtended(static_cast<int32_t>(std::min<int64_t>(re.errorPosition(), INT32_MAX)));
    return 0;
}

// More matches than an array can hold: 0 and @error 3.
int tooManyMatches(Engine& e, Variant& result) {
    e.setError(3);
    result.setInt32(0);
    return 0;
}

}  // namespace

int bi_STRINGREGEXP(Engine& e, Args& a, Variant& result) {
    const SString subject = a.str(0);
    int32_t flag = a.int32Or(2, 0);
    if (flag < 0 || flag > 4) flag = 0;
    int64_t offset = a.int64Or(3, 1);
    if (offset < 1) offset = 1;

    Regex re(a.str(1));
    if (!re.ok()) {
        result.setInt32(0);
        return compileFailed(e, re);
    }
    re.setSubject(subject, offset - 1);

    if (flag <= 2) {
        const int rc = re.step(false);
        if (flag == 0) {
            result.setInt32(rc > 0 ? 1 : 0);
            return 0;
        }
        if (rc <= 0) {
            e.setError(1);
            if (flag == 1) result.setInt32(0);
            return 0;
        }
        std::vector<SString> items;
        if (flag == 1) {
            collectGroups(re, rc, items);
        } else {
            for (int k = 0; k < rc; ++k) items.push_back(re.group(k));
        }
        e.setExtended(static_cast<int32_t>(std::min<int64_t>(re.charOffset(re.matchEnd()) + 1, INT32_MAX)));
        result = stringArray(items);
        return 0;
    }

    if (flag == 3) {
        std::vector<SString> items;
        bool any = false;
        for (int rc; (rc = re.step(true)) > 0;) {
            any = true;
            collectGroups(re, rc, items);
            if (items.size() > kMaxElements) return tooManyMatches(e, result);
        }
        if (!any) {
            e.setError(1);
            return 0;
        }
        result = stringArray(items);
        return 0;
    }

    std::vector<Variant> matches;  // flag 4
    for (int rc; (rc = re.step(true)) > 0;) {
        std::vector<SString> items;
        items.reserve(static_cast<size_t>(rc));
        for (int k = 0; k < rc; ++k) items.push_back(re.group(k));
        matches.push_back(stringArray(items));
        if (matches.size() > kMaxElements) return tooManyMatches(e, result);
    }
    if (matches.empty()) {
        e.setError(1);
        return 0;
    }
    uint32_t n = static_cast<uint32_t>(matches.size());
    Variant arr = Variant::array(ArrayData::create(&n, 1));
    for (uint32_t i = 0; i < n; ++i) arr.rawArray()->at(i) = std::move(matches[i]);
    result = std::move(arr);
    return 0;
}

// ---- STRINGREGEXPREPLACE ------------------------------------------------------------------------------------

namespace {

// A replacement text read once into literal pieces and group references.
class Replacement {
public:
    explicit Replacement(u16view r) {
        std::u16string lit;
        auto flush = [&] {
            if (!lit.empty()) parts_.push_back(Part{-1, std::move(lit)});
            lit.clear();
        };
        auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
        auto readNumber = [&](size_t& i) {
            int64_t n = 0;
            while (i < r.size() && isDigit(r[i])) n = std::min<int64_t>(n * 10 + (r[i++] - u'0'), INT_MAX);
            return static_cast<int>(n);
        };
        for (size_t i = 0; i < r.size();) {
            const char16_t c = r[i];
            if (c == u'\\') {
                if (i + 1 == r.size()) break;  // a trailing backslash is dropped
                const char16_t d = r[i + 1];
                if (d == u'\\' || d == u'$') {
                    lit.push_back(d);
                    i += 2;
                } else if (isDigit(d)) {
                    ++i;
                    flush();
                    parts_.push_back(Part{readNumber(i), {}});
                    ++refs_;
                } else {
                    ++i;  // dropped; the next character is read normally
                }
            } else if (c == u'$' && i + 1 < r.size() && isDigit(r[i + 1])) {
                ++i;
                flush();
                parts_.push_back(Part{readNumber(i), {}});
                ++refs_;
            } else if (c == u'$' && i + 2 < r.size() && r[i + 1] == u'{' && isDigit(r[i + 2])) {
                size_t j = i + 2;
                const int g = readNumber(j);
                if (j < r.size() && r[j] == u'}') {
                    flush();
                    parts_.push_back(Part{g, {}});
                    ++refs_;
                    i = j + 1;
                } else {
                    lit.push_back(c);
                    ++i;
                }
            } else {
                lit.push_back(c);
                ++i;
            }
        }
        flush();
    }

    void expand(const Regex& re, std::u16string& out) const {
        for (const Part& p : parts_) {
            if (p.group < 0) {
                out.append(p.text);
            } else {
                out.append(re.groupView(p.group));
            }
        }
    }
    // What one replaced match adds to the tally.
    int tally() const { return refs_ ? refs_ : 1; }

private:
    struct Part {
        int group;  // -1: literal text
        std::u16string text;
    };
    std::vector<Part> parts_;
    int refs_ = 0;
};

}  // namespace

int bi_STRINGREGEXPREPLACE(Engine& e, Args& a, Variant& result) {
    const SString subject = a.str(0);
    const int64_t count = a.int64Or(3, 0);
    Regex re(a.str(1));
    if (!re.ok()) {
        result.setString(subject);
        return compileFailed(e, re);
    }
    if (subject.empty()) {
        result = Variant::emptyString();
        return 0;
    }
    const Replacement repl(a.str(2).view());
    re.setSubject(subject);
    const u16view text = subject.view();
    std::u16string out;
    size_t copied = 0;
    int64_t replaced = 0, tally = 0;
    while ((count <= 0 || replaced < count) && re.step(true) > 0) {
        const size_t start = std::max(re.matchStart(), copied), end = re.matchEnd();
        if (out.empty()) out.reserve(text.size() + 16);
        out.append(text.data() + copied, start - copied);
        repl.expand(re, out);
        copied = std::max(end, copied);
        ++replaced;
        tally += repl.tally();
    }
    e.setExtended(static_cast<int32_t>(std::min<int64_t>(tally, INT32_MAX)));
    if (replaced == 0) {
        result.setString(subject);
        return 0;
    }
    out.append(text.data() + copied, text.size() - copied);
    result.setString(SString(out.data(), out.size()));
    return 0;
}

}  // namespace tx
