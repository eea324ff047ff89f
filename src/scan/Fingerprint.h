#pragma once
// A 128-bit fingerprint of a file's bytes (see ContentPrint); equal size and
// fingerprint are taken as equal bytes.
#include <cstddef>
#include <cstdint>
#include <set>

namespace hx::scan {

struct Fingerprint {
    std::uint64_t a = 0, b = 0;
    bool operator==(const Fingerprint&) const = default;
    auto operator<=>(const Fingerprint&) const = default;
};

// A content as the one-step recovery keeps it once: its length, its
// fingerprint, and the fingerprint of its beginning (its first
// kBeginningBytes, or all of it when shorter), which tells early in a file
// that it cannot be a copy of a kept one.
constexpr std::size_t kBeginningBytes = 64 * 1024;

struct ContentKey {
    std::uint64_t size = 0;
    Fingerprint print;
    Fingerprint beginning;
    auto operator<=>(const ContentKey&) const = default;
    bool operator==(const ContentKey&) const = default;
};

class KeptContents {
public:
    // False when it was kept before.
    bool add(const ContentKey& key) {
        beginnings_.insert(key.beginning);
        return keys_.insert(key).second;
    }
    bool beginsLikeOne(const Fingerprint& beginning) const { return beginnings_.count(beginning) > 0; }
    std::size_t size() const { return keys_.size(); }

private:
    std::set<ContentKey> keys_;
    std::set<Fingerprint> beginnings_;
};

}  // namespace hx::scan
