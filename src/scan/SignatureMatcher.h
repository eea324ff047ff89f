#pragma once
// Which row of a scan table a unit starts: candidate rows per byte at their
// signature's place (the first byte, or the fifth for a box type), in table
// order, so that the first match is the one a walk of every row from the top
// would find.
#include <array>
#include <cstdint>
#include <vector>

#include "scan/SignatureTable.h"

namespace hx::scan {

// Bytes of a unit that a signature test may look at.
constexpr std::size_t kSignatureWindow = 1024;

class SignatureMatcher {
public:
    void build(const SignatureTable& table);
    // The matching row for the unit whose window starts at `w` (kSignatureWindow bytes readable), or -1.
    int match(const std::uint8_t* w) const;

private:
    const SignatureTable* table_ = nullptr;
    std::array<std::vector<std::uint32_t>, 256> candidates_;  // signatures at the unit's start, by first byte
    std::array<std::vector<std::uint32_t>, 256> boxed_;       // signatures further in, by their first byte
    std::array<bool, 256> any_{};
    bool anyBoxed_ = false;
};

}  // namespace hx::scan
