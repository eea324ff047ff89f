// Any bytes as a found file: every layout walk and check stays inside what
// was given, ends, and never claims an end past it.
#include <cstdint>
#include <cstdlib>

#include "viewing/ExifThumbnail.h"
#include "viewing/FileStructure.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (bool content : {false, true}) {
        const auto s = hx::viewing::ReadFileStructure(data, size, content);
        if (s.end > size) std::abort();
    }
    const auto thumb = hx::viewing::FindExifThumbnail(data, size);
    if (thumb.length && (thumb.offset > size || thumb.length > size - thumb.offset)) std::abort();
    return 0;
}
