#pragma once
// A clip's index cut to the samples it still has: where the bytes of a clip
// stop being its own (a piece that was written over), the samples before
// that still play, given an index that lists them alone.
#include <cstdint>
#include <string>

namespace hx::formats {

// The `moov` box `moov` (its bytes) with each track's sample tables cut to
// the samples, in their order, that lie wholly before byte `dataEnd` of the
// clip, and the durations of the movie and its tracks to theirs. Empty when
// no video sample is left, or a table cannot be read or cut.
std::string IndexCutAt(const std::string& moov, std::uint64_t dataEnd);

}  // namespace hx::formats
