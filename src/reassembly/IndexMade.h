#pragma once
// An index made for a clip's samples after the one of another clip of the
// same camera: its movie header and tracks, each track's description as
// the other's, its tables listing the samples made.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/iso/IsoBoxes.h"

namespace hx::reassembly {

// One track's samples as made: their duration, their sizes (or all of
// `each` bytes), the pictures that need none before them (when listed) and
// the chunks they lie in.
struct MadeTrack {
    std::uint32_t delta = 0;
    std::uint64_t count = 0;
    std::vector<std::uint32_t> sizes;
    std::uint32_t each = 0;
    bool listSyncs = false;
    std::vector<std::uint32_t> syncs;  // numbered from 1
    std::vector<std::pair<std::uint64_t, std::uint32_t>> chunks;
    std::vector<std::uint32_t> offsets;  // when shown out of order: each sample's composition offset
    std::uint32_t shift = 0;             // the offset of the first shown, which the edit list takes back
};

// Pictures shown out of order: each is shown at the place its order count
// within its run gives (`shownBy`: run and count, in the order stored; the
// counts grow by one step a picture), and the offsets say so; all are made no smaller than 0 by the most
// any picture is shown before it is stored, which the edit list takes back.
void SetComposition(const std::vector<std::pair<std::uint64_t, std::int64_t>>& shownBy, MadeTrack& video);

// The new `moov`: the movie header of `moov` in `ref`, its video track
// `videoTrak` and, when `sound` has samples, its sound track `soundTrak`,
// timed and placed for the samples made. Empty when a header is missing.
std::string MakeIndex(std::string_view ref, const formats::IsoBox& moov, const formats::IsoBox& videoTrak,
                      const formats::IsoBox& soundTrak, const MadeTrack& video, const MadeTrack& sound);

}  // namespace hx::reassembly
