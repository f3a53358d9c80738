// Regular expressions on PCRE2 (16-bit code units, UTF mode): the matcher and the STRINGREGEXP and
// STRINGREGEXPREPLACE built-ins.
//
// The matcher works on the UTF-16 text directly. Positions shown to scripts are character positions, a
// surrogate pair counting as one character; the matcher converts between them and code-unit offsets with a
// cursor that only moves forward during a global match, so a whole run stays linear. Unpaired surrogates
// in a pattern or subject are seen by the engine as U+FFFD (the text handed back keeps the original units).
// A pattern is compiled once per matcher, and a matcher lives for one built-in call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/builtins.h"

namespace tx {

class Engine;

class Regex {
public:
    struct Code;  // a compiled pattern


    explicit Regex(u16view pattern);
    ~Regex();
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    bool ok() const { return code_ != nullptr; }
    // 1-based character position in the pattern where compiling failed.
    int64_t errorPosition() const { return errorPos_; }

    // The subject must stay alive and unchanged while the matcher uses it. Matching starts at character
    // startChar (0-based); a start beyond the end finds nothing.
    void setSubject(u16view subject, int64_t startChar = 0);

    // One match step from the current position: the number of groups set + 1, or 0 when there is no
    // further match (engine errors such as the match limit count as no match). The global form moves past
    // empty matches the way repeated matching needs (see regex.cpp).
    int step(bool global);

    // Last match: code-unit offsets in the subject, and group k's text (empty when unset or k >= result).
    size_t matchStart() const;
    size_t matchEnd() const;
    SString group(int k) const;
    u16view groupView(int k) const;  // valid while the subject is
    // Character position (0-based) of a code-unit offset at or after the last one asked for.
    int64_t charOffset(size_t unit);

private:
    struct Cursor {
        size_t unit = 0;
        int64_t chr = 0;
    };
    size_t unitOfChar(int64_t chr);  // SIZE_MAX beyond the end
    size_t nextCharUnit(size_t unit) const;
    int runMatch(size_t unit, uint32_t options);

    struct Data;
    std::shared_ptr<Code> code_;  // shared with the pattern cache (regex.cpp)
    Data* data_ = nullptr;
    int64_t errorPos_ = 0;

    u16view subject_;          // as given (groups are copied from here)
    std::u16string cleaned_;   // the subject with unpaired surrogates replaced, when it has any
    u16view engineText_;       // what the engine sees
    bool pairs_ = false;       // the subject holds surrogate pairs (characters != code units)
    Cursor cursor_;
    size_t pos_ = 0;           // next search offset in code units (> length: finished)
    uint32_t retry_ = 0;       // options for the next attempt only, after an empty match
    int last_ = 0;             // result of the last step
};

// Whether pattern matches anywhere in subject; compiled is false for a pattern that does not compile.
bool regexSearch(u16view pattern, u16view subject, bool* compiled = nullptr);

int bi_STRINGREGEXP(Engine&, Args&, Variant&);
int bi_STRINGREGEXPREPLACE(Engine&, Args&, Variant&);

}  // namespace tx
