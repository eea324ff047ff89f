#pragma once
// The sample tables of a movie's `moov` box: for each track, where each chunk
// of its samples lies in the file (stco, co64), which samples form each chunk
// (stsc) and how long each sample is (stsz). With them a clip's bytes are
// known chunk by chunk, wherever the pieces of the file lie.
#include <array>
#include <cstdint>
#include <vector>

#include "formats/iso/IsoBoxes.h"

namespace hx::formats {

struct IsoTrack {
    std::array<char, 4> handler{};            // "vide", "soun", ...
    std::array<char, 4> codec{};              // its first sample entry: "avc1", "hvc1", "mp4a", ...
    std::uint16_t soundBits = 0;              //   a sound entry's bits a sample (as its field says)
    // H.264 and H.265: the bytes of the length before each NAL unit of a
    // sample (1, 2 or 4); 0 for other codecs.
    std::uint8_t nalLengthBytes = 0;
    std::vector<std::uint8_t> codecConfig;    //   and their configuration (avcC, hvcC: the box's contents; AAC's AudioSpecificConfig)
    // The samples that need none before them, numbered from 1 (stss); when
    // none is listed (or the list is unreadable), syncListed is false.
    std::vector<std::uint32_t> syncSamples;
    bool syncListed = false;
    std::vector<std::uint64_t> chunkOffsets;  // in the file
    std::vector<std::uint32_t> samplesInChunk;
    std::vector<std::uint32_t> sampleSizes;
};

struct ChunkSpan {
    std::uint64_t offset = 0;  // in the file
    std::uint64_t bytes = 0;   // its samples' sizes added up
    std::uint32_t firstSample = 0;
    std::uint32_t samples = 0;
};

// The tracks the `moov` box lists; false when a table is missing or does not
// add up (more samples in chunks than sizes, counts past their boxes).
bool ReadSampleTables(const ReadAt& read, const IsoBox& moov, std::vector<IsoTrack>& tracks);

// A track's chunks in the order of the table.
std::vector<ChunkSpan> ChunkSpans(const IsoTrack& track);

// Whether the video samples of the clip that `read` reads are where its
// tables (`tracks`) say: the NAL units of each fill it exactly, each with a
// header as an encoder writes one. Its first million units are looked at.
bool NalSamplesInPlace(const ReadAt& read, const std::vector<IsoTrack>& tracks);

// How far a clip plays whose first `ownBytes` of `size` are its own (the
// rest is not): its video's samples in turn up to the first that does not
// lie wholly among them, in seconds of the movie's length.
struct Playable {
    double plays = 0;
    double lasts = 0;  // the movie's length; 0 when its header tells none
};
Playable PlayableSeconds(const ReadAt& read, std::uint64_t size, std::uint64_t ownBytes);

}  // namespace hx::formats
