#pragma once
// What a file's own structure says about the bytes that are said to be it:
// where the file ends, and how far the structure vouches for the bytes in
// between. A JPEG that decodes without a fault, a PNG whose every chunk
// checksum holds and a ZIP whose every entry unpacks to its CRC vouch for
// their content; the box, chunk and directory walks of the other formats
// (TIFF raws, ISO-BMFF movies and photos, RIFF, GIF, BMP, PDF) vouch only
// for where their parts lie. Every walk is bounded by the bytes there are.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/JpegEntropy.h"
#include "formats/TiffEnd.h"

namespace hx::formats {

enum class Proof {
    None,     // no structure known, or it breaks or runs past the bytes there are
    Layout,   // the parts lie where the structure says; their content is not checked
    Content,  // checksums or a decode cover every byte up to the end
};

struct FileStructure {
    Proof proof = Proof::None;
    std::uint64_t end = 0;  // the file's length by its structure (0 with Proof::None)
};

// `read` reads from the file's first byte; `size` bytes are there. Without
// `checkContent` only the layout is walked (no checksums, no unpacking, no
// decode): enough to know where a file ends, at a small cost.
FileStructure ReadFileStructure(const ReadAt& read, std::uint64_t size, bool checkContent = true);
FileStructure ReadFileStructure(const std::uint8_t* data, std::size_t size, bool checkContent = true);

// ReadFileStructure over many candidate byte sequences for one file (the
// layouts an undelete tries): a JPEG's decode starts only where a candidate
// first differs from the one checked before it, which is kept for that.
class CandidateStructures {
public:
    FileStructure read(std::vector<std::uint8_t> candidate);
    // A candidate whose first `same` bytes are those of the one read last
    // gives no structure, whatever follows: that one's decode failed within them.
    bool failsWithin(std::size_t same) const { return lastWasJpeg_ && jpeg_.faultsWithin(same); }

private:
    JpegCandidates jpeg_;
    bool lastWasJpeg_ = false;
};

// The first bytes are those of a format that ReadFileStructure knows.
bool HasFileStructure(const std::uint8_t* head, std::size_t size);

}  // namespace hx::formats
