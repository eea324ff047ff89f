#pragma once
// A 128-bit fingerprint of a file's bytes, fed in pieces of any size: two
// multiply-xorshift lanes over its 8-byte words (the last one padded with
// zeros). Each step is a bijection, so files that differ in one word never
// share a fingerprint; equal size and fingerprint are taken as equal bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace hx::scan {

struct Fingerprint {
    std::uint64_t a = 0, b = 0;
    bool operator==(const Fingerprint&) const = default;
    auto operator<=>(const Fingerprint&) const = default;
};

class ContentPrint {
public:
    void add(const std::uint8_t* data, std::size_t size) {
        size_ += size;
        if (tailLength_ > 0) {
            const std::size_t n = size < 8 - tailLength_ ? size : 8 - tailLength_;
            std::memcpy(tail_ + tailLength_, data, n);
            tailLength_ += n;
            data += n;
            size -= n;
            if (tailLength_ < 8) return;
            word(tail_);
            tailLength_ = 0;
        }
        for (; size >= 8; data += 8, size -= 8) word(data);
        std::memcpy(tail_, data, size);
        tailLength_ = size;
    }
    Fingerprint value() const {
        ContentPrint last = *this;
        if (last.tailLength_ > 0) {
            std::memset(last.tail_ + last.tailLength_, 0, 8 - last.tailLength_);
            last.word(last.tail_);
        }
        return {last.a_, last.b_};
    }
    std::uint64_t size() const { return size_; }

private:
    void word(const std::uint8_t* p) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        a_ = (a_ ^ w) * 0xFF51AFD7ED558CCDull;
        a_ ^= a_ >> 29;
        b_ = (b_ + w) * 0x9FB21C651E98DF25ull;
        b_ ^= b_ >> 31;
    }

    std::uint64_t a_ = 0x9E3779B97F4A7C15ull;
    std::uint64_t b_ = 0xC2B2AE3D27D4EB4Full;
    std::uint8_t tail_[8] = {};
    std::size_t tailLength_ = 0;
    std::uint64_t size_ = 0;
};

}  // namespace hx::scan
