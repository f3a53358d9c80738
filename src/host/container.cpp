// Container reader: signature search, entry lookup, entry read and extraction (see container.h).
//
// The signature search reads the file in 64 KiB chunks and steps back 20 bytes between chunks, so a
// signature lying across a chunk boundary is still found. Entry lookups always start again from the first
// entry and skip the others by their stored sizes.
#include "host/container.h"

#include <windows.h>

#include <cstring>

namespace tx {

namespace {

constexpr uint32_t kMaxNameUnits = 32768;

// A temporary file that is deleted when it goes out of scope.
struct TempFile {
    SString path;
    ~TempFile() {
        if (!path.empty()) DeleteFileW(fio::wz(path));
    }
    bool make() {
        wchar_t dir[MAX_PATH + 1];
        wchar_t name[MAX_PATH + 1];
        DWORD n = GetTempPathW(MAX_PATH + 1, dir);
        if (n == 0 || n > MAX_PATH || GetTempFileNameW(dir, L"qx3", 0, name) == 0) return false;
        path = SString(reinterpret_cast<const char16_t*>(name));
        return true;
    }
};

FILETIME toFileTime(uint64_t t) {
    FILETIME f;
    f.dwLowDateTime = static_cast<DWORD>(t);
    f.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return f;
}

void setTimes(const SString& path, const qx::FileTimes& t) {
    if (t.creation == 0 && t.lastWrite == 0) return;
    HANDLE h = CreateFileW(fio::wz(path), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    FILETIME c = toFileTime(t.creation), w = toFileTime(t.lastWrite);
    SetFileTime(h, t.creation ? &c : nullptr, nullptr, t.lastWrite ? &w : nullptr);
    CloseHandle(h);
}

SString g_runningContainer;

}  // namespace

int Container::open(const SString& path) {
    if (!file_.openRead(path)) return cres::CannotOpen;
    size_ = file_.size();
    uint8_t pattern[qx::kHeadLength];
    qx::headPattern(pattern);
    std::vector<uint8_t> buf(qx::kChunkSize);
    uint64_t chunk = 0;
    uint64_t found = 0;
    bool hit = false;
    while (!hit) {
        size_t n = file_.seek(chunk) ? file_.readSome(buf.data(), buf.size()) : 0;
        if (n <= 23) break;
        const uint8_t* b = buf.data();
        size_t i = 0, last = n - qx::kHeadLength;  // positions 0 .. last-1 lie wholly in this chunk's tested part
        while (i < last) {
            const void* f = std::memchr(b + i, pattern[0], last - i);
            if (!f) break;
            i = static_cast<size_t>(static_cast<const uint8_t*>(f) - b);
            if (std::memcmp(b + i, pattern, qx::kHeadLength) == 0) {
                found = chunk + i + qx::kHeadLength;
                hit = true;
                break;
            }
            ++i;
        }
        chunk += n - qx::kHeadLength;
    }
    if (!hit) {
        file_.close();
        return cres::NoSignature;
    }
    char version[4];
    if (!file_.seek(found) || !file_.read(version, 4) || std::memcmp(version, qx::kVersion, 4) != 0) {
        file_.close();
        return cres::BadVersion;
    }
    // The scrambled block after the version carries nothing the reader needs.
    firstEntry_ = found + 4 + qx::kBlockLength;
    return cres::Ok;
}

int Container::find(u16view name, Entry& e) {
    if (!file_.valid()) return cres::CannotOpen;
    uint64_t pos = firstEntry_;
    std::u16string entryName;
    std::vector<uint8_t> raw;
    for (;;) {
        uint8_t tag[4];
        if (pos + 4 > size_ || !file_.seek(pos) || !file_.read(tag, 4)) return cres::NoEntry;
        qx::scramble(tag, 4, qx::seed::Tag);
        if (std::memcmp(tag, "FILE", 4) != 0) return cres::NoEntry;
        pos += 4;

        uint8_t b[4];
        if (!file_.read(b, 4)) return cres::Damaged;
        uint32_t nameLen = qx::getLE32(b) ^ qx::key::NameLength;
        pos += 4;
        if (nameLen > kMaxNameUnits || uint64_t(nameLen) * 2 > size_ - pos) return cres::Damaged;
        raw.resize(size_t(nameLen) * 2);
        if (!file_.read(raw.data(), raw.size())) return cres::Damaged;
        qx::scramble(raw.data(), raw.size(), qx::seed::Name + nameLen);
        pos += raw.size();
        entryName.resize(nameLen);
        for (uint32_t i = 0; i < nameLen; ++i) entryName[i] = static_cast<char16_t>(raw[2 * i] | raw[2 * i + 1] << 8);

        if (!file_.read(b, 4)) return cres::Damaged;
        uint32_t pathLen = qx::getLE32(b) ^ qx::key::PathLength;
        pos += 4;
        if (pathLen > kMaxNameUnits || uint64_t(pathLen) * 2 > size_ - pos) return cres::Damaged;
        pos += uint64_t(pathLen) * 2;  // the source path is only informative

        uint8_t fixed[1 + 4 + 4 + 4 + 16];
        if (pos + sizeof fixed > size_ || !file_.seek(pos) || !file_.read(fixed, sizeof fixed)) return cres::Damaged;
        pos += sizeof fixed;
        uint32_t stored = qx::getLE32(fixed + 1) ^ qx::key::Size;
        if (stored > size_ - pos) return cres::Damaged;
        if (u16view(entryName) == name) {
            e.compressed = fixed[0] == 1;
            e.storedSize = stored;
            e.originalSize = qx::getLE32(fixed + 5) ^ qx::key::Size;
            e.checksum = qx::getLE32(fixed + 9) ^ qx::key::Checksum;
            e.times.creation = uint64_t(qx::getLE32(fixed + 13)) << 32 | qx::getLE32(fixed + 17);
            e.times.lastWrite = uint64_t(qx::getLE32(fixed + 21)) << 32 | qx::getLE32(fixed + 25);
            e.dataPos = pos;
            return cres::Ok;
        }
        pos += stored;
    }
}

int Container::read(u16view name, std::vector<uint8_t>& data) {
    Entry e;
    int r = find(name, e);
    if (r != cres::Ok) return r;
    std::vector<uint8_t> stored(e.storedSize);
    if (!file_.seek(e.dataPos) || !file_.read(stored.data(), stored.size())) return cres::Damaged;
    qx::scramble(stored.data(), stored.size(), qx::seed::Data);
    if (qx::adler32(stored.data(), stored.size()) != e.checksum) return cres::BadChecksum;
    if (!e.compressed) {
        data = std::move(stored);
        return cres::Ok;
    }
    // One input byte can stand for at most 255 output bytes, so a larger promise is a made-up size.
    if (e.originalSize > uint64_t(e.storedSize) * 256 + 64) return cres::Damaged;
    data.reserve(e.originalSize);
    if (qx::decompress(stored.data(), stored.size(), data, e.originalSize) != qx::DecodeResult::Ok) {
        data.clear();
        return cres::BadStream;
    }
    return cres::Ok;
}

int Container::extract(u16view name, const SString& dest, bool overwrite) {
    Entry e;
    int r = find(name, e);
    if (r != cres::Ok) return r;

    // The stored bytes, unscrambled and checked, into a temporary file.
    TempFile storedFile;
    fio::File out;
    if (!storedFile.make() || !out.create(storedFile.path)) return cres::TempFile;
    if (!file_.seek(e.dataPos)) return cres::Damaged;
    std::vector<uint8_t> buf(qx::kChunkSize);
    qx::Scrambler scrambler(qx::seed::Data);
    qx::Adler32 sum;
    for (uint32_t left = e.storedSize; left > 0;) {
        size_t k = left < buf.size() ? left : buf.size();
        if (!file_.read(buf.data(), k)) return cres::Damaged;
        scrambler.apply(buf.data(), k);
        sum.add(buf.data(), k);
        if (!out.write(buf.data(), k)) return cres::TempFile;
        left -= static_cast<uint32_t>(k);
    }
    out.close();
    if (sum.value() != e.checksum) return cres::BadChecksum;

    // A compressed entry is decompressed into a second temporary file, so that a bad stream never leaves
    // a half-written destination behind.
    TempFile plainFile;
    const SString* source = &storedFile.path;
    if (e.compressed) {
        fio::File in, plain;
        if (!plainFile.make() || !plain.create(plainFile.path) || !in.openRead(storedFile.path)) return cres::TempFile;
        qx::ByteSource src = [&](uint8_t* b, size_t n) { return in.readSome(b, n); };
        qx::ByteSink sink = [&](const uint8_t* b, size_t n) { return plain.write(b, n); };
        if (qx::decompress(src, sink, e.originalSize) != qx::DecodeResult::Ok) return cres::BadStream;
        source = &plainFile.path;
    }
    if (!CopyFileW(fio::wz(*source), fio::wz(dest), overwrite ? FALSE : TRUE)) return cres::CopyFailed;
    setTimes(dest, e.times);
    return cres::Ok;
}

bool containerHasEntry(const SString& path, u16view name) {
    Container c;
    if (c.open(path) != cres::Ok) return false;
    std::vector<uint8_t> unused;
    return c.read(name, unused) == cres::Ok;
}

void setRunningContainer(const SString& path) { g_runningContainer = path; }

int extractContainerEntry(u16view name, const SString& destPath, bool overwrite) {
    if (g_runningContainer.empty()) return cres::NotCompiled;
    Container c;
    int r = c.open(g_runningContainer);
    if (r != cres::Ok) return r;
    return c.extract(name, destPath, overwrite);
}

}  // namespace tx
