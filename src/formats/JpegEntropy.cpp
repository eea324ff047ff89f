#include "formats/JpegEntropy.h"

#include "formats/JpegSegments.h"

#include <algorithm>
#include <cstring>

namespace hx::formats {

namespace {

constexpr int kFastBits = 9;
constexpr int kStepBits = 11;
// Zero bytes in a row that no encoder writes.
constexpr std::size_t kBlankRun = 64;
constexpr std::uint8_t kBlank[kBlankRun] = {};

std::uint32_t be16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0]) << 8 | p[1]; }

// The bits of the entropy-coded data, most significant first, with the
// stuffed zero after each 0xFF taken out. Loading stops at a marker.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size, std::size_t pos)
        : data_(data), size_(size), start_(pos), pos_(pos) {}

    // Loads bytes until more than 56 bits are held, a marker comes or the
    // data ends. Inlined into the walk, so that the bits stay in registers.
    [[gnu::always_inline]] void fill() {
        while (bits_ <= 56) {
            // Eight bytes at a time while none of them is 0xFF or zero.
            if (pos_ + 8 <= size_) {
                std::uint64_t word;
                std::memcpy(&word, data_ + pos_, 8);
                constexpr std::uint64_t kLow = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
                if (!((((word - kLow) & ~word) | ((~word - kLow) & word)) & kHigh)) {
                    const int take = (64 - bits_) / 8;
                    // The bytes taken, first byte highest, below the bits held;
                    // the rest of the word is left for the next load.
                    const int below = 64 - bits_ - take * 8;
                    acc_ |= (__builtin_bswap64(word) >> bits_) & ~((1ull << below) - 1);
                    bits_ += take * 8;
                    pos_ += static_cast<std::size_t>(take);
                    loaded_ += static_cast<std::uint64_t>(take);
                    return;
                }
            }
            if (!fillByte()) return;
        }
    }
    // One byte, or the stop at a marker or the end: false when nothing was loaded.
    bool fillByte() {
        if (pos_ >= size_) {
            end_ = true;
            return false;
        }
        const std::uint8_t b = data_[pos_];
        // Blank sectors read as valid codes for ever: a long run of zero
        // bytes ends the data as a marker would.
        if (b == 0 && pos_ + kBlankRun <= size_ && std::memcmp(data_ + pos_, kBlank, kBlankRun) == 0) {
            marker_ = true;
            return false;
        }
        if (b == 0xFF) {
            if (pos_ + 1 >= size_) {
                end_ = true;
                return false;
            }
            if (data_[pos_ + 1] != 0x00) {
                marker_ = true;
                return false;
            }
            pos_ += 2;
        } else {
            ++pos_;
        }
        ++loaded_;
        acc_ |= static_cast<std::uint64_t>(b) << (56 - bits_);
        bits_ += 8;
        return true;
    }
    int bits() const { return bits_; }
    std::uint32_t peek(int n) const { return static_cast<std::uint32_t>(acc_ >> (64 - n)); }
    void consume(int n) {
        acc_ <<= n;
        bits_ -= n;
    }
    // The reader stopped loading: at a marker, or at the end of the data.
    bool atMarker() const { return marker_; }
    bool atEnd() const { return end_; }
    // The byte that holds the next bit, and how many of its bits are used.
    std::uint64_t byte() const {
        // Back over the loaded bytes not yet used up; a 0xFF counts with its
        // stuffed zero. Never before where loading began: a header's last
        // byte may be 0xFF, and the data's first a zero of its own.
        std::size_t at = pos_;
        for (int unused = (bits_ + 7) / 8; unused > 0 && at > start_; --unused)
            at -= (at >= start_ + 2 && data_[at - 1] == 0x00 && data_[at - 2] == 0xFF) ? 2 : 1;
        return at;
    }
    std::uint8_t bit() const { return static_cast<std::uint8_t>((loaded_ * 8 - static_cast<std::uint64_t>(bits_)) % 8); }
    // Drops the rest of the byte in use; true when nothing else is loaded
    // (the marker that must follow is next).
    bool align() {
        consume(bits_ % 8);
        return bits_ == 0;
    }
    std::size_t pos() const { return pos_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t start_;  // where loading began
    std::size_t pos_;
    std::uint64_t acc_ = 0;
    int bits_ = 0;
    std::uint64_t loaded_ = 0;
    bool marker_ = false;
    bool end_ = false;
};

}  // namespace

bool JpegEntropy::Table::build(const std::uint8_t* counts, const std::uint8_t* symbols, std::size_t total) {
    fast.fill(0);
    steps.fill({});
    maxCode.fill(-1);
    offset.fill(0);
    std::copy(symbols, symbols + total, values.begin());
    std::int32_t code = 0;
    std::size_t k = 0;
    for (int len = 1; len <= 16; ++len) {
        const int n = counts[len - 1];
        offset[len] = static_cast<std::int32_t>(k) - code;
        if (n > 0) {
            if (code + n > (1 << len)) return false;  // more codes than fit in this length
            for (int i = 0; i < n; ++i, ++k, ++code)
                if (len <= kFastBits) {
                    const int shift = kFastBits - len;
                    for (int f = 0; f < (1 << shift); ++f)
                        fast[static_cast<std::size_t>((code << shift) | f)] =
                            static_cast<std::uint16_t>(len << 8 | values[k]);
                }
            maxCode[len] = code - 1;
            // Codes of this length, each with its extra bits, for the AC steps.
            for (std::int32_t c = code - n; c < code; ++c) {
                const std::uint8_t rs = values[static_cast<std::size_t>(k - static_cast<std::size_t>(code - c))];
                const int run = rs >> 4, size = rs & 15;
                if (len + size > kStepBits || size > 10 || (size == 0 && run != 0 && run != 15)) continue;
                Step step;
                step.bits = static_cast<std::uint8_t>(len + size);
                step.skip = static_cast<std::uint8_t>(size == 0 ? (run == 15 ? 16 : 0) : run + 1);
                step.limit = size == 0 ? 63 : 64;
                const int shift = kStepBits - len;
                for (int f = 0; f < (1 << shift); ++f) steps[static_cast<std::size_t>((c << shift) | f)] = step;
            }
        }
        code <<= 1;
    }
    defined = true;
    return true;
}

bool JpegEntropy::readFrame(const std::uint8_t* p, std::size_t n) {
    JpegFrame header;
    if (!ReadJpegFrame(p, n, header) || header.precision != 8 || header.height == 0) return false;
    height_ = header.height;
    width_ = header.width;
    frameComponents_ = header.components;
    for (int c = 0; c < frameComponents_; ++c) {
        Component& comp = components_[static_cast<std::size_t>(c)];
        comp.id = header.component[c].id;
        comp.h = header.component[c].h;
        comp.v = header.component[c].v;
    }
    return true;
}

bool JpegEntropy::readScan(const std::uint8_t* p, std::size_t n) {
    if (n < 1) return false;
    const int count = p[0];
    // One scan of every component (or of the only one); anything else is left to a decoder.
    if (count != frameComponents_ || n < 1 + 2u * static_cast<std::size_t>(count) + 3) return false;
    int hMax = 1, vMax = 1;
    for (int c = 0; c < frameComponents_; ++c) {
        hMax = std::max<int>(hMax, components_[static_cast<std::size_t>(c)].h);
        vMax = std::max<int>(vMax, components_[static_cast<std::size_t>(c)].v);
    }
    blocksPerMcu_ = 0;
    for (int s = 0; s < count; ++s) {
        const std::uint8_t id = p[1 + 2 * s], dcSlot = p[2 + 2 * s] >> 4, acSlot = p[2 + 2 * s] & 15;
        if (dcSlot > 3 || acSlot > 3 || !dc_[dcSlot].defined || !ac_[acSlot].defined) return false;
        const auto comp = std::find_if(components_.begin(), components_.begin() + frameComponents_,
                                       [id](const Component& c) { return c.id == id; });
        if (comp == components_.begin() + frameComponents_) return false;
        const int blocks = count == 1 ? 1 : comp->h * comp->v;
        if (blocksPerMcu_ + blocks > 10) return false;
        for (int b = 0; b < blocks; ++b) {
            blockDc_[static_cast<std::size_t>(blocksPerMcu_)] = dcSlot;
            blockAc_[static_cast<std::size_t>(blocksPerMcu_++)] = acSlot;
        }
    }
    std::uint64_t cols = 0, rows = 0;
    if (count == 1) {
        // A lone component is coded block by block over its own size.
        const Component& c = components_[0];
        const std::uint64_t w = (static_cast<std::uint64_t>(width_) * c.h + hMax - 1) / hMax;
        const std::uint64_t h = (static_cast<std::uint64_t>(height_) * c.v + vMax - 1) / vMax;
        cols = (w + 7) / 8;
        rows = (h + 7) / 8;
    } else {
        cols = (width_ + 8ull * hMax - 1) / (8ull * hMax);
        rows = (height_ + 8ull * vMax - 1) / (8ull * vMax);
    }
    if (cols * rows == 0 || cols * rows > 0xFFFFFFFFull) return false;
    mcus_ = static_cast<std::uint32_t>(cols * rows);
    return true;
}

bool JpegEntropy::readHeaders(const std::uint8_t* data, std::size_t size) {
    *this = JpegEntropy();
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    std::size_t at = 2;
    bool frame = false;
    for (int segments = 0; segments < 4096; ++segments) {
        while (at < size && data[at] == 0xFF && at + 1 < size && data[at + 1] == 0xFF) ++at;  // fill bytes
        if (at + 4 > size || data[at] != 0xFF) return false;
        const std::uint8_t code = data[at + 1];
        if (code == 0xD8 || code == 0xD9 || code == 0x01 || (code >= 0xD0 && code <= 0xD7)) return false;
        const std::uint32_t length = be16(data + at + 2);
        if (length < 2 || at + 2 + length > size) return false;
        const std::uint8_t* p = data + at + 4;
        const std::size_t n = length - 2;
        if (code == 0xC0 || code == 0xC1) {
            if (frame || !readFrame(p, n)) return false;
            frame = true;
        } else if (code >= 0xC2 && code <= 0xCF && code != 0xC4 && code != 0xC8) {
            return false;  // progressive, lossless, hierarchical or arithmetic-coded
        } else if (code == 0xC4) {
            const bool built = ForEachHuffmanTable(p, n, [this](const HuffmanTableSpec& spec) {
                Table& t = spec.kind == 0 ? dc_[spec.slot] : ac_[spec.slot];
                return t.build(spec.counts, spec.values, spec.total);
            });
            if (!built) return false;
        } else if (code == 0xDD) {
            if (n < 2) return false;
            restartInterval_ = be16(p);
        } else if (code == 0xDA) {
            if (!frame || !readScan(p, n)) return false;
            scanStart_ = at + 2 + length;
            return true;
        }
        at += 2 + length;
    }
    return false;
}

namespace {

// What reading a code or a block came to, besides a symbol.
constexpr int kFault = -1;  // data no encoder writes
constexpr int kShort = -2;  // the data ran out first

// The next code of `t`: its symbol, kFault or kShort.
template <typename Table>
[[gnu::always_inline]] inline int nextCode(BitReader& in, const Table& t) {
    if (in.bits() < 16) in.fill();
    const std::uint16_t quick = t.fast[in.peek(kFastBits)];
    int len = quick >> 8;
    int symbol = quick & 0xFF;
    if (len == 0) {
        std::int32_t code = 0;
        for (len = kFastBits + 1; len <= 16; ++len) {
            code = static_cast<std::int32_t>(in.peek(len));
            if (code <= t.maxCode[static_cast<std::size_t>(len)]) break;
        }
        if (len > 16) return in.bits() >= 16 || in.atMarker() ? kFault : kShort;
        symbol = t.values[static_cast<std::size_t>((code + t.offset[static_cast<std::size_t>(len)]) & 0xFF)];
    }
    if (len > in.bits()) return in.atMarker() ? kFault : kShort;
    in.consume(len);
    return symbol;
}

// `n` more bits after a code: false when the data holds fewer.
[[gnu::always_inline]] inline bool skipBits(BitReader& in, int n) {
    if (in.bits() < n) in.fill();
    if (in.bits() < n) return false;
    in.consume(n);
    return true;
}

// One block of 64 coefficients, its DC code by `dc` and the rest by `ac`:
// 0, kFault or kShort (short of bits where a marker stands counts as a fault).
template <typename Table>
[[gnu::always_inline]] inline int walkBlock(BitReader& in, const Table& dc, const Table& ac) {
    const auto shortOf = [&in] { return in.atMarker() ? kFault : kShort; };
    const int size = nextCode(in, dc);
    if (size < 0) return size == kFault ? kFault : shortOf();
    if (size > 11) return kFault;
    if (!skipBits(in, size)) return shortOf();
    for (int k = 1; k < 64;) {
        if (in.bits() < 32) in.fill();
        const auto& step = ac.steps[in.peek(kStepBits)];
        if (step.bits != 0 && step.bits <= in.bits()) {
            if (step.skip == 0) {
                in.consume(step.bits);
                return 0;  // end of block
            }
            if (k + step.skip > step.limit) return kFault;
            in.consume(step.bits);
            k += step.skip;
            continue;
        }
        const int rs = nextCode(in, ac);
        if (rs < 0) return rs == kFault ? kFault : shortOf();
        const int run = rs >> 4, bits = rs & 15;
        if (bits == 0) {
            if (run == 0) return 0;  // end of block
            if (run != 15 || k + 16 > 63) return kFault;
            k += 16;
            continue;
        }
        k += run;
        if (k > 63 || bits > 10) return kFault;
        if (!skipBits(in, bits)) return shortOf();
        ++k;
    }
    return 0;
}

}  // namespace

JpegEntropy::Walk JpegEntropy::walk(const std::uint8_t* data, std::size_t size, Mark from,
                                    std::vector<Mark>* marks, std::size_t markEvery) const {
    Walk result;
    if (mcus_ == 0 || from.byte > size || from.mcu > mcus_) {
        result.outcome = Outcome::Fault;
        return result;
    }
    BitReader in(data, size, static_cast<std::size_t>(from.byte));
    in.fill();
    const auto stop = [&](Outcome outcome, std::uint32_t mcu) {
        result.outcome = outcome;
        result.at = outcome == Outcome::RanOut ? size : in.byte();
        result.mcus = mcu;
        return result;
    };
    if (from.bit > 0) {
        if (in.bits() < from.bit) return stop(in.atMarker() ? Outcome::Fault : Outcome::RanOut, from.mcu);
        in.consume(from.bit);
    }
    std::uint64_t lastMark = from.byte;
    for (std::uint32_t mcu = from.mcu; mcu < mcus_; ++mcu) {
        // The byte in use lies a few bytes before where loading got to.
        if (marks && (marks->empty() || (in.pos() >= lastMark + markEvery && in.byte() >= lastMark + markEvery))) {
            lastMark = in.byte();
            marks->push_back({lastMark, in.bit(), mcu});
        }
        for (int b = 0; b < blocksPerMcu_; ++b) {
            const int got = walkBlock(in, dc_[blockDc_[static_cast<std::size_t>(b)]], ac_[blockAc_[static_cast<std::size_t>(b)]]);
            if (got < 0) return stop(got == kFault ? Outcome::Fault : Outcome::RanOut, mcu);
        }
        const bool last = mcu + 1 == mcus_;
        if (!last && (restartInterval_ == 0 || (mcu + 1) % restartInterval_ != 0)) continue;
        // A restart marker, or the end marker after the last MCU: nothing but
        // the current byte's padding may come first.
        if (!in.align()) return stop(Outcome::Fault, mcu + 1);
        in.fill();
        if (!in.atMarker()) return stop(in.atEnd() ? Outcome::RanOut : Outcome::Fault, mcu + 1);
        std::size_t at = in.pos();
        while (at + 2 < size && data[at + 1] == 0xFF) ++at;  // fill bytes before the marker
        if (at + 1 >= size) return stop(Outcome::RanOut, mcu + 1);
        const std::uint8_t code = data[at + 1];
        if (last) {
            result.mcus = mcus_;
            const bool restart = code >= 0xD0 && code <= 0xD7;
            result.outcome = code == 0xD9 ? Outcome::Complete : restart ? Outcome::Fault : Outcome::Unsupported;
            result.at = code == 0xD9 ? at + 2 : at;
            return result;
        }
        const std::uint32_t expected = ((mcu + 1) / restartInterval_ - 1) % 8;
        if (code != 0xD0 + expected) return stop(Outcome::Fault, mcu + 1);
        in = BitReader(data, size, at + 2);
        in.fill();
    }
    result.outcome = Outcome::Fault;  // a mark past the last MCU
    result.at = in.byte();
    result.mcus = mcus_;
    return result;
}

namespace {

// Where two byte runs of length `n` first differ (n when they do not): page by
// page with memcmp, then byte by byte inside the page that differs.
std::size_t FirstDifference(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
    constexpr std::size_t kPage = 4096;
    std::size_t at = 0;
    while (at < n && std::memcmp(a + at, b + at, std::min(kPage, n - at)) == 0) at += std::min(kPage, n - at);
    while (at < n && a[at] == b[at]) ++at;
    return at;
}

}  // namespace

bool JpegCandidates::faultsWithin(std::size_t same) const {
    return headers_ && same > 0 && lastWalk_.outcome == JpegEntropy::Outcome::Fault && lastWalk_.at + kAhead <= same;
}

JpegEntropy::Walk JpegCandidates::walk(std::vector<std::uint8_t> candidate) {
    const std::uint8_t* data = candidate.data();
    const std::size_t size = candidate.size();
    std::size_t same = headers_ ? FirstDifference(data, last_.data(), std::min(size, last_.size())) : 0;
    if (!headers_ || same < entropy_.start().byte + kAhead) {
        marks_.clear();
        headers_ = entropy_.readHeaders(data, size);
        if (!headers_) {
            last_ = std::move(candidate);
            return {JpegEntropy::Outcome::Unsupported, 0, 0};
        }
        same = 0;
    }
    last_ = std::move(candidate);
    data = last_.data();
    if (same > 0 && lastWalk_.outcome != JpegEntropy::Outcome::RanOut && lastWalk_.at + kAhead <= same)
        return lastWalk_;
    // From the last mark that lies before the first difference.
    const auto after = std::upper_bound(marks_.begin(), marks_.end(), same,
                                        [](std::size_t at, const JpegEntropy::Mark& m) { return at < m.byte + 1; });
    marks_.erase(after, marks_.end());
    const JpegEntropy::Mark from = marks_.empty() ? entropy_.start() : marks_.back();
    lastWalk_ = entropy_.walk(data, size, from, &marks_);
    return lastWalk_;
}

}  // namespace hx::formats
