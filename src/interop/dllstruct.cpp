// DLLSTRUCTCREATE and its companions: the definition parser, the layout rules and element access.
//
// Layout: every element is aligned to the smaller of its item size and the current alignment (8 until an
// "align N" changes it); a nested "struct ... endstruct" is laid out from 0 by the same rules and then
// placed at the next multiple of the smaller of its largest item and the alignment, its end rounded up
// to the same unit; the whole size is rounded up likewise. "char", "wchar" and byte elements given an
// explicit count are read and written as a whole (text or Binary) unless an index picks one item.
//
// Records are shared by every copy of a DLLStruct value (see interop/dllstruct.h); the script's thread is
// the only one that touches them, so the reference count is a plain integer.
#include "interop/dllstruct.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/platform.h"

namespace tx {

namespace {

// Element flags.
constexpr uint16_t kAnsiChar = 0x1;
constexpr uint16_t kUnsigned = 0x2;
constexpr uint16_t kWhole = 0x4;
constexpr uint16_t kFloating = 0x8;
constexpr uint16_t kByte = 0x10;
constexpr uint16_t kWideChar = 0x20;
constexpr uint16_t kPointer = 0x40;
constexpr uint16_t kAlignment = 0x80;
constexpr uint16_t kNesting = 0x100;

constexpr uint32_t kP = sizeof(void*);
constexpr uint64_t kMaxSize = 0x7FFFFFF0;  // larger layouts are refused as a bad count

struct ElementType {
    const char* name;
    uint32_t size;
    uint16_t flags;
};

constexpr ElementType kElementTypes[] = {
    {"align", 0, kAlignment},
    {"struct", 1, kNesting},
    {"endstruct", 0, kNesting},
    {"byte", 1, kUnsigned | kByte},
    {"ubyte", 1, kUnsigned | kByte},
    {"boolean", 1, kUnsigned | kByte},
    {"char", 1, kAnsiChar},
    {"wchar", 2, kWideChar},
    {"short", 2, 0},
    {"ushort", 2, kUnsigned},
    {"word", 2, kUnsigned},
    {"int", 4, 0},
    {"long", 4, 0},
    {"bool", 4, 0},
    {"uint", 4, kUnsigned},
    {"ulong", 4, kUnsigned},
    {"dword", 4, kUnsigned},
    {"int64", 8, 0},
    {"uint64", 8, kUnsigned},
    {"ptr", kP, kPointer},
    {"hwnd", kP, kPointer},
    {"handle", kP, kPointer},
    {"float", 4, kFloating},
    {"double", 8, kFloating},
    {"int_ptr", kP, 0},
    {"long_ptr", kP, 0},
    {"lresult", kP, 0},
    {"lparam", kP, 0},
    {"uint_ptr", kP, kUnsigned},
    {"ulong_ptr", kP, kUnsigned},
    {"dword_ptr", kP, kUnsigned},
    {"wparam", kP, kUnsigned},
};

struct Element {
    uint32_t offset = 0;
    uint32_t itemSize = 0;
    uint32_t end = 0;  // offset + item size x count
    uint16_t flags = 0;
    std::u16string name;  // lower case; empty when none was given
};

struct StructRecord {
    long refs = 1;
    uint8_t* data = nullptr;
    uint32_t size = 0;
    bool owned = false;
    std::vector<Element> elements;

    StructRecord() = default;
    StructRecord(const StructRecord&) = delete;
    StructRecord& operator=(const StructRecord&) = delete;
    ~StructRecord() {
        if (owned) std::free(data);
    }
};

void* copyRecord(void* p) {
    ++static_cast<StructRecord*>(p)->refs;
    return p;
}

void releaseRecord(void* p) {
    auto* rec = static_cast<StructRecord*>(p);
    if (--rec->refs == 0) delete rec;
}

const bool g_opsRegistered = [] {
    g_structOps.copy = copyRecord;
    g_structOps.release = releaseRecord;
    return true;
}();

char16_t asciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

bool sameWord(u16view w, const char* word) {
    size_t n = std::strlen(word);
    if (w.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (asciiLower(w[i]) != char16_t(static_cast<unsigned char>(word[i]))) return false;
    return true;
}

const ElementType* findElementType(u16view w) {
    for (const ElementType& t : kElementTypes)
        if (sameWord(w, t.name)) return &t;
    return nullptr;
}

uint64_t roundUp(uint64_t x, uint64_t unit) { return unit > 1 ? (x + unit - 1) / unit * unit : x; }

// ---- the definition parser ----------------------------------------------------------------------------

class Layout {
public:
    explicit Layout(StructRecord& rec) : rec_(rec), nests_(1) {}

    // Parses and lays out the definition; 0, or the @error code.
    int parse(u16view def) {
        def_ = def;
        skipBlanks();
        if (pos_ == def_.size()) return 1;
        for (;;) {
            skipBlanks();
            if (pos_ == def_.size()) break;  // after a final ";"
            u16view type = word();
            if (type.empty()) return 1;
            skipBlanks();
            u16view name = word();
            skipBlanks();
            uint64_t count = 1;
            bool hasCount = false;
            if (pos_ < def_.size() && def_[pos_] == u'[') {
                ++pos_;
                size_t digits = pos_;
                count = 0;
                while (pos_ < def_.size() && isAsciiDigit(def_[pos_])) {
                    count = count * 10 + static_cast<uint64_t>(def_[pos_] - u'0');
                    if (count > kMaxSize) return 2;
                    ++pos_;
                }
                if (pos_ == digits || pos_ == def_.size() || def_[pos_] != u']' || count == 0) return 2;
                ++pos_;
                hasCount = true;
                skipBlanks();
            }
            const bool last = pos_ == def_.size();
            if (!last && def_[pos_] != u';') return 1;
            if (!last) ++pos_;

            const ElementType* t = findElementType(type);
            if (!t) return 2;
            if (t->flags & kAlignment) {
                if (hasCount || !setAlignment(name)) return 2;
            } else if (t->flags & kNesting) {
                if (hasCount) return 2;
                if (t->size == 1) {
                    nests_.push_back(Nest{0, 0, rec_.elements.size()});
                } else if (nests_.size() > 1) {
                    if (!closeNest()) return 2;
                } else {
                    // An "endstruct" without its "struct" ends the definition; nothing may follow.
                    skipBlanksAndSemicolons();
                    if (pos_ != def_.size()) return 1;
                    break;
                }
            } else if (!addElement(*t, name, count, hasCount)) {
                return 2;
            }
            if (last) break;
        }
        while (nests_.size() > 1)
            if (!closeNest()) return 2;
        const uint64_t unit = unitOf(nests_[0].largest);
        const uint64_t size = roundUp(nests_[0].offset, unit);
        if (size > kMaxSize) return 2;
        rec_.size = static_cast<uint32_t>(size);
        return 0;
    }

private:
    struct Nest {
        uint64_t offset;
        uint32_t largest;  // largest item size inside
        size_t first;      // its first element
    };

    static bool blank(char16_t c) { return c == u' ' || c == u'\t'; }
    void skipBlanks() {
        while (pos_ < def_.size() && blank(def_[pos_])) ++pos_;
    }
    void skipBlanksAndSemicolons() {
        while (pos_ < def_.size() && (blank(def_[pos_]) || def_[pos_] == u';')) ++pos_;
    }
    u16view word() {
        size_t start = pos_;
        while (pos_ < def_.size() && isNameChar(def_[pos_])) ++pos_;
        return def_.substr(start, pos_ - start);
    }

    uint64_t unitOf(uint32_t largest) const {
        uint64_t u = largest < align_ ? largest : align_;
        return u ? u : 1;
    }

    // "align N": 1, 2, 4, 8 or 16; 0 means 8.
    bool setAlignment(u16view n) {
        if (n.empty() || n.size() > 2) return false;
        uint32_t v = 0;
        for (char16_t c : n) {
            if (!isAsciiDigit(c)) return false;
            v = v * 10 + static_cast<uint32_t>(c - u'0');
        }
        if (v == 0) v = 8;
        if (v != 1 && v != 2 && v != 4 && v != 8 && v != 16) return false;
        align_ = v;
        return true;
    }

    bool addElement(const ElementType& t, u16view name, uint64_t count, bool hasCount) {
        Nest& n = nests_.back();
        n.offset = roundUp(n.offset, unitOf(t.size));
        Element el;
        el.offset = static_cast<uint32_t>(n.offset);
        el.itemSize = t.size;
        el.flags = t.flags;
        if (hasCount && (t.flags & (kAnsiChar | kWideChar | kByte))) el.flags |= kWhole;
        n.offset += t.size * count;
        if (n.offset > kMaxSize) return false;
        el.end = static_cast<uint32_t>(n.offset);
        el.name.reserve(name.size());
        for (char16_t c : name) el.name.push_back(asciiLower(c));
        if (t.size > n.largest) n.largest = t.size;
        rec_.elements.push_back(std::move(el));
        return true;
    }

    bool closeNest() {
        Nest inner = nests_.back();
        nests_.pop_back();
        Nest& outer = nests_.back();
        const uint64_t unit = unitOf(inner.largest);
        const uint64_t base = roundUp(outer.offset, unit);
        const uint64_t end = base + roundUp(inner.offset, unit);
        if (end > kMaxSize) return false;
        for (size_t i = inner.first; i < rec_.elements.size(); ++i) {
            rec_.elements[i].offset += static_cast<uint32_t>(base);
            rec_.elements[i].end += static_cast<uint32_t>(base);
        }
        outer.offset = end;
        if (inner.largest > outer.largest) outer.largest = inner.largest;
        return true;
    }

    StructRecord& rec_;
    std::vector<Nest> nests_;
    u16view def_;
    size_t pos_ = 0;
    uint32_t align_ = 8;
};

// Memory the script points a structure at must be there to be read.
bool readableRange(uintptr_t p, size_t n) {
    if (n == 0) return true;
    const uintptr_t end = p + n;
    if (end < p) return false;
    while (p < end) {
        MEMORY_BASIC_INFORMATION mbi;
        if (!VirtualQuery(reinterpret_cast<void*>(p), &mbi, sizeof mbi)) return false;
        if (mbi.State != MEM_COMMIT || (mbi.Protect & (PAGE_NOACCESS | PAGE_GUARD)) || mbi.Protect == 0) return false;
        p = reinterpret_cast<uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
    }
    return true;
}

// ---- element access -------------------------------------------------------------------------------------

StructRecord* recordOf(const Variant& v) {
    return v.is(Kind::DLLStruct) ? static_cast<StructRecord*>(v.rawOther()) : nullptr;
}

// The element named by a string (without regard to case) or numbered from 1; nullptr when none.
const Element* findElement(const StructRecord& rec, const Variant& which) {
    if (which.isString()) {
        u16view name = which.rawString().view();
        if (name.empty()) return nullptr;
        for (const Element& el : rec.elements) {
            if (el.name.size() != name.size()) continue;
            size_t i = 0;
            while (i < name.size() && asciiLower(name[i]) == el.name[i]) ++i;
            if (i == name.size()) return &el;
        }
        return nullptr;
    }
    int64_t n = which.toInt64();
    if (n < 1 || static_cast<uint64_t>(n) > rec.elements.size()) return nullptr;
    return &rec.elements[static_cast<size_t>(n - 1)];
}

void readItem(const Element& el, const uint8_t* p, Variant& out) {
    const uint16_t f = el.flags;
    if (f & kAnsiChar) {
        char16_t c = p[0];
        out = Variant::string(SString(&c, 1));
    } else if (f & kWideChar) {
        char16_t c;
        std::memcpy(&c, p, 2);
        out = Variant::string(SString(&c, 1));
    } else if (f & kPointer) {
        uintptr_t v;
        std::memcpy(&v, p, sizeof v);
        out.setPtr(v);
    } else if (f & kFloating) {
        if (el.itemSize == 4) {
            float v;
            std::memcpy(&v, p, 4);
            out.setDouble(v);
        } else {
            double v;
            std::memcpy(&v, p, 8);
            out.setDouble(v);
        }
    } else {
        const bool u = (f & kUnsigned) != 0;
        switch (el.itemSize) {
            case 1: out.setInt32(u ? int32_t(p[0]) : int32_t(static_cast<int8_t>(p[0]))); break;
            case 2: {
                uint16_t v;
                std::memcpy(&v, p, 2);
                out.setInt32(u ? int32_t(v) : int32_t(static_cast<int16_t>(v)));
                break;
            }
            case 4: {
                uint32_t v;
                std::memcpy(&v, p, 4);
                out.setInt64(u ? int64_t(v) : int64_t(static_cast<int32_t>(v)));
                break;
            }
            default: {
                int64_t v;
                std::memcpy(&v, p, 8);
                out.setInt64(v);
                break;
            }
        }
    }
}

void writeItem(const Element& el, uint8_t* p, const Variant& v) {
    const uint16_t f = el.flags;
    if (f & (kAnsiChar | kWideChar)) {
        // A number is a character code; anything else gives the first character of its text.
        uint32_t code = 0;
        if (v.isNumber()) {
            code = static_cast<uint32_t>(v.toInt64());
        } else {
            const SString& s = v.toString();
            code = s.empty() ? 0 : s[0];
        }
        if (f & kAnsiChar) {
            p[0] = static_cast<uint8_t>(code);
        } else {
            uint16_t c = static_cast<uint16_t>(code);
            std::memcpy(p, &c, 2);
        }
    } else if (f & kPointer) {
        uintptr_t x = v.toPtr();
        std::memcpy(p, &x, sizeof x);
    } else if (f & kFloating) {
        double d = v.toDouble();
        if (el.itemSize == 4) {
            float x = static_cast<float>(d);
            std::memcpy(p, &x, 4);
        } else {
            std::memcpy(p, &d, 8);
        }
    } else {
        int64_t x = v.toInt64();
        std::memcpy(p, &x, el.itemSize);  // the low bytes (little-endian)
    }
}

// A whole text or byte element.
void readWhole(const Element& el, const uint8_t* p, Variant& out) {
    const uint32_t bytes = el.end - el.offset;
    if (el.flags & kAnsiChar) {
        const char* s = reinterpret_cast<const char*>(p);
        size_t n = strnlen(s, bytes);
        out = n ? Variant::string(platform::fromAnsi(s, n)) : Variant::emptyString();
    } else if (el.flags & kWideChar) {
        const size_t units = bytes / 2;
        std::u16string s;
        for (size_t i = 0; i < units; ++i) {
            char16_t c;
            std::memcpy(&c, p + 2 * i, 2);
            if (!c) break;
            s.push_back(c);
        }
        out = s.empty() ? Variant::emptyString() : Variant::string(u16view(s));
    } else {
        out = Variant::binary(p, bytes);
    }
}

// Text longer than the element is cut to it, never inside a character; shorter text gets its 0.
void writeWhole(const Element& el, uint8_t* p, const Variant& v, Variant& out) {
    const uint32_t bytes = el.end - el.offset;
    if (el.flags & kAnsiChar) {
        std::string a = platform::toAnsi(v.toString().view());
        size_t n = a.size();
        if (n >= bytes) {
            size_t cut = 0;
            while (cut < bytes) {
                size_t step = IsDBCSLeadByte(static_cast<BYTE>(a[cut])) ? 2 : 1;
                if (cut + step > bytes) break;
                cut += step;
            }
            n = cut;
        }
        std::memcpy(p, a.data(), n);
        if (n < bytes) p[n] = 0;
        readWhole(el, p, out);
    } else if (el.flags & kWideChar) {
        const SString& s = v.toString();
        const size_t units = bytes / 2;
        size_t n = s.size();
        if (n >= units) {
            n = units;
            if (n > 0 && s[n - 1] >= 0xD800 && s[n - 1] <= 0xDBFF) --n;  // keep a surrogate pair whole
        }
        std::memcpy(p, s.data(), n * 2);
        if (n < units) std::memset(p + n * 2, 0, 2);
        readWhole(el, p, out);
    } else {
        Variant b = v;
        b.toBinary();
        size_t n = b.binaryLength() < bytes ? b.binaryLength() : bytes;
        if (n) std::memcpy(p, b.binaryData(), n);
        out = Variant::binary(p, n);
    }
}

int failWith(Engine& e, Variant& r, int code) {
    e.setError(code);
    r.setInt32(0);
    return 0;
}

// Shared by GETDATA and SETDATA: the struct, the element, and the item address (index 0 when the whole
// element is meant). Returns 0 or the @error code.
int locate(Args& a, int indexArg, StructRecord*& rec, const Element*& el, uint8_t*& item, bool& whole) {
    rec = recordOf(a[0]);
    if (!rec) return 1;
    el = findElement(*rec, a[1]);
    if (!el) return 2;
    whole = false;
    if (a.given(indexArg)) {
        int64_t index = a.int64(indexArg);
        if (index < 1) return 5;
        uint64_t items = (el->end - el->offset) / el->itemSize;
        if (static_cast<uint64_t>(index) > items) return 3;
        item = rec->data + el->offset + static_cast<size_t>(index - 1) * el->itemSize;
    } else {
        whole = (el->flags & kWhole) != 0;
        item = rec->data + el->offset;
    }
    return 0;
}

}  // namespace

// ---- built-ins -----------------------------------------------------------------------------------------

int bi_DLLSTRUCTCREATE(Engine& e, Args& a, Variant& r) {
    auto* rec = new StructRecord;
    Variant holder = Variant::dllStruct(rec);  // owns the record from here on
    if (int err = Layout(*rec).parse(a.str(0).view())) return failWith(e, r, err);
    if (a.given(1)) {
        uintptr_t p = a[1].toPtr();
        if (!p || !readableRange(p, rec->size)) return failWith(e, r, 3);
        rec->data = reinterpret_cast<uint8_t*>(p);
    } else {
        rec->data = static_cast<uint8_t*>(std::calloc(rec->size ? rec->size : 1, 1));
        if (!rec->data) throw std::bad_alloc();
        rec->owned = true;
    }
    r = std::move(holder);
    return 0;
}

int bi_DLLSTRUCTGETDATA(Engine& e, Args& a, Variant& r) {
    StructRecord* rec;
    const Element* el;
    uint8_t* item;
    bool whole;
    if (int err = locate(a, 2, rec, el, item, whole)) return failWith(e, r, err);
    if (whole) readWhole(*el, item, r);
    else readItem(*el, item, r);
    return 0;
}

int bi_DLLSTRUCTSETDATA(Engine& e, Args& a, Variant& r) {
    StructRecord* rec;
    const Element* el;
    uint8_t* item;
    bool whole;
    if (int err = locate(a, 3, rec, el, item, whole)) return failWith(e, r, err);
    if (whole) {
        writeWhole(*el, item, a[2], r);
    } else {
        writeItem(*el, item, a[2]);
        readItem(*el, item, r);
    }
    return 0;
}

int bi_DLLSTRUCTGETPTR(Engine& e, Args& a, Variant& r) {
    StructRecord* rec = recordOf(a[0]);
    if (!rec) return failWith(e, r, 1);
    uintptr_t p = reinterpret_cast<uintptr_t>(rec->data);
    if (a.given(1)) {
        const Element* el = findElement(*rec, a[1]);
        if (!el) return failWith(e, r, 2);
        p += el->offset;
    }
    r.setPtr(p);
    return 0;
}

int bi_DLLSTRUCTGETSIZE(Engine& e, Args& a, Variant& r) {
    StructRecord* rec = recordOf(a[0]);
    if (!rec) return failWith(e, r, 1);
    r.setInt32(static_cast<int32_t>(rec->size));
    return 0;
}

}  // namespace tx
