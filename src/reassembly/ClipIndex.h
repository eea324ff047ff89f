#pragma once
// Where a found clip's index lies: before its samples, in the bytes found,
// or after them, found on its own elsewhere on the medium at the place its
// `mdat` ends in a cluster. The clip may start inside its find (the clip of
// a motion photo, after the picture): its samples are then placed in the
// find's bytes. Used by the joiners of clips and of motion photos.
#include <cstdint>
#include <string>
#include <vector>

#include "reassembly/ClipPieces.h"

namespace hx::reassembly::pieces {

// A clip as the scan found it: its bytes read from its start through `read`
// (as far as `found`), the byte of its find it starts at (`base`), the find's
// first unit, and the scan's copy of the find (its first `copyBytes`), which
// the check of its first pieces reads instead of the medium.
struct AsFound {
    formats::ReadAt read;
    std::uint64_t found = 0;
    std::uint64_t base = 0;
    std::uint64_t startUnit = 0;
    platform::RawFile* copy = nullptr;
    std::uint64_t copyBytes = 0;

    // A find that is the clip, read from its copy in the cache.
    static AsFound FromCopy(platform::RawFile& copy, std::uint64_t size, std::uint64_t startUnit);
};

// A clip and its index: first, or found after its samples. Offsets are in
// the find's bytes.
struct Index {
    std::vector<Sample> samples;
    std::vector<formats::IsoTrack> tracks;
    std::uint64_t size = 0;     // by its boxes
    std::uint64_t tail = 0;     // its index first: where boxes of the camera's own after its samples end, as found
    std::uint64_t indexAt = 0;  // an index after the samples: where it starts in the file,
    std::uint64_t indexUnit = ~std::uint64_t{0};  // and the unit it was found at
    std::string moov;           //   and its bytes
    // An index in two pieces: where its second starts in the file, and the unit it was found at.
    std::uint64_t restAt = 0, restUnit = ~std::uint64_t{0};
    bool before() const { return indexUnit == ~std::uint64_t{0}; }
};

// The clip's index when it comes before its samples: its samples in file
// order, and its size by its boxes (the scan may have ended the find sooner,
// at another find inside its extent). No samples when it does not.
void IndexFirst(const AsFound& clip, Index& index);

// An index found where a clip's samples end (`indexAt` in the find), and
// what tells whether it is the clip's.
struct Placement {
    const AsFound& clip;
    media::SalvagedMedium& medium;
    const scan::ScanGeometry& geo;
    const Others& around;
    const formats::IsoBox& mdat;  // the clip's, in its own bytes
    std::uint64_t indexAt = 0;
    bool take(const std::vector<std::uint8_t>& box, Index& index) const;
    bool restElsewhere(std::vector<std::uint8_t> box, std::uint64_t cut, std::uint64_t blockUnits, std::uint64_t q,
                       const Search& search, Index& index);
};

// The clip's index when it comes after its samples (most cameras write it
// last) and lies elsewhere on the medium: its place in a cluster is known
// from the size of the `mdat` before it, so every unit of the medium at that
// place in a block is looked at there for a `moov` that starts with its
// `mvhd` (after any boxes of the camera's own, as some put there), nearest
// first (where the clip's clusters would run on, then forward, then from the
// start). A moov is the clip's when its samples fill the clip's `mdat` from
// its start and the first of them are in place in the piece that was found.
// An index across two pieces is taken with its bytes from the next block on
// found at the start of a block elsewhere.
void IndexLast(const AsFound& clip, media::SalvagedMedium& medium, const scan::ScanGeometry& geo, std::uint64_t blockUnits,
               const Others& around, const Search& search, Index& index);

}  // namespace hx::reassembly::pieces
