#pragma once
// A 128-bit fingerprint of a file's bytes, fed in pieces of any size: four
// multiply-xorshift lanes over its 8-byte words (the last block padded with
// zeros), folded in pairs. Each step is a bijection, so files that differ in
// one word never share a fingerprint; equal size and fingerprint are taken
// as equal bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace hx::scan {

struct Fingerprint {
    std::uint64_t a = 0, b = 0;
    bool operator==(const Fingerprint&) const = default;
    auto operator<=>(const Fingerprint&) const = default;
};

// A content as the one-step recovery keeps it once: its length and fingerprint.
struct ContentKey {
    std::uint64_t size = 0;
    Fingerprint print;
    auto operator<=>(const ContentKey&) const = default;
    bool operator==(const ContentKey&) const = default;
};

class ContentPrint {
public:
    void add(const std::uint8_t* data, std::size_t size) {
        size_ += size;
        if (tailLength_ > 0) {
            const std::size_t n = size < kBlock - tailLength_ ? size : kBlock - tailLength_;
            std::memcpy(tail_ + tailLength_, data, n);
            tailLength_ += n;
            data += n;
            size -= n;
            if (tailLength_ < kBlock) return;
            block(tail_);
            tailLength_ = 0;
        }
        for (; size >= kBlock; data += kBlock, size -= kBlock) block(data);
        std::memcpy(tail_, data, size);
        tailLength_ = size;
    }
    Fingerprint value() const {
        ContentPrint last = *this;
        if (last.tailLength_ > 0) {
            std::memset(last.tail_ + last.tailLength_, 0, kBlock - last.tailLength_);
            last.block(last.tail_);
        }
        const auto& l = last.lanes_;
        return {l[0] ^ rotl(l[1], 23), l[2] ^ rotl(l[3], 41)};
    }
    std::uint64_t size() const { return size_; }

private:
    // Four independent lanes over each 32 bytes, so that the multiplications
    // overlap: a fingerprint costs little beside the copy it rides along.
    static constexpr std::size_t kBlock = 32;
    static std::uint64_t rotl(std::uint64_t v, int r) { return (v << r) | (v >> (64 - r)); }
    void block(const std::uint8_t* p) {
        for (int i = 0; i < 4; ++i) {
            std::uint64_t w;
            std::memcpy(&w, p + 8 * i, 8);
            std::uint64_t& lane = lanes_[i];
            lane = (lane ^ w) * (i & 1 ? 0x9FB21C651E98DF25ull : 0xFF51AFD7ED558CCDull);
            lane ^= lane >> 29;
        }
    }

    std::uint64_t lanes_[4] = {0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
                               0x27D4EB2F165667C5ull};
    std::uint8_t tail_[kBlock] = {};
    std::size_t tailLength_ = 0;
    std::uint64_t size_ = 0;
};

}  // namespace hx::scan
