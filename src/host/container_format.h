// The compiled-script container format, shared by the runtime's reader and the script compiler.
//
// A container is a block appended to an executable (or kept as a .qxc file): a 16-byte signature, the
// marker "QX3!", the version "EA06", a 16-byte scrambled block, then named entries. Every entry carries
// its name, source path, sizes, Adler-32 checksum, file times and data; the data of a compressed entry is
// an "EA06" stream of literals and back-references packed MSB-first into 16-bit big-endian words. All
// names and data are XOR-scrambled with a small seeded generator, and the length fields with fixed keys.
//
// Nothing here touches the operating system: file access lives in host/container.cpp (reading) and in the
// compiler (writing), so both agree on the format through this one file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/sstring.h"

namespace tx::qx {

// Entry names with a meaning of their own.
inline constexpr char16_t kScriptEntry[] = u">>>TARVEX SCRIPT<<<";
inline constexpr char16_t kNoCmdExecuteEntry[] = u">>>TARVEX NO CMDEXECUTE<<<";

inline constexpr size_t kHeadLength = 20;   // signature + marker, searched for
inline constexpr size_t kBlockLength = 16;  // scrambled block after the version
inline constexpr size_t kWindowSize = 131072;
inline constexpr size_t kChunkSize = 65536;
inline constexpr uint32_t kMaxDistance = 32767;  // 15 bits

// The 20 bytes to search for. They are assembled at run time from two masked halves, so that no
// executable of the project holds them contiguously (the search would otherwise stop at the runtime's
// own data instead of the appended container).
void headPattern(uint8_t out[kHeadLength]);
inline constexpr char kVersion[4] = {'E', 'A', '0', '6'};

// Scrambling seeds and length keys.
namespace seed {
inline constexpr uint32_t Tag = 0x51A7u;
inline constexpr uint32_t Block = 0x2C0Bu;
inline constexpr uint32_t Name = 0x6E3Du;  // + name length in units
inline constexpr uint32_t Path = 0x7A29u;  // + path length in units
inline constexpr uint32_t Data = 0x4B61u;
}  // namespace seed
namespace key {
inline constexpr uint32_t NameLength = 0x29C4A1F3u;
inline constexpr uint32_t PathLength = 0x5E17B2C8u;
inline constexpr uint32_t Size = 0x8F3A6D15u;
inline constexpr uint32_t Checksum = 0xB4C9E270u;
}  // namespace key

// The byte stream a field is XOR-ed with. A field longer than one read (entry data) is scrambled piece by
// piece with one generator, so that the result does not depend on the piece sizes.
class Scrambler {
public:
    explicit Scrambler(uint32_t seed);
    void apply(uint8_t* p, size_t n);

private:
    uint32_t state_;
};
inline void scramble(uint8_t* p, size_t n, uint32_t seedValue) { Scrambler(seedValue).apply(p, n); }

// 16-bit key of a token-stream string of n units.
inline uint16_t stringKey(uint32_t n) { return static_cast<uint16_t>((n * 0x2F1Bu) ^ 0xA5C3u); }

// Running Adler-32 (initial value 1).
class Adler32 {
public:
    void add(const uint8_t* p, size_t n);
    uint32_t value() const { return (b_ << 16) | a_; }

private:
    uint32_t a_ = 1, b_ = 0;
};
uint32_t adler32(const uint8_t* p, size_t n);

// ---- Decompression ----------------------------------------------------------------------------------------

enum class DecodeResult { Ok, BadTag, Truncated, Overrun, BadDistance, SizeMismatch, SinkFailed };

// Pulls up to n bytes of compressed input; returns the count (0 at the end).
using ByteSource = std::function<size_t(uint8_t* buf, size_t n)>;
// Takes n bytes of output; false stops decoding.
using ByteSink = std::function<bool(const uint8_t* buf, size_t n)>;

// Decodes one "EA06" stream. expectedSize is the entry's original size: a stream whose own size field
// differs is refused, and so is a stream that ends early, refers before the start of its output, or would
// write past its size. The output goes to the sink in pieces of at most 64 KiB.
DecodeResult decompress(const ByteSource& in, const ByteSink& out, uint64_t expectedSize);
// Memory to memory.
DecodeResult decompress(const uint8_t* data, size_t n, std::vector<uint8_t>& out, uint64_t expectedSize);

// ---- Compression (the compiler's side) ----------------------------------------------------------------------

// A complete "EA06" stream for the bytes given: greedy-with-lookahead LZ77 matching over a 32 KiB reach.
std::vector<uint8_t> compress(const uint8_t* data, size_t n);

// ---- Entries ------------------------------------------------------------------------------------------------

struct FileTimes {
    uint64_t creation = 0;
    uint64_t lastWrite = 0;
};

// Container head: signature, marker, version and the scrambled block.
void writeHead(std::vector<uint8_t>& out);
// One entry. data is the stored form (already a compressed stream when compressed is set); originalSize
// is the size after decompression.
void writeEntry(std::vector<uint8_t>& out, u16view name, u16view path, const std::vector<uint8_t>& data,
                bool compressed, uint32_t originalSize, const FileTimes& times);

// Little-endian helpers shared by the reader and the writer.
inline uint32_t getLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void putLE32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace tx::qx
