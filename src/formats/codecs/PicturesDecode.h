#pragma once
// Whether a run of a clip's video samples decodes without a fault, through
// libavcodec: the proof that a clip's bytes are its own where its NAL
// lengths alone cannot tell (a cluster that lies wholly inside one picture
// checks nothing of them). A picture made of another file's bytes throws the
// decoder off within a few macroblocks; the clip's own decode cleanly.
#include <array>
#include <cstdint>
#include <vector>

namespace hx::formats {

// `codec` is the track's first sample entry ("avc1", "avc3", "hvc1",
// "hev1"), `config` its configuration box's contents (avcC, hvcC), and
// `samples` the track's samples in decode order from one that needs none
// before it. True when each of them decodes without a fault; false too when
// the codec is none of those or the decoder cannot be had.
bool PicturesDecode(const std::array<char, 4>& codec, const std::vector<std::uint8_t>& config,
                    const std::vector<std::vector<std::uint8_t>>& samples);

}  // namespace hx::formats
