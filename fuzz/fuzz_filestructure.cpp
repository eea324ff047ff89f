// Any bytes as a found file: every layout walk and check stays inside what
// was given, ends, and never claims an end past it; so does the search for
// a raw's previews. A check that starts from an earlier candidate's walk
// answers as a fresh one.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "viewing/ExifThumbnail.h"
#include "formats/FileStructure.h"
#include "viewing/PictureThumbnail.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (bool content : {false, true}) {
        const auto s = hx::formats::ReadFileStructure(data, size, content);
        if (s.end > size) std::abort();
    }
    const auto thumb = hx::viewing::FindExifThumbnail(data, size);
    if (thumb.length && (thumb.offset > size || thumb.length > size - thumb.offset)) std::abort();
    const hx::formats::ReadAt read = [&](std::uint64_t offset, std::size_t length, std::uint8_t* out) {
        if (offset > size || length > size - offset) return false;
        std::copy(data + offset, data + offset + length, out);
        return true;
    };
    for (const auto& p : hx::viewing::FindRawPreviews(read, size))
        if (p.offset > size || p.length > size - p.offset) std::abort();
    // Candidates that share their beginnings, as an undelete tries them: one
    // checked after another answers as it does checked alone.
    if (size > 16) {
        std::vector<std::uint8_t> second(data, data + size);
        const std::size_t at = data[size - 1] * size / 256;
        for (std::size_t i = at; i < size; ++i) second[i] = static_cast<std::uint8_t>(second[i] * 31 + 7);
        hx::formats::CandidateStructures shared;
        shared.read(std::vector<std::uint8_t>(data, data + size));
        // Said to fail within the bytes both share: it fails checked alone too.
        const bool fails = shared.failsWithin(at);
        const auto again = shared.read(second);
        const auto alone = hx::formats::CandidateStructures().read(second);
        if (again.proof != alone.proof || again.end != alone.end) std::abort();
        if (fails && alone.proof != hx::formats::Proof::None) std::abort();
    }
    return 0;
}
