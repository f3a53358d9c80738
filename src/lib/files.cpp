// File handles: FILEOPEN and FILECLOSE, reading and writing text and bytes, positions, flushing, encodings
// and the FILEFINDFIRSTFILE / FILEFINDNEXTFILE searches, which share the handle table with open files.
//
// An open file keeps the platform handle, its text encoding (ANSI, UTF-16 LE/BE, UTF-8, or none for binary
// files) and the length of the byte-order mark that reads skip. Reads go through a 64 KiB read-ahead
// buffer, so reading a file line by line costs one system call per 64 KiB, not per line; lines in 8-bit
// encodings are gathered as bytes and decoded once at the end. Writes through a handle are held in a
// write buffer of one file at a time (up to 64 KiB), so writing a file line by line costs one system call
// per 64 KiB too. Nothing observable changes for scripts: the held bytes go to the system before any
// other built-in runs (reads, positions, FILEFLUSH, FILECLOSE, every name-based built-in, processes ...),
// before object and plug-in calls, before an error report, whenever the run loop serves (so other
// programs see them within a tick while the script runs) and at the end of the run. A write drops any
// read-ahead first (moving the platform position back to the logical one); a write the system does not
// complete in full returns 0 when it is made at once; when it was held, the failure is kept with the file and
// reported by the next FILEWRITE/FILEWRITELINE, FILEFLUSH or FILECLOSE of that handle (each returns 0 once).
//
// A built-in whose file argument is a name rather than a handle opens the file for that call only (read
// mode for reading, append mode for writing) and closes it before returning.
#include "lib/files.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "core/engine.h"
#include "core/handle_table.h"
#include "lib/encoding.h"
#include "lib/file_paths.h"

namespace tx {

namespace {

using enc::TextEncoding;
using fs::W;

// FILEOPEN mode bits.
enum : uint32_t {
    kModeAppend = 1,
    kModeErase = 2,
    kModeMakeDirs = 8,
    kModeBinary = 16,
    kModeUtf16LE = 32,
    kModeUtf16BE = 64,
    kModeUtf8Bom = 128,
    kModeUtf8 = 256,
    kModeScanWholeFile = 16384,
};

// FILEGETENCODING values.
enum : int32_t { kEncAnsi = 0, kEncBinary = 16, kEncUtf16LE = 32, kEncUtf16BE = 64, kEncUtf8Bom = 128, kEncUtf8 = 256 };

constexpr uint32_t kBufferSize = 65536;

// The most bytes one read may gather: the largest Binary or string a value can hold. A read that would need
// more is out of memory (the runtime's fatal allocation failure), never a silently shortened result.
constexpr int64_t kMaxReadBytes = 0x7FFFFFF0;

// A byte count of a read as a size, refused like any allocation that cannot be made when it is too big.
size_t readSize(int64_t n) {
    if (n > kMaxReadBytes) throw std::bad_alloc();
    return n > 0 ? static_cast<size_t>(n) : 0;
}

// The UTF-8 test of encoding detection, fed in pieces. Text passes when every byte of 0x80 or above
// belongs to a well-formed lead/continuation sequence and at least one such sequence occurs (pure 7-bit
// text fails, so it stays ANSI). A sequence cut off by the end of the data passes.
class Utf8Test {
public:
    void feed(const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n && !bad_; ++i) {
            uint8_t b = p[i];
            if (pending_) {
                if (b < 0x80 || b > 0xBF) bad_ = true;
                else --pending_;
            } else if (b >= 0x80) {
                if (b >= 0xC2 && b <= 0xDF) pending_ = 1;
                else if (b >= 0xE0 && b <= 0xEF) pending_ = 2;
                else if (b >= 0xF0 && b <= 0xF4) pending_ = 3;
                else bad_ = true;
                multiByte_ = true;
            }
        }
    }
    bool failed() const { return bad_; }
    bool passed() const { return !bad_ && multiByte_; }

private:
    int pending_ = 0;
    bool multiByte_ = false;
    bool bad_ = false;
};

// The lead bytes of the system ANSI code page (none for single-byte code pages), looked up once: counted
// reads of ANSI text test every byte.
struct LeadByteTable {
    bool lead[256] = {};
    LeadByteTable() {
        CPINFO info;
        if (!GetCPInfo(CP_ACP, &info)) return;
        for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i]; i += 2)
            for (int b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b) lead[b] = true;
    }
};
const LeadByteTable& ansiLeadBytes() {
    static const LeadByteTable table;
    return table;
}

class OpenFile;
// The file whose write buffer holds bytes, if any (at most one does).
OpenFile* g_holder = nullptr;
void flushHolder();

// One open file.
class OpenFile {
public:
    OpenFile() = default;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        flushHeld();
        if (g_holder == this) {
            g_holder = nullptr;
            g_heldOutput.flush = nullptr;
        }
    }

    fs::FileHandle h;
    bool writable = false;
    bool binary = false;
    TextEncoding enc = TextEncoding::Ansi;
    uint32_t bomLen = 0;         // the mark at the start of the file, skipped by reads
    int32_t encodingCode = kEncAnsi;  // what FILEGETENCODING reports

    // Logical position: where the next read or write happens.
    int64_t pos() const { return bufStart_ + idx_; }

    // Moves to an absolute byte offset, inside the read-ahead when it can.
    bool seek(int64_t target) {
        if (target < 0) return false;
        if (target >= bufStart_ && target <= bufStart_ + fill_) {
            idx_ = static_cast<uint32_t>(target - bufStart_);
            return true;
        }
        LARGE_INTEGER li;
        li.QuadPart = target;
        if (!SetFilePointerEx(h.get(), li, nullptr, FILE_BEGIN)) return false;
        resetBuffer(target);
        return true;
    }

    // Makes the platform position the logical one again (before a write or a flush).
    bool dropReadAhead() {
        if (!flushHeld()) return false;
        if (idx_ == fill_) {
            resetBuffer(pos());
            return true;
        }
        int64_t p = pos();
        LARGE_INTEGER li;
        li.QuadPart = p;
        if (!SetFilePointerEx(h.get(), li, nullptr, FILE_BEGIN)) return false;
        resetBuffer(p);
        return true;
    }

    // Starts bookkeeping at a platform position set by someone else (open, positioning).
    void resetBuffer(int64_t platformPos) {
        bufStart_ = platformPos;
        fill_ = idx_ = 0;
    }

    // Holds small writes (the logical position moves at once; the platform one lags by held_.size()).
    bool write(const void* data, size_t n) {
        if (takeLostWrite()) return false;
        if (g_holder != this) {
            flushHolder();
            if (!dropReadAhead()) return false;
        }
        if (held_.size() + n <= kBufferSize) {
            if (held_.capacity() < kBufferSize) held_.reserve(kBufferSize);
            held_.append(static_cast<const char*>(data), n);
            bufStart_ += n;
            g_holder = this;
            g_heldOutput = HeldOutput{flushHolder, {bi_FILEWRITE, bi_FILEWRITELINE}};
            return true;
        }
        if (!flushHeld()) return false;
        return writeNow(data, n);
    }

    // A held write the system refused after its built-in had returned: reported once by the next write,
    // flush or close of this file.
    void noteLostWrite() { lostWrite_ = true; }
    bool takeLostWrite() {
        bool lost = lostWrite_;
        lostWrite_ = false;
        return lost;
    }

    // Hands the held bytes to the system; false when it did not take them all.
    bool flushHeld() {
        if (held_.empty()) return true;
        std::string bytes;
        bytes.swap(held_);
        held_.reserve(bytes.capacity());
        if (g_holder == this) {
            g_holder = nullptr;
            g_heldOutput.flush = nullptr;
        }
        bufStart_ -= bytes.size();
        return writeNow(bytes.data(), bytes.size());
    }

    bool writeNow(const void* data, size_t n) {
        const char* p = static_cast<const char*>(data);
        while (n > 0) {
            DWORD chunk = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
            DWORD done = 0;
            BOOL ok = WriteFile(h.get(), p, chunk, &done, nullptr);
            bufStart_ += done;
            if (!ok || done != chunk) return false;
            p += done;
            n -= done;
        }
        return true;
    }

    // Ensures n bytes are buffered at the read index (n <= kBufferSize); false at the end of the file.
    bool ensure(uint32_t n) {
        if (fill_ - idx_ >= n) return true;
        if (!buf_) buf_.reset(new uint8_t[kBufferSize]);
        uint32_t keep = fill_ - idx_;
        if (keep && idx_) std::memmove(buf_.get(), buf_.get() + idx_, keep);
        bufStart_ += idx_;
        fill_ = keep;
        idx_ = 0;
        while (fill_ < n) {
            DWORD got = 0;
            if (!ReadFile(h.get(), buf_.get() + fill_, kBufferSize - fill_, &got, nullptr) || got == 0) return false;
            fill_ += got;
        }
        return true;
    }

    // Appends up to n bytes to out; returns how many were read.
    size_t readBytes(std::string& out, size_t n) {
        size_t done = 0;
        size_t avail = fill_ - idx_;
        if (avail) {
            size_t take = avail < n ? avail : n;
            out.append(reinterpret_cast<const char*>(buf_.get() + idx_), take);
            idx_ += static_cast<uint32_t>(take);
            done += take;
        }
        if (done == n) return done;
        // The buffer is empty now: large remainders go straight into the result.
        resetBuffer(pos());
        while (done < n) {
            size_t want = n - done;
            if (want < kBufferSize) {
                if (!ensure(1)) break;
                size_t take = (fill_ - idx_) < want ? (fill_ - idx_) : want;
                out.append(reinterpret_cast<const char*>(buf_.get() + idx_), take);
                idx_ += static_cast<uint32_t>(take);
                done += take;
                continue;
            }
            DWORD chunk = want > (1u << 24) ? (1u << 24) : static_cast<DWORD>(want);
            size_t at = out.size();
            readSize(static_cast<int64_t>(at) + chunk);
            out.resize(at + chunk);
            DWORD got = 0;
            BOOL ok = ReadFile(h.get(), out.data() + at, chunk, &got, nullptr);
            out.resize(at + got);
            bufStart_ += got;
            done += got;
            if (!ok || got == 0) break;
        }
        return done;
    }

    // Bytes from the logical position to the end of the file as it is now.
    int64_t remaining() {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(h.get(), &size)) return 0;
        return size.QuadPart > pos() ? size.QuadPart - pos() : 0;
    }

    // Reads the rest of the file (and whatever was added to it meanwhile).
    size_t readAll(std::string& out) {
        int64_t left = remaining();
        size_t done = 0;
        if (left > 0) {
            out.reserve(readSize(left));
            done = readBytes(out, readSize(left));
        }
        for (;;) {
            readSize(static_cast<int64_t>(out.size()) + kBufferSize);
            size_t got = readBytes(out, kBufferSize);
            done += got;
            if (got < kBufferSize) return done;
        }
    }

    bool peekByte(uint8_t& b) {
        if (!ensure(1)) return false;
        b = buf_[idx_];
        return true;
    }
    void skip(uint32_t n) { idx_ += n; }

    // One line of an 8-bit file (ANSI, UTF-8 or binary), as bytes without its ending. False when the end
    // of the file came before any character.
    bool readLine8(std::string& out) {
        out.clear();
        bool any = false;
        for (;;) {
            if (idx_ == fill_ && !ensure(1)) return any;
            const uint8_t* p = buf_.get() + idx_;
            const uint8_t* end = buf_.get() + fill_;
            const uint8_t* q = p;
            while (q < end && *q != '\n' && *q != '\r') ++q;
            if (q > p) {
                readSize(static_cast<int64_t>(out.size()) + (q - p));
                out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(q - p));
                any = true;
            }
            idx_ += static_cast<uint32_t>(q - p);
            if (q == end) continue;
            ++idx_;
            if (*q == '\r') {
                uint8_t next;
                if (peekByte(next) && next == '\n') ++idx_;
            }
            return true;
        }
    }

    // One line of a UTF-16 file, as code units without its ending.
    bool readLine16(std::u16string& out) {
        out.clear();
        bool any = false;
        char16_t u;
        while (readUnit(u)) {
            any = true;
            if (u == u'\n') return true;
            if (u == u'\r') {
                char16_t next;
                if (peekUnit(next) && next == u'\n') idx_ += 2;
                return true;
            }
            if (out.size() >= static_cast<size_t>(kMaxReadBytes / 2)) throw std::bad_alloc();
            out.push_back(u);
        }
        return any;
    }

    bool readUnit(char16_t& u) {
        if (!peekUnit(u)) return false;
        idx_ += 2;
        return true;
    }
    bool peekUnit(char16_t& u) {
        if (!ensure(2)) {
            return false;
        }
        const uint8_t* p = buf_.get() + idx_;
        u = enc == TextEncoding::Utf16BE ? char16_t((p[0] << 8) | p[1]) : char16_t(p[0] | (p[1] << 8));
        return true;
    }

    // Reads count characters of text (fewer at the end of the file) as bytes of the file's encoding.
    size_t readChars(std::string& out, int64_t count) {
        // A count beyond the end of the file reserves nothing for the part that is not there.
        int64_t left = remaining() + kBufferSize;
        if (binary) return readBytes(out, readSize(count < left ? count : left));
        if (enc == TextEncoding::Utf16LE || enc == TextEncoding::Utf16BE) {
            int64_t want = count < left / 2 ? count * 2 : left;
            size_t got = readBytes(out, readSize(want));
            if (got & 1) out.pop_back();  // half a unit at the end of the file
            return got / 2;
        }
        size_t chars = 0;
        uint8_t b;
        while (static_cast<int64_t>(chars) < count && peekByte(b)) {
            if (out.size() >= static_cast<size_t>(kMaxReadBytes) - 4) throw std::bad_alloc();
            uint32_t len = charLength(b);
            out.push_back(static_cast<char>(b));
            skip(1);
            // Trailing bytes of a multi-byte character come along when they are there.
            for (uint32_t i = 1; i < len; ++i) {
                uint8_t c;
                if (!peekByte(c)) break;
                if (enc == TextEncoding::Utf8 && (c < 0x80 || c > 0xBF)) break;
                out.push_back(static_cast<char>(c));
                skip(1);
            }
            chars += (enc == TextEncoding::Utf8 && len == 4) ? 2 : 1;
        }
        return chars;
    }

private:
    // Bytes in the character that starts with lead byte b, in an 8-bit text encoding.
    uint32_t charLength(uint8_t b) const {
        if (enc == TextEncoding::Utf8) {
            if (b >= 0xC2 && b <= 0xDF) return 2;
            if (b >= 0xE0 && b <= 0xEF) return 3;
            if (b >= 0xF0 && b <= 0xF4) return 4;
            return 1;
        }
        return ansiLeadBytes().lead[b] ? 2 : 1;
    }

    std::string held_;  // written bytes not yet handed to the system
    bool lostWrite_ = false;
    std::unique_ptr<uint8_t[]> buf_;
    int64_t bufStart_ = 0;  // file offset of buf_[0]; the platform position is bufStart_ + fill_
    uint32_t fill_ = 0;
    uint32_t idx_ = 0;
};

void flushHolder() {
    OpenFile* f = g_holder;
    if (f && !f->flushHeld()) f->noteLostWrite();
}

// A slot of the handle table: an open file or an open search.
struct Entry {
    enum class Kind { File, Search } kind = Kind::File;
    std::unique_ptr<OpenFile> file;
    fs::FindHandle search;
    // The first name found by FILEFINDFIRSTFILE, handed out by the first FILEFINDNEXTFILE.
    std::u16string pendingName;
    DWORD pendingAttributes = 0;
    bool hasPending = false;
};

HandleTable<Entry>& handles() {
    static HandleTable<Entry> table;
    return table;
}

// The entry of a handle argument: a number naming an occupied slot of the wanted kind.
Entry* entryOf(const Variant& v) {
    if (!v.isNumber()) return nullptr;
    return handles().get(v.toInt64());
}
OpenFile* fileOf(const Variant& v) {
    Entry* e = entryOf(v);
    return e && e->kind == Entry::Kind::File ? e->file.get() : nullptr;
}

bool startsWith(const std::string& s, const char* mark, size_t n) { return s.size() >= n && std::memcmp(s.data(), mark, n) == 0; }

// Finds the encoding of a file opened for reading or appending (the position is restored afterwards).
bool detectEncoding(OpenFile& f, uint32_t mode) {
    TextEncoding requested = TextEncoding::Ansi;
    int32_t code = kEncAnsi;
    bool hasRequest = true;
    if (mode & (kModeUtf8Bom | kModeUtf8)) {
        requested = TextEncoding::Utf8;
        code = (mode & kModeUtf8Bom) ? kEncUtf8Bom : kEncUtf8;
    } else if (mode & kModeUtf16LE) {
        requested = TextEncoding::Utf16LE;
        code = kEncUtf16LE;
    } else if (mode & kModeUtf16BE) {
        requested = TextEncoding::Utf16BE;
        code = kEncUtf16BE;
    } else {
        hasRequest = false;
    }

    LARGE_INTEGER zero{}, saved{};
    if (!SetFilePointerEx(f.h.get(), zero, &saved, FILE_CURRENT)) return false;
    if (!SetFilePointerEx(f.h.get(), zero, nullptr, FILE_BEGIN)) return false;
    std::string head(kBufferSize, '\0');
    DWORD got = 0;
    if (!ReadFile(f.h.get(), head.data(), kBufferSize, &got, nullptr)) got = 0;
    head.resize(got);

    if (startsWith(head, "\xFF\xFE", 2)) {
        f.enc = TextEncoding::Utf16LE, f.bomLen = 2, f.encodingCode = kEncUtf16LE;
    } else if (startsWith(head, "\xFE\xFF", 2)) {
        f.enc = TextEncoding::Utf16BE, f.bomLen = 2, f.encodingCode = kEncUtf16BE;
    } else if (startsWith(head, "\xEF\xBB\xBF", 3)) {
        f.enc = TextEncoding::Utf8, f.bomLen = 3, f.encodingCode = kEncUtf8Bom;
    } else if (hasRequest) {
        f.enc = requested, f.encodingCode = code;
    } else {
        Utf8Test test;
        test.feed(reinterpret_cast<const uint8_t*>(head.data()), head.size());
        if (got == kBufferSize && (mode & kModeScanWholeFile)) {
            while (!test.failed()) {
                if (!ReadFile(f.h.get(), head.data(), kBufferSize, &got, nullptr) || got == 0) break;
                test.feed(reinterpret_cast<const uint8_t*>(head.data()), got);
            }
        }
        if (test.passed()) f.enc = TextEncoding::Utf8, f.encodingCode = kEncUtf8;
    }
    return SetFilePointerEx(f.h.get(), saved, nullptr, FILE_BEGIN) != 0;
}

// Opens a file as FILEOPEN does. On failure returns nullptr with the platform's error code in err.
std::unique_ptr<OpenFile> openFile(const SString& name, uint32_t mode, DWORD& err) {
    err = 0;
    bool append = mode & kModeAppend;
    bool erase = !append && (mode & kModeErase);
    std::u16string path(name.view());
    if (fs::hasNul(path)) {
        err = ERROR_INVALID_NAME;
        return nullptr;
    }
    if ((append || erase) && (mode & kModeMakeDirs) && !fs::createParentDirectories(path)) {
        err = GetLastError();
        if (err == 0) err = ERROR_PATH_NOT_FOUND;
        return nullptr;
    }
    DWORD access = (append || erase) ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
    DWORD disposition = append ? OPEN_ALWAYS : erase ? CREATE_ALWAYS : OPEN_EXISTING;
    HANDLE h = CreateFileW(W(path.c_str()), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        err = GetLastError();
        return nullptr;
    }
    auto f = std::make_unique<OpenFile>();
    f->h = fs::FileHandle(h);
    f->writable = append || erase;
    f->binary = mode & kModeBinary;
    if (f->binary) f->encodingCode = kEncBinary;

    auto fail = [&err]() -> std::unique_ptr<OpenFile> {
        err = GetLastError();
        return nullptr;
    };
    if (!f->binary && !erase && !detectEncoding(*f, mode)) return fail();

    LARGE_INTEGER zero{}, at{};
    if (append) {
        if (!SetFilePointerEx(h, zero, &at, FILE_END)) return fail();
    } else if (!erase && f->bomLen) {
        at.QuadPart = f->bomLen;
        if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN)) return fail();
    }
    f->resetBuffer(at.QuadPart);

    // A new or empty file opened for writing text gets the mark of the encoding asked for.
    if (f->writable && !f->binary && at.QuadPart == 0) {
        const char* mark = nullptr;
        uint32_t len = 0;
        if (mode & kModeUtf8Bom) {
            f->enc = TextEncoding::Utf8, f->encodingCode = kEncUtf8Bom, mark = "\xEF\xBB\xBF", len = 3;
        } else if (mode & kModeUtf8) {
            f->enc = TextEncoding::Utf8, f->encodingCode = kEncUtf8;
        } else if (mode & kModeUtf16LE) {
            f->enc = TextEncoding::Utf16LE, f->encodingCode = kEncUtf16LE, mark = "\xFF\xFE", len = 2;
        } else if (mode & kModeUtf16BE) {
            f->enc = TextEncoding::Utf16BE, f->encodingCode = kEncUtf16BE, mark = "\xFE\xFF", len = 2;
        }
        if (mark) {
            if (!f->write(mark, len)) return fail();
            f->bomLen = len;
        }
    }
    return f;
}

// The file a built-in works on: the file of a handle, or one opened by name for this call.
struct FileArg {
    OpenFile* file = nullptr;
    std::unique_ptr<OpenFile> owned;
};

// A file argument given as a handle must name an open file; given as anything else it is a file name,
// opened with mode for this call. False when neither works.
bool resolveFile(const Variant& v, uint32_t mode, FileArg& out) {
    if (v.isNumber()) {
        out.file = fileOf(v);
        return out.file != nullptr;
    }
    DWORD err;
    out.owned = openFile(v.toString(), mode, err);
    out.file = out.owned.get();
    return out.file != nullptr;
}

// ASCII reads and writes the same in UTF-8 and in every ANSI code page, so plain-ASCII text (the common
// case) is widened or narrowed here without the system converter.
bool asciiOnly(const char* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
    return true;
}
bool asciiOnly(u16view s) {
    for (char16_t c : s)
        if (c >= 0x80) return false;
    return true;
}
bool asciiCompatible(TextEncoding e) { return e == TextEncoding::Ansi || e == TextEncoding::Utf8; }

SString decodeText(const OpenFile& f, const std::string& bytes) {
    if (asciiCompatible(f.enc) && !bytes.empty() && asciiOnly(bytes.data(), bytes.size())) {
        SString out = SString::withLength(bytes.size());
        char16_t* d = out.mutableData();
        for (size_t i = 0; i < bytes.size(); ++i) d[i] = static_cast<unsigned char>(bytes[i]);
        return out;
    }
    return enc::decode(bytes.data(), bytes.size(), f.enc);
}

// Sets the result of a read: Binary for binary files, text otherwise.
void setReadResult(const OpenFile& f, const std::string& bytes, Variant& r) {
    if (f.binary) r = Variant::binary(bytes.data(), bytes.size());
    else r.setString(decodeText(f, bytes));
}

// Reads one line into r; false at the end of the file.
bool readLine(OpenFile& f, Variant& r, std::string& bytes, std::u16string& units) {
    if (!f.binary && (f.enc == TextEncoding::Utf16LE || f.enc == TextEncoding::Utf16BE)) {
        if (!f.readLine16(units)) return false;
        r.setString(SString(units.data(), units.size()));
        return true;
    }
    if (!f.readLine8(bytes)) return false;
    setReadResult(f, bytes, r);
    return true;
}

// Writes data as FILEWRITE / FILEWRITELINE do; line adds CR LF unless the data ends a line already.
bool writeData(OpenFile& f, Variant& data, bool line) {
    if (!f.writable) return false;
    if (f.binary || data.is(Kind::Binary)) {
        data.toBinary();
        const uint8_t* p = data.binaryData();
        size_t n = data.binaryLength();
        if (n && !f.write(p, n)) return false;
        if (line && (n == 0 || (p[n - 1] != '\r' && p[n - 1] != '\n'))) {
            std::string eol = f.binary ? std::string("\r\n") : enc::encode(u"\r\n", f.enc);
            return f.write(eol.data(), eol.size());
        }
        return true;
    }
    const SString& s = data.toString();
    const bool addEol = line && (s.empty() || (s[s.size() - 1] != u'\r' && s[s.size() - 1] != u'\n'));
    if (asciiCompatible(f.enc) && asciiOnly(s.view())) {
        // Narrowed into a buffer kept between calls (built-ins run on the script thread only).
        static std::string scratch;
        scratch.resize(s.size() + 2);
        for (size_t i = 0; i < s.size(); ++i) scratch[i] = static_cast<char>(s[i]);
        size_t n = s.size();
        if (addEol) scratch[n++] = '\r', scratch[n++] = '\n';
        bool ok = n == 0 || f.write(scratch.data(), n);
        if (scratch.capacity() > kBufferSize) std::string().swap(scratch);
        return ok;
    }
    std::string bytes;
    if (addEol) {
        std::u16string text;
        text.reserve(s.size() + 2);
        text.append(s.view());
        text.append(u"\r\n");
        bytes = enc::encode(text, f.enc);
    } else {
        bytes = enc::encode(s.view(), f.enc);
    }
    return bytes.empty() || f.write(bytes.data(), bytes.size());
}

int writeBuiltin(Engine&, Args& a, Variant& r, bool line) {
    // A write by name opens the file anew: what any handle holds must be there first.
    if (!a[0].isNumber()) flushHolder();
    FileArg fa;
    if (!resolveFile(a[0], kModeAppend, fa) || !writeData(*fa.file, a[1], line)) r.setInt32(0);
    return 0;
}

}  // namespace

void closeAllFiles() { handles().clear(); }

// ---- opening and closing ---------------------------------------------------------------------------------

int bi_FILEOPEN(Engine& e, Args& a, Variant& r) {
    uint32_t mode = static_cast<uint32_t>(a.int32Or(1, 0));
    DWORD err;
    std::unique_ptr<OpenFile> f = openFile(a.str(0), mode, err);
    if (!f) {
        r.setInt32(-1);
        e.setExtended(static_cast<int32_t>(err));
        return 0;
    }
    auto entry = std::make_unique<Entry>();
    entry->file = std::move(f);
    int64_t h = handles().add(std::move(entry));
    r.setInt32(static_cast<int32_t>(h));
    return 0;
}

int bi_FILECLOSE(Engine&, Args& a, Variant& r) {
    if (!entryOf(a[0])) {
        r.setInt32(0);
        return 0;
    }
    // The handle is closed either way; 0 tells that written data did not reach the file.
    OpenFile* f = fileOf(a[0]);
    if (f && (f->takeLostWrite() || !f->flushHeld())) r.setInt32(0);
    handles().remove(a[0].toInt64());
    return 0;
}

// ---- reading ---------------------------------------------------------------------------------------------

int bi_FILEREAD(Engine& e, Args& a, Variant& r) {
    FileArg fa;
    if (!resolveFile(a[0], 0, fa)) {
        r.setString(SString());
        e.setError(1);
        return 0;
    }
    OpenFile& f = *fa.file;
    int64_t count = a.int64Or(1, -1);
    std::string bytes;
    size_t got;
    if (count < 0) {
        got = f.readAll(bytes);
        if (!f.binary && (f.enc == TextEncoding::Utf16LE || f.enc == TextEncoding::Utf16BE) && (bytes.size() & 1))
            bytes.pop_back();
    } else {
        got = f.readChars(bytes, count);
    }
    setReadResult(f, bytes, r);
    e.setExtended(static_cast<int32_t>(got));
    if (bytes.empty() && count != 0) e.setError(-1);
    return 0;
}

int bi_FILEREADLINE(Engine& e, Args& a, Variant& r) {
    int32_t lineNo = a.int32Or(1, 0);
    FileArg fa;
    if ((a.given(1) && lineNo <= 0 && lineNo != -1) || !resolveFile(a[0], 0, fa)) {
        r.setString(SString());
        e.setError(1);
        return 0;
    }
    OpenFile& f = *fa.file;
    // Line buffers kept between calls (built-ins run on the script thread only); a very long line's
    // memory is given back.
    static std::string bytes;
    static std::u16string units;
    struct Trim {
        ~Trim() {
            if (bytes.capacity() > kBufferSize) std::string().swap(bytes);
            if (units.capacity() > kBufferSize) std::u16string().swap(units);
        }
    } trim;
    bool ok;
    if (lineNo == -1) {
        // The last line wherever the position is: from the top (the position may be at the end, or inside
        // the last line) to the end, keeping what the final read found.
        ok = false;
        Variant line;
        if (f.seek(f.bomLen)) {
            while (readLine(f, line, bytes, units)) {
                ok = true;
                r = std::move(line);
            }
        }
    } else if (lineNo >= 1) {
        ok = f.seek(f.bomLen);
        for (int32_t i = 0; ok && i < lineNo; ++i) ok = readLine(f, r, bytes, units);
    } else {
        ok = readLine(f, r, bytes, units);
    }
    if (!ok) {
        r.setString(SString());
        e.setError(-1);
    }
    return 0;
}

// ---- writing ---------------------------------------------------------------------------------------------

int bi_FILEWRITE(Engine& e, Args& a, Variant& r) { return writeBuiltin(e, a, r, false); }
int bi_FILEWRITELINE(Engine& e, Args& a, Variant& r) { return writeBuiltin(e, a, r, true); }

int bi_FILEFLUSH(Engine&, Args& a, Variant& r) {
    OpenFile* f = fileOf(a[0]);
    if (!f || f->takeLostWrite() || !f->dropReadAhead() || !FlushFileBuffers(f->h.get())) r.setInt32(0);
    return 0;
}

// ---- positions -------------------------------------------------------------------------------------------

int bi_FILESETPOS(Engine&, Args& a, Variant& r) {
    OpenFile* f = fileOf(a[0]);
    int64_t offset = a.int64(1);
    int32_t origin = a.int32(2);
    int64_t target = 0;
    bool ok = f != nullptr;
    if (ok) {
        // A target past the largest offset (the sum overflows) is refused like a negative one.
        switch (origin) {
            case 0: target = offset; break;
            case 1: ok = !__builtin_add_overflow(f->pos(), offset, &target); break;
            case 2: {
                LARGE_INTEGER size;
                ok = GetFileSizeEx(f->h.get(), &size) && !__builtin_add_overflow(size.QuadPart, offset, &target);
                break;
            }
            default: ok = false; break;
        }
    }
    if (!ok || !f->seek(target)) r.setInt32(0);
    return 0;
}

int bi_FILEGETPOS(Engine& e, Args& a, Variant& r) {
    OpenFile* f = fileOf(a[0]);
    if (!f) {
        r.setInt32(0);
        e.setError(1);
        return 0;
    }
    r.setInt64(f->pos());
    return 0;
}

// ---- encodings -------------------------------------------------------------------------------------------

int bi_FILEGETENCODING(Engine& e, Args& a, Variant& r) {
    uint32_t mode = a.int32Or(1, 1) == 2 ? 0u : static_cast<uint32_t>(kModeScanWholeFile);
    FileArg fa;
    if (!resolveFile(a[0], mode, fa)) {
        r.setInt32(-1);
        e.setError(1);
        return 0;
    }
    r.setInt32(fa.file->encodingCode);
    return 0;
}

// ---- searches --------------------------------------------------------------------------------------------

// No match at all gives -1; a search that finds only "." and ".." (an empty directory) also sets @error 1.
int bi_FILEFINDFIRSTFILE(Engine& e, Args& a, Variant& r) {
    std::u16string pattern(a.str(0).view());
    if (fs::hasNul(pattern)) pattern.clear();  // names nothing
    WIN32_FIND_DATAW fd;
    fs::FindHandle h(FindFirstFileW(W(pattern.c_str()), &fd));
    if (!h.valid()) {
        r.setInt32(-1);
        return 0;
    }
    bool found = true;
    while (found && fs::isDotEntry(fd.cFileName)) found = FindNextFileW(h.get(), &fd) != 0;
    if (!found) {
        r.setInt32(-1);
        e.setError(1);
        return 0;
    }
    auto entry = std::make_unique<Entry>();
    entry->kind = Entry::Kind::Search;
    entry->search = std::move(h);
    entry->pendingName = fs::U(fd.cFileName);
    entry->pendingAttributes = fd.dwFileAttributes;
    entry->hasPending = true;
    r.setInt32(static_cast<int32_t>(handles().add(std::move(entry))));
    return 0;
}

int bi_FILEFINDNEXTFILE(Engine& e, Args& a, Variant& r) {
    Entry* s = entryOf(a[0]);
    if (!s || s->kind != Entry::Kind::Search) {
        r.setString(SString());
        e.setError(1);
        return 0;
    }
    if (s->hasPending) {
        s->hasPending = false;
        r.setString(SString(std::u16string_view(s->pendingName)));
        if (s->pendingAttributes & FILE_ATTRIBUTE_DIRECTORY) e.setExtended(1);
        s->pendingName.clear();
        return 0;
    }
    WIN32_FIND_DATAW fd;
    bool found = FindNextFileW(s->search.get(), &fd) != 0;
    while (found && fs::isDotEntry(fd.cFileName)) found = FindNextFileW(s->search.get(), &fd) != 0;
    if (!found) {
        r.setString(SString());
        e.setError(1);
        return 0;
    }
    r.setString(SString(fs::U(fd.cFileName)));
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) e.setExtended(1);
    return 0;
}

}  // namespace tx
