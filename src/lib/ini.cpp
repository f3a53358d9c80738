// INI file built-ins over the system's profile functions (GetPrivateProfile*/WritePrivateProfile*).
//
// Every member makes the file name absolute first, so a bare name means a file in the current directory
// rather than one in the Windows directory. Writing members flush the system's INI cache after a
// successful write, so other readers of the file see the change at once. Sections travel as the
// platform's double-NUL-terminated "key=value" lists.
#include <windows.h>

#include <string>
#include <vector>

#include "core/engine.h"
#include "lib/file_paths.h"
#include "lib/ini.h"

namespace tx {

namespace {

using fs::W;

constexpr DWORD kValueBuffer = 65535;
constexpr DWORD kSectionBuffer = 32767;

std::u16string iniPath(Args& a) { return fs::fullPath(a.str(0).view()); }

// A NUL-terminated copy of an argument's text (SString views need not be terminated).
std::u16string argText(Args& a, int i) { return std::u16string(a.str(i).view()); }

void flushIni(const std::u16string& path) { WritePrivateProfileStringW(nullptr, nullptr, nullptr, W(path.c_str())); }

// The raw "key=value\0...\0\0" list of a section. A section that fills the buffer (the platform then
// returns size - 2 characters) is read again with more room: a cut list would lose keys on a rename and
// give a wrong last value on a read.
std::u16string readSectionList(const std::u16string& path, const std::u16string& section) {
    std::u16string buf(kSectionBuffer, u'\0');
    for (;;) {
        DWORD n = GetPrivateProfileSectionW(W(section.c_str()), W(buf.data()), static_cast<DWORD>(buf.size()),
                                            W(path.c_str()));
        if (n + 2 >= buf.size() && buf.size() < (1u << 24)) {
            buf.assign(buf.size() * 2, u'\0');
            continue;
        }
        buf.resize(n);
        return buf;
    }
}

// Calls f for every entry of a NUL-separated list.
template <class F>
void forEachEntry(const std::u16string& list, F f) {
    size_t pos = 0;
    while (pos < list.size()) {
        size_t end = list.find(u'\0', pos);
        if (end == std::u16string::npos) end = list.size();
        if (end > pos) f(std::u16string_view(list).substr(pos, end - pos));
        pos = end + 1;
    }
}

std::vector<std::u16string> sectionNames(const std::u16string& path) {
    std::vector<std::u16string> names;
    std::u16string buf(kValueBuffer, u'\0');
    for (;;) {
        DWORD n = GetPrivateProfileSectionNamesW(W(buf.data()), static_cast<DWORD>(buf.size()), W(path.c_str()));
        // A full buffer comes back with size - 2 characters: read again with room to spare.
        if (n + 2 >= buf.size() && buf.size() < (1u << 24)) {
            buf.assign(buf.size() * 2, u'\0');
            continue;
        }
        buf.resize(n);
        break;
    }
    forEachEntry(buf, [&](std::u16string_view s) { names.emplace_back(s); });
    return names;
}

bool hasSection(const std::u16string& path, std::u16string_view section) {
    for (const std::u16string& n : sectionNames(path))
        if (fs::sameNoCase(n, section)) return true;
    return false;
}

// Replaces a section with a "key=value\0...\0\0" list and flushes the cache.
bool writeSection(const std::u16string& path, const std::u16string& section, std::u16string list) {
    list.push_back(u'\0');
    list.push_back(u'\0');
    if (!WritePrivateProfileSectionW(W(section.c_str()), W(list.c_str()), W(path.c_str()))) return false;
    flushIni(path);
    return true;
}

void appendEntry(std::u16string& list, std::u16string_view line) {
    list.append(line);
    list.push_back(u'\0');
}

}  // namespace

int bi_INIREAD(Engine&, Args& a, Variant& r) {
    std::u16string path = iniPath(a), section = argText(a, 1), key = argText(a, 2), def = argText(a, 3);
    std::u16string buf(kValueBuffer, u'\0');
    DWORD n = GetPrivateProfileStringW(W(section.c_str()), W(key.c_str()), W(def.c_str()), W(buf.data()),
                                       kValueBuffer, W(path.c_str()));
    r.setString(u16view(buf.data(), n));
    return 0;
}

int bi_INIWRITE(Engine&, Args& a, Variant& r) {
    std::u16string path = iniPath(a), section = argText(a, 1), key = argText(a, 2), value = argText(a, 3);
    if (!WritePrivateProfileStringW(W(section.c_str()), W(key.c_str()), W(value.c_str()), W(path.c_str()))) {
        r.setInt32(0);
        return 0;
    }
    flushIni(path);
    return 0;
}

int bi_INIDELETE(Engine&, Args& a, Variant& r) {
    std::u16string path = iniPath(a), section = argText(a, 1);
    r.setInt32(0);
    if (fs::attributesOf(path) == INVALID_FILE_ATTRIBUTES) return 0;
    std::u16string key;
    if (a.given(2)) key = argText(a, 2);
    if (!WritePrivateProfileStringW(W(section.c_str()), a.given(2) ? W(key.c_str()) : nullptr, nullptr,
                                    W(path.c_str())))
        return 0;
    flushIni(path);
    r.setInt32(1);
    return 0;
}

int bi_INIREADSECTION(Engine& e, Args& a, Variant& r) {
    std::u16string list = readSectionList(iniPath(a), argText(a, 1));
    std::vector<std::u16string_view> lines;
    forEachEntry(list, [&](std::u16string_view s) {
        if (s[0] != u';' && s.find(u'=') != std::u16string_view::npos) lines.push_back(s);
    });
    if (lines.empty()) {
        e.setError(1);
        return 0;
    }
    const uint32_t sizes[2] = {static_cast<uint32_t>(lines.size() + 1), 2};
    ArrayData* arr = ArrayData::create(sizes, 2);
    arr->at(0) = Variant::int32(static_cast<int32_t>(lines.size()));
    for (size_t i = 0; i < lines.size(); ++i) {
        size_t eq = lines[i].find(u'=');
        arr->at(static_cast<uint32_t>(2 * (i + 1))) = Variant::string(lines[i].substr(0, eq));
        arr->at(static_cast<uint32_t>(2 * (i + 1) + 1)) = Variant::string(lines[i].substr(eq + 1));
    }
    r = Variant::array(arr);
    return 0;
}

int bi_INIREADSECTIONNAMES(Engine& e, Args& a, Variant& r) {
    std::vector<std::u16string> names = sectionNames(iniPath(a));
    if (names.empty()) {
        e.setError(1);
        return 0;
    }
    const uint32_t size = static_cast<uint32_t>(names.size() + 1);
    ArrayData* arr = ArrayData::create(&size, 1);
    arr->at(0) = Variant::int32(static_cast<int32_t>(names.size()));
    for (size_t i = 0; i < names.size(); ++i) arr->at(static_cast<uint32_t>(i + 1)) = Variant::string(u16view(names[i]));
    r = Variant::array(arr);
    return 0;
}

int bi_INIRENAMESECTION(Engine& e, Args& a, Variant& r) {
    std::u16string path = iniPath(a), from = argText(a, 1), to = argText(a, 2);
    bool overwrite = a.int32Or(3, 0) > 0;
    r.setInt32(0);
    if (!hasSection(path, from)) return 0;
    bool sameSection = fs::sameNoCase(from, to);
    if (sameSection || hasSection(path, to)) {
        if (!overwrite) {
            e.setError(1);
            return 0;
        }
        // Section names compare without case: renaming onto itself must not delete what it just wrote.
        if (sameSection) {
            r.setInt32(1);
            return 0;
        }
    }
    if (!writeSection(path, to, readSectionList(path, from))) return 0;
    if (!WritePrivateProfileStringW(W(from.c_str()), nullptr, nullptr, W(path.c_str()))) return 0;
    flushIni(path);
    r.setInt32(1);
    return 0;
}

int bi_INIWRITESECTION(Engine& e, Args& a, Variant& r) {
    std::u16string path = iniPath(a), section = argText(a, 1);
    const Variant& data = a[2];
    std::u16string list;
    if (data.isArray()) {
        const ArrayData* arr = data.rawArray();
        if (arr->ndims != 2 || arr->dims[1] != 2) {
            e.setError(1);
            r.setInt32(0);
            return 0;
        }
        int32_t first = a.int32Or(3, 1);
        if (first < 0) first = 1;
        for (uint32_t row = static_cast<uint32_t>(first); row < arr->dims[0]; ++row) {
            list.append(arr->at(2 * row).toString().view());
            list.push_back(u'=');
            list.append(arr->at(2 * row + 1).toString().view());
            list.push_back(u'\0');
        }
    } else if (data.isString()) {
        u16view text = data.toString().view();
        size_t pos = 0;
        while (pos < text.size() && text[pos] == u'\n') ++pos;
        while (pos < text.size()) {
            size_t end = text.find(u'\n', pos);
            if (end == u16view::npos) end = text.size();
            u16view line = text.substr(pos, end - pos);
            // A CR before the LF belongs to the line break, not to the value.
            if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
            // An empty entry would end the platform's list early: empty lines are skipped instead.
            if (!line.empty()) appendEntry(list, line);
            pos = end + 1;
        }
    } else {
        e.setError(1);
        r.setInt32(0);
        return 0;
    }
    if (!writeSection(path, section, std::move(list))) r.setInt32(0);
    return 0;
}

}  // namespace tx
