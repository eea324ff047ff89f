// Any bytes as the start of a compound document: the header check and the
// walk of its sector table stay inside what was given and end.
#include <cstdint>
#include <vector>

#include "formats/Ole2End.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 512) return 0;
    if (!hx::formats::IsOle2Header(data, size)) return 0;
    hx::formats::Ole2EndFinder end(data);
    // Fed in uneven pieces, as units of several sizes would bring it.
    bool ends = false;
    for (std::size_t at = 0, step = 512; at < size && !ends; at += step, step = step * 3 % 4093 + 1)
        end.feed(data + at, std::min(step, size - at), ends);
    return 0;
}
