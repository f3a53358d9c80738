// Container format: scrambling, checksums, the "EA06" stream codec and the entry writer.
//
// The decoder is written for hostile input: every field it reads is checked against what is left of the
// input and the promised output size, so a damaged stream ends in a result code, never in a read or write
// outside its buffers. The encoder is the compiler's: hash chains over a 32 KiB reach with one step of
// lookahead, which is plenty for scripts and typical installed files.
#include "host/container_format.h"

#include <algorithm>
#include <cstring>

namespace tx::qx {

// The signature is kept in two halves, each masked with its own byte, and the marker apart from both.
// The arrays are volatile so that the compiler cannot fold the unmasking into a ready-made constant.
namespace {
const volatile uint8_t kSigLow[8] = {0xA3 ^ 0x5C, 0x48 ^ 0x5C, 0x4B ^ 0x5C, 0xBE ^ 0x5C,
                            0x98 ^ 0x5C, 0x6C ^ 0x5C, 0x4A ^ 0x5C, 0xA9 ^ 0x5C};
const volatile uint8_t kMarker[4] = {'Q' ^ 0x17, 'X' ^ 0x17, '3' ^ 0x17, '!' ^ 0x17};
const volatile uint8_t kSigHigh[8] = {0x99 ^ 0xC5, 0x4C ^ 0xC5, 0x53 ^ 0xC5, 0x0A ^ 0xC5,
                             0x86 ^ 0xC5, 0xD6 ^ 0xC5, 0x48 ^ 0xC5, 0x7D ^ 0xC5};
}  // namespace

void headPattern(uint8_t out[kHeadLength]) {
    for (int i = 0; i < 8; ++i) out[i] = kSigLow[i] ^ 0x5C;
    for (int i = 0; i < 8; ++i) out[8 + i] = kSigHigh[i] ^ 0xC5;
    for (int i = 0; i < 4; ++i) out[16 + i] = kMarker[i] ^ 0x17;
}

// ---- Scrambling and checksums -------------------------------------------------------------------------------

Scrambler::Scrambler(uint32_t seedValue) : state_((seedValue * 0x9E3779B1u) ^ 0x85EBCA6Bu) {
    if (state_ == 0) state_ = 0x6D2B79F5u;  // xorshift must not start at 0
}

void Scrambler::apply(uint8_t* p, size_t n) {
    uint32_t s = state_;
    for (size_t i = 0; i < n; ++i) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        p[i] ^= static_cast<uint8_t>(s >> 24);
    }
    state_ = s;
}

void Adler32::add(const uint8_t* p, size_t n) {
    // 5552 is the largest run whose sums cannot overflow 32 bits before the modulo.
    while (n > 0) {
        size_t k = std::min<size_t>(n, 5552);
        n -= k;
        for (size_t i = 0; i < k; ++i) {
            a_ += p[i];
            b_ += a_;
        }
        p += k;
        a_ %= 65521;
        b_ %= 65521;
    }
}

uint32_t adler32(const uint8_t* p, size_t n) {
    Adler32 a;
    a.add(p, n);
    return a.value();
}

// ---- Decoder ------------------------------------------------------------------------------------------------

namespace {

// Bits MSB-first out of 16-bit big-endian words pulled from the source in 64 KiB reads.
class BitReader {
public:
    explicit BitReader(const ByteSource& src) : src_(src), buf_(kChunkSize) {}

    bool byte(uint8_t& b) {
        if (pos_ == len_) {
            if (ended_) return false;
            len_ = src_(buf_.data(), buf_.size());
            pos_ = 0;
            if (len_ == 0) {
                ended_ = true;
                return false;
            }
        }
        b = buf_[pos_++];
        return true;
    }

    // n <= 16
    bool bits(int n, uint32_t& v) {
        while (have_ < n) {
            uint8_t hi, lo = 0;
            if (!byte(hi)) return false;
            byte(lo);  // a lone last byte is the high half of a word whose low half is 0
            acc_ = (acc_ << 16) | (uint32_t(hi) << 8) | lo;
            have_ += 16;
        }
        have_ -= n;
        v = static_cast<uint32_t>(acc_ >> have_) & ((1u << n) - 1);
        return true;
    }

private:
    const ByteSource& src_;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0, len_ = 0;
    bool ended_ = false;
    uint64_t acc_ = 0;
    int have_ = 0;
};

class Output {
public:
    Output(const ByteSink& sink) : sink_(sink), window_(kWindowSize), buf_(kChunkSize) {}
    void put(uint8_t b) {
        window_[p_ & (kWindowSize - 1)] = b;
        ++p_;
        buf_[n_++] = b;
        if (n_ == buf_.size()) flush();
    }
    uint8_t back(uint64_t d) const { return window_[(p_ - d) & (kWindowSize - 1)]; }
    bool flush() {
        if (n_ && ok_) ok_ = sink_(buf_.data(), n_);
        n_ = 0;
        return ok_;
    }
    bool ok() const { return ok_; }
    uint64_t position() const { return p_; }

private:
    const ByteSink& sink_;
    std::vector<uint8_t> window_;
    std::vector<uint8_t> buf_;
    size_t n_ = 0;
    uint64_t p_ = 0;
    bool ok_ = true;
};

}  // namespace

DecodeResult decompress(const ByteSource& in, const ByteSink& sink, uint64_t expectedSize) {
    BitReader r(in);
    uint8_t head[8];
    for (uint8_t& b : head)
        if (!r.byte(b)) return DecodeResult::Truncated;
    if (std::memcmp(head, kVersion, 4) != 0) return DecodeResult::BadTag;
    uint64_t size = uint64_t(head[4]) << 24 | uint64_t(head[5]) << 16 | uint64_t(head[6]) << 8 | head[7];
    if (size != expectedSize) return DecodeResult::SizeMismatch;

    Output out(sink);
    uint32_t v;
    while (out.position() < size) {
        if (!out.ok()) return DecodeResult::SinkFailed;
        if (!r.bits(1, v)) return DecodeResult::Truncated;
        if (v) {
            if (!r.bits(8, v)) return DecodeResult::Truncated;
            out.put(static_cast<uint8_t>(v));
            continue;
        }
        uint32_t d;
        if (!r.bits(15, d)) return DecodeResult::Truncated;
        uint64_t room = size - out.position();
        // Length: 3-5 in 2 bits, 6-12 in 3 more, 13-43 in 5 more, 44-298 in 8 more, then runs of 8 bits.
        uint64_t len;
        if (!r.bits(2, v)) return DecodeResult::Truncated;
        if (v < 3) {
            len = v + 3;
        } else {
            if (!r.bits(3, v)) return DecodeResult::Truncated;
            if (v < 7) {
                len = v + 6;
            } else {
                if (!r.bits(5, v)) return DecodeResult::Truncated;
                if (v < 31) {
                    len = v + 13;
                } else {
                    if (!r.bits(8, v)) return DecodeResult::Truncated;
                    if (v < 255) {
                        len = v + 44;
                    } else {
                        len = 299;
                        for (;;) {
                            if (len > room) return DecodeResult::Overrun;
                            if (!r.bits(8, v)) return DecodeResult::Truncated;
                            len += v;
                            if (v < 255) break;
                        }
                    }
                }
            }
        }
        if (len > room) return DecodeResult::Overrun;
        if (d == 0 || d > out.position()) return DecodeResult::BadDistance;
        for (uint64_t k = 0; k < len; ++k) out.put(out.back(d));
    }
    if (!out.flush()) return DecodeResult::SinkFailed;
    return DecodeResult::Ok;
}

DecodeResult decompress(const uint8_t* data, size_t n, std::vector<uint8_t>& out, uint64_t expectedSize) {
    size_t at = 0;
    ByteSource src = [&](uint8_t* buf, size_t cap) {
        size_t k = std::min(cap, n - at);
        std::memcpy(buf, data + at, k);
        at += k;
        return k;
    };
    ByteSink sink = [&](const uint8_t* buf, size_t k) {
        out.insert(out.end(), buf, buf + k);
        return true;
    };
    out.clear();
    return decompress(src, sink, expectedSize);
}

// ---- Encoder ------------------------------------------------------------------------------------------------

namespace {

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void bits(uint32_t v, int n) {
        while (n-- > 0) {
            word_ = static_cast<uint16_t>((word_ << 1) | ((v >> n) & 1));
            if (++used_ == 16) flushWord();
        }
    }
    void finish() {
        if (used_ == 0) return;
        word_ = static_cast<uint16_t>(word_ << (16 - used_));
        flushWord();
    }

private:
    void flushWord() {
        out_.push_back(static_cast<uint8_t>(word_ >> 8));
        out_.push_back(static_cast<uint8_t>(word_));
        word_ = 0;
        used_ = 0;
    }
    std::vector<uint8_t>& out_;
    uint16_t word_ = 0;
    int used_ = 0;
};

void writeLength(BitWriter& w, size_t len) {
    if (len <= 5) return w.bits(static_cast<uint32_t>(len - 3), 2);
    w.bits(3, 2);
    if (len <= 12) return w.bits(static_cast<uint32_t>(len - 6), 3);
    w.bits(7, 3);
    if (len <= 43) return w.bits(static_cast<uint32_t>(len - 13), 5);
    w.bits(31, 5);
    if (len <= 298) return w.bits(static_cast<uint32_t>(len - 44), 8);
    w.bits(255, 8);
    size_t m = len - 299;
    for (; m >= 255; m -= 255) w.bits(255, 8);
    w.bits(static_cast<uint32_t>(m), 8);
}

constexpr int kHashBits = 15;
constexpr size_t kMinMatch = 3;
constexpr int kMaxChain = 128;
constexpr size_t kGoodEnough = 1024;  // stop searching once a match is this long

class Matcher {
public:
    Matcher(const uint8_t* d, size_t n) : d_(d), n_(n), head_(size_t(1) << kHashBits, -1), prev_(kMaxDistance + 1, -1) {}

    // Adds position i to the chains (positions are added in order, each once).
    void insert(size_t i) {
        if (i + kMinMatch > n_) return;
        uint32_t h = hash(i);
        prev_[i & kMaxDistance] = head_[h];
        head_[h] = static_cast<int64_t>(i);
    }

    // Longest earlier match for position i (not yet inserted); length 0 when none of 3 or more.
    size_t find(size_t i, size_t& dist) const {
        size_t best = 0;
        if (i + kMinMatch > n_) return 0;
        size_t maxLen = n_ - i;
        int64_t c = head_[hash(i)];
        for (int chain = 0; c >= 0 && chain < kMaxChain; ++chain) {
            size_t cand = static_cast<size_t>(c);
            if (i - cand > kMaxDistance) break;
            if (d_[cand + best] == d_[i + best] || best == 0) {
                size_t l = 0;
                while (l < maxLen && d_[cand + l] == d_[i + l]) ++l;
                if (l > best) {
                    best = l;
                    dist = i - cand;
                    if (l >= kGoodEnough || l == maxLen) break;
                }
            }
            int64_t nx = prev_[cand & kMaxDistance];
            if (nx >= c) break;  // the slot was reused by a newer position: chain ends here
            c = nx;
        }
        return best >= kMinMatch ? best : 0;
    }

private:
    uint32_t hash(size_t i) const {
        uint32_t v = uint32_t(d_[i]) << 16 | uint32_t(d_[i + 1]) << 8 | d_[i + 2];
        return (v * 2654435761u) >> (32 - kHashBits);
    }
    const uint8_t* d_;
    size_t n_;
    std::vector<int64_t> head_;
    std::vector<int64_t> prev_;
};

}  // namespace

std::vector<uint8_t> compress(const uint8_t* data, size_t n) {
    std::vector<uint8_t> out;
    out.reserve(n / 2 + 64);
    out.insert(out.end(), kVersion, kVersion + 4);
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(n >> s));
    BitWriter w(out);
    Matcher m(data, n);
    size_t i = 0;
    while (i < n) {
        size_t dist = 0;
        size_t len = m.find(i, dist);
        if (len > 0 && len < kGoodEnough && i + 1 < n) {
            // One step of lookahead: a longer match starting at the next byte wins over this one.
            m.insert(i);
            size_t dist2 = 0;
            size_t len2 = m.find(i + 1, dist2);
            if (len2 > len + 1) {
                w.bits(1, 1);
                w.bits(data[i], 8);
                ++i;
                len = len2;
                dist = dist2;
            } else {
                w.bits(0, 1);
                w.bits(static_cast<uint32_t>(dist), 15);
                writeLength(w, len);
                for (size_t k = 1; k < len; ++k) m.insert(i + k);
                i += len;
                continue;
            }
        } else if (len == 0) {
            m.insert(i);
            w.bits(1, 1);
            w.bits(data[i], 8);
            ++i;
            continue;
        }
        // Emit the match at i (found directly or by the lookahead).
        w.bits(0, 1);
        w.bits(static_cast<uint32_t>(dist), 15);
        writeLength(w, len);
        for (size_t k = 0; k < len; ++k) m.insert(i + k);
        i += len;
    }
    w.finish();
    return out;
}

// ---- Entries ------------------------------------------------------------------------------------------------

namespace {

void putScrambled(std::vector<uint8_t>& out, const uint8_t* p, size_t n, uint32_t seedValue) {
    size_t at = out.size();
    out.insert(out.end(), p, p + n);
    scramble(out.data() + at, n, seedValue);
}

void putText(std::vector<uint8_t>& out, u16view s, uint32_t lengthKey, uint32_t seedBase) {
    uint32_t n = static_cast<uint32_t>(s.size());
    putLE32(out, n ^ lengthKey);
    size_t at = out.size();
    for (char16_t c : s) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    scramble(out.data() + at, out.size() - at, seedBase + n);
}

void putTime(std::vector<uint8_t>& out, uint64_t t) {
    putLE32(out, static_cast<uint32_t>(t >> 32));
    putLE32(out, static_cast<uint32_t>(t));
}

}  // namespace

void writeHead(std::vector<uint8_t>& out) {
    uint8_t head[kHeadLength];
    headPattern(head);
    out.insert(out.end(), head, head + kHeadLength);
    out.insert(out.end(), kVersion, kVersion + 4);
    const uint8_t block[kBlockLength] = {'T', 'a', 'r', 'v', 'e', 'x', ' ', 'v', '3', ' ', 'q', 'x', 'c', 0, 0, 0};
    putScrambled(out, block, kBlockLength, seed::Block);
}

void writeEntry(std::vector<uint8_t>& out, u16view name, u16view path, const std::vector<uint8_t>& data,
                bool compressed, uint32_t originalSize, const FileTimes& times) {
    const uint8_t tag[4] = {'F', 'I', 'L', 'E'};
    putScrambled(out, tag, 4, seed::Tag);
    putText(out, name, key::NameLength, seed::Name);
    putText(out, path, key::PathLength, seed::Path);
    out.push_back(compressed ? 1 : 0);
    putLE32(out, static_cast<uint32_t>(data.size()) ^ key::Size);
    putLE32(out, originalSize ^ key::Size);
    putLE32(out, adler32(data.data(), data.size()) ^ key::Checksum);
    putTime(out, times.creation);
    putTime(out, times.lastWrite);
    putScrambled(out, data.data(), data.size(), seed::Data);
}

}  // namespace tx::qx
