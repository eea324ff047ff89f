#pragma once
// Which row of a scan table a unit starts: candidate rows per byte at their
// signature's place (the first byte, or the fifth for a box type), in table
// order, so that the first match is the one a walk of every row from the top
// would find.
#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

#include "formats/SignatureTable.h"

namespace hx::scan {

// Bytes of a unit that a signature test may look at.
constexpr std::size_t kSignatureWindow = 1024;

class SignatureMatcher {
public:
    void build(const formats::SignatureTable& table);
    // The matching row for the unit whose window starts at `w` (kSignatureWindow bytes readable), or -1.
    // `blank`, when given, says whether the window is all zeros.
    int match(const std::uint8_t* w, bool* blank = nullptr) const;

private:
    // Row numbers grouped by byte: those of byte b are rows[start[b]] up to rows[start[b + 1]].
    struct ByByte {
        std::vector<std::uint32_t> rows;
        std::array<std::uint32_t, 257> start{};
        // The first two bytes of some row's signature: most units start
        // with none, and are passed over without a look at any row.
        std::bitset<65536> pairs;
        bool empty(std::uint8_t b) const { return start[b] == start[b + 1]; }
        bool mayStart(const std::uint8_t* at) const { return pairs[static_cast<std::size_t>(at[0]) << 8 | at[1]]; }
    };
    int matchRows(const std::uint8_t* w) const;

    const formats::SignatureTable* table_ = nullptr;
    // What a window of zeros matches (blank sectors fill most media): -1 when nothing.
    int zerosMatch_ = -1;
    ByByte first_;  // signatures at the unit's start, by their first byte
    ByByte boxed_;  // signatures further in, by their first byte
};

}  // namespace hx::scan
