#pragma once
// A file's fingerprint, taken from its bytes fed in pieces of any size.
#include <cstddef>
#include <cstdint>

#include "scan/Fingerprint.h"

#define XXH_STATIC_LINKING_ONLY  // the state on the stack
#include <xxhash.h>
#include <xxh_x86dispatch.h>

namespace hx::scan {

// XXH3's 128-bit hash, fed in pieces, in the widest vector form the processor
// has: it runs at many times the speed a copy of the bytes takes, so the
// fingerprint rides along with the scan's reading at little cost.
class ContentPrint {
public:
    ContentPrint() { XXH3_128bits_reset(&state_); }
    void add(const std::uint8_t* data, std::size_t size) {
        size_ += size;
        XXH3_128bits_update_dispatch(&state_, data, size);
    }
    Fingerprint value() const {
        const XXH128_hash_t h = XXH3_128bits_digest(&state_);
        return {h.low64, h.high64};
    }
    std::uint64_t size() const { return size_; }

private:
    XXH3_state_t state_;
    std::uint64_t size_ = 0;
};

}  // namespace hx::scan
