#pragma once
// A 128-bit fingerprint of a file's bytes (see ContentPrint); equal size and
// fingerprint are taken as equal bytes.
#include <cstdint>

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

}  // namespace hx::scan
