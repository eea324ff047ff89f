#pragma once
// Follows the entropy-coded data of a baseline JPEG without making pixels:
// every Huffman code is read and checked, no coefficient is kept and no
// inverse DCT is done. It is stricter than a decoder that fills in what it
// cannot read: a code the tables do not hold, a block of more than 64
// coefficients, a marker out of place or a restart marker out of turn is a
// fault, met within a few bytes of where foreign data begins.
//
// It can start again from any place between two MCUs that it passed (a
// mark), so a damaged picture can be tried against many continuations
// without following its first piece again.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hx::formats {

class JpegEntropy {
public:
    // A place between two MCUs: the bit where the next one begins.
    struct Mark {
        std::uint64_t byte = 0;  // the byte that holds that bit
        std::uint8_t bit = 0;    // bits of that byte used before it (0..7)
        std::uint32_t mcu = 0;   // MCUs before it
    };
    enum class Outcome {
        Complete,     // every MCU read and the end marker right after them
        Fault,        // data that no encoder writes
        RanOut,       // the data ended first, without a fault on the way
        Unsupported,  // a marker after the scan that this walk does not follow
    };
    struct Walk {
        Outcome outcome = Outcome::RanOut;
        std::uint64_t at = 0;    // Complete: one past the end marker; otherwise about where the walk stopped
        std::uint32_t mcus = 0;  // MCUs read without a fault
    };

    // Reads the headers up to the first scan. False for a picture this walk
    // cannot follow (progressive, arithmetic-coded, 12-bit, a scan of some
    // components only) or whose headers are broken: decode those another way.
    bool readHeaders(const std::uint8_t* data, std::size_t size);
    Mark start() const { return {scanStart_, 0, 0}; }
    std::uint32_t mcuCount() const { return mcus_; }

    // Walks data[0, size) from `from` (its byte counted in `data`) to the
    // picture's end marker. With `marks`, the place before an MCU is added
    // about every `markEvery` bytes.
    Walk walk(const std::uint8_t* data, std::size_t size, Mark from, std::vector<Mark>* marks = nullptr,
              std::size_t markEvery = 1024) const;

private:
    struct Table {
        bool defined = false;
        std::array<std::uint16_t, 512> fast{};  // by the next 9 bits: length << 8 | symbol, 0 when longer
        // By the next 11 bits: an AC code with its extra bits, when all fit.
        struct Step {
            std::uint8_t bits = 0;   // code and extra bits; 0: take the long way
            std::uint8_t skip = 0;   // coefficients it moves on by; 0 for the end of the block
            std::uint8_t limit = 0;  // where the next coefficient may lie at most, plus one
        };
        std::array<Step, 2048> steps{};
        std::array<std::int32_t, 18> maxCode{};  // the largest code of each length, -1 when none
        std::array<std::int32_t, 18> offset{};   // index of a length's first value, less its first code
        std::array<std::uint8_t, 256> values{};
        bool build(const std::uint8_t* counts, const std::uint8_t* symbols, std::size_t total);
    };
    struct Component {
        std::uint8_t id = 0, h = 1, v = 1, dc = 0, ac = 0;
    };
    // The frame header (SOF0/1) and the scan header (SOS) read into the members below.
    bool readFrame(const std::uint8_t* p, std::size_t n);
    bool readScan(const std::uint8_t* p, std::size_t n);

    std::array<Table, 4> dc_{}, ac_{};
    std::array<Component, 4> components_{};
    int frameComponents_ = 0;
    std::uint32_t width_ = 0, height_ = 0;
    std::uint32_t restartInterval_ = 0;
    std::uint64_t scanStart_ = 0;
    std::uint32_t mcus_ = 0;
    // The blocks of one MCU, in order: their DC and AC tables.
    std::array<std::uint8_t, 10> blockDc_{}, blockAc_{};
    int blocksPerMcu_ = 0;
};

// Walks candidate byte sequences for one picture that share their beginnings
// (the layouts an undelete tries for a deleted file): each is walked only
// from the last mark before where it first differs from the one before it,
// and not at all when that one's walk ended before the difference.
class JpegCandidates {
public:
    // The walk of a whole candidate, from the picture's first byte;
    // Unsupported when its headers cannot be followed. The candidate is kept
    // (candidate()) until the next one is walked, to be compared with it.
    JpegEntropy::Walk walk(std::vector<std::uint8_t> candidate);
    const std::vector<std::uint8_t>& candidate() const { return last_; }
    // The last candidate's walk met a fault within its first `same` bytes:
    // a candidate that begins with those bytes meets it too.
    bool faultsWithin(std::size_t same) const;

private:
    // The walk reads a few bytes ahead of where it decides.
    static constexpr std::uint64_t kAhead = 16;
    JpegEntropy entropy_;
    bool headers_ = false;
    std::vector<std::uint8_t> last_;
    std::vector<JpegEntropy::Mark> marks_;
    JpegEntropy::Walk lastWalk_;
};

}  // namespace hx::formats
