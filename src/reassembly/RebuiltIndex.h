#pragma once
// A clip whose index is lost (its `moov` overwritten, or never written when
// the battery went flat) holds its samples but nothing says where they are.
// A clip of the same camera whose index is whole says how that camera writes:
// its video track's description (codec settings), its frame duration, how
// much sound lies between runs of video. The lost clip's H.264 samples are
// found by walking their NAL units (an access unit ends where the next
// begins; what is no NAL unit between runs of video is the sound), each
// picture's frame number and order count following the one before, so that
// no picture of an older recording after the cut is taken; and a new index is
// written for them. Pictures stored out of the order they are shown in
// (B-frames) are put in order by their order counts, and the new index says
// when each is shown (composition offsets and an edit list). Uncompressed sound (as many cameras record in MOV) is
// kept: the runs between pictures are its frames, all of one size. Compressed
// sound (AAC) is left out: its frames carry no length. H.265 clips, whose
// slices need more to be read to tell them from an older recording's, are
// not done yet.
#include <cstdint>
#include <filesystem>
#include <string>

namespace hx::reassembly {

// What was made of a clip: whether its sound was kept, and how many of its
// bytes (from its start) the new index covers.
struct RebuiltClip {
    bool sound = false;
    std::uint64_t taken = 0;
};

// Writes to `out` the clip at `clip` (its first `clipBytes` as found: its
// `ftyp` and `mdat`, no index) up to its last whole video sample, with an
// index made after the one of `reference` (a whole clip of the same camera).
// False when the two are not of one camera or no video sample is found. The
// clip is looked at where the system caches it, a part at a time: a clip of
// any size takes the same memory.
bool WriteWithRebuiltIndex(const std::filesystem::path& clip, std::uint64_t clipBytes, const std::filesystem::path& reference,
                           std::uint64_t referenceBytes, const std::filesystem::path& out, RebuiltClip* made = nullptr);

// The same in memory: `out` the clip with its new index.
bool RebuildIndex(const std::string& clip, const std::string& reference, std::string& out, RebuiltClip* made = nullptr);

}  // namespace hx::reassembly
